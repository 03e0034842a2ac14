// Keeps the monitor's key, which holds the password, from every user but
// SYSTEM and Administrators: what the monitor does after writing its
// settings and the installer after registering the monitor (the spooler's
// own registry functions cannot set a key's security).
#pragma once

#include <sddl.h>
#include <windows.h>

#include <string>

#include "telvor_common/names.h"

namespace telvor {

// False with the last error set; run by SYSTEM or an administrator.
inline bool ProtectMonitorKey() {
  const std::wstring path = std::wstring(reinterpret_cast<const wchar_t*>(kMonitorsKeyPath)) +
                            reinterpret_cast<const wchar_t*>(kMonitorName);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          reinterpret_cast<const wchar_t*>(kMonitorKeyAccess), SDDL_REVISION_1, &descriptor,
          nullptr)) {
    return false;
  }
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key);
  if (result == ERROR_SUCCESS) {
    result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               descriptor);
    RegCloseKey(key);
  }
  LocalFree(descriptor);
  SetLastError(static_cast<DWORD>(result));
  return result == ERROR_SUCCESS;
}

}  // namespace telvor
