#include "host.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

#include "quor/forms.h"
#include "telvor_common/win_errors.h"

namespace {

// The spooler's last error: one per thread, as Windows keeps it.
thread_local DWORD t_last_error = 0;

}  // namespace

void SetLastError(DWORD dwErrCode) { t_last_error = dwErrCode; }
DWORD GetLastError(void) { return t_last_error; }

namespace telvor::spoolhost {
namespace {

constexpr char kEntryPoint[] = "InitializePrintMonitor2";
constexpr char kRegisterHost[] = "QuorRegisterHost";

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// What the host table's calls reach: the job's queue, its person and the
// news of the job.
struct HostContext {
  PrintQueue* queue;
  HostUser* user;
  JobNews* news;
  const JobRequest* request;
};

HostContext& Of(void* context) { return *static_cast<HostContext*>(context); }

BOOL WINAPI OpenPrinterCall(void* context, LPCWSTR name, PHANDLE printer) {
  std::uint32_t error = win_error::kInvalidPrinterName;
  PrintQueue* queue = Of(context).queue;
  if (queue && queue->Open(name, printer, &error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL WINAPI SetJobCall(void* context, HANDLE printer, DWORD job_id, DWORD command) {
  std::uint32_t error = win_error::kInvalidHandle;
  PrintQueue* queue = Of(context).queue;
  if (queue && queue->SetJob(printer, job_id, command, &error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL WINAPI ClosePrinterCall(void* context, HANDLE printer) {
  std::uint32_t error = win_error::kInvalidHandle;
  PrintQueue* queue = Of(context).queue;
  if (queue && queue->Close(printer, &error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL WINAPI GetJobCall(void* context, HANDLE printer, DWORD job_id, QUOR_JOB_INFO* job) {
  const HostContext& host = Of(context);
  std::uint32_t error = win_error::kInvalidHandle;
  if (!host.queue || !host.queue->Knows(printer, job_id, &error)) {
    SetLastError(error);
    return FALSE;
  }
  *job = QUOR_JOB_INFO{};
  CopyText(reinterpret_cast<char16_t*>(job->UserName), QUOR_TEXT_UNITS, host.request->user_name);
  job->PageWidth = host.request->page_width;
  job->PageLength = host.request->page_length;
  job->VerticalResolution = host.request->vertical_resolution;
  return TRUE;
}

void WINAPI SetLastErrorCall(void*, DWORD code) { SetLastError(code); }
DWORD WINAPI GetLastErrorCall(void*) { return GetLastError(); }

// One of the form's fields in the record: a fixed array of N units.
struct FieldSlot {
  WCHAR* units;
  std::size_t size;
};

template <std::size_t N>
FieldSlot Slot(WCHAR (&units)[N]) {
  return {units, N};
}

// Asks the host's person through `form`'s fields, as the dialog would: the
// slots' texts in, and out again through the controls' rules.
DWORD AskThrough(void* context, const Form& form, FieldSlot* slots, LPDWORD error) {
  FormTexts texts(form.field_count);
  for (std::size_t i = 0; i < form.field_count; ++i) {
    slots[i].units[slots[i].size - 1] = 0;
    texts[i] = Text(reinterpret_cast<const char16_t*>(slots[i].units));
  }
  std::uint32_t reason = win_error::kNotSupported;
  HostUser* user = Of(context).user;
  const FormAnswer answer = user ? user->AskForm(form, texts, &reason) : FormAnswer::kFailed;
  switch (answer) {
    case FormAnswer::kOk:
      for (std::size_t i = 0; i < form.field_count; ++i) {
        const Text kept = FilterInput(form.fields[i], texts[i]);
        CopyText(reinterpret_cast<char16_t*>(slots[i].units), slots[i].size, kept);
      }
      return QUOR_FORM_OK;
    case FormAnswer::kCancel:
      return QUOR_FORM_CANCEL;
    case FormAnswer::kFailed:
      break;
  }
  *error = reason;
  return QUOR_FORM_FAILED;
}

DWORD WINAPI AskSetupCall(void* context, QUOR_SETUP_FORM* form, LPDWORD error) {
  // In the form's field order.
  FieldSlot slots[] = {Slot(form->ServerIp), Slot(form->User),     Slot(form->Password),
                       Slot(form->Mail),     Slot(form->Attempts), Slot(form->Modem)};
  return AskThrough(context, kSetupForm, slots, error);
}

DWORD WINAPI AskFaxNumberCall(void* context, QUOR_FAX_NUMBER_FORM* form, LPDWORD error) {
  FieldSlot slots[] = {Slot(form->FaxNumber), Slot(form->Attempts), Slot(form->Info)};
  return AskThrough(context, kFaxNumberForm, slots, error);
}

void WINAPI ShowMessageCall(void* context, LPCWSTR text, LPCWSTR caption) {
  if (HostUser* user = Of(context).user) user->ShowMessage(ToUtf8(caption), ToUtf8(text));
}

void WINAPI ReportJobCall(void* context, const QUOR_JOB_REPORT* report) {
  if (!Of(context).news) return;
  JobNews& news = *Of(context).news;
  news.state = report->State;
  news.send_fax_result = report->SendFaxResult;
  news.server_job = report->ServerJob;
  news.error = report->Error;
  if (report->pSpoolFile) news.spool_file = ToUtf8(report->pSpoolFile);
}

}  // namespace

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/'));
}

std::string FindMonitor(const std::string& program_directory, const std::string& installed) {
  const std::string beside = program_directory + "/" + kMonitorLibrary;
  if (installed.empty() || Exists(beside)) return beside;
  return program_directory + "/" + installed + "/" + kMonitorLibrary;
}

HostOutcome RunMonitorJob(const HostJob& job) {
  HostOutcome outcome;
  void* library = ::dlopen(job.monitor_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    outcome.error = std::string("cannot load the monitor: ") + ::dlerror();
    return outcome;
  }
  const auto initialize =
      reinterpret_cast<InitializePrintMonitor2Function>(::dlsym(library, kEntryPoint));
  const auto register_host =
      reinterpret_cast<QuorRegisterHostFunction>(::dlsym(library, kRegisterHost));
  if (!initialize || !register_host) {
    outcome.error = job.monitor_path + " has no " + (initialize ? kRegisterHost : kEntryPoint);
    return outcome;
  }

  // The monitor calls back into these for as long as it is loaded: here,
  // until the process ends.
  static HostContext context;
  context = {job.queue, job.user, &outcome.news, &job.request};
  static QUOR_HOST host;
  host = QUOR_HOST{};
  host.cbSize = sizeof host;
  host.pContext = &context;
  host.pfnOpenPrinter = OpenPrinterCall;
  host.pfnSetJob = SetJobCall;
  host.pfnClosePrinter = ClosePrinterCall;
  host.pfnGetJob = GetJobCall;
  host.pfnSetLastError = SetLastErrorCall;
  host.pfnGetLastError = GetLastErrorCall;
  host.pfnAskSetup = AskSetupCall;
  host.pfnAskFaxNumber = AskFaxNumberCall;
  host.pfnShowMessage = ShowMessageCall;
  host.pfnReportJob = ReportJobCall;
  if (!register_host(&host)) {
    outcome.error = std::string(kRegisterHost) + " refused the host table (error " +
                    std::to_string(GetLastError()) + ")";
    return outcome;
  }

  static MonitorInitRecords records;
  FillMonitorInit(job.store, &records);
  HANDLE monitor_handle = nullptr;
  // The monitor never frees a table (Shutdown frees nothing), so each lives
  // until the process ends; held here, they stay reachable.
  static auto* const tables = new std::vector<LPMONITOR2>;  // never destroyed either
  const LPMONITOR2 table = initialize(&records.init, &monitor_handle);
  if (table) tables->push_back(table);
  if (!table) {
    outcome.error = std::string(kEntryPoint) + " returned no operations table";
    return outcome;
  }
  if (!FindPort(*table, monitor_handle, &outcome.port, &outcome.error)) return outcome;
  outcome.monitor_ready = true;

  if (job.input) {
    if (job.queue) job.queue->AddJob(job.request.job_id);
    outcome.job = PrintJob(*table, monitor_handle, *job.input, job.request, &outcome.error);
  } else {
    outcome.job = OpenAndClosePort(*table, monitor_handle, &outcome.error);
  }
  table->pfnShutdown(monitor_handle);
  // The outcome is the caller's copy: nothing is reported into it after this.
  context.news = nullptr;
  return outcome;
}

long long FileSource::Read(std::uint8_t* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::read(fd_, buffer, size);
    if (count >= 0 || errno != EINTR) return count;
  }
}

}  // namespace telvor::spoolhost
