// The monitor's platform layer on POSIX systems, where a spooler host of our
// own loads the monitor: files locked against a second opener, TEMP from the
// environment, the client library by its file name, the terminal forms for
// the dialogs, messages on standard error, and the host's printer calls.
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
#include "quor/spooler.h"
#include "telvor_common/text.h"
#include "telvor_common/win_errors.h"
#include "temp_name.h"
#include "terminal_forms.h"

namespace quor {

namespace {

namespace win_error = telvor::win_error;

constexpr char kFaxLibraryFile[] = "libtelvor.so";
constexpr mode_t kFileMode = 0600;
// The temporary-name rule's numbers are 16 bits wide.
constexpr std::uint32_t kUniqueNumbers = 0x10000;

// File descriptors travel as handles offset by one, so that no open file is
// a null handle.
Handle ToHandle(int fd) { return reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd) + 1); }
int ToFd(Handle handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1); }

std::string Narrow(const char16_t* text) { return telvor::ToUtf8(text); }

// A call the spooler host exports, looked up in the process.
template <typename Function>
Function HostFunction(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

using SetLastErrorFunction = void (*)(DWORD);
using GetLastErrorFunction = DWORD (*)();
using OpenPrinterFunction = BOOL (*)(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW);
using SetJobFunction = BOOL (*)(HANDLE, DWORD, DWORD, LPBYTE, DWORD);
using ClosePrinterFunction = BOOL (*)(HANDLE);

// The last error when the host keeps none of its own.
thread_local std::uint32_t t_last_error = 0;

class PosixPlatform final : public Platform {
 public:
  std::uint32_t LastError() override {
    if (const auto get = HostFunction<GetLastErrorFunction>("GetLastError")) return get();
    return t_last_error;
  }

  void SetLastError(std::uint32_t code) override {
    t_last_error = code;
    if (const auto set = HostFunction<SetLastErrorFunction>("SetLastError")) set(code);
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
    const auto* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      const ssize_t n = write(ToFd(file), bytes + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        SetLastError(n < 0 ? win_error::FromErrno(errno) : win_error::kDiskFull);
        *written = done;
        return false;
      }
      done += static_cast<std::uint32_t>(n);
    }
    *written = done;
    return true;
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

  bool FreeFaxLibrary(Handle library) override {
    if (library && dlclose(library) == 0) return true;
    SetLastError(win_error::kInvalidHandle);
    return false;
  }

  DialogResult AskSettings(SetupFields& fields) override {
    int error = 0;
    const DialogResult result = RunSetupForm(fields, error);
    if (result == DialogResult::kFailed) SetLastError(win_error::FromErrno(error));
    return result;
  }

  DialogResult AskFaxNumber(FaxNumberFields& fields) override {
    int error = 0;
    const DialogResult result = RunFaxNumberForm(fields, error);
    if (result == DialogResult::kFailed) SetLastError(win_error::FromErrno(error));
    return result;
  }

  void ShowMessage(const char16_t* text, const char16_t* caption, Owner) override {
    std::string line = Narrow(caption) + ": " + Narrow(text);
    if (line.back() != '\n') line.push_back('\n');
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  }

  bool OpenJobPrinter(const char16_t* printer_name, Handle* printer) override {
    const auto open_printer = HostFunction<OpenPrinterFunction>("OpenPrinterW");
    if (!open_printer) return Missing();
    telvor::Text name(printer_name);
    return open_printer(name.data(), printer, nullptr) != FALSE;
  }

  bool MarkJobSent(Handle printer, std::uint32_t job_id) override {
    const auto set_job = HostFunction<SetJobFunction>("SetJobW");
    if (!set_job) return Missing();
    return set_job(printer, job_id, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER) != FALSE;
  }

  bool CloseJobPrinter(Handle printer) override {
    const auto close_printer = HostFunction<ClosePrinterFunction>("ClosePrinter");
    if (!close_printer) return Missing();
    return close_printer(printer) != FALSE;
  }

  // The host runs the job in the terminal of the person who printed: the
  // forms and messages are shown there, and there is no other session to
  // reach nor a system log of the monitor's own.
  bool OnVisibleDesktop() override { return true; }
  Handle TakeCallerToken(std::uint32_t* session) override {
    *session = kNoSession;
    return nullptr;
  }
  void ReleaseToken(Handle) override {}
  bool JobUserName(Handle, std::uint32_t, char16_t*, std::size_t) override { return false; }
  std::uint32_t UserSession(const char16_t*) override { return kNoSession; }
  std::uint32_t ConsoleSession() override { return kNoSession; }
  bool RunPrompt(Handle, std::uint32_t, const void*, std::size_t, void*, std::size_t*,
                 std::uint32_t) override {
    SetLastError(win_error::kNotSupported);
    return false;
  }
  void SendSessionMessage(std::uint32_t, const char16_t* text, const char16_t* caption,
                          std::uint32_t) override {
    ShowMessage(text, caption, Owner::kNone);
  }
  void LogEvent(const char16_t*) override {}

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

}  // namespace quor
