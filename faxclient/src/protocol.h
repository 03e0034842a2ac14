// Pure pieces of the HylaFAX client protocol: reply framing, the passive
// endpoint, the server's name for an upload, the argument and job setting
// checks and the clamping of the dial attempts. No sockets, files or
// platform headers here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "telvor/sendfax.h"

namespace telvor::client {

// Longest text accepted for `user`, `password`, `fax_number`, `mail`,
// `modem` and `info`, in bytes without the terminator.
inline constexpr std::size_t kMaxArgumentLength = TELVOR_TEXT_LIMIT;

// Longest server file name taken from the reply after the upload.
inline constexpr std::size_t kMaxServerFileName = 255;

// Bytes asked for by one receive on the control connection.
inline constexpr std::size_t kReceiveChunk = 256;

// Bytes of one reply kept as its text (for the log and the parsers); the
// rest of a longer reply is still read, so the next reply starts in place.
inline constexpr std::size_t kReplyTextCapacity = 1024;

// Dotted IPv4 text: four numbers of up to three digits and three dots.
inline constexpr std::size_t kPassiveAddressLength = 15;

// Size of one upload block and of the window searched for the marker.
inline constexpr std::size_t kBlockSize = 512;

// An argument is sent inside a command line, so it must fit the line and
// must not carry a line end of its own (which would start a second command).
bool ArgumentAcceptable(std::string_view argument);

// A modem name is also a single word on the server: no blank, no control
// byte (below 0x20, or 0x7F), and no longer than an argument.
bool ModemNameAcceptable(std::string_view modem);

// A page side in millimetres.
inline constexpr std::uint32_t kMaxPageMillimetres = 999;
bool PageSizeAcceptable(std::uint32_t millimetres);

// The vertical resolutions of a fax, in lines per inch.
inline constexpr std::uint32_t kLowResolution = 98;
inline constexpr std::uint32_t kHighResolution = 196;
bool ResolutionAcceptable(std::uint32_t lines_per_inch);

// `maxdials` clamped to 1..9.
std::int32_t ClampMaxDials(std::int32_t maxdials);

// Offset of the first "%!PS" among `block` bytes, searched up to the first
// zero byte; -1 when it is not there.
int FindPostScriptMarker(const char* block, std::size_t size);

struct PassiveAddress {
  char text[kPassiveAddressLength + 1] = {};
};

// Reads the endpoint "(a,b,c,d,e,f)" of a reply to "PASV" into
// `passive_address` (a.b.c.d, laid out as in the reply) and `passive_port`
// (e * 256 + f, taken to 16 bits). A reply whose address or numbers do not
// fit leaves no endpoint: an empty address and port 0.
void parse_passive_reply(PassiveAddress& passive_address, std::uint16_t& passive_port,
                         std::string_view reply);

// The server's name for an upload: from right after the first "FILE: " up to
// and including the next ".ps". False when either is missing, the name is
// longer than kMaxServerFileName, or it holds a line end or a zero byte.
bool ExtractServerFileName(std::string_view reply,
                           char (&server_file_name)[kMaxServerFileName + 1]);

// The reply code: the value of the three digits a reply starts with, 0 when
// it does not start with three digits.
int ReplyCode(std::string_view reply);

// Whether a login succeeded, from the codes of the replies to "USER" and
// "PASS": a 2xx to "USER" lets the user in without a password (whatever
// "PASS" then gets); a 3xx asks for the password, which needs a 2xx.
bool LoginAccepted(int user_code, int password_code);

// The job number in the reply to "JSUBM" ("200 Job 12 submitted."): the
// first run of digits after the reply code, at most kMaxJobIdLength of
// them; empty when there is none.
inline constexpr std::size_t kMaxJobIdLength = 20;
std::string_view SubmittedJobId(std::string_view reply);

// A job id of SubmittedJobId as a number; 0 when it is empty or does not fit
// in 32 bits (the callers' type).
std::uint32_t JobNumber(std::string_view job_id);

// The control connection is Telnet-framed: a 0xFF byte in a line is doubled
// so that the server takes it as data, not as a Telnet command. Writes the
// wire form of `line` into `wire` (of 2 * line.size() bytes at least) and
// returns its length.
std::size_t TelnetWireForm(std::string_view line, char* wire);

// Frames the bytes of the control connection into replies. A reply ends with
// its first line unless that line starts "NNN-"; then it runs up to the line
// that starts with the same "NNN" followed by a blank (or ending there). Lines
// end with LF; a CR before it is kept as part of the text. Bytes that follow
// a complete reply stay buffered for the next one.
class ReplyReader {
 public:
  // Starts a new reply (buffered bytes are kept).
  void BeginReply();

  // Frames the buffered bytes; true once the current reply is complete.
  bool Advance();

  // Where the next receive puts its bytes (kReceiveChunk of room; only
  // valid after Advance() returned false, which leaves the buffer empty).
  char* ReceiveSpace() { return chunk_; }
  void Received(std::size_t count);

  // The reply's text as received, up to the first zero byte and at most
  // kReplyTextCapacity bytes; zero-terminated.
  const char* Text() const { return text_; }
  std::string_view TextView() const { return {text_, text_length_}; }

 private:
  void TakeByte(char byte);
  void EndLine();

  char chunk_[kReceiveChunk] = {};
  std::size_t chunk_begin_ = 0;
  std::size_t chunk_end_ = 0;

  char text_[kReplyTextCapacity + 1] = {};
  std::size_t text_length_ = 0;
  bool text_ended_ = false;  // a zero byte ended the text

  char line_head_[4] = {};  // first bytes of the current line
  std::size_t line_length_ = 0;
  bool first_line_ = true;
  bool multiline_ = false;
  char code_[3] = {};
  bool complete_ = false;
};

}  // namespace telvor::client
