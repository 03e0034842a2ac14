#include "terminal_forms.h"

#include <errno.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "forms.h"
#include "resource.h"
#include "telvor_common/text.h"

namespace quor {

namespace {

constexpr char kTerminal[] = "/dev/tty";
constexpr char kEscape = '\x1b';

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
DialogResult AskOnTerminal(const Form& form, std::vector<telvor::Text>& texts, int& error) {
  const int tty = open(kTerminal, O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    error = errno;
    std::fprintf(stderr, "%s: no terminal to ask on and no prepared answer (%s): %s\n",
                 telvor::ToUtf8(form.caption).c_str(), form.answer_variable, std::strerror(error));
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

DialogResult RunForm(const Form& form, std::vector<telvor::Text>& texts, int& error) {
  if (const char* answer = std::getenv(form.answer_variable)) {
    const bool confirmed = ApplyAnswer(form, answer, texts);
    std::fputs((confirmed ? DescribeForm(form, texts) : DescribeCancel(form)).c_str(), stderr);
    std::fflush(stderr);
    return confirmed ? DialogResult::kOk : DialogResult::kCancel;
  }
  return AskOnTerminal(form, texts, error);
}

template <std::size_t N>
void Store(char16_t (&field)[N], const telvor::Text& text) {
  telvor::CopyText(field, N, telvor::TextView(text).substr(0, N - 1));
}

}  // namespace

DialogResult RunSetupForm(SetupFields& fields, int& error) {
  const Form& form = kSetupForm;
  std::vector<telvor::Text> texts(form.field_count);
  texts[FieldIndex(form, QUOR_ID_DEFAULT_ATTEMPTS)] = fields.attempts;
  const DialogResult result = RunForm(form, texts, error);
  if (result == DialogResult::kOk) {
    Store(fields.server_ip, texts[FieldIndex(form, QUOR_ID_SERVER_IP)]);
    Store(fields.user, texts[FieldIndex(form, QUOR_ID_USER)]);
    Store(fields.password, texts[FieldIndex(form, QUOR_ID_PASSWORD)]);
    Store(fields.mail, texts[FieldIndex(form, QUOR_ID_MAIL)]);
    Store(fields.attempts, texts[FieldIndex(form, QUOR_ID_DEFAULT_ATTEMPTS)]);
  }
  return result;
}

DialogResult RunFaxNumberForm(FaxNumberFields& fields, int& error) {
  const Form& form = kFaxNumberForm;
  std::vector<telvor::Text> texts(form.field_count);
  texts[FieldIndex(form, QUOR_ID_ATTEMPTS)] = fields.attempts;
  const DialogResult result = RunForm(form, texts, error);
  if (result == DialogResult::kOk) {
    Store(fields.fax_number, texts[FieldIndex(form, QUOR_ID_FAX_NUMBER)]);
    Store(fields.attempts, texts[FieldIndex(form, QUOR_ID_ATTEMPTS)]);
    Store(fields.info, texts[FieldIndex(form, QUOR_ID_INFO)]);
  }
  return result;
}

}  // namespace quor
