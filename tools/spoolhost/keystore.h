// The monitor's registry key for the Linux spooler host: an ordered list of
// named values kept in a small text file, answered with the registry's result
// codes so that the monitor sees what the Windows spooler would give it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "telvor/text.h"

namespace telvor::spoolhost {

// Registry result codes the store answers with.
constexpr std::int32_t kRegistrySuccess = 0;
constexpr std::int32_t kRegistryNotFound = 2;       // no value of that name
constexpr std::int32_t kRegistryAccessDenied = 5;   // the store file cannot be written
constexpr std::int32_t kRegistryMoreData = 234;     // a caller's buffer is too small
constexpr std::int32_t kRegistryNoMoreItems = 259;  // no value at that index

constexpr std::uint32_t kRegistryTextType = 1;  // REG_SZ

struct StoredValue {
  Text name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// The store file, one value a line in the registry editor's export form:
//   "Name"="text"               a REG_SZ value holding one terminated text
//   "Name"=hex(N):0a,00,...     anything else: type N (hexadecimal), raw bytes
// Quoted texts are UTF-8 with \\, \" and \uXXXX (control characters and
// unpaired surrogates) escaped, so every UTF-16 name and text survives.
// Blank lines and lines starting with ';' or '[' are ignored.
std::string FormatStore(const std::vector<StoredValue>& values);
bool ParseStore(std::string_view text, std::vector<StoredValue>* values, std::string* error);

// The registry text of `text`: UTF-16 units and a terminating zero.
std::vector<std::uint8_t> TextData(TextView text);

class KeyStore {
 public:
  explicit KeyStore(std::string path) : path_(std::move(path)) {}

  // Loads the store file. When it does not exist yet the key is being
  // registered: it receives the one value the spooler writes, "Driver" with
  // the monitor's library name, and the file is written.
  bool Open(TextView library_name, std::string* error);

  const std::string& path() const { return path_; }
  const std::vector<StoredValue>& values() const { return values_; }

  // The registry operations, with the registry's conventions: name
  // capacities in characters including the terminator, data capacities in
  // bytes, sizes reported back; names match without regard to letter case.
  std::int32_t QueryInfo(std::uint32_t* value_count, std::uint32_t* longest_name,
                         std::uint32_t* longest_data) const;
  std::int32_t SetValue(TextView name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size);
  std::int32_t EnumValue(std::uint32_t index, char16_t* name, std::uint32_t* name_capacity,
                         std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* data_capacity) const;
  std::int32_t QueryValue(TextView name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* data_capacity) const;
  std::int32_t DeleteValue(TextView name);

 private:
  bool Save() const;
  std::vector<StoredValue>::const_iterator Find(TextView name) const;

  std::string path_;
  std::vector<StoredValue> values_;
};

}  // namespace telvor::spoolhost
