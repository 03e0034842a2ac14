#include "job.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "person.h"
#include "platform.h"
#include "port_lifetime.h"
#include "quor/fax_number.h"
#include "report.h"
#include "settings.h"
#include "telvor_common/text.h"
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
constexpr char16_t kNotCaptured[] = u"WriteFile error %d\n";
constexpr char16_t kNoteShortened[] = u"The note was too long for the fax server; it is sent as: ";
// Stands for the name of the user who printed in the notification address.
constexpr char kUserPattern[] = "%u";

// Every read is answered with this text and the count 4.
constexpr char16_t kReadPortText[] = u"hyla fax test receive data";
constexpr DWORD kReadPortCount = 4;

struct FaxJob {
  char16_t spool_path[kPathUnits];
  // Where the spool file is, with its separator: the client's log goes
  // there where the platform says so.
  char16_t folder[kPathUnits];
  Handle spool_file;
  Handle printer;
  std::uint32_t job_id;
  // Kept from the last confirmed fax-number dialog.
  char16_t fax_number[kFaxNumberUnits];
  char16_t info[kTextUnits];
  // As the spooler knows it at StartDocPort.
  JobPaper paper;
  std::u16string document;  // its name, empty when none was given
  // The first write that did not reach the spool file whole (0: none): a
  // document not captured whole is never sent.
  std::uint32_t write_error;
  // From a successful StartDocPort to the EndDocPort that ends the job.
  bool active;
};

// Process-wide, one instance: the spooler drives the one port one job at a
// time. Zero at load.
FaxJob g_job;

// The monitor's files are the spooler's, not the printing user's.
void RemoveSpoolFile(const char16_t* path) {
  const AsSpooler as_spooler;
  CurrentPlatform().RemoveFile(path);
}

// Closes and deletes the spool file of a job that did not start.
void DiscardSpoolFile(FaxJob& job) {
  if (job.spool_file) CurrentPlatform().CloseFile(job.spool_file);
  job.spool_file = nullptr;
  if (job.spool_path[0] != 0) RemoveSpoolFile(job.spool_path);
}

// Tells the spooler the job is done with, whatever became of the fax.
void EndJob(FaxJob& job) {
  CurrentPlatform().MarkJobSent(job.printer, job.job_id);
  CurrentPlatform().CloseJobPrinter(job.printer);
  job.printer = nullptr;
}

// A document kept because its fax was not sent is written down where an
// administrator looks, whoever was or was not told: whose, which, and where.
void LogKeptDocument(const FaxJob& job) {
  const char16_t* user = JobUser();
  const std::u16string text = u"The fax of job " + telvor::FromUtf8(std::to_string(job.job_id)) +
                              u" (\"" + (job.document.empty() ? u"no name" : job.document) +
                              u"\") printed by " + (user ? user : u"an unknown user") +
                              u" was not sent. The document is kept in " + job.spool_path + u".";
  const AsSpooler as_spooler;
  CurrentPlatform().LogEvent(text.c_str());
}

void ReportJob(const FaxJob& job, JobState state, std::int32_t send_fax_result = 0,
               std::uint32_t error = 0, std::uint32_t server_job = 0) {
  const bool has_file =
      (state == JobState::kStarted || state == JobState::kNotSent) && job.spool_path[0] != 0;
  if (state == JobState::kNotSent && has_file) LogKeptDocument(job);
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
  for (const NarrowSetting* setting : {&g_settings.server_ip, &g_settings.user,
                                       &g_settings.password, &g_settings.mail, &g_settings.modem}) {
    if (setting->conversion_error != 0) return setting->conversion_error;
  }
  return 0;
}

// Converts `text` for sendfax, shortened at a character's end until it fits
// the client's limit; true when it had to be.
template <std::size_t N>
bool ToAnsiShortened(char16_t (&text)[N], char (&out)[NarrowBytes(N)], bool* shortened) {
  *shortened = false;
  for (;;) {
    if (!CurrentPlatform().ToAnsi(text, out, sizeof out)) return false;
    if (std::strlen(out) <= TELVOR_TEXT_LIMIT) return true;
    std::size_t length = telvor::TextLength(text);
    --length;
    if (length > 0 && text[length] >= 0xDC00 && text[length] <= 0xDFFF) --length;
    text[length] = 0;
    *shortened = true;
  }
}

// A user name that can stand in an address as it is.
bool UsableInAddress(const char16_t* name) {
  if (!name || *name == 0) return false;
  for (; *name; ++name) {
    const char16_t c = *name;
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'0' && c <= u'9') || c == u'.' || c == u'_' || c == u'-' || c == u'+';
    if (!plain) return false;
  }
  return true;
}

// The notification address: "%u" in the stored one becomes the name of the
// user who printed. Without a name that fits an address, the address stays
// empty and the server tells the account that submitted the job.
void NotifyAddress(const char* pattern, const char16_t* user, char* out, std::size_t capacity) {
  std::string address = pattern;
  if (address.find(kUserPattern) != std::string::npos) {
    std::string name;
    if (UsableInAddress(user)) name = telvor::ToUtf8(user);  // ASCII alone
    for (std::size_t at; !name.empty() && (at = address.find(kUserPattern)) != std::string::npos;) {
      address.replace(at, sizeof kUserPattern - 1, name);
    }
    if (name.empty() || address.size() > TELVOR_TEXT_LIMIT) address.clear();
  }
  std::snprintf(out, capacity, "%s", address.c_str());
}

bool StartFaxJob(FaxJob& job, const char16_t* printer_name, DWORD job_id) {
  Platform& platform = CurrentPlatform();
  std::memset(job.spool_path, 0, sizeof(job.spool_path));
  job.job_id = job_id;
  job.active = false;
  job.write_error = 0;
  if (!TempDirectory(job.folder)) return false;

  {
    const AsSpooler as_spooler;
    platform.CreateFreshTempFile(job.folder, kTempPrefix, job.spool_path);
    job.spool_file = platform.OpenExclusiveFile(job.spool_path);
  }
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

BOOL WINAPI StartDocPort(HANDLE, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo) {
  // While the spooler acts for the job's owner: who is asked for the number
  // at the end and told of what fails.
  FindCallerPerson();
  FaxJob& job = g_job;
  if (!StartFaxJob(job, AsText(pPrinterName), JobId)) {
    ForgetPerson();
    return FALSE;
  }
  AddJobUser(job.printer, JobId);
  const auto* info = reinterpret_cast<const DOC_INFO_1W*>(pDocInfo);
  const bool named = (Level == 1 || Level == 2) && info && info->pDocName;
  job.document = named ? AsText(info->pDocName) : u"";
  job.paper = JobPaper{};
  CurrentPlatform().JobPaperOf(job.printer, JobId, &job.paper);
  ReportJob(job, JobState::kStarted);
  return TRUE;
}

BOOL WINAPI WritePort(HANDLE, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  Platform& platform = CurrentPlatform();
  std::uint32_t written = 0;
  const bool whole = platform.AppendToFile(g_job.spool_file, pBuffer, cbBuf, &written);
  *pcbWritten = written;
  if (whole) return TRUE;
  // A full disk, say: the spooler hears of it, and the job is not sent.
  const std::uint32_t error = platform.LastError();
  if (g_job.write_error == 0) g_job.write_error = error != 0 ? error : win_error::kDiskFull;
  platform.SetLastError(g_job.write_error);
  return FALSE;
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
  if (job.write_error != 0) {
    // Part of a document is no fax: what was captured goes.
    RemoveSpoolFile(job.spool_path);
    job.spool_path[0] = 0;
    EndJobAndReport(job, kNotCaptured, static_cast<std::int32_t>(job.write_error));
    return FALSE;
  }
  const SendFaxFunction send_fax = BoundSendFax();
  if (!send_fax) {
    // The port was not opened: the job ends, its spool file stays.
    EndJob(job);
    ReportJob(job, JobState::kNotSent, 0, win_error::kInvalidHandle);
    platform.SetLastError(win_error::kInvalidHandle);
    return FALSE;
  }

  LoadSettingsIfAwaited();
  if (g_settings.awaiting_administrator) {
    // Nothing to send with: the document waits for an administrator.
    EndJob(job);
    TellPerson(NotSetUpText().c_str(), kCaption, Owner::kNone);
    ReportJob(job, JobState::kNotSent, 0, win_error::kNotReady);
    platform.SetLastError(win_error::kNotReady);
    return FALSE;
  }

  FaxNumberFields fields{};
  std::memcpy(fields.attempts, g_settings.wide.attempts, sizeof(fields.attempts));
  switch (AskPersonFaxNumber(fields)) {
    case DialogResult::kOk:
      break;
    case DialogResult::kCancel:
      // The person chose not to send.
      RemoveSpoolFile(job.spool_path);
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

  // The number the person meant, or none: what the rule refuses ends the job
  // unsent, with the reason, and the document stays in the spool file.
  std::u16string dial;
  const NumberFault fault = ReadFaxNumber(job.fax_number, &dial);
  int maxdials = 0;
  if (fault != NumberFault::kNone || !ReadAttempts(g_settings.wide.attempts, &maxdials)) {
    EndJob(job);
    const std::u16string reason = fault != NumberFault::kNone
                                      ? NumberFaultText(fault, job.fax_number)
                                      : AttemptsFaultText(g_settings.wide.attempts);
    TellPerson(reason.c_str(), kCaption, Owner::kNone);
    ReportJob(job, JobState::kNotSent, 0, win_error::kInvalidData);
    platform.SetLastError(win_error::kInvalidData);
    return FALSE;
  }

  // Nothing cut or unconverted reaches sendfax: a text that does not convert
  // ends the job with a message, and the document stays in the spool file.
  // The note alone may be shortened, said so, rather than fail at every try.
  char file_name[NarrowBytes(kPathUnits)];
  char folder[NarrowBytes(kPathUnits)];
  char fax_number[NarrowBytes(kFaxNumberUnits)];
  char info[NarrowBytes(kTextUnits)];
  bool shortened = false;
  if (!ToAnsi(job.spool_path, file_name) || !ToAnsi(job.folder, folder) ||
      !ToAnsi(dial.c_str(), fax_number) || !ToAnsiShortened(job.info, info, &shortened)) {
    EndJobAndReport(job, kConversionFailed, LastErrorCode());
    return FALSE;
  }
  if (const std::uint32_t error = SettingsConversionError()) {
    EndJobAndReport(job, kConversionFailed, static_cast<std::int32_t>(error));
    return FALSE;
  }
  if (shortened)
    TellPerson((kNoteShortened + std::u16string(job.info)).c_str(), kCaption, Owner::kNone);
  char mail[sizeof g_settings.mail.text];
  NotifyAddress(g_settings.mail.text, JobUser(), mail, sizeof mail);

  // The variant with the job's settings and the server's job number when the
  // client has it.
  telvor_job settings{};
  settings.size = sizeof settings;
  settings.modem = g_settings.modem.text;
  settings.page_width = job.paper.width_mm;
  settings.page_length = job.paper.length_mm;
  settings.vertical_resolution = job.paper.vertical_resolution;
  // Never the spooler's current folder, the system's.
  if (platform.LogInSpoolFolder()) settings.log_folder = folder;
  const SendFaxJobFunction send_fax_job = BoundSendFaxJob();
  std::int32_t result = 0;
  {
    // The client reads the monitor's spool file and writes its log there.
    const AsSpooler as_spooler;
    result = send_fax_job
                 ? send_fax_job(g_settings.server_ip.text, g_settings.user.text,
                                g_settings.password.text, fax_number, mail, info, file_name,
                                maxdials, &settings)
                 : send_fax(g_settings.server_ip.text, g_settings.user.text,
                            g_settings.password.text, fax_number, mail, info, file_name, maxdials);
  }
  if (result != TELVOR_SENT) {
    EndJobAndReport(job, kSendFaxFailed, result, result);
    return FALSE;
  }
  EndJob(job);
  RemoveSpoolFile(job.spool_path);
  ReportJob(job, JobState::kSent, result, 0, send_fax_job ? settings.job_number : 0);
  return TRUE;
}

void ResetJob() { g_job = FaxJob{}; }

}  // namespace quor
