#include "job.h"

#include <cstring>
#include <initializer_list>
#include <limits>

#include "person.h"
#include "platform.h"
#include "port_lifetime.h"
#include "report.h"
#include "settings.h"
#include "telvor_common/win_errors.h"
#include "temp_name.h"
#include "text_cast.h"
#include "widths.h"

namespace quor {

namespace {

namespace win_error = telvor::win_error;

constexpr char16_t kOpenPrinterFailed[] = u"OpenPrinter error %d\n";
constexpr char16_t kSendFaxFailed[] = u"SendFax error %d\n";
constexpr char16_t kDialogFailed[] = u"DialogBoxParam error %d\n";
constexpr char16_t kConversionFailed[] = u"WideCharToMultiByte error %d\n";

// Every read is answered with this text and the count 4.
constexpr char16_t kReadPortText[] = u"hyla fax test receive data";
constexpr DWORD kReadPortCount = 4;

struct FaxJob {
  char16_t spool_path[kPathUnits];
  Handle spool_file;
  Handle printer;
  std::uint32_t job_id;
  // Kept from the last confirmed fax-number dialog.
  char16_t fax_number[kFaxNumberUnits];
  char16_t info[kTextUnits];
  // From a successful StartDocPort to the EndDocPort that ends the job.
  bool active;
};

// Process-wide, one instance: the spooler drives the one port one job at a
// time. Zero at load.
FaxJob g_job;

// Closes and deletes the spool file of a job that did not start.
void DiscardSpoolFile(FaxJob& job) {
  if (job.spool_file) CurrentPlatform().CloseFile(job.spool_file);
  job.spool_file = nullptr;
  if (job.spool_path[0] != 0) CurrentPlatform().RemoveFile(job.spool_path);
}

// Tells the spooler the job is done with, whatever became of the fax.
void EndJob(FaxJob& job) {
  CurrentPlatform().MarkJobSent(job.printer, job.job_id);
  CurrentPlatform().CloseJobPrinter(job.printer);
  job.printer = nullptr;
}

void ReportJob(const FaxJob& job, JobState state, std::int32_t send_fax_result = 0,
               std::uint32_t error = 0, std::uint32_t server_job = 0) {
  const bool has_file = state == JobState::kStarted || state == JobState::kNotSent;
  CurrentPlatform().ReportJob(
      {job.job_id, state, send_fax_result, server_job, error, has_file ? job.spool_path : nullptr});
}

// A job that did not go out ends before its message box, which blocks the
// thread: the spooler's printer handle is not held while the person reads.
// The host hears of it after the person.
void EndJobAndReport(FaxJob& job, const char16_t* format, std::int32_t code,
                     std::int32_t send_fax_result = 0) {
  EndJob(job);
  ReportCode(format, code);
  ReportJob(job, JobState::kNotSent, send_fax_result,
            send_fax_result != 0 ? 0 : static_cast<std::uint32_t>(code));
}

template <std::size_t N>
bool ToAnsi(const char16_t* text, char (&out)[N]) {
  return CurrentPlatform().ToAnsi(text, out, N);
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

namespace {

bool StartFaxJob(FaxJob& job, const char16_t* printer_name, DWORD job_id) {
  Platform& platform = CurrentPlatform();
  char16_t directory[kPathUnits] = {};
  std::memset(job.spool_path, 0, sizeof(job.spool_path));
  job.job_id = job_id;
  job.active = false;
  if (!TempDirectory(directory)) return false;

  platform.CreateFreshTempFile(directory, kTempPrefix, job.spool_path);
  job.spool_file = platform.OpenExclusiveFile(job.spool_path);
  if (!platform.OpenJobPrinter(printer_name, &job.printer)) {
    ReportLastError(kOpenPrinterFailed);
    job.printer = nullptr;
    DiscardSpoolFile(job);
    return false;
  }
  if (!job.spool_file) {
    platform.CloseJobPrinter(job.printer);
    job.printer = nullptr;
    DiscardSpoolFile(job);
    return false;
  }
  job.active = true;
  return true;
}

}  // namespace

BOOL WINAPI StartDocPort(HANDLE, LPWSTR pPrinterName, DWORD JobId, DWORD, LPBYTE) {
  // While the spooler acts for the job's owner: who is asked for the number
  // at the end and told of what fails.
  FindCallerPerson();
  FaxJob& job = g_job;
  if (!StartFaxJob(job, AsText(pPrinterName), JobId)) {
    ForgetPerson();
    return FALSE;
  }
  AddJobUser(job.printer, JobId);
  ReportJob(job, JobState::kStarted);
  return TRUE;
}

BOOL WINAPI WritePort(HANDLE, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  std::uint32_t written = 0;
  CurrentPlatform().AppendToFile(g_job.spool_file, pBuffer, cbBuf, &written);
  *pcbWritten = written;
  return TRUE;
}

BOOL WINAPI ReadPort(HANDLE, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  if (cbBuffer < sizeof(kReadPortText)) {
    *pcbRead = 0;
    CurrentPlatform().SetLastError(win_error::kInsufficientBuffer);
    return FALSE;
  }
  std::memcpy(pBuffer, kReadPortText, sizeof(kReadPortText));
  *pcbRead = kReadPortCount;
  return TRUE;
}

BOOL WINAPI EndDocPort(HANDLE) {
  Platform& platform = CurrentPlatform();
  FaxJob& job = g_job;
  if (!job.active) {
    platform.SetLastError(win_error::kInvalidHandle);
    return FALSE;
  }
  job.active = false;
  // The person is asked and told only within this job.
  const ForgetPersonOnExit forget_person;
  // sendfax opens the spool file by its name.
  platform.CutFileHere(job.spool_file);
  platform.CloseFile(job.spool_file);
  job.spool_file = nullptr;
  const SendFaxFunction send_fax = BoundSendFax();
  if (!send_fax) {
    // The port was not opened: the job ends, its spool file stays.
    EndJob(job);
    ReportJob(job, JobState::kNotSent, 0, win_error::kInvalidHandle);
    platform.SetLastError(win_error::kInvalidHandle);
    return FALSE;
  }

  FaxNumberFields fields{};
  std::memcpy(fields.attempts, g_settings.wide.attempts, sizeof(fields.attempts));
  switch (AskPersonFaxNumber(fields)) {
    case DialogResult::kOk:
      break;
    case DialogResult::kCancel:
      // The person chose not to send.
      platform.RemoveFile(job.spool_path);
      EndJob(job);
      ReportJob(job, JobState::kCancelled);
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

  // The variant with the server's job number when the client has it, for
  // the host to show.
  std::uint32_t server_job = 0;
  const SendFaxJobFunction send_fax_job = BoundSendFaxJob();
  const std::int32_t result =
      send_fax_job
          ? send_fax_job(g_settings.server_ip.text, g_settings.user.text, g_settings.password.text,
                         fax_number, g_settings.mail.text, info, file_name, maxdials, &server_job)
          : send_fax(g_settings.server_ip.text, g_settings.user.text, g_settings.password.text,
                     fax_number, g_settings.mail.text, info, file_name, maxdials);
  if (result != TELVOR_SENT) {
    EndJobAndReport(job, kSendFaxFailed, result, result);
    return FALSE;
  }
  EndJob(job);
  platform.RemoveFile(job.spool_path);
  ReportJob(job, JobState::kSent, result, 0, server_job);
  return TRUE;
}

void ResetJob() { g_job = FaxJob{}; }

}  // namespace quor
