// Loads telvor.dll by name as the port monitor does, resolves "sendfax" and
// sends a document: sendfax_wine SERVER_IP FILE [nolog]. Prints the call's result,
// the processor time it took, and whether the log "telvor.log" it wrote can
// be read by nobody but its creator, SYSTEM and the Administrators. Exits
// with the call's result, or 90 when the log's access list is wider.
#include <windows.h>
// After windows.h.
#include <aclapi.h>

#include <cstdio>
#include <cstring>

#include "telvor/sendfax.h"

namespace {

constexpr int kLogAccessWrong = 90;

ULONGLONG ProcessorMs() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME& t) {
    return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
  };
  return ms(kernel) + ms(user);
}

bool SameSid(PSID a, WELL_KNOWN_SID_TYPE type) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  return CreateWellKnownSid(type, nullptr, sid, &size) && EqualSid(a, sid);
}

bool IsUser(PSID sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool got = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) != FALSE;
  CloseHandle(token);
  return got && EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The access list read back from the file allows the creating account and
// nobody but SYSTEM and the Administrators. (Wine 8 keeps no access list of
// its own for a file here: it derives one from the Unix mode, which it sets
// from the list given at creation, and shows the creator and SYSTEM. So the
// Administrators' entry cannot be seen under Wine; a world-readable log
// shows as an entry for Everyone.)
bool LogAccessIsNarrow() {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error =
      GetNamedSecurityInfoW(L"telvor.log", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    std::printf("log access list: GetNamedSecurityInfo error %lu\n", error);
    return false;
  }
  bool user = false, system = false, administrators = false, others = false;
  const WORD count = dacl != nullptr ? dacl->AceCount : 0;
  for (WORD i = 0; i < count; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
    if (IsUser(sid)) {
      user = true;
    } else if (SameSid(sid, WinLocalSystemSid)) {
      system = true;
    } else if (SameSid(sid, WinBuiltinAdministratorsSid)) {
      administrators = true;
    } else {
      others = true;
    }
  }
  LocalFree(descriptor);
  std::printf(
      "log access list: %s%u entries, creator %d, SYSTEM %d, Administrators %d, others %d\n",
      dacl == nullptr ? "none (everyone), " : "", count, user, system, administrators, others);
  return dacl != nullptr && user && !others;
}

}  // namespace

int main(int argc, char** argv) {
  // "nolog": the folder holds something that is no log; the call must go on.
  const bool no_log = argc == 4 && std::strcmp(argv[3], "nolog") == 0;
  if (argc != 3 && !no_log) {
    std::fprintf(stderr, "usage: sendfax_wine SERVER_IP FILE [nolog]\n");
    return 2;
  }
  HMODULE library = LoadLibraryW(L"telvor.dll");
  if (library == nullptr) {
    std::fprintf(stderr, "LoadLibrary error %lu\n", GetLastError());
    return 3;
  }
  const FARPROC address = GetProcAddress(library, "sendfax");
  if (address == nullptr) {
    std::fprintf(stderr, "GetProcAddress error %lu\n", GetLastError());
    FreeLibrary(library);
    return 4;
  }
  SendFaxFunction send = nullptr;
  static_assert(sizeof send == sizeof address);
  std::memcpy(&send, &address, sizeof send);
  if (!no_log) DeleteFileW(L"telvor.log");  // the access list of a log this call creates
  const int32_t result = send(argv[1], "alice", "secret", "5551234", "alice@example.com",
                              "sent under Wine", argv[2], 12);
  FreeLibrary(library);
  std::printf("sendfax result %d\n", static_cast<int>(result));
  std::printf("processor ms %llu\n", ProcessorMs());
  std::fflush(stdout);
  if (!no_log && !LogAccessIsNarrow()) return kLogAccessWrong;
  return static_cast<int>(result);
}
