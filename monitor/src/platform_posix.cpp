// The monitor's platform layer on POSIX systems, where a spooler host of our
// own loads the monitor: files locked against a second opener, TEMP from the
// environment, the client library by its file name, and what the host
// registered (quor/host.h): the printer calls, the last error, the forms,
// the messages and the job reports.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform.h"
#include "quor/host.h"
#include "quor/spooler.h"
#include "telvor_common/posix_io.h"
#include "telvor_common/text.h"
#include "telvor_common/win_errors.h"
#include "temp_name.h"

namespace quor {

namespace {

namespace win_error = telvor::win_error;

constexpr char kFaxLibraryFile[] = "libtelvor.so";
constexpr char16_t kTempVariable[] = u"TEMP";
constexpr mode_t kFileMode = 0600;
// The temporary-name rule's numbers are 16 bits wide.
constexpr std::uint32_t kUniqueNumbers = 0x10000;

// File descriptors travel as handles offset by one, so that no open file is
// a null handle.
Handle ToHandle(int fd) { return reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd) + 1); }
int ToFd(Handle handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1); }

std::string Narrow(const char16_t* text) { return telvor::ToUtf8(text); }

// The last error when the host keeps none of its own.
thread_local std::uint32_t t_last_error = 0;

// The host's table; a zeroed one until a host registers. The host registers
// before it initialises the monitor, so no lock.
QUOR_HOST g_host;

template <std::size_t N>
void CopyField(char16_t (&to)[N], const WCHAR (&from)[N]) {
  for (std::size_t i = 0; i < N; ++i) to[i] = from[i];
  to[N - 1] = 0;  // whatever the host left there
}

DialogResult FormResult(DWORD answer) {
  switch (answer) {
    case QUOR_FORM_OK:
      return DialogResult::kOk;
    case QUOR_FORM_CANCEL:
      return DialogResult::kCancel;
    default:
      return DialogResult::kFailed;
  }
}

class PosixPlatform final : public Platform {
 public:
  std::uint32_t LastError() override {
    if (g_host.pfnGetLastError) return g_host.pfnGetLastError(g_host.pContext);
    return t_last_error;
  }

  void SetLastError(std::uint32_t code) override {
    t_last_error = code;
    if (g_host.pfnSetLastError) g_host.pfnSetLastError(g_host.pContext, code);
  }

  void* AllocateTable(std::size_t size) override {
    void* memory = std::calloc(1, size);
    if (!memory) SetLastError(win_error::kNotEnoughMemory);
    return memory;
  }

  Handle OpenExclusiveFile(const char16_t* path) override {
    // A planted link (the placeholder's name is fixed and known) is not followed:
    // emptying the file it points at would destroy someone's data.
    const int fd = open(Narrow(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) return Fail(errno);
    // The lock is what keeps others out; the file is emptied only once we
    // hold it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
      const int error = errno;
      close(fd);
      return Fail(error);
    }
    return ToHandle(fd);
  }

  bool AppendToFile(Handle file, const void* data, std::uint32_t size,
                    std::uint32_t* written) override {
    std::size_t done = 0;
    const int error = telvor::WriteAll(ToFd(file), data, size, &done);
    *written = static_cast<std::uint32_t>(done);
    if (error == 0) return true;
    SetLastError(win_error::FromErrno(error));
    return false;
  }

  bool CutFileHere(Handle file) override {
    const off_t position = lseek(ToFd(file), 0, SEEK_CUR);
    if (position < 0 || ftruncate(ToFd(file), position) != 0) return Failed(errno);
    return true;
  }

  bool CloseFile(Handle file) override { return close(ToFd(file)) == 0 || Failed(errno); }

  bool RemoveFile(const char16_t* path) override {
    return unlink(Narrow(path).c_str()) == 0 || Failed(errno);
  }

  std::uint32_t ReadEnvironment(const char16_t* name, char16_t* buffer,
                                std::uint32_t capacity) override {
    const char* value = std::getenv(Narrow(name).c_str());
    if (!value || !*value) {
      SetLastError(win_error::kEnvVarNotFound);
      return 0;
    }
    const telvor::Text text = telvor::FromUtf8(value);
    if (!telvor::CopyText(buffer, capacity, text))
      return static_cast<std::uint32_t>(text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
  }

  std::uint32_t FormTempName(const char16_t* directory, const char16_t* prefix,
                             std::uint32_t number, char16_t* path) override {
    return Place(TempName(directory, prefix, number), path) ? number : 0;
  }

  std::uint32_t CreateFreshTempFile(const char16_t* directory, const char16_t* prefix,
                                    char16_t* path) override {
    // The first number comes from the clock; later ones step on from the
    // last one used, so that jobs in a row never get the same name, even
    // once an earlier job's file is gone. Names in use are stepped past.
    const std::uint32_t start =
        last_fresh_number_ != 0
            ? last_fresh_number_ + 1
            : static_cast<std::uint32_t>(std::time(nullptr)) ^ static_cast<std::uint32_t>(getpid());
    for (std::uint32_t step = 0; step < kUniqueNumbers; ++step) {
      const std::uint32_t number = (start + step) % kUniqueNumbers;
      if (number == 0) continue;
      // Checked before the file exists: a name that does not fit the path
      // buffer must not leave a file nobody knows of.
      const telvor::Text name = TempName(directory, prefix, number);
      if (name.size() >= kPathUnits) {
        SetLastError(win_error::kFilenameExcedRange);
        return 0;
      }
      const int fd =
          open(telvor::ToUtf8(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
      if (fd >= 0) {
        close(fd);
        last_fresh_number_ = number;
        return Place(name, path) ? number : 0;
      }
      if (errno != EEXIST) {
        SetLastError(win_error::FromErrno(errno));
        return 0;
      }
    }
    SetLastError(win_error::kFileExists);
    return 0;
  }

  Handle LoadFaxLibrary() override {
    void* library = dlopen(kFaxLibraryFile, RTLD_NOW | RTLD_LOCAL);
    if (!library) SetLastError(win_error::kModuleNotFound);
    return library;
  }

  SendFaxFunction ResolveSendFax(Handle library, const char* name) override {
    const auto entry = reinterpret_cast<SendFaxFunction>(dlsym(library, name));
    if (!entry) SetLastError(win_error::kProcNotFound);
    return entry;
  }

  SendFaxJobFunction ResolveSendFaxJob(Handle library, const char* name) override {
    return reinterpret_cast<SendFaxJobFunction>(dlsym(library, name));
  }

  bool FreeFaxLibrary(Handle library) override {
    if (library && dlclose(library) == 0) return true;
    SetLastError(win_error::kInvalidHandle);
    return false;
  }

  DialogResult AskSettings(SetupFields& fields) override {
    if (!g_host.pfnAskSetup) return NoForm();
    QUOR_SETUP_FORM form{};
    CopyField(form.Attempts, fields.attempts);
    CopyField(form.Modem, fields.modem);
    DWORD error = 0;
    const DialogResult result = FormResult(g_host.pfnAskSetup(g_host.pContext, &form, &error));
    if (result == DialogResult::kOk) {
      CopyField(fields.modem, form.Modem);
      CopyField(fields.server_ip, form.ServerIp);
      CopyField(fields.user, form.User);
      CopyField(fields.password, form.Password);
      CopyField(fields.mail, form.Mail);
      CopyField(fields.attempts, form.Attempts);
    }
    if (result == DialogResult::kFailed) SetLastError(error);
    return result;
  }

  DialogResult AskFaxNumber(FaxNumberFields& fields) override {
    if (!g_host.pfnAskFaxNumber) return NoForm();
    QUOR_FAX_NUMBER_FORM form{};
    CopyField(form.Attempts, fields.attempts);
    DWORD error = 0;
    const DialogResult result = FormResult(g_host.pfnAskFaxNumber(g_host.pContext, &form, &error));
    if (result == DialogResult::kOk) {
      CopyField(fields.fax_number, form.FaxNumber);
      CopyField(fields.attempts, form.Attempts);
      CopyField(fields.info, form.Info);
    }
    if (result == DialogResult::kFailed) SetLastError(error);
    return result;
  }

  void ShowMessage(const char16_t* text, const char16_t* caption, Owner) override {
    if (g_host.pfnShowMessage) {
      g_host.pfnShowMessage(g_host.pContext, text, caption);
      return;
    }
    std::string line = Narrow(caption) + ": " + Narrow(text);
    if (line.back() != '\n') line.push_back('\n');
    telvor::WriteAll(STDERR_FILENO, line.data(), line.size());
  }

  bool OpenJobPrinter(const char16_t* printer_name, Handle* printer) override {
    if (!g_host.pfnOpenPrinter) return Missing();
    return g_host.pfnOpenPrinter(g_host.pContext, printer_name, printer) != FALSE;
  }

  bool MarkJobSent(Handle printer, std::uint32_t job_id) override {
    if (!g_host.pfnSetJob) return Missing();
    return g_host.pfnSetJob(g_host.pContext, printer, job_id, JOB_CONTROL_SENT_TO_PRINTER) != FALSE;
  }

  bool CloseJobPrinter(Handle printer) override {
    if (!g_host.pfnClosePrinter) return Missing();
    return g_host.pfnClosePrinter(g_host.pContext, printer) != FALSE;
  }

  void ReportJob(const JobReport& report) override {
    if (!g_host.pfnReportJob) return;
    QUOR_JOB_REPORT record{};
    record.cbSize = sizeof record;
    record.JobId = report.job_id;
    record.State = static_cast<DWORD>(report.state);
    record.SendFaxResult = report.send_fax_result;
    record.ServerJob = report.server_job;
    record.Error = report.error;
    record.pSpoolFile = report.spool_file;
    g_host.pfnReportJob(g_host.pContext, &record);
  }

  // The host runs the job for the person who printed and shows the forms
  // and messages itself: there is no other session to reach nor a system log
  // of the monitor's own.
  bool OnVisibleDesktop() override { return true; }
  Handle TakeCallerToken(std::uint32_t* session) override {
    *session = kNoSession;
    return nullptr;
  }
  void ReleaseToken(Handle) override {}
  bool JobUserName(Handle printer, std::uint32_t job_id, char16_t* name,
                   std::size_t capacity) override {
    QUOR_JOB_INFO job{};
    if (!GetJob(printer, job_id, &job) || job.UserName[0] == 0) return false;
    return telvor::CopyText(name, capacity, telvor::TextView(job.UserName));
  }
  bool JobPaperOf(Handle printer, std::uint32_t job_id, JobPaper* paper) override {
    QUOR_JOB_INFO job{};
    if (!GetJob(printer, job_id, &job)) return false;
    *paper = {job.PageWidth, job.PageLength, job.VerticalResolution};
    return true;
  }
  std::uint32_t UserSession(const char16_t*) override { return kNoSession; }
  std::uint32_t ConsoleSession() override { return kNoSession; }
  bool RunPrompt(Handle, std::uint32_t, const void*, std::size_t, void*, std::size_t*,
                 std::uint32_t) override {
    SetLastError(win_error::kNotSupported);
    return false;
  }
  void SendSessionMessage(std::uint32_t, const char16_t* text, const char16_t* caption,
                          bool) override {
    ShowMessage(text, caption, Owner::kNone);
  }
  void LogEvent(const char16_t*) override {}
  std::uint32_t SpoolFolder(char16_t* buffer, std::uint32_t capacity) override {
    return ReadEnvironment(kTempVariable, buffer, capacity);
  }
  bool ProtectSettings() override { return true; }
  bool CallerMayConfigure() override { return true; }
  // The hosts give the client their own current folder.
  bool LogInSpoolFolder() override { return false; }
  // The hosts run the monitor as the user who printed: nobody to act for.
  void BeginAsSpooler() override {}
  void EndAsSpooler() override {}

  // The ANSI code page here is UTF-8.
  bool ToAnsi(const char16_t* text, char* out, std::size_t capacity) override {
    const std::string narrow = telvor::ToUtf8(text);
    if (narrow.size() + 1 > capacity) {
      SetLastError(win_error::kInsufficientBuffer);
      return false;
    }
    std::memcpy(out, narrow.c_str(), narrow.size() + 1);
    return true;
  }

 private:
  Handle Fail(int error) {
    SetLastError(win_error::FromErrno(error));
    return nullptr;
  }
  bool Failed(int error) {
    SetLastError(win_error::FromErrno(error));
    return false;
  }
  bool Missing() {
    SetLastError(win_error::kProcNotFound);
    return false;
  }
  bool GetJob(Handle printer, std::uint32_t job_id, QUOR_JOB_INFO* job) {
    if (!g_host.pfnGetJob || !g_host.pfnGetJob(g_host.pContext, printer, job_id, job)) return false;
    job->UserName[QUOR_TEXT_UNITS - 1] = 0;
    return true;
  }
  DialogResult NoForm() {
    SetLastError(win_error::kNotSupported);
    return DialogResult::kFailed;
  }

  // The spooler drives one job at a time: no lock.
  std::uint32_t last_fresh_number_ = 0;

  bool Place(const telvor::Text& name, char16_t* path) {
    if (telvor::CopyText(path, kPathUnits, name)) return true;
    SetLastError(win_error::kFilenameExcedRange);
    return false;
  }
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

bool RegisterHost(const QUOR_HOST* host) {
  if (host && host->cbSize != sizeof(QUOR_HOST)) {
    SystemPlatform().SetLastError(win_error::kInvalidParameter);
    return false;
  }
  g_host = host ? *host : QUOR_HOST{};
  return true;
}

}  // namespace quor
