#include "keystore.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "telvor_common/posix_io.h"
#include "telvor_common/win_errors.h"

namespace telvor::spoolhost {
namespace {

// The registry's result codes, as the registry functions return them.
std::int32_t Code(std::uint32_t error) { return static_cast<std::int32_t>(error); }

// Read and written by its owner, read by its group, nothing for others.
constexpr mode_t kSharedMode = 0640;
constexpr mode_t kOpenToOthers = S_IRWXO | S_IWGRP;
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

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

std::string Quote(TextView text) {
  std::string out = "\"";
  for (const char16_t c : text) {
    if (c == u'\\' || c == u'"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F || IsSurrogate(c)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += ToUtf8(TextView(&c, 1));
    }
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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
      continue;
    }
    if (next != 'u' || *pos + 6 > line.size()) return false;
    unsigned unit = 0;
    for (std::size_t i = *pos + 2; i < *pos + 6; ++i) {
      const int digit = HexDigit(line[i]);
      if (digit < 0) return false;
      unit = unit << 4 | static_cast<unsigned>(digit);
    }
    *text += FromUtf8(plain);
    plain.clear();
    *text += static_cast<char16_t>(unit);
    *pos += 6;
  }
  return false;
}

// The registry form of a text: UTF-16 units and a terminating zero.
std::vector<std::uint8_t> TextData(TextView text) {
  std::vector<std::uint8_t> data;
  data.reserve(2 * (text.size() + 1));
  for (const char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  return data;
}

// The text a REG_SZ write holds: one terminating zero at the end and none
// before it, or it would not come back byte for byte.
bool PlainText(std::uint32_t type, const std::uint8_t* data, std::uint32_t size, Text* text) {
  if (type != REG_SZ || !data || size < 2 || size % 2 != 0) return false;
  text->clear();
  for (std::uint32_t i = 0; i + 2 <= size; i += 2) {
    text->push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  }
  if (text->back() != 0) return false;
  text->pop_back();
  return text->find(char16_t(0)) == Text::npos;
}

KeyStore* Store(HANDLE key) { return static_cast<KeyStore*>(key); }

// The store file opened for reading, never through a link nor waiting on a
// FIFO; -1 with errno when it cannot be opened (ELOOP: a link).
int OpenStoreFile(const std::string& path, struct stat* status) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0 && ::fstat(fd, status) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string UserName(uid_t uid) {
  const passwd* account = ::getpwuid(uid);
  return account ? account->pw_name : std::to_string(uid);
}

// The monitor asks only for the value count.
LONG WINAPI QueryInfoKey(HANDLE key, PDWORD sub_keys, PDWORD longest_sub_key, PDWORD values,
                         PDWORD longest_name, PDWORD longest_data, PDWORD security_size,
                         PFILETIME write_time, HANDLE) {
  if (!values || sub_keys || longest_sub_key || longest_name || longest_data || security_size ||
      write_time) {
    return Code(win_error::kInvalidParameter);
  }
  *values = static_cast<DWORD>(Store(key)->values().size());
  return Code(win_error::kSuccess);
}

LONG WINAPI SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size, HANDLE) {
  if (!name) return Code(win_error::kInvalidParameter);
  return Store(key)->SetValue(name, type, data, size);
}

LONG WINAPI EnumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD name_capacity, PDWORD type,
                      PBYTE data, PDWORD data_capacity, HANDLE) {
  return Store(key)->EnumValue(index, name, name_capacity, type, data, data_capacity);
}

}  // namespace

std::string FormatStore(const std::vector<StoredValue>& values) {
  std::string out = kStoreHeader;
  for (const StoredValue& value : values) {
    out += Quote(value.name) + '=' + Quote(value.text) + '\n';
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
    const bool ok = Unquote(line, &pos, &value.name) && pos < line.size() && line[pos++] == '=' &&
                    Unquote(line, &pos, &value.text) && pos == line.size();
    if (!ok) {
      *error = "line " + std::to_string(line_number) + ": not a value \"Name\"=\"text\"";
      return false;
    }
    values->push_back(std::move(value));
  }
  return true;
}

bool KeyStore::Open(TextView library_name, std::string* error) {
  std::error_code status;
  if (!std::filesystem::exists(path_, status) && !status) {
    values_ = {{Text(kDriverValue), Text(library_name)}};
    if (!Save()) {
      *error = "cannot write the key store " + path_;
      return false;
    }
    return true;
  }
  // A key that is there but cannot be read is never registered afresh.
  struct stat file {};
  const int fd = OpenStoreFile(path_, &file);
  std::string content;
  bool read = fd >= 0 && !status && S_ISREG(file.st_mode) && file.st_size <= kMaxStoreSize;
  if (read) {
    content.resize(static_cast<std::size_t>(file.st_size));
    std::size_t got = 0;
    while (got < content.size()) {
      const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    read = got == content.size();
  }
  if (fd >= 0) ::close(fd);
  if (!read) {
    *error = "cannot read the key store " + path_;
    return false;
  }
  std::string parse_error;
  if (!ParseStore(content, &values_, &parse_error)) {
    *error = path_ + ": " + parse_error;
    return false;
  }
  if (values_.empty()) {
    values_ = {{Text(kDriverValue), Text(library_name)}};
    if (!Save()) {
      *error = "cannot write the key store " + path_;
      return false;
    }
  }
  return true;
}

std::optional<Text> KeyStore::Value(TextView name) const {
  for (const StoredValue& value : values_) {
    if (value.name == name) return value.text;
  }
  return std::nullopt;
}

bool KeyStore::Save() const {
  // A new file renamed over the old one: a crash never leaves half a key.
  // mkstemp makes it readable by its owner only, as it holds the server
  // password, and unique, so that two hosts never write the same one.
  std::string temporary = path_ + ".XXXXXX";
  const std::string content = FormatStore(values_);
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  struct stat before {};
  bool mode_set = false;
  if (group_) {
    mode_set = ::fchown(fd, static_cast<uid_t>(-1), *group_) == 0 && ::fchmod(fd, kSharedMode) == 0;
  } else if (::stat(path_.c_str(), &before) == 0) {
    // Rewritten, the store stays as readable as it was made, never more;
    // its group only where it keeps that group.
    const bool regrouped = ::fchown(fd, static_cast<uid_t>(-1), before.st_gid) == 0;
    mode_set = ::fchmod(fd, before.st_mode & (regrouped ? kSharedMode : S_IRUSR | S_IWUSR)) == 0;
  } else {
    mode_set = true;
  }
  const bool written =
      mode_set && WriteAll(fd, content.data(), content.size()) == 0 && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || std::rename(temporary.c_str(), path_.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

std::int32_t KeyStore::SetValue(TextView name, std::uint32_t type, const std::uint8_t* data,
                                std::uint32_t size) {
  Text text;
  if (!PlainText(type, data, size, &text)) return Code(win_error::kInvalidParameter);
  const std::vector<StoredValue> before = values_;
  const auto found = std::find_if(values_.begin(), values_.end(), [&](const StoredValue& value) {
    return SameName(value.name, name);
  });
  // A value keeps its place and the spelling it was created with.
  if (found == values_.end()) {
    values_.push_back({Text(name), std::move(text)});
  } else {
    found->text = std::move(text);
  }
  if (!Save()) {
    values_ = before;
    return Code(win_error::kAccessDenied);
  }
  return Code(win_error::kSuccess);
}

std::int32_t KeyStore::EnumValue(std::uint32_t index, char16_t* name, std::uint32_t* name_capacity,
                                 std::uint32_t* type, std::uint8_t* data,
                                 std::uint32_t* data_capacity) const {
  if (index >= values_.size()) return Code(win_error::kNoMoreItems);
  const StoredValue& value = values_[index];
  if (!name || !name_capacity || value.name.size() + 1 > *name_capacity) {
    return Code(win_error::kMoreData);
  }
  std::memcpy(name, value.name.data(), value.name.size() * sizeof(char16_t));
  name[value.name.size()] = 0;
  *name_capacity = static_cast<std::uint32_t>(value.name.size());
  if (type) *type = REG_SZ;
  if (!data_capacity) return Code(win_error::kSuccess);
  const std::vector<std::uint8_t> bytes = TextData(value.text);
  const auto size = static_cast<std::uint32_t>(bytes.size());
  if (data && size > *data_capacity) {
    *data_capacity = size;
    return Code(win_error::kMoreData);
  }
  if (data) std::memcpy(data, bytes.data(), size);
  *data_capacity = size;
  return Code(win_error::kSuccess);
}

bool CheckStorePrivate(const std::string& path, std::string* error) {
  struct stat status {};
  const int fd = OpenStoreFile(path, &status);
  if (fd < 0) {
    // Missing, or not readable here: opening it says so.
    if (errno != ELOOP) return true;
    *error = "the key store " + path + " is a symbolic link; name the file itself";
    return false;
  }
  ::close(fd);
  const std::string store = "the key store " + path;
  if (!S_ISREG(status.st_mode)) {
    *error = store + " is not a regular file";
    return false;
  }
  if (status.st_size > kMaxStoreSize) {
    *error = store + " is larger than " + std::to_string(kMaxStoreSize / 1024) +
             " KiB: it is no store of settings";
    return false;
  }
  if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
    *error = store + " holds the server password and belongs to " + UserName(status.st_uid) +
             ", who could change it; only " +
             (::geteuid() == 0 ? std::string("root") : "root or " + UserName(::geteuid())) +
             " may own it";
    return false;
  }
  if ((status.st_mode & kOpenToOthers) == 0) return true;
  *error = store +
           " holds the server password and others can read or change it; "
           "mend it with: chmod o-rwx,g-w " +
           path;
  return false;
}

void FillMonitorInit(KeyStore* store, MonitorInitRecords* records) {
  FillMonitorInit(store, QueryInfoKey, SetValue, EnumValue, records);
}

}  // namespace telvor::spoolhost
