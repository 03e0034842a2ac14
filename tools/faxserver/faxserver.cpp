#include "faxserver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "socket_io.h"

namespace telvor::faxserver {
namespace {

namespace fs = std::filesystem;

// A client silent this long is let go, so that one stuck client does not
// keep the server from the next.
constexpr int kControlIdleSeconds = 300;
// The data connection must open, and then bring bytes, within this time.
constexpr int kDataWaitSeconds = 60;
// A peer that takes no reply bytes for this long is gone.
constexpr int kSendStallMs = 60 * 1000;
// The client's longest line is under 300 bytes; this leaves room and bounds
// what a misbehaving client can make the server hold.
constexpr std::size_t kMaxLineBytes = 1024;
constexpr std::int64_t kMaxUploadBytes = std::int64_t{1} << 30;
constexpr std::size_t kMaxTranscriptBytes = std::size_t{1} << 20;
constexpr std::size_t kReceiveChunk = 64 * 1024;
// Split replies: the first byte alone, then pieces of this size, then the
// final line feed alone (so even CR and LF arrive apart), with a pause between
// pieces so that each leaves as a segment of its own.
constexpr std::size_t kSplitPiece = 4;
constexpr int kSplitPauseMs = 2;
constexpr int kGreetingLinePauseMs = 20;

constexpr char kLineEnd[] = "\r\n";
constexpr char kErrorReplyPrefix[] = "500 Refused on purpose: ";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "upload12.ps" -> true for ("upload", ".ps").
bool IsNumberedName(const std::string& name, const std::string& head, const std::string& tail) {
  if (name.size() <= head.size() + tail.size()) return false;
  if (name.compare(0, head.size(), head) != 0) return false;
  if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) return false;
  return AllDigits(name.substr(head.size(), name.size() - head.size() - tail.size()));
}

std::string UploadName(int m) { return "upload" + std::to_string(m) + ".ps"; }
std::string JobTextName(int n) { return "job" + std::to_string(n) + ".txt"; }
std::string JobDocumentName(int n) { return "job" + std::to_string(n) + ".ps"; }

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The control connection is Telnet-framed: a doubled 0xFF is one data byte.
std::string TelnetData(const std::string& line) {
  std::string data;
  for (std::size_t i = 0; i < line.size(); ++i) {
    data += line[i];
    if (line[i] == '\xFF' && i + 1 < line.size() && line[i + 1] == '\xFF') ++i;
  }
  return data;
}

std::string WithoutCarriageReturn(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Everything one server holds; Server::Impl is this, kept apart so that the
// sessions below can reach it.
struct State {
  std::string address;
  fs::path directory;
  Behaviour behaviour;
  std::function<void(const std::string&)> sink;

  int listener = -1;
  int wake[2] = {-1, -1};  // written once by Stop(); every wait watches wake[0]
  std::thread thread;

  std::atomic<int> jobs{0};
  std::atomic<int> uploads{0};
  int last_job_id = 0;  // server thread only
  int last_upload = 0;  // server thread only

  mutable std::mutex mutex;
  std::string transcript;

  void Serve();
  void Record(const std::string& line);
  void Event(const std::string& text) const {
    if (sink) sink(text);
  }
  void RemoveStaleFiles() const;
};

class Session {
 public:
  Session(State& server, int control)
      : server_(server), behaviour_(server.behaviour), control_(control) {}
  ~Session() { Close(passive_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Run();

 private:
  enum class Read { kLine, kTooLong, kEnd };
  enum class Transfer { kDone, kStopped };

  Read ReadLine(std::string* line);
  bool Pause(int ms) const { return WaitFor(-1, 0, server_.wake[0], ms) == WaitResult::kTimeout; }
  bool Send(const std::string& wire);
  std::string Wire(const std::string& reply) const;
  bool Reply(const std::string& reply) { return Send(Wire(reply)); }
  bool Greet();
  bool Handle(const std::string& line);
  bool User(const std::string& name);
  bool Pass();
  bool Type(const std::string& type);
  bool Passive();
  bool Store();
  Transfer ReceiveUpload(int data, int number, const std::string& name, std::string* outcome);
  bool NewJob(const std::string& line);
  bool JobParameter(const std::string& argument);
  bool SubmitJob();

  State& server_;
  const Behaviour& behaviour_;
  const int control_;
  std::string pending_;      // received bytes not yet taken as lines
  bool discarding_ = false;  // inside a line that was too long
  int lines_seen_ = 0;
  std::string user_;
  bool logged_in_ = false;
  int passive_ = -1;  // the data listener from "PASV" (only bound when refusing)

  struct Job {
    bool open = false;
    int id = 0;
    std::vector<std::string> lines;
    int document = 0;  // upload number named by "JPARM DOCUMENT"
    std::vector<std::pair<std::string, std::string>> parameters;
  } job_;
};

void Session::Run() {
  if (!Greet()) return;
  for (;;) {
    std::string wire;
    const Read read = ReadLine(&wire);
    if (read == Read::kEnd) return;
    server_.Record(wire);
    const std::string line = TelnetData(wire);
    if (behaviour_.stop_answering_after >= 0 && lines_seen_ >= behaviour_.stop_answering_after) {
      continue;  // read on, answer never
    }
    ++lines_seen_;
    if (job_.open) job_.lines.push_back(WithoutCarriageReturn(line));
    const bool go_on = read == Read::kTooLong ? Reply("500 Command line too long.") : Handle(line);
    if (!go_on) return;
  }
}

Session::Read Session::ReadLine(std::string* line) {
  char buffer[4096];
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (discarding_) {  // the rest of an over-long line
      if (end == std::string::npos) {
        pending_.clear();
      } else {
        pending_.erase(0, end + 1);
        discarding_ = false;
        continue;
      }
    } else if (end != std::string::npos && end <= kMaxLineBytes) {
      *line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return Read::kLine;
    } else if (end != std::string::npos || pending_.size() > kMaxLineBytes) {
      *line = pending_.substr(0, kMaxLineBytes);
      if (end == std::string::npos) {
        pending_.clear();
        discarding_ = true;
      } else {
        pending_.erase(0, end + 1);
      }
      return Read::kTooLong;
    }
    WaitResult why = WaitResult::kReady;
    const long n = ReceiveSome(control_, buffer, sizeof buffer, server_.wake[0],
                               kControlIdleSeconds * 1000, &why);
    if (n > 0) {
      pending_.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && why == WaitResult::kTimeout) {
      Send("421 Timeout (" + std::to_string(kControlIdleSeconds) +
           " seconds): closing control connection." + kLineEnd);
    }
    return Read::kEnd;
  }
}

bool Session::Send(const std::string& wire) {
  const int wake = server_.wake[0];
  if (!behaviour_.split_replies || wire.size() < 3) {
    return SendAll(control_, wire.data(), wire.size(), wake, kSendStallMs);
  }
  const std::size_t last = wire.size() - 1;
  std::size_t at = 0;
  while (at < wire.size()) {
    std::size_t piece = at == 0 ? 1 : std::min(kSplitPiece, last - at);
    if (at == last) piece = 1;
    if (at > 0 && !Pause(kSplitPauseMs)) return false;
    if (!SendAll(control_, wire.data() + at, piece, wake, kSendStallMs)) return false;
    at += piece;
  }
  return true;
}

std::string Session::Wire(const std::string& reply) const {
  // Error replies keep the text, so the endpoint of "PASV" and the stored
  // file's name still reach the client.
  return (behaviour_.error_replies ? kErrorReplyPrefix : "") + reply + kLineEnd;
}

bool Session::Greet() {
  const std::string ready =
      "220 " + server_.address + " server (Telvor embedded fax server) ready.";
  if (!behaviour_.multiline_greeting) return Send(ready + kLineEnd);
  // Each line a segment of its own, as a slow server would send them.
  const std::string lines[] = {
      "220-Telvor embedded fax server.",
      "220-Jobs are stored as files here; nothing is ever dialled.",
      ready,
  };
  bool first = true;
  for (const std::string& line : lines) {
    if (!first && !Pause(kGreetingLinePauseMs)) return false;
    first = false;
    if (!Send(line + kLineEnd)) return false;
  }
  return true;
}

bool Session::Handle(const std::string& raw) {
  const std::string line = WithoutCarriageReturn(raw);
  const std::size_t blank = line.find(' ');
  const std::string verb = Upper(line.substr(0, blank));
  const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);

  if (verb == "QUIT") {
    Reply("221 Goodbye.");
    return false;
  }
  if (verb == "NOOP") return Reply("200 NOOP command successful.");
  if (verb == "USER") return User(argument);
  if (verb == "PASS") return Pass();
  const bool known = verb == "TYPE" || verb == "PASV" || verb == "STOT" || verb == "JNEW" ||
                     verb == "JPARM" || verb == "JSUBM" || verb == "FORM" || verb == "TZONE";
  if (!known) return Reply("500 " + verb + ": Command not recognized.");
  if (!logged_in_) return Reply("530 Please login with USER and PASS.");
  if (verb == "TYPE") return Type(Upper(argument));
  if (verb == "PASV") return Passive();
  if (verb == "STOT") return Store();
  if (verb == "JNEW") return NewJob(line);
  if (verb == "JPARM") return JobParameter(argument);
  if (verb == "JSUBM") return SubmitJob();
  if (verb == "FORM") {
    const std::string form = Upper(argument);
    if (form == "PS" || form == "TIFF" || form == "PDF" || form == "PCL") {
      return Reply("200 Format set to " + form + ".");
    }
    return Reply("501 Unknown document format \"" + argument + "\".");
  }
  // TZONE
  const std::string zone = Upper(argument);
  if (zone == "LOCAL") return Reply("200 Using time values in the server's local time zone.");
  if (zone == "GMT" || zone == "UTC") return Reply("200 Using time values in UTC.");
  return Reply("501 Unknown time zone \"" + argument + "\".");
}

bool Session::User(const std::string& name) {
  if (name.empty()) return Reply("501 Syntax error: USER needs a name.");
  user_ = name;
  logged_in_ = false;
  return Reply("331 Password required for " + name + ".");
}

bool Session::Pass() {
  if (logged_in_) return Reply("503 Already logged in as USER " + user_ + ".");
  if (user_.empty()) return Reply("503 Login with USER first.");
  if (behaviour_.refuse_login) return Reply("530 Login incorrect.");
  logged_in_ = true;  // any password will do
  return Reply("230 User " + user_ + " logged in.");
}

bool Session::Type(const std::string& type) {
  if (type == "I") return Reply("200 Type set to Image.");
  if (type == "A") return Reply("200 Type set to ASCII.");
  return Reply("504 Type " + type + " not implemented.");
}

bool Session::Passive() {
  Close(passive_);
  const std::string& address =
      behaviour_.pasv_address.empty() ? server_.address : behaviour_.pasv_address;
  std::string error;
  // Refusing: the port stays bound but nothing listens, so a connect is
  // refused and no other program can take the port meanwhile.
  passive_ = OpenListener(address, 0, !behaviour_.refuse_data, &error);
  if (passive_ < 0) return Reply("425 Cannot open passive connection: " + error + ".");
  if (!behaviour_.pasv_reply.empty()) return Send(behaviour_.pasv_reply + kLineEnd);
  std::string numbers = address;
  for (char& c : numbers) {
    if (c == '.') c = ',';
  }
  const unsigned port = BoundPort(passive_);
  return Reply("227 Entering passive mode (" + numbers + "," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ")");
}

bool Session::Store() {
  if (passive_ < 0) return Reply("425 Cannot open data connection: use PASV first.");
  const int listener = std::exchange(passive_, -1);
  if (behaviour_.refuse_data) {
    Close(listener);
    return Reply("425 Cannot open data connection.");
  }
  const WaitResult waited =
      WaitForConnection(listener, control_, server_.wake[0], kDataWaitSeconds * 1000);
  std::string peer;
  const int data = waited == WaitResult::kReady ? AcceptConnection(listener, &peer) : -1;
  Close(listener);
  if (waited == WaitResult::kStopped || waited == WaitResult::kError) return false;
  if (data < 0) {
    return Reply("425 Cannot open data connection: none came within " +
                 std::to_string(kDataWaitSeconds) + " seconds.");
  }

  const int number = ++server_.last_upload;
  const std::string name = behaviour_.stored_name_prefix + std::to_string(number) + ".ps";
  const std::string opened = "150 FILE: " + name + " (Opening new data connection).";
  if (!behaviour_.completion_in_one_segment && !Reply(opened)) {
    Close(data);
    return false;
  }
  if (behaviour_.urgent_data) {
    // One urgent byte, then silence until the client gives up and closes.
    const char urgent = '!';
    const bool sent = send(data, &urgent, 1, MSG_OOB | MSG_NOSIGNAL) == 1;
    if (sent) WaitFor(control_, POLLIN, server_.wake[0], -1);
    Abort(data);
    return false;
  }
  std::string outcome;
  if (ReceiveUpload(data, number, name, &outcome) == Transfer::kStopped) return false;
  const std::string after =
      behaviour_.completion_reply.empty() ? Wire(outcome) : behaviour_.completion_reply + kLineEnd;
  if (behaviour_.completion_in_one_segment) return Send(Wire(opened) + after);
  return Send(after);
}

// Stores the bytes up to the data connection's close in upload<number>.ps and
// closes the connection; `outcome` is the reply that reports the transfer.
Session::Transfer Session::ReceiveUpload(int data, int number, const std::string& name,
                                         std::string* outcome) {
  const fs::path path = server_.directory / UploadName(number);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *outcome = "452 Cannot store the upload: " + std::string(std::strerror(errno)) + ".";
    Abort(data);
    return Transfer::kDone;
  }
  std::vector<char> buffer(kReceiveChunk);
  std::int64_t total = 0;
  bool clean = false;
  for (;;) {
    WaitResult why = WaitResult::kReady;
    const long n = ReceiveSome(data, buffer.data(), buffer.size(), server_.wake[0],
                               kDataWaitSeconds * 1000, &why);
    if (n == 0) {
      *outcome = "226 Transfer complete (FILE: " + name + ").";
      clean = true;
      break;
    }
    if (n < 0) {
      if (why == WaitResult::kStopped) {
        std::fclose(file);
        Abort(data);
        return Transfer::kStopped;
      }
      *outcome = why == WaitResult::kTimeout
                     ? "426 No data for " + std::to_string(kDataWaitSeconds) +
                           " seconds; transfer aborted."
                     : "426 Data connection lost; transfer aborted.";
      break;
    }
    if (total + n > kMaxUploadBytes) {
      *outcome =
          "452 Upload larger than " + std::to_string(kMaxUploadBytes) + " bytes; transfer aborted.";
      break;
    }
    const auto count = static_cast<std::size_t>(n);
    if (std::fwrite(buffer.data(), 1, count, file) != count) {
      *outcome = "452 Error writing the upload: " + std::string(std::strerror(errno)) + ".";
      break;
    }
    total += n;
    if (behaviour_.close_data_early) {
      *outcome = "426 Data connection closed early; transfer aborted.";
      break;
    }
  }
  if (clean) {
    Close(data);
  } else {
    Abort(data);  // the client's further sends fail at once
  }
  if (std::fclose(file) != 0 && clean) {
    *outcome = "452 Error writing the upload: " + std::string(std::strerror(errno)) + ".";
  }
  server_.uploads = number;
  server_.Event("upload " + std::to_string(number) + " stored: " + path.string() + " (" +
                std::to_string(total) + " bytes)");
  return Transfer::kDone;
}

bool Session::NewJob(const std::string& line) {
  job_ = Job();
  job_.open = true;
  job_.id = ++server_.last_job_id;
  job_.lines.push_back(line);
  const std::string id = std::to_string(job_.id);
  return Reply("200 New job created: jobid: " + id + " groupid: " + id + ".");
}

bool Session::JobParameter(const std::string& argument) {
  if (!job_.open) return Reply("503 No job selected; use JNEW first.");
  const std::size_t blank = argument.find(' ');
  const std::string name = Upper(argument.substr(0, blank));
  // The parameters a real server knows, and whether it reports them as
  // numbers or as quoted text.
  static const struct {
    const char* name;
    bool number;
  } kKnown[] = {
      {"DIALSTRING", false}, {"NOTIFYADDR", false},   {"MODEM", false},      {"FROMUSER", false},
      {"LASTTIME", true},    {"MAXDIALS", true},      {"MAXTRIES", true},    {"SCHEDPRI", true},
      {"VRES", true},        {"PAGEWIDTH", true},     {"PAGELENGTH", true},  {"NOTIFY", false},
      {"PAGECHOP", false},   {"CHOPTHRESHOLD", true}, {"DOCUMENT", false},   {"JOBINFO", false},
      {"SENDTIME", false},   {"RETRYTIME", true},     {"TOUSER", false},     {"TOCOMPANY", false},
      {"SUBADDR", false},    {"USRKEY", false},       {"USECONTCOVER", true}};
  const auto* known = std::find_if(std::begin(kKnown), std::end(kKnown),
                                   [&](const auto& k) { return name == k.name; });
  if (known == std::end(kKnown)) return Reply("500 JPARM " + name + ": Parameter not recognized.");

  auto stored = job_.parameters.end();
  for (auto it = job_.parameters.begin(); it != job_.parameters.end(); ++it) {
    if (it->first == name) stored = it;
  }
  if (blank == std::string::npos) {  // a query
    return Reply("213 " + (stored == job_.parameters.end() ? std::string() : stored->second));
  }
  const std::string value = argument.substr(blank + 1);
  if (name == "DOCUMENT") {
    const std::string& prefix = behaviour_.stored_name_prefix;
    const bool ours = value.size() > prefix.size() + 3 &&
                      value.compare(0, prefix.size(), prefix) == 0 &&
                      value.compare(value.size() - 3, 3, ".ps") == 0;
    const std::string digits =
        ours ? value.substr(prefix.size(), value.size() - prefix.size() - 3) : "";
    const int number = AllDigits(digits) && digits.size() < 9 ? std::stoi(digits) : 0;
    if (number < 1 || number > server_.uploads) {
      return Reply("550 " + value + ": No such file or directory.");
    }
    job_.document = number;
    return Reply("200 Added document " + value + " as " + UploadName(number) + ".");
  }
  if (stored == job_.parameters.end()) {
    job_.parameters.emplace_back(name, value);
  } else {
    stored->second = value;
  }
  return Reply("213 " + name + " set to " + (known->number ? value : "\"" + value + "\"") + ".");
}

bool Session::SubmitJob() {
  if (!job_.open) return Reply("503 No job selected; use JNEW first.");
  if (behaviour_.refuse_submission) {
    return Reply("460 Failed to submit job " + std::to_string(job_.id) +
                 ": Unspecified reason (scheduler NAK'd request).");
  }
  const int n = server_.jobs + 1;
  std::string text;
  for (const std::string& line : job_.lines) text += line + "\n";
  text += "document: " + (job_.document > 0 ? UploadName(job_.document) : "missing") + "\n";
  const fs::path path = server_.directory / JobTextName(n);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  std::error_code ec;
  if (job_.document > 0) {
    fs::copy_file(server_.directory / UploadName(job_.document),
                  server_.directory / JobDocumentName(n), fs::copy_options::overwrite_existing, ec);
  }
  if (!out || ec) {
    return Reply("452 Cannot store job " + std::to_string(job_.id) + ": " +
                 (ec ? ec.message() : std::string("write error")) + ".");
  }
  server_.jobs = n;
  server_.Event("job " + std::to_string(n) + " stored: " + path.string());
  const int id = job_.id;
  job_ = Job();
  return Reply("200 Job " + std::to_string(id) + " submitted.");
}

}  // namespace

struct Server::Impl : State {};

void State::Serve() {
  for (;;) {
    const WaitResult waited = WaitFor(listener, POLLIN, wake[0], -1);
    if (waited == WaitResult::kStopped) return;
    std::string peer;
    const int control = waited == WaitResult::kReady ? AcceptConnection(listener, &peer) : -1;
    if (control < 0) {
      // Out of descriptors or a connection already gone: breathe, then go on.
      if (WaitFor(-1, 0, wake[0], 100) == WaitResult::kStopped) return;
      continue;
    }
    Event("connection from " + peer);
    Session(*this, control).Run();
    Close(control);
  }
}

void State::Record(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex);
  transcript += line;
  transcript += '\n';
  if (transcript.size() > kMaxTranscriptBytes) {
    const std::size_t cut = transcript.find('\n', transcript.size() - kMaxTranscriptBytes / 2);
    transcript.erase(0, cut == std::string::npos ? transcript.size() : cut + 1);
  }
}

void State::RemoveStaleFiles() const {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    const std::string name = entry.path().filename().string();
    if (IsNumberedName(name, "upload", ".ps") || IsNumberedName(name, "job", ".txt") ||
        IsNumberedName(name, "job", ".ps")) {
      std::error_code ignored;
      fs::remove(entry.path(), ignored);
    }
  }
}

Server::Server(std::string address, std::string directory, Behaviour behaviour)
    : impl_(std::make_unique<Impl>()) {
  impl_->address = std::move(address);
  impl_->directory = std::move(directory);
  impl_->behaviour = std::move(behaviour);
}

Server::~Server() { Stop(); }

void Server::SetEventSink(std::function<void(const std::string&)> sink) {
  impl_->sink = std::move(sink);
}

bool Server::Start(std::string* error) {
  Impl& s = *impl_;
  if (s.thread.joinable()) {
    *error = "already started";
    return false;
  }
  std::error_code ec;
  fs::create_directories(s.directory, ec);
  if (ec) {
    *error = "cannot create " + s.directory.string() + ": " + ec.message();
    return false;
  }
  s.RemoveStaleFiles();
  s.jobs = 0;
  s.uploads = 0;
  s.last_job_id = 0;
  s.last_upload = 0;
  s.listener = OpenListener(s.address, static_cast<std::uint16_t>(kPort), true, error);
  if (s.listener < 0) return false;
  if (pipe2(s.wake, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    Close(s.listener);
    s.listener = -1;
    return false;
  }
  s.thread = std::thread([&s] { s.Serve(); });
  return true;
}

void Server::Stop() {
  Impl& s = *impl_;
  if (!s.thread.joinable()) return;
  const char byte = 1;
  if (write(s.wake[1], &byte, 1) != 1) {
    // A pipe with room never refuses one byte; closing it wakes the thread too.
    Close(s.wake[1]);
    s.wake[1] = -1;
  }
  s.thread.join();
  Close(s.listener);
  Close(s.wake[0]);
  Close(s.wake[1]);
  s.listener = -1;
  s.wake[0] = s.wake[1] = -1;
}

int Server::JobCount() const { return impl_->jobs; }
int Server::UploadCount() const { return impl_->uploads; }

std::string Server::JobText(int n) const {
  return n < 1 ? std::string() : ReadWholeFile(impl_->directory / JobTextName(n));
}
std::string Server::JobDocument(int n) const {
  return n < 1 ? std::string() : ReadWholeFile(impl_->directory / JobDocumentName(n));
}
std::string Server::Upload(int m) const {
  return m < 1 ? std::string() : ReadWholeFile(impl_->directory / UploadName(m));
}

std::string Server::Transcript() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->transcript;
}

}  // namespace telvor::faxserver
