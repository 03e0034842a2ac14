#include "job.h"

#include <cstring>
#include <initializer_list>
#include <limits>

#include "report.h"
#include "settings.h"
#include "temp_name.h"
#include "text_cast.h"

namespace quor {

namespace {

constexpr char16_t kTempVariable[] = u"TEMP";
constexpr char16_t kTempPrefix[] = u"fax";
// The placeholder's fixed number gives the name fax777.tmp; 0 asks for a
// fresh name per job.
constexpr std::uint32_t kPlaceholderNumber = 0x777;
constexpr std::uint32_t kFreshNumber = 0;
constexpr char kSendFaxExport[] = "sendfax";

constexpr char16_t kLoadLibraryFailed[] = u"LoadLibrary error %d\n";
constexpr char16_t kGetProcAddressFailed[] = u"GetProcAddress error %d\n";
constexpr char16_t kEnvironmentFailed[] = u"GetEnvironmentVariable error %d\n";
constexpr char16_t kCreateFileFailed[] = u"CreateFile error %d\n";
constexpr char16_t kOpenPrinterFailed[] = u"OpenPrinter error %d\n";
constexpr char16_t kSendFaxFailed[] = u"SendFax error %d\n";
constexpr char16_t kDialogFailed[] = u"DialogBoxParam error %d\n";
constexpr char16_t kConversionFailed[] = u"WideCharToMultiByte error %d\n";

// Every read is answered with this text and the count 4.
constexpr char16_t kReadPortText[] = u"hyla fax test receive data";
constexpr DWORD kReadPortCount = 4;

// TEMP with a separator appended (whether or not it ends with one already).
bool TempDirectory(char16_t (&directory)[kPathUnits]) {
  constexpr std::uint32_t kCapacity = kPathUnits - 1;  // room for the separator
  const std::uint32_t length = Platform().ReadEnvironment(kTempVariable, directory, kCapacity);
  if (length == 0) {
    ReportLastError(kEnvironmentFailed);
    return false;
  }
  if (length >= kCapacity) {
    ReportCode(kEnvironmentFailed, ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  directory[length] = kPathSeparator;
  directory[length + 1] = 0;
  return true;
}

// Closes and deletes the spool file of a job that did not start.
void DiscardSpoolFile(FaxJob& job) {
  if (job.spool_file) Platform().CloseHandle(job.spool_file);
  job.spool_file = nullptr;
  if (job.spool_path[0] != 0) Platform().DeleteNamedFile(job.spool_path);
}

// Tells the spooler the job is done with, whatever became of the fax.
void EndJob(FaxJob& job) {
  Platform().SetJobCommand(job.printer, job.job_id, JOB_CONTROL_SENT_TO_PRINTER);
  Platform().CloseJobPrinter(job.printer);
  job.printer = nullptr;
}

// A job that did not go out ends before its message box, which blocks the
// thread: the spooler's printer handle is not held while the person reads.
void EndJobAndReport(FaxJob& job, const char16_t* format, std::int32_t code) {
  EndJob(job);
  ReportCode(format, code);
}

template <std::size_t N>
bool ToAnsi(const char16_t* text, char (&out)[N]) {
  return Platform().ToAnsi(text, out, N);
}

// The first setting the registry read could not convert, or 0.
std::uint32_t SettingsConversionError() {
  for (const NarrowSetting* setting :
       {&g_settings.server_ip, &g_settings.user, &g_settings.password, &g_settings.mail}) {
    if (setting->conversion_error != 0) return setting->conversion_error;
  }
  return 0;
}

}  // namespace

FaxLibrary g_fax_library;
FaxJob g_job;

std::int32_t DecimalValue(const char16_t* text) {
  while (*text == u' ' || (*text >= u'\t' && *text <= u'\r')) ++text;
  const bool negative = *text == u'-';
  if (*text == u'-' || *text == u'+') ++text;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (; *text >= u'0' && *text <= u'9'; ++text) {
    value = value * 10 + (*text - u'0');
    if (value > kLimit) value = kLimit + 1;  // saturates below
  }
  if (negative) value = -value;
  if (value > kLimit) return std::numeric_limits<std::int32_t>::max();
  if (value < -kLimit - 1) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR, PHANDLE pHandle) {
  LoadSettings(*static_cast<const MONITORINIT*>(hMonitor));

  // The library is kept only by a port that opens: the spooler never closes
  // a port whose opening failed.
  MonitorPlatform& platform = Platform();
  const Handle library = platform.LoadFaxLibrary();
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
  platform.TempFileName(directory, kTempPrefix, kPlaceholderNumber, path);
  const Handle placeholder = platform.CreateUnsharedFile(path);
  if (!placeholder) {
    ReportLastError(kCreateFileFailed);
    platform.FreeFaxLibrary(library);
    return FALSE;
  }
  g_fax_library.module = library;
  g_fax_library.entry = entry;
  *pHandle = placeholder;
  return TRUE;
}

BOOL WINAPI StartDocPort(HANDLE, LPWSTR pPrinterName, DWORD JobId, DWORD, LPBYTE) {
  MonitorPlatform& platform = Platform();
  FaxJob& job = g_job;
  char16_t directory[kPathUnits] = {};
  std::memset(job.spool_path, 0, sizeof(job.spool_path));
  job.job_id = JobId;
  job.active = false;
  if (!TempDirectory(directory)) return FALSE;

  platform.TempFileName(directory, kTempPrefix, kFreshNumber, job.spool_path);
  job.spool_file = platform.CreateUnsharedFile(job.spool_path);
  if (!platform.OpenJobPrinter(AsText(pPrinterName), &job.printer)) {
    ReportLastError(kOpenPrinterFailed);
    job.printer = nullptr;
    DiscardSpoolFile(job);
    return FALSE;
  }
  if (!job.spool_file) {
    platform.CloseJobPrinter(job.printer);
    job.printer = nullptr;
    DiscardSpoolFile(job);
    return FALSE;
  }
  job.active = true;
  return TRUE;
}

BOOL WINAPI WritePort(HANDLE, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  std::uint32_t written = 0;
  Platform().WriteFile(g_job.spool_file, pBuffer, cbBuf, &written);
  *pcbWritten = written;
  return TRUE;
}

BOOL WINAPI ReadPort(HANDLE, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  if (cbBuffer < sizeof(kReadPortText)) {
    *pcbRead = 0;
    Platform().SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(pBuffer, kReadPortText, sizeof(kReadPortText));
  *pcbRead = kReadPortCount;
  return TRUE;
}

BOOL WINAPI EndDocPort(HANDLE) {
  MonitorPlatform& platform = Platform();
  FaxJob& job = g_job;
  if (!job.active) {
    platform.SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  job.active = false;
  // sendfax opens the spool file by its name.
  platform.SetEndOfFile(job.spool_file);
  platform.CloseHandle(job.spool_file);
  job.spool_file = nullptr;
  if (!g_fax_library.entry) {
    // The port was not opened: the job ends, its spool file stays.
    EndJob(job);
    platform.SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }

  FaxNumberFields fields{};
  std::memcpy(fields.attempts, g_settings.wide.attempts, sizeof(fields.attempts));
  switch (platform.FaxNumberDialog(fields)) {
    case DialogResult::kOk:
      break;
    case DialogResult::kCancel:
      // The person chose not to send.
      platform.DeleteNamedFile(job.spool_path);
      EndJob(job);
      return TRUE;
    case DialogResult::kFailed:
      EndJobAndReport(job, kDialogFailed, LastErrorCode());
      return FALSE;
  }
  std::memcpy(job.fax_number, fields.fax_number, sizeof(job.fax_number));
  std::memcpy(job.info, fields.info, sizeof(job.info));
  std::memcpy(g_settings.wide.attempts, fields.attempts, sizeof(g_settings.wide.attempts));
  const std::int32_t maxdials = DecimalValue(g_settings.wide.attempts);

  // Nothing cut or unconverted reaches sendfax: a text that does not convert
  // ends the job with a message, and the document stays in the spool file.
  char file_name[NarrowBytes(kPathUnits)];
  char fax_number[NarrowBytes(kFaxNumberUnits)];
  char info[NarrowBytes(kTextUnits)];
  if (!ToAnsi(job.spool_path, file_name) || !ToAnsi(job.fax_number, fax_number) ||
      !ToAnsi(job.info, info)) {
    EndJobAndReport(job, kConversionFailed, LastErrorCode());
    return FALSE;
  }
  if (const std::uint32_t error = SettingsConversionError()) {
    EndJobAndReport(job, kConversionFailed, static_cast<std::int32_t>(error));
    return FALSE;
  }

  const std::int32_t result =
      g_fax_library.entry(g_settings.server_ip.text, g_settings.user.text, g_settings.password.text,
                          fax_number, g_settings.mail.text, info, file_name, maxdials);
  if (result != 0) {
    EndJobAndReport(job, kSendFaxFailed, result);
    return FALSE;
  }
  EndJob(job);
  platform.DeleteNamedFile(job.spool_path);
  return TRUE;
}

BOOL WINAPI ClosePort(HANDLE hPort) {
  MonitorPlatform& platform = Platform();
  if (!platform.CloseHandle(hPort)) return FALSE;
  if (!platform.FreeFaxLibrary(g_fax_library.module)) return FALSE;
  // The export's address would point into the unloaded module.
  g_fax_library = FaxLibrary{};
  return TRUE;
}

}  // namespace quor
