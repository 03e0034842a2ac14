#include "queue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace telvor::hylafax {
namespace {

namespace fs = std::filesystem;

const fs::path kSpool = "/var/spool/hylafax";
constexpr unsigned short kPort = 4559;

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

}  // namespace

std::string Unavailable(const char* address) {
  if (fs::exists("/usr/sbin/hfaxd") && ServerAnswers(address)) return {};
  return std::string("the HylaFAX test server does not answer on ") + address +
         ":4559 (needs the Debian package hylafax-server and root; see the hylafax_start test)";
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

fs::path QueueFileOf(const std::string& tag) {
  fs::path found;
  long newest = -1;
  for (const char* queue : {"sendq", "doneq"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kSpool / queue, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.size() < 2 || name[0] != 'q' ||
          name.find_first_not_of("0123456789", 1) != std::string::npos) {
        continue;
      }
      const long n = std::stol(name.substr(1));
      if (n > newest && QueueFields(ReadSpoolFile(entry.path()))["jobtag"] == tag) {
        newest = n;
        found = entry.path();
      }
    }
  }
  return found;
}

std::string ReadSpoolFile(const fs::path& path) {
  std::ifstream in(kSpool / path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace telvor::hylafax
