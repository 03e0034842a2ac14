#include "queue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

namespace telvor::hylafax {
namespace {

namespace fs = std::filesystem;

constexpr unsigned short kPort = 4559;
// Between two looks at the queue: short beside the server's own steps.
constexpr std::chrono::milliseconds kLookInterval{50};

bool ServerAnswers(const char* server) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  inet_pton(AF_INET, server, &address.sin_addr);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// Empty when missing or unreadable.
std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> QueueFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) fields.emplace(line.substr(0, colon), line.substr(colon + 1));
  }
  return fields;
}

// N of a queue file qN; -1 for any other name.
long JobNumber(const std::string& name) {
  if (name.size() < 2 || name[0] != 'q' ||
      name.find_first_not_of("0123456789", 1) != std::string::npos) {
    return -1;
  }
  return std::stol(name.substr(1));
}

// "[!]postscript:0::docq/docN.ps[.N]" ("!" once converted); empty for none.
std::string DocumentOf(const std::map<std::string, std::string>& fields) {
  for (const char* key : {"postscript", "!postscript"}) {
    const auto field = fields.find(key);
    if (field == fields.end()) continue;
    const std::size_t at = field->second.find("::");
    if (at != std::string::npos) return field->second.substr(at + 2);
  }
  return {};
}

}  // namespace

std::string Unavailable(const char* address) {
  if (fs::exists("/usr/sbin/hfaxd") && ServerAnswers(address)) return {};
  return std::string("the HylaFAX test server does not answer on ") + address +
         ":4559 (needs the Debian package hylafax-server and root; see the hylafax_start test)";
}

QueueReader::QueueReader(std::string tag, std::vector<std::string> needed, fs::path spool)
    : tag_(std::move(tag)), needed_(std::move(needed)), spool_(std::move(spool)) {}

std::optional<QueueRecord> QueueReader::Poll() {
  std::optional<QueueRecord> now;
  long newest = -1;
  // A rename between the two listings is seen at its source or its target.
  for (const char* queue : {"sendq", "doneq"}) {
    std::error_code ec;
    for (fs::directory_iterator it(spool_ / queue, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      const long n = JobNumber(name);
      if (n < 0 || n < newest) continue;
      QueueRecord record{fs::path(queue) / name, ReadWhole(it->path()), {}, {}};
      record.fields = QueueFields(record.text);
      if (record.fields["jobtag"] != tag_) continue;
      newest = n;
      now = std::move(record);
    }
  }

  auto previous = std::exchange(last_, now);
  if (!now) {
    seen_ = "no queue file with jobtag:" + tag_ + " in " + (spool_ / "sendq").string() + " or " +
            (spool_ / "doneq").string();
    return std::nullopt;
  }
  const auto not_yet = [&](const std::string& why) {
    seen_ = (spool_ / now->file).string() + " " + why + ":\n" + now->text;
    return std::nullopt;
  };
  if (now->text.empty() || now->text.back() != '\n') return not_yet("ends inside a line");
  for (const std::string& key : needed_) {
    if (now->fields.count(key) == 0) return not_yet("lacks " + key);
  }
  if (const std::string document = DocumentOf(now->fields); !document.empty()) {
    last_->document = now->document = ReadWhole(spool_ / document);
    if (now->document.empty()) return not_yet("names " + document + ", which does not read");
  }
  if (!previous || previous->text != now->text || previous->document != now->document) {
    return not_yet("changed since the last look");
  }
  seen_.clear();
  return now;
}

std::optional<QueueRecord> QueueReader::Wait(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (auto record = Poll()) return record;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kLookInterval);
  }
}

}  // namespace telvor::hylafax
