// Reply framing, the passive endpoint, the server's file name, reply codes
// and the job number on arbitrary server bytes. The first byte picks the receive size, so the
// same replies are framed once whole and once in pieces; both must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "protocol.h"

namespace {

using telvor::client::kMaxServerFileName;
using telvor::client::kPassiveAddressLength;
using telvor::client::kReceiveChunk;
using telvor::client::kReplyTextCapacity;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> Frame(std::string_view bytes, std::size_t piece) {
  telvor::client::ReplyReader reader;
  std::vector<std::string> replies;
  reader.BeginReply();
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::string_view chunk = bytes.substr(at, piece);
    std::memcpy(reader.ReceiveSpace(), chunk.data(), chunk.size());
    reader.Received(chunk.size());
    while (reader.Advance()) {
      const std::string_view text = reader.TextView();
      Check(text.size() <= kReplyTextCapacity);
      Check(std::strlen(reader.Text()) == text.size());
      replies.emplace_back(text);
      reader.BeginReply();
    }
  }
  return replies;
}

void Parse(std::string_view reply) {
  telvor::client::PassiveAddress address;
  std::uint16_t port = 0;
  telvor::client::parse_passive_reply(address, port, reply);
  Check(address.text[kPassiveAddressLength] == '\0');
  for (std::size_t i = 0; address.text[i] != '\0'; ++i) {
    Check((address.text[i] >= '0' && address.text[i] <= '9') || address.text[i] == '.');
  }

  char name[kMaxServerFileName + 1];
  if (telvor::client::ExtractServerFileName(reply, name)) {
    const std::string_view taken(name);
    Check(taken.size() >= 3 && taken.size() <= kMaxServerFileName);
    Check(taken.substr(taken.size() - 3) == ".ps");
    Check(taken.find_first_of("\r\n") == std::string_view::npos);
    Check(reply.find("FILE: " + std::string(taken)) != std::string_view::npos);
  }

  const int code = telvor::client::ReplyCode(reply);
  Check(code == 0 || (code >= 0 && code <= 999 && reply.size() >= 3));
  const std::string_view id = telvor::client::SubmittedJobId(reply);
  Check(id.size() <= telvor::client::kMaxJobIdLength);
  for (const char c : id) Check(c >= '0' && c <= '9');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] % kReceiveChunk + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::string> whole = Frame(bytes, kReceiveChunk);
  Check(Frame(bytes, piece) == whole);
  for (const std::string& reply : whole) Parse(reply);
  Parse(bytes);
  return 0;
}
