#include "terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace telvor::spoolhost {
namespace {

constexpr char kTerminalDevice[] = "/dev/tty";
constexpr char kEscape = '\x1b';
constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The settings to put back when a signal ends the program mid-question.
int quiet_fd = -1;
termios saved_settings;
volatile sig_atomic_t echo_off = 0;

void Restore(int signal_number) {
  if (echo_off) ::tcsetattr(quiet_fd, TCSANOW, &saved_settings);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Echo off for as long as it lives; back on also when a signal ends the
// program meanwhile.
class EchoOff {
 public:
  explicit EchoOff(int fd) {
    if (::tcgetattr(fd, &saved_settings) != 0) return;
    quiet_fd = fd;
    struct sigaction action {};
    action.sa_handler = Restore;
    for (const int number : kRestoredSignals)
      ::sigaction(number, &action, &previous_[Index(number)]);
    termios quiet = saved_settings;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    echo_off = 1;
    ::tcsetattr(fd, TCSANOW, &quiet);
  }
  ~EchoOff() {
    if (!echo_off) return;
    ::tcsetattr(quiet_fd, TCSANOW, &saved_settings);
    echo_off = 0;
    for (const int number : kRestoredSignals)
      ::sigaction(number, &previous_[Index(number)], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  static std::size_t Index(int number) {
    std::size_t i = 0;
    while (kRestoredSignals[i] != number) ++i;
    return i;
  }
  struct sigaction previous_[sizeof kRestoredSignals / sizeof kRestoredSignals[0]]{};
};

bool ReadLine(int fd, std::string* line) {
  line->clear();
  for (;;) {
    char c = 0;
    const ssize_t count = ::read(fd, &c, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    if (c == '\n') return true;
    *line += c;
  }
}

}  // namespace

std::optional<std::string> CleanTypedLine(const std::string& line) {
  if (line == std::string(1, kEscape)) return std::nullopt;
  std::string clean;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != kEscape) {
      clean += line[i];
      continue;
    }
    // ESC [ parameters final, or ESC O final (keypad), or ESC and one key.
    std::size_t end = i + 1;
    if (end < line.size() && (line[end] == '[' || line[end] == 'O')) {
      ++end;
      while (end < line.size() && !(line[end] >= '@' && line[end] <= '~')) ++end;
    }
    i = end < line.size() ? end : line.size();
  }
  return clean;
}

Terminal::Terminal() : fd_(::open(kTerminalDevice, O_RDWR | O_CLOEXEC | O_NOCTTY)) {}

Terminal::~Terminal() {
  if (fd_ >= 0) ::close(fd_);
}

void Terminal::Say(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = ::write(fd_, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

std::optional<std::string> Terminal::Ask(const std::string& label, const std::string& current,
                                         bool hidden) {
  const std::string shown = hidden ? std::string(current.size(), '*') : current;
  std::string line;
  bool got;
  if (hidden) {
    EchoOff quiet(fd_);  // before the question, so nothing typed at it shows
    Say("  " + label + " [" + shown + "]: ");
    got = ReadLine(fd_, &line);
    Say("\n");
  } else {
    Say("  " + label + " [" + shown + "]: ");
    got = ReadLine(fd_, &line);
  }
  if (!got) return std::nullopt;
  const std::optional<std::string> clean = CleanTypedLine(line);
  if (!clean) return std::nullopt;
  return clean->empty() ? current : *clean;
}

}  // namespace telvor::spoolhost
