// The monitor's platform layer on POSIX systems, where a spooler host of our
// own loads the monitor: files locked against a second opener, TEMP from the
// environment, the client library by its file name, terminal forms for the
// dialogs, messages on standard error, and the host's printer calls.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "forms.h"
#include "platform.h"
#include "quor/resource.h"
#include "quor/spooler.h"
#include "telvor_common/text.h"
#include "temp_name.h"

namespace quor {

namespace {

constexpr char kFaxLibraryFile[] = "libtelvor.so";
constexpr char kTerminal[] = "/dev/tty";
constexpr mode_t kFileMode = 0600;
constexpr char kEscape = '\x1b';
// The temporary-name rule's numbers are 16 bits wide.
constexpr std::uint32_t kUniqueNumbers = 0x10000;

// The platform's error codes for the failures the monitor reports, so that
// its messages read alike on every system; other failures keep errno.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kNotEnoughMemory = 8;
constexpr std::uint32_t kFileExists = 80;
constexpr std::uint32_t kDiskFull = 112;
constexpr std::uint32_t kModuleNotFound = 126;
constexpr std::uint32_t kProcedureNotFound = 127;
constexpr std::uint32_t kEnvironmentNotFound = 203;
constexpr std::uint32_t kFileNameTooLong = 206;

std::uint32_t ErrorCode(int error) {
  switch (error) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case EACCES:
    case EPERM:
      return kAccessDenied;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return kNotEnoughMemory;
    case EEXIST:
      return kFileExists;
    case ENOSPC:
      return kDiskFull;
    case ENAMETOOLONG:
      return kFileNameTooLong;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    default:
      return static_cast<std::uint32_t>(error);
  }
}

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

// Text the caller cannot see: the password field.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd), saved_(), active_(tcgetattr(fd, &saved_) == 0) {
    if (!active_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd_, TCSANOW, &quiet);
  }
  ~EchoOff() {
    if (active_) tcsetattr(fd_, TCSANOW, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_;
  bool active_;
};

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// One line from the terminal; false at end of input.
bool ReadLine(int fd, std::string& line) {
  line.clear();
  for (;;) {
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line.push_back(c);
  }
}

// Asks each field in turn on the terminal. Enter keeps the text shown in
// brackets; Escape or the end of input cancels.
DialogResult AskOnTerminal(const Form& form, std::vector<telvor::Text>& texts,
                           std::uint32_t& error) {
  const int tty = open(kTerminal, O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    const int reason = errno;
    std::fprintf(stderr, "%s: no terminal to ask on and no prepared answer (%s): %s\n",
                 telvor::ToUtf8(form.caption).c_str(), form.answer_variable, std::strerror(reason));
    error = ErrorCode(reason);
    return DialogResult::kFailed;
  }
  WriteAll(tty, telvor::ToUtf8(form.caption) + " (Enter keeps [text], Escape cancels)\n");
  DialogResult result = DialogResult::kOk;
  std::string line;
  for (std::size_t i = 0; i < form.field_count && result == DialogResult::kOk; ++i) {
    const FormField& field = form.fields[i];
    const std::string shown =
        field.hidden ? std::string(texts[i].size(), '*') : telvor::ToUtf8(texts[i]);
    const std::string prompt = "  " + telvor::ToUtf8(field.label) + " [" + shown + "]: ";
    bool got = false;
    if (field.hidden) {
      EchoOff quiet(tty);  // before the prompt, so nothing typed at it shows
      WriteAll(tty, prompt);
      got = ReadLine(tty, line);
      WriteAll(tty, "\n");
    } else {
      WriteAll(tty, prompt);
      got = ReadLine(tty, line);
    }
    if (!got || line.find(kEscape) != std::string::npos) {
      result = DialogResult::kCancel;
    } else if (!line.empty()) {
      texts[i] = FilterInput(field, telvor::FromUtf8(line));
    }
  }
  WriteAll(tty, result == DialogResult::kOk ? "  [" + telvor::ToUtf8(form.confirm) + "]\n"
                                            : std::string("  [cancel]\n"));
  close(tty);
  return result;
}

class PosixPlatform final : public MonitorPlatform {
 public:
  std::uint32_t LastError() override {
    if (const auto get = HostFunction<GetLastErrorFunction>("GetLastError")) return get();
    return t_last_error;
  }

  void SetLastError(std::uint32_t code) override {
    t_last_error = code;
    if (const auto set = HostFunction<SetLastErrorFunction>("SetLastError")) set(code);
  }

  void* AllocateZeroed(std::size_t size) override {
    void* memory = std::calloc(1, size);
    if (!memory) SetLastError(kNotEnoughMemory);
    return memory;
  }

  Handle CreateUnsharedFile(const char16_t* path) override {
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

  bool WriteFile(Handle file, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    const auto* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      const ssize_t n = write(ToFd(file), bytes + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        SetLastError(n < 0 ? ErrorCode(errno) : kDiskFull);
        *written = done;
        return false;
      }
      done += static_cast<std::uint32_t>(n);
    }
    *written = done;
    return true;
  }

  bool SetEndOfFile(Handle file) override {
    const off_t position = lseek(ToFd(file), 0, SEEK_CUR);
    if (position < 0 || ftruncate(ToFd(file), position) != 0) return Failed(errno);
    return true;
  }

  bool CloseHandle(Handle file) override { return close(ToFd(file)) == 0 || Failed(errno); }

  bool DeleteNamedFile(const char16_t* path) override {
    return unlink(Narrow(path).c_str()) == 0 || Failed(errno);
  }

  std::uint32_t ReadEnvironment(const char16_t* name, char16_t* buffer,
                                std::uint32_t capacity) override {
    const char* value = std::getenv(Narrow(name).c_str());
    if (!value || !*value) {
      SetLastError(kEnvironmentNotFound);
      return 0;
    }
    const telvor::Text text = telvor::FromUtf8(value);
    if (!telvor::CopyText(buffer, capacity, text))
      return static_cast<std::uint32_t>(text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
  }

  std::uint32_t TempFileName(const char16_t* directory, const char16_t* prefix,
                             std::uint32_t unique, char16_t* path) override {
    if (unique != 0) return Place(TempName(directory, prefix, unique), path) ? unique : 0;
    // A fresh number: start from the clock and step past names in use.
    const auto start =
        static_cast<std::uint32_t>(std::time(nullptr)) ^ static_cast<std::uint32_t>(getpid());
    for (std::uint32_t step = 0; step < kUniqueNumbers; ++step) {
      const std::uint32_t number = (start + step) % kUniqueNumbers;
      if (number == 0) continue;
      // Checked before the file exists: a name that does not fit the path
      // buffer must not leave a file nobody knows of.
      const telvor::Text name = TempName(directory, prefix, number);
      if (name.size() >= kPathUnits) {
        SetLastError(kFileNameTooLong);
        return 0;
      }
      const int fd =
          open(telvor::ToUtf8(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
      if (fd >= 0) {
        close(fd);
        return Place(name, path) ? number : 0;
      }
      if (errno != EEXIST) {
        SetLastError(ErrorCode(errno));
        return 0;
      }
    }
    SetLastError(kFileExists);
    return 0;
  }

  Handle LoadFaxLibrary() override {
    void* library = dlopen(kFaxLibraryFile, RTLD_NOW | RTLD_LOCAL);
    if (!library) SetLastError(kModuleNotFound);
    return library;
  }

  SendFaxFunction ResolveSendFax(Handle library, const char* name) override {
    const auto entry = reinterpret_cast<SendFaxFunction>(dlsym(library, name));
    if (!entry) SetLastError(kProcedureNotFound);
    return entry;
  }

  bool FreeFaxLibrary(Handle library) override {
    if (library && dlclose(library) == 0) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }

  DialogResult SetupDialog(SetupFields& fields) override {
    const Form& form = kSetupForm;
    std::vector<telvor::Text> texts(form.field_count);
    texts[FieldIndex(form, QUOR_ID_DEFAULT_ATTEMPTS)] = fields.attempts;
    const DialogResult result = RunForm(form, texts);
    if (result == DialogResult::kOk) {
      Store(fields.server_ip, texts[FieldIndex(form, QUOR_ID_SERVER_IP)]);
      Store(fields.user, texts[FieldIndex(form, QUOR_ID_USER)]);
      Store(fields.password, texts[FieldIndex(form, QUOR_ID_PASSWORD)]);
      Store(fields.mail, texts[FieldIndex(form, QUOR_ID_MAIL)]);
      Store(fields.attempts, texts[FieldIndex(form, QUOR_ID_DEFAULT_ATTEMPTS)]);
    }
    return result;
  }

  DialogResult FaxNumberDialog(FaxNumberFields& fields) override {
    const Form& form = kFaxNumberForm;
    std::vector<telvor::Text> texts(form.field_count);
    texts[FieldIndex(form, QUOR_ID_ATTEMPTS)] = fields.attempts;
    const DialogResult result = RunForm(form, texts);
    if (result == DialogResult::kOk) {
      Store(fields.fax_number, texts[FieldIndex(form, QUOR_ID_FAX_NUMBER)]);
      Store(fields.attempts, texts[FieldIndex(form, QUOR_ID_ATTEMPTS)]);
      Store(fields.info, texts[FieldIndex(form, QUOR_ID_INFO)]);
    }
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

  bool SetJobCommand(Handle printer, std::uint32_t job_id, std::uint32_t command) override {
    const auto set_job = HostFunction<SetJobFunction>("SetJobW");
    if (!set_job) return Missing();
    return set_job(printer, job_id, 0, nullptr, command) != FALSE;
  }

  bool CloseJobPrinter(Handle printer) override {
    const auto close_printer = HostFunction<ClosePrinterFunction>("ClosePrinter");
    if (!close_printer) return Missing();
    return close_printer(printer) != FALSE;
  }

  // The ANSI code page here is UTF-8.
  bool ToAnsi(const char16_t* text, char* out, std::size_t capacity) override {
    const std::string narrow = telvor::ToUtf8(text);
    if (narrow.size() + 1 > capacity) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    std::memcpy(out, narrow.c_str(), narrow.size() + 1);
    return true;
  }

 private:
  Handle Fail(int error) {
    SetLastError(ErrorCode(error));
    return nullptr;
  }
  bool Failed(int error) {
    SetLastError(ErrorCode(error));
    return false;
  }
  bool Missing() {
    SetLastError(kProcedureNotFound);
    return false;
  }

  bool Place(const telvor::Text& name, char16_t* path) {
    if (telvor::CopyText(path, kPathUnits, name)) return true;
    SetLastError(kFileNameTooLong);
    return false;
  }

  template <std::size_t N>
  static void Store(char16_t (&field)[N], const telvor::Text& text) {
    telvor::CopyText(field, N, telvor::TextView(text).substr(0, N - 1));
  }

  DialogResult RunForm(const Form& form, std::vector<telvor::Text>& texts) {
    if (const char* answer = std::getenv(form.answer_variable)) {
      const bool confirmed = ApplyAnswer(form, answer, texts);
      std::fputs((confirmed ? DescribeForm(form, texts) : DescribeCancel(form)).c_str(), stderr);
      std::fflush(stderr);
      return confirmed ? DialogResult::kOk : DialogResult::kCancel;
    }
    std::uint32_t error = 0;
    const DialogResult result = AskOnTerminal(form, texts, error);
    if (result == DialogResult::kFailed) SetLastError(error);
    return result;
  }
};

}  // namespace

MonitorPlatform* SystemPlatform() {
  static PosixPlatform platform;
  return &platform;
}

}  // namespace quor
