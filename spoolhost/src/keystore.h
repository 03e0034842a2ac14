// The monitor's registry key for the Linux spooler host: an ordered list of
// named texts kept in a small text file, served to the monitor through the
// spooler's registry functions with the registry's result codes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spooler.h"
#include "telvor_common/names.h"
#include "telvor_common/text.h"

namespace telvor::spoolhost {

// The settings the monitor keeps in its key, in the order its setup form
// asks for them.
inline constexpr const char16_t* kSettingNames[] = {kServerIpValue, kUserValue,     kPasswordValue,
                                                    kMailValue,     kAttemptsValue, kModemValue};
inline constexpr std::size_t kSettingCount = sizeof kSettingNames / sizeof kSettingNames[0];
inline constexpr std::size_t kPasswordSetting = 2;  // its index

struct StoredValue {
  Text name;
  Text text;
};

// The store file, one value a line, as the registry editor exports a text
// value: "Name"="text". Quoted texts are UTF-8 with \\, \" and \uXXXX
// (control characters and surrogates) escaped, so every UTF-16 text
// survives. Blank lines and lines starting with ';' or '[' are ignored.
std::string FormatStore(const std::vector<StoredValue>& values);
bool ParseStore(std::string_view text, std::vector<StoredValue>* values, std::string* error);

// The key holds text values (REG_SZ) only: all the monitor ever writes.
class KeyStore {
 public:
  explicit KeyStore(std::string path) : path_(std::move(path)) {}

  // Loads the store file. When it does not exist yet (or holds no value,
  // emptied by hand) the key is being registered: it receives the one value
  // the spooler writes, "Driver" with the monitor's library name, and the
  // file is written.
  bool Open(TextView library_name, std::string* error);

  const std::vector<StoredValue>& values() const { return values_; }
  // The text of the value `name` (matched as the monitor matches it), or nothing.
  std::optional<Text> Value(TextView name) const;

  // A store the group `group` reads as well (the CUPS backend runs as user
  // lp): written with mode 0640 and that group. Without it a new store is
  // its owner's alone (0600), and a rewritten one keeps its mode and group.
  void ShareWithGroup(gid_t group) { group_ = group; }

  // The registry operations the monitor calls, with the registry's
  // conventions: name capacities in characters including the terminator,
  // data capacities in bytes, sizes reported back; names match without
  // regard to letter case. A write that cannot be stored changes nothing.
  std::int32_t SetValue(TextView name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size);
  std::int32_t EnumValue(std::uint32_t index, char16_t* name, std::uint32_t* name_capacity,
                         std::uint32_t* type, std::uint8_t* data,
                         std::uint32_t* data_capacity) const;

 private:
  bool Save() const;

  std::string path_;
  std::vector<StoredValue> values_;
  std::optional<gid_t> group_;
};

// The most bytes a store file may hold: six settings fit many times over.
inline constexpr off_t kMaxStoreSize = 64 * 1024;

// The store holds the server password: refused (false, with the reason and
// how to mend it) when it is not a regular file (a link, a FIFO: refused
// without waiting on it), is larger than kMaxStoreSize, is owned by anyone
// but root or the running user, or users outside its owner and group can
// read or write it, or its group can write it. A store that does not exist
// yet passes.
bool CheckStorePrivate(const std::string& path, std::string* error);

// Whether the settings were ever stored: more than the one value written
// at registration.
inline bool IsSetUp(const KeyStore& store) { return store.values().size() > 1; }

// Hands `store` to the monitor as its key, with the registry functions the
// monitor calls.
void FillMonitorInit(KeyStore* store, MonitorInitRecords* records);

}  // namespace telvor::spoolhost
