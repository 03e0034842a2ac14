#include "monitor_registry.h"

namespace telvor::spoolhost {
namespace {

// The store holds the monitor's one key and no sub-keys.
constexpr LONG kNoSubKeys = kRegistryNotFound;

KeyStore* Store(HANDLE key) { return static_cast<KeyStore*>(key); }

TextView Name(LPCWSTR name) { return name ? TextView(name) : TextView(); }

LONG WINAPI CreateKey(HANDLE, LPCWSTR, DWORD, REGSAM, PSECURITY_ATTRIBUTES, PHANDLE, PDWORD,
                      HANDLE) {
  return kRegistryAccessDenied;
}

LONG WINAPI OpenKey(HANDLE, LPCWSTR, REGSAM, PHANDLE, HANDLE) { return kNoSubKeys; }

LONG WINAPI CloseKey(HANDLE, HANDLE) { return kRegistrySuccess; }

LONG WINAPI DeleteKey(HANDLE, LPCWSTR, HANDLE) { return kNoSubKeys; }

LONG WINAPI EnumKey(HANDLE, DWORD, LPWSTR, PDWORD, PFILETIME, HANDLE) {
  return kRegistryNoMoreItems;
}

LONG WINAPI QueryInfoKey(HANDLE key, PDWORD sub_keys, PDWORD longest_sub_key, PDWORD values,
                         PDWORD longest_name, PDWORD longest_data, PDWORD security_size, PFILETIME,
                         HANDLE) {
  if (sub_keys) *sub_keys = 0;
  if (longest_sub_key) *longest_sub_key = 0;
  if (security_size) *security_size = 0;
  return Store(key)->QueryInfo(values, longest_name, longest_data);
}

LONG WINAPI SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size, HANDLE) {
  return Store(key)->SetValue(Name(name), type, data, size);
}

LONG WINAPI DeleteValue(HANDLE key, LPCWSTR name, HANDLE) {
  return Store(key)->DeleteValue(Name(name));
}

LONG WINAPI EnumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD name_capacity, PDWORD type,
                      PBYTE data, PDWORD data_capacity, HANDLE) {
  return Store(key)->EnumValue(index, name, name_capacity, type, data, data_capacity);
}

LONG WINAPI QueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD data_capacity,
                       HANDLE) {
  return Store(key)->QueryValue(Name(name), type, data, data_capacity);
}

}  // namespace

MONITORREG MakeMonitorReg() {
  MONITORREG reg{};
  reg.cbSize = sizeof(MONITORREG);
  reg.fpCreateKey = CreateKey;
  reg.fpOpenKey = OpenKey;
  reg.fpCloseKey = CloseKey;
  reg.fpDeleteKey = DeleteKey;
  reg.fpEnumKey = EnumKey;
  reg.fpQueryInfoKey = QueryInfoKey;
  reg.fpSetValue = SetValue;
  reg.fpDeleteValue = DeleteValue;
  reg.fpEnumValue = EnumValue;
  reg.fpQueryValue = QueryValue;
  return reg;
}

}  // namespace telvor::spoolhost
