#include "protocol.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace telvor::client {
namespace {

constexpr std::string_view kPostScriptMarker = "%!PS";
constexpr std::string_view kFileTag = "FILE: ";
constexpr std::string_view kPostScriptSuffix = ".ps";

// Digits of one number of the passive endpoint (and of its number field).
constexpr std::size_t kEndpointDigits = 3;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Value of the leading digits of a zero-terminated number field.
unsigned LeadingValue(const char (&field)[kEndpointDigits + 1]) {
  unsigned value = 0;
  for (std::size_t i = 0; i < kEndpointDigits && IsDigit(field[i]); ++i) {
    value = value * 10 + static_cast<unsigned>(field[i] - '0');
  }
  return value;
}

}  // namespace

bool ArgumentAcceptable(std::string_view argument) {
  return argument.size() <= kMaxArgumentLength && argument.find_first_of("\r\n") == argument.npos;
}

bool ModemNameAcceptable(std::string_view modem) {
  return modem.size() <= kMaxArgumentLength && std::none_of(modem.begin(), modem.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return byte <= ' ' || byte == 0x7F;
         });
}

bool PageSizeAcceptable(std::uint32_t millimetres) {
  return millimetres >= 1 && millimetres <= kMaxPageMillimetres;
}

bool ResolutionAcceptable(std::uint32_t lines_per_inch) {
  return lines_per_inch == kLowResolution || lines_per_inch == kHighResolution;
}

std::int32_t ClampMaxDials(std::int32_t maxdials) { return std::clamp(maxdials, 1, 9); }

int FindPostScriptMarker(const char* block, std::size_t size) {
  std::size_t text_length = 0;
  while (text_length < size && block[text_length] != 0) ++text_length;
  const std::size_t at = std::string_view(block, text_length).find(kPostScriptMarker);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int ReplyCode(std::string_view reply) {
  if (reply.size() < 3 || !IsDigit(reply[0]) || !IsDigit(reply[1]) || !IsDigit(reply[2])) return 0;
  return (reply[0] - '0') * 100 + (reply[1] - '0') * 10 + (reply[2] - '0');
}

bool LoginAccepted(int user_code, int password_code) {
  const int user_class = user_code / 100;
  if (user_class == 4 || user_class == 5) return false;
  return user_class != 3 || password_code / 100 == 2;
}

std::string_view SubmittedJobId(std::string_view reply) {
  std::size_t at = ReplyCode(reply) != 0 ? 3 : 0;
  while (at < reply.size() && !IsDigit(reply[at])) ++at;
  std::size_t end = at;
  while (end < reply.size() && IsDigit(reply[end])) ++end;
  if (end - at > kMaxJobIdLength) return {};
  return reply.substr(at, end - at);
}

std::uint32_t JobNumber(std::string_view job_id) {
  std::uint32_t number = 0;
  if (std::from_chars(job_id.data(), job_id.data() + job_id.size(), number).ec != std::errc()) {
    return 0;
  }
  return number;
}

std::size_t TelnetWireForm(std::string_view line, char* wire) {
  constexpr char kInterpretAsCommand = '\xFF';
  std::size_t length = 0;
  for (const char c : line) {
    wire[length++] = c;
    if (c == kInterpretAsCommand) wire[length++] = c;
  }
  return length;
}

void parse_passive_reply(PassiveAddress& passive_address, std::uint16_t& passive_port,
                         std::string_view reply) {
  const std::size_t open = reply.find('(');
  if (open == std::string_view::npos) return;

  // The address keeps the reply's layout: a character at position i lands
  // at i - segment_start, dots at the first three commas. Anything that
  // would not fit the address text or the number field leaves no endpoint.
  char number[kEndpointDigits + 1] = {};
  std::uint16_t port = passive_port;
  int commas = 0;
  std::size_t segment_start = open + 1;
  std::size_t digits_in_number = 0;
  bool fits = true;
  for (std::size_t i = open + 1; i < reply.size() && fits; ++i) {
    const char c = reply[i];
    const bool digit = IsDigit(c);
    if (digit && ++digits_in_number > kEndpointDigits) fits = false;
    if (digit && commas < 4) {
      if (i - segment_start >= kPassiveAddressLength) {
        fits = false;
      } else {
        passive_address.text[i - segment_start] = c;
      }
    }
    if (c == ',') {
      ++commas;
      digits_in_number = 0;
      if (commas <= 3) {
        if (i - segment_start >= kPassiveAddressLength) {
          fits = false;
        } else {
          passive_address.text[i - segment_start] = '.';
        }
      } else {
        segment_start = i + 1;
      }
    }
    if (digit && (commas == 4 || commas == 5)) {
      if (i - segment_start >= kEndpointDigits) {
        fits = false;
      } else {
        number[i - segment_start] = c;
      }
    }
    if (commas == 5 && c == ',') {
      port = static_cast<std::uint16_t>(LeadingValue(number) * 256u);
      std::fill(std::begin(number), std::end(number), '\0');
    }
    if (commas == 5 && c == ')') {
      port = static_cast<std::uint16_t>(port + LeadingValue(number));
      break;  // the endpoint is closed; what follows is the reply's prose
    }
  }
  if (!fits) {
    passive_address = PassiveAddress{};
    passive_port = 0;
    return;
  }
  passive_port = port;
}

bool ExtractServerFileName(std::string_view reply,
                           char (&server_file_name)[kMaxServerFileName + 1]) {
  std::fill(std::begin(server_file_name), std::end(server_file_name), '\0');
  const std::size_t tag = reply.find(kFileTag);
  if (tag == std::string_view::npos) return false;
  const std::size_t start = tag + kFileTag.size();
  const std::size_t suffix = reply.find(kPostScriptSuffix, start);
  if (suffix == std::string_view::npos) return false;
  const std::string_view name = reply.substr(start, suffix + kPostScriptSuffix.size() - start);
  // A line end inside the name would split "JPARM DOCUMENT" in two; a zero
  // byte would cut it short.
  constexpr std::string_view kNotInName("\r\n\0", 3);
  if (name.size() > kMaxServerFileName || name.find_first_of(kNotInName) != name.npos) return false;
  name.copy(server_file_name, name.size());
  return true;
}

void ReplyReader::BeginReply() {
  std::fill(std::begin(text_), std::end(text_), '\0');
  text_length_ = 0;
  text_ended_ = false;
  line_length_ = 0;
  first_line_ = true;
  multiline_ = false;
  complete_ = false;
}

bool ReplyReader::Advance() {
  while (!complete_ && chunk_begin_ < chunk_end_) TakeByte(chunk_[chunk_begin_++]);
  if (chunk_begin_ == chunk_end_) chunk_begin_ = chunk_end_ = 0;
  return complete_;
}

void ReplyReader::Received(std::size_t count) {
  chunk_begin_ = 0;
  chunk_end_ = std::min(count, kReceiveChunk);
}

void ReplyReader::TakeByte(char byte) {
  if (!text_ended_) {
    if (byte == '\0') {
      text_ended_ = true;
    } else if (text_length_ < kReplyTextCapacity) {
      text_[text_length_++] = byte;
    }
  }
  if (byte == '\n') {
    EndLine();
    return;
  }
  if (line_length_ < sizeof line_head_) line_head_[line_length_] = byte;
  if (line_length_ <= sizeof line_head_) ++line_length_;  // only short lines matter
}

void ReplyReader::EndLine() {
  const bool coded = line_length_ >= 3 && IsDigit(line_head_[0]) && IsDigit(line_head_[1]) &&
                     IsDigit(line_head_[2]);
  // The fourth byte: '-' continues, ' ' (or the line's end) closes.
  const char separator = line_length_ >= 4 ? line_head_[3] : '\n';
  if (first_line_) {
    first_line_ = false;
    if (coded && separator == '-') {
      multiline_ = true;
      std::copy(line_head_, line_head_ + 3, code_);
    } else {
      complete_ = true;
    }
  } else if (multiline_ && coded && std::equal(code_, code_ + 3, line_head_) &&
             (separator == ' ' || separator == '\n' || separator == '\r')) {
    complete_ = true;
  }
  line_length_ = 0;
}

}  // namespace telvor::client
