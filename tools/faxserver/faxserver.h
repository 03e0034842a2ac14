// The embedded fax server: a small HylaFAX-protocol server on one loopback
// address, port 4559. It is the demo's default server and the tests' peer.
// It stores every upload and every submitted job in a directory:
//   upload<M>.ps   the bytes of the M-th upload, as received
//   job<N>.txt     the N-th submitted job: every job line as received, in
//                  order, from "JNEW" to "JSUBM" (without line ends), then a
//                  last line "document: upload<M>.ps" naming the stored upload
//                  that "JPARM DOCUMENT" referred to (or "document: missing")
//   job<N>.ps      a copy of that job's document
// Jobs and uploads are numbered from 1 in each server's lifetime; Start()
// removes files of those names that an earlier run left in the directory.
// Uploads are numbered when their data connection opens, so a broken transfer
// keeps its number and leaves what arrived in upload<M>.ps.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace telvor::faxserver {

// The HylaFAX client protocol's port; fixed, so servers differ by address.
constexpr int kPort = 4559;

// Behaviours a test can switch on; the defaults behave like a real HylaFAX
// server ("150 ... FILE: ..." when the data connection opens, "226 ...
// FILE: ..." after it closes, each reply its own segment, CR LF line ends).
struct Behaviour {
  // Every command line gets "500 Refused on purpose: " followed by the
  // usual reply, so the PASV endpoint and the FILE: names still arrive.
  bool error_replies = false;
  // Non-empty: the PASV reply names this address (the data listener binds it).
  std::string pasv_address;
  // Non-empty: sent verbatim (plus CR LF) as the PASV reply.
  std::string pasv_reply;
  // "150" and "226" in one send after the data connection closed.
  bool completion_in_one_segment = false;
  // Every reply in several small segments: its first byte alone, then pieces
  // of four bytes, then its final line feed alone.
  bool split_replies = false;
  // "220-..." lines before "220 ...", each line a segment of its own.
  bool multiline_greeting = false;
  // >= 0: after that many command lines, read on but never answer again.
  int stop_answering_after = -1;
  // Nothing listens at the PASV endpoint (connects are refused).
  bool refuse_data = false;
  // Close (reset) the data connection after the first bytes; the rest is
  // lost, and the reply after it is "426 ..." without a file name.
  bool close_data_early = false;
  // "PASS" is answered "530 Login incorrect." (as a real server answers a
  // wrong password), so every later command gets "530 Please login ...".
  bool refuse_login = false;
  // "JSUBM" is answered "460 Failed to submit job N: ..." and nothing is
  // stored (as a real server answers when no modem is registered).
  bool refuse_submission = false;
  // Once the data connection opens, send one urgent (out-of-band) byte on it
  // and read nothing more: the client's sends stall until it gives up.
  bool urgent_data = false;
  // Non-empty: sent (plus CR LF) in place of the reply after the upload.
  std::string completion_reply;
  // The stored name in "FILE: <prefix><M>.ps".
  std::string stored_name_prefix = "/tmp/doc";
};

class Server {
 public:
  // `address`: dotted IPv4 loopback address to bind (port 4559 is fixed).
  // `directory`: where uploads and jobs are stored (created if missing).
  Server(std::string address, std::string directory, Behaviour behaviour = {});
  ~Server();  // stops the server
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts serving on a thread of its own; connections are served
  // one after the other. False (with a reason) when the address cannot be bound.
  bool Start(std::string* error);
  // Ends any connection at once and waits for the server's thread.
  void Stop();

  // Receives one line per noteworthy event (connection, upload or job
  // stored), on the server's thread. Set it before Start().
  void SetEventSink(std::function<void(const std::string&)> sink);

  // Count of jobs submitted so far ("JSUBM" seen) and of uploads stored.
  int JobCount() const;
  int UploadCount() const;
  // Contents of job<N>.txt / job<N>.ps / upload<M>.ps; empty when missing.
  std::string JobText(int n) const;
  std::string JobDocument(int n) const;
  std::string Upload(int m) const;
  // Every line the server received on the control connections, in order,
  // each without its line feed (a carriage return before it is kept) and
  // followed by "\n"; as on the wire, so with a doubled 0xFF byte doubled. Holds the most recent
  // megabyte at most.
  std::string Transcript() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace telvor::faxserver
