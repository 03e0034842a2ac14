// The embedded fax server: a small HylaFAX-protocol server on one loopback
// address, port 4559. It is the demo's default server and the tests' peer.
// It stores every upload and every submitted job in a directory:
//   upload<M>.ps   the bytes of the M-th upload, as received
//   job<N>.txt     the N-th submitted job: every job line as received, in
//                  order, from "JNEW" to "JSUBM" (without line ends), then a
//                  last line "document: upload<M>.ps" naming the stored upload
//                  that "JPARM DOCUMENT" referred to (or "document: missing")
//   job<N>.ps      a copy of that job's document
// Jobs and uploads are numbered from 1 in each server's lifetime.
#pragma once

#include <memory>
#include <string>

namespace telvor::faxserver {

// Behaviours a test can switch on; the defaults behave like a real HylaFAX
// server ("150 ... FILE: ..." when the data connection opens, "226 ...
// FILE: ..." after it closes, each reply its own segment, CR LF line ends).
struct Behaviour {
  bool error_replies = false;           // every command line gets "500 ..." (the
                                        // PASV reply still carries the endpoint)
  std::string pasv_address;             // non-empty: the PASV reply names this
                                        // address (the data listener binds it)
  std::string pasv_reply;               // non-empty: sent verbatim (plus CR LF)
                                        // as the PASV reply
  bool completion_in_one_segment = false;  // "150" and "226" in one send after
                                           // the data connection closed
  bool split_replies = false;           // every reply in several small segments
  bool multiline_greeting = false;      // "220-..." lines before "220 ..."
  int stop_answering_after = -1;        // >= 0: after that many command lines,
                                        // read on but never answer again
  bool refuse_data = false;             // nothing listens at the PASV endpoint
  bool close_data_early = false;        // close the data connection after the
                                        // first bytes (the rest is lost)
  std::string completion_reply;         // non-empty: sent (plus CR LF) in place of
                                        // the "226 ..." reply
  std::string stored_name_prefix = "/tmp/doc";  // FILE: <prefix><M>.ps
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
  void Stop();

  // Count of jobs submitted so far ("JSUBM" seen) and of uploads stored.
  int JobCount() const;
  int UploadCount() const;
  // Contents of job<N>.txt / job<N>.ps / upload<M>.ps; empty when missing.
  std::string JobText(int n) const;
  std::string JobDocument(int n) const;
  std::string Upload(int m) const;
  // Every line the server received on the control connections, in order.
  std::string Transcript() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace telvor::faxserver
