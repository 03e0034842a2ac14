#include "port_lifetime.h"

#include "person.h"
#include "report.h"
#include "settings.h"
#include "temp_name.h"

namespace quor {

namespace {

// The placeholder's fixed number gives the name fax777.tmp.
constexpr std::uint32_t kPlaceholderNumber = 0x777;
constexpr char kSendFaxExport[] = "sendfax";
constexpr char kSendFaxJobExport[] = "sendfax_job";

constexpr char16_t kLoadLibraryFailed[] = u"LoadLibrary error %d\n";
constexpr char16_t kGetProcAddressFailed[] = u"GetProcAddress error %d\n";
constexpr char16_t kCreateFileFailed[] = u"CreateFile error %d\n";

// The bound fax server client: set by a successful OpenPort, released and
// cleared by ClosePort. Process-wide, one instance; zero at load.
struct FaxLibrary {
  Handle module;
  SendFaxFunction entry;
  SendFaxJobFunction job_entry;  // null in a client without it
};
FaxLibrary g_fax_library;

}  // namespace

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR, PHANDLE pHandle) {
  // The setup and this opening's messages go to the user the spooler acts
  // for, if any.
  FindCallerPerson();
  const ForgetPersonOnExit forget_person;
  LoadSettings(*static_cast<const MONITORINIT*>(hMonitor));

  // The library is kept only by a port that opens: the spooler never closes
  // a port whose opening failed.
  Platform& platform = CurrentPlatform();
  Handle library = nullptr;
  {
    const AsSpooler as_spooler;
    library = platform.LoadFaxLibrary();
  }
  if (!library) {
    ReportLastError(kLoadLibraryFailed);
    return FALSE;
  }
  const SendFaxFunction entry = platform.ResolveSendFax(library, kSendFaxExport);
  if (!entry) {
    ReportLastError(kGetProcAddressFailed);
    platform.FreeFaxLibrary(library);
    return FALSE;
  }
  char16_t directory[kPathUnits] = {};
  if (!TempDirectory(directory)) {
    platform.FreeFaxLibrary(library);
    return FALSE;
  }
  // The port handle is the placeholder file's handle. Its fixed name and the
  // missing sharing make a second opening fail while this one is open.
  char16_t path[kPathUnits] = {};
  platform.FormTempName(directory, kTempPrefix, kPlaceholderNumber, path);
  Handle placeholder = nullptr;
  std::uint32_t error = 0;
  {
    const AsSpooler as_spooler;
    placeholder = platform.OpenExclusiveFile(path);
    // Taken at once: what runs before the report may set its own.
    if (!placeholder) error = platform.LastError();
  }
  if (!placeholder) {
    ReportCode(kCreateFileFailed, static_cast<std::int32_t>(error));
    platform.FreeFaxLibrary(library);
    return FALSE;
  }
  g_fax_library.module = library;
  g_fax_library.entry = entry;
  g_fax_library.job_entry = platform.ResolveSendFaxJob(library, kSendFaxJobExport);
  *pHandle = placeholder;
  return TRUE;
}

BOOL WINAPI ClosePort(HANDLE hPort) {
  Platform& platform = CurrentPlatform();
  if (!platform.CloseFile(hPort)) return FALSE;
  if (!platform.FreeFaxLibrary(g_fax_library.module)) return FALSE;
  // The export's address would point into the unloaded module.
  g_fax_library = FaxLibrary{};
  return TRUE;
}

SendFaxFunction BoundSendFax() { return g_fax_library.entry; }

SendFaxJobFunction BoundSendFaxJob() { return g_fax_library.job_entry; }

void ResetPortLifetime() { g_fax_library = FaxLibrary{}; }

}  // namespace quor
