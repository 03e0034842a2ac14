#include "telvor_common/text.h"

namespace telvor {

std::size_t TextLength(const char16_t* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

bool CopyText(char16_t* dest, std::size_t capacity, TextView source) {
  if (capacity == 0) return false;
  if (source.size() + 1 > capacity) {
    dest[0] = 0;
    return false;
  }
  source.copy(dest, source.size());
  dest[source.size()] = 0;
  return true;
}

Text FromUtf8(std::string_view utf8) {
  Text out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b0 < 0x80) {
      cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      len = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > utf8.size()) {
        cp = 0xFFFD;
        len = 1;
      } else {
        cp = b0 & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
          const auto b = static_cast<unsigned char>(utf8[i + k]);
          if ((b & 0xC0) != 0x80) {
            cp = 0xFFFD;
            len = 1;
            break;
          }
          cp = (cp << 6) | (b & 0x3F);
        }
      }
    }
    i += len;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(cp > 0xFFFF ? u'\uFFFD' : static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string ToUtf8(TextView text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

Text FormatCode(TextView format, std::int32_t code) {
  const auto at = format.find(u"%d");
  if (at == TextView::npos) return Text(format);
  const std::string digits = std::to_string(code);
  Text out(format.substr(0, at));
  for (char c : digits) out.push_back(static_cast<char16_t>(c));
  out.append(format.substr(at + 2));
  return out;
}

}  // namespace telvor
