#include "keystore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace telvor::spoolhost {
namespace {

// The value the spooler writes into a monitor's key when it registers it.
constexpr char16_t kDriverValueName[] = u"Driver";
constexpr char kStoreHeader[] =
    "; telvor-spool: the port monitor's registry key, one value a line\n";

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

bool SameName(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendEscapedUnit(std::string* out, char16_t unit) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
  out->append(escaped);
}

std::string Quote(TextView text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\\' || c == u'"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      AppendEscapedUnit(&out, c);
    } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out += ToUtf8(text.substr(i, 2));
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendEscapedUnit(&out, c);
    } else {
      out += ToUtf8(text.substr(i, 1));
    }
  }
  return out + "\"";
}

// Reads a quoted text at `pos`, leaving `pos` behind its closing quote.
bool Unquote(std::string_view line, std::size_t* pos, Text* text) {
  if (*pos >= line.size() || line[*pos] != '"') return false;
  ++*pos;
  std::string plain;  // UTF-8 run since the last escape
  text->clear();
  while (*pos < line.size()) {
    const char c = line[*pos];
    if (c == '"') {
      ++*pos;
      *text += FromUtf8(plain);
      return true;
    }
    if (c != '\\') {
      plain += c;
      ++*pos;
      continue;
    }
    if (*pos + 1 >= line.size()) return false;
    const char next = line[*pos + 1];
    if (next == '\\' || next == '"') {
      plain += next;
      *pos += 2;
    } else if (next == 'u' && *pos + 6 <= line.size()) {
      unsigned unit = 0;
      for (std::size_t i = *pos + 2; i < *pos + 6; ++i) {
        const char h = line[i];
        unit <<= 4;
        if (h >= '0' && h <= '9') {
          unit |= static_cast<unsigned>(h - '0');
        } else if (h >= 'A' && h <= 'F') {
          unit |= static_cast<unsigned>(h - 'A' + 10);
        } else if (h >= 'a' && h <= 'f') {
          unit |= static_cast<unsigned>(h - 'a' + 10);
        } else {
          return false;
        }
      }
      *text += FromUtf8(plain);
      plain.clear();
      *text += static_cast<char16_t>(unit);
      *pos += 6;
    } else {
      return false;
    }
  }
  return false;
}

// A REG_SZ value written as a quoted text must come back byte for byte:
// one terminating zero at the end and none before it.
bool IsPlainText(const StoredValue& value, Text* text) {
  const auto& data = value.data;
  if (value.type != kRegistryTextType || data.size() < 2 || data.size() % 2 != 0) return false;
  text->clear();
  for (std::size_t i = 0; i + 2 <= data.size(); i += 2) {
    text->push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  if (text->back() != 0) return false;
  text->pop_back();
  return text->find(char16_t(0)) == Text::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexData(std::string_view rest, StoredValue* value) {
  // hex(N):bb,bb,...
  constexpr std::string_view kPrefix = "hex(";
  if (rest.substr(0, kPrefix.size()) != kPrefix) return false;
  std::size_t pos = kPrefix.size();
  std::uint32_t type = 0;
  std::size_t digits = 0;
  for (; pos < rest.size() && HexDigit(rest[pos]) >= 0; ++pos, ++digits) {
    if (digits == 8) return false;
    type = (type << 4) | static_cast<std::uint32_t>(HexDigit(rest[pos]));
  }
  if (digits == 0 || rest.substr(pos, 2) != "):") return false;
  pos += 2;
  value->type = type;
  value->data.clear();
  while (pos < rest.size()) {
    if (pos + 2 > rest.size()) return false;
    const int high = HexDigit(rest[pos]);
    const int low = HexDigit(rest[pos + 1]);
    if (high < 0 || low < 0) return false;
    value->data.push_back(static_cast<std::uint8_t>(high * 16 + low));
    pos += 2;
    if (pos < rest.size()) {
      if (rest[pos] != ',' || pos + 1 == rest.size()) return false;
      ++pos;
    }
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> TextData(TextView text) {
  std::vector<std::uint8_t> data;
  data.reserve(2 * (text.size() + 1));
  for (char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  return data;
}

std::string FormatStore(const std::vector<StoredValue>& values) {
  std::string out = kStoreHeader;
  for (const StoredValue& value : values) {
    out += Quote(value.name);
    out += '=';
    Text text;
    if (IsPlainText(value, &text)) {
      out += Quote(text);
    } else {
      char head[24];
      std::snprintf(head, sizeof head, "hex(%x):", static_cast<unsigned>(value.type));
      out += head;
      for (std::size_t i = 0; i < value.data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x",
                      static_cast<unsigned>(value.data[i]));
        out += byte;
      }
    }
    out += '\n';
  }
  return out;
}

bool ParseStore(std::string_view text, std::vector<StoredValue>* values, std::string* error) {
  values->clear();
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';' || line[0] == '[') continue;

    StoredValue value;
    std::size_t pos = 0;
    bool ok = Unquote(line, &pos, &value.name) && pos < line.size() && line[pos] == '=';
    if (ok) {
      ++pos;
      Text data_text;
      if (pos < line.size() && line[pos] == '"') {
        ok = Unquote(line, &pos, &data_text) && pos == line.size();
        value.type = kRegistryTextType;
        value.data = TextData(data_text);
      } else {
        ok = ParseHexData(line.substr(pos), &value);
      }
    }
    if (!ok) {
      *error = "line " + std::to_string(line_number) + ": not a value (\"Name\"=\"text\" or " +
               "\"Name\"=hex(N):bytes)";
      return false;
    }
    values->push_back(std::move(value));
  }
  return true;
}

bool KeyStore::Open(TextView library_name, std::string* error) {
  std::error_code status;
  if (!std::filesystem::exists(path_, status) && !status) {
    values_.clear();
    values_.push_back({Text(kDriverValueName), kRegistryTextType, TextData(library_name)});
    if (!Save()) {
      *error = "cannot write the key store " + path_;
      return false;
    }
    return true;
  }
  // A key that is there but cannot be read is never registered afresh.
  std::ifstream in(path_, std::ios::binary);
  if (status || !std::filesystem::is_regular_file(path_, status) || !in) {
    *error = "cannot read the key store " + path_;
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  std::string parse_error;
  if (!ParseStore(content.str(), &values_, &parse_error)) {
    *error = path_ + ": " + parse_error;
    return false;
  }
  return true;
}

bool KeyStore::Save() const {
  // A new file renamed over the old one: a crash never leaves half a key.
  const std::string temporary = path_ + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << FormatStore(values_);
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::vector<StoredValue>::const_iterator KeyStore::Find(TextView name) const {
  for (auto it = values_.begin(); it != values_.end(); ++it) {
    if (SameName(it->name, name)) return it;
  }
  return values_.end();
}

std::int32_t KeyStore::QueryInfo(std::uint32_t* value_count, std::uint32_t* longest_name,
                                 std::uint32_t* longest_data) const {
  std::size_t name_length = 0;
  std::size_t data_size = 0;
  for (const StoredValue& value : values_) {
    name_length = std::max(name_length, value.name.size());
    data_size = std::max(data_size, value.data.size());
  }
  if (value_count) *value_count = static_cast<std::uint32_t>(values_.size());
  if (longest_name) *longest_name = static_cast<std::uint32_t>(name_length);
  if (longest_data) *longest_data = static_cast<std::uint32_t>(data_size);
  return kRegistrySuccess;
}

std::int32_t KeyStore::SetValue(TextView name, std::uint32_t type, const std::uint8_t* data,
                                std::uint32_t size) {
  const std::vector<StoredValue> before = values_;
  StoredValue value{Text(name), type, std::vector<std::uint8_t>(data, data + (data ? size : 0))};
  const auto found = Find(name);
  if (found == values_.end()) {
    values_.push_back(std::move(value));
  } else {
    // A value keeps its place and the spelling it was created with.
    auto& slot = values_[static_cast<std::size_t>(found - values_.begin())];
    slot.type = value.type;
    slot.data = std::move(value.data);
  }
  if (!Save()) {
    values_ = before;
    return kRegistryAccessDenied;
  }
  return kRegistrySuccess;
}

std::int32_t KeyStore::EnumValue(std::uint32_t index, char16_t* name, std::uint32_t* name_capacity,
                                 std::uint32_t* type, std::uint8_t* data,
                                 std::uint32_t* data_capacity) const {
  if (index >= values_.size()) return kRegistryNoMoreItems;
  const StoredValue& value = values_[index];
  if (!name || !name_capacity || value.name.size() + 1 > *name_capacity) {
    return kRegistryMoreData;
  }
  std::memcpy(name, value.name.data(), value.name.size() * sizeof(char16_t));
  name[value.name.size()] = 0;
  *name_capacity = static_cast<std::uint32_t>(value.name.size());
  if (type) *type = value.type;
  if (!data_capacity) return kRegistrySuccess;
  const auto size = static_cast<std::uint32_t>(value.data.size());
  if (data && size > *data_capacity) {
    *data_capacity = size;
    return kRegistryMoreData;
  }
  if (data && size > 0) std::memcpy(data, value.data.data(), size);
  *data_capacity = size;
  return kRegistrySuccess;
}

std::int32_t KeyStore::QueryValue(TextView name, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* data_capacity) const {
  const auto found = Find(name);
  if (found == values_.end()) return kRegistryNotFound;
  if (type) *type = found->type;
  if (!data_capacity) return kRegistrySuccess;
  const auto size = static_cast<std::uint32_t>(found->data.size());
  if (data && size > *data_capacity) {
    *data_capacity = size;
    return kRegistryMoreData;
  }
  if (data && size > 0) std::memcpy(data, found->data.data(), size);
  *data_capacity = size;
  return kRegistrySuccess;
}

std::int32_t KeyStore::DeleteValue(TextView name) {
  const auto found = Find(name);
  if (found == values_.end()) return kRegistryNotFound;
  const std::vector<StoredValue> before = values_;
  values_.erase(found);
  if (!Save()) {
    values_ = before;
    return kRegistryAccessDenied;
  }
  return kRegistrySuccess;
}

}  // namespace telvor::spoolhost
