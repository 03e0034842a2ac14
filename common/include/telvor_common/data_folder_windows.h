// The monitor's folder under ProgramData (kDataFolderName) and the folders
// within it: for SYSTEM and Administrators alone, as the monitor keeps
// documents there and the installer its log and the settings it carries
// over an upgrade.
#pragma once

#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace telvor {

inline constexpr wchar_t kProgramDataVariable[] = L"ProgramData";
// Owned by Administrators; SYSTEM and Administrators alone, files and
// folders within included; nothing taken from the parent (ProgramData lets
// every user read and create).
inline constexpr wchar_t kOwnFolderAccess[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Whether the folder's owner is SYSTEM or Administrators, whom no other user
// can make owner: a folder so owned was not made by a user who prints.
inline bool OwnedBySystem(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool ours = owner && (IsWellKnownSid(owner, WinLocalSystemSid) ||
                              IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  LocalFree(descriptor);
  return ours;
}

// Creates the folder with the monitor's access list; one found there made
// by anyone else is taken over (its owner and access list replaced) before
// use. False with the last error set.
inline bool MakeOwnFolder(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kOwnFolderAccess, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  bool ok = CreateDirectoryW(path.c_str(), &attributes) != FALSE;
  if (!ok && GetLastError() == ERROR_ALREADY_EXISTS) {
    ok = OwnedBySystem(path);
    if (!ok) {
      PSID owner = nullptr;
      PACL access = nullptr;
      BOOL present = FALSE;
      BOOL defaulted = FALSE;
      GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
      GetSecurityDescriptorDacl(descriptor, &present, &access, &defaulted);
      const DWORD result =
          SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    PROTECTED_DACL_SECURITY_INFORMATION,
                                owner, nullptr, access, nullptr);
      ok = result == ERROR_SUCCESS;
      if (!ok) SetLastError(result);
    }
  }
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return ok;
}

}  // namespace telvor
