#include "terminal_forms.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "forms.h"
#include "telvor_common/posix_io.h"
#include "telvor_common/text.h"

namespace telvor::spoolhost {

namespace {

constexpr char kTerminal[] = "/dev/tty";
constexpr char kEscape = '\x1b';
// How long the rest of a key's escape sequence may take to arrive; an Escape
// with nothing behind it is the Escape key.
constexpr int kSequenceWaitMs = 100;
// The signals that end the process while a form runs; the terminal is put
// back before they take effect.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// The terminal as it was before the form, for the signal handler.
int g_raw_terminal = -1;
termios g_saved_terminal;
struct sigaction g_saved_actions[std::size(kEndingSignals)];

extern "C" void RestoreTerminalAndResignal(int signal) {
  const int saved_errno = errno;
  tcsetattr(g_raw_terminal, TCSANOW, &g_saved_terminal);
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    if (kEndingSignals[i] == signal) sigaction(signal, &g_saved_actions[i], nullptr);
  }
  // Delivered once this handler returns, as the process would have had it.
  raise(signal);
  errno = saved_errno;
}

// Keys arrive one by one and the form draws the line itself: no line
// discipline, no echo, no suspend key. Everything is put back when the form
// ends, and by any signal that ends the process meanwhile.
class RawTerminal {
 public:
  explicit RawTerminal(int fd) : active_(tcgetattr(fd, &g_saved_terminal) == 0) {
    if (!active_) return;
    g_raw_terminal = fd;
    struct sigaction restore {};
    restore.sa_handler = RestoreTerminalAndResignal;
    sigemptyset(&restore.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], &restore, &g_saved_actions[i]);
    }
    termios raw = g_saved_terminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw.c_cc[VSUSP] = _POSIX_VDISABLE;
    tcsetattr(fd, TCSANOW, &raw);
  }
  ~RawTerminal() {
    if (!active_) return;
    tcsetattr(g_raw_terminal, TCSANOW, &g_saved_terminal);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], &g_saved_actions[i], nullptr);
    }
    g_raw_terminal = -1;
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

 private:
  bool active_;
};

void Draw(int fd, const std::string& text) { WriteAll(fd, text.data(), text.size()); }

constexpr int kNoMoreInput = -1;
constexpr int kNothing = -2;

// The next byte typed; kNothing when none comes within `wait_ms` (-1: no
// limit); kNoMoreInput when the terminal is gone.
int ReadByte(int fd, int wait_ms = -1) {
  for (;;) {
    if (wait_ms >= 0) {
      pollfd ready{fd, POLLIN, 0};
      const int n = poll(&ready, 1, wait_ms);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) return kNothing;
    }
    unsigned char byte = 0;
    const ssize_t n = read(fd, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kNoMoreInput;
    return byte;
  }
}

enum class Key {
  kText,
  kEnter,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kBackspace,
  kDelete,
  kClear,
  kNone,
  kCancel,
  kEndOfInput
};

// The key behind an Escape: the arrows, Home, End and Delete in the forms
// terminals send them (ESC [ ... and ESC O ...); other sequences are no key.
// An Escape that starts no sequence is the Escape key.
Key ReadEscapeSequence(int fd) {
  const int introducer = ReadByte(fd, kSequenceWaitMs);
  if (introducer == kNoMoreInput) return Key::kEndOfInput;
  if (introducer != '[' && introducer != 'O') return Key::kCancel;
  std::string parameters;
  int final_byte = 0;
  for (;;) {
    final_byte = ReadByte(fd, kSequenceWaitMs);
    if (final_byte == kNoMoreInput) return Key::kEndOfInput;
    if (final_byte == kNothing) return Key::kNone;
    if (introducer == 'O' || (final_byte >= 0x40 && final_byte <= 0x7E)) break;
    parameters.push_back(static_cast<char>(final_byte));
  }
  switch (final_byte) {
    case 'D':
      return Key::kLeft;
    case 'C':
      return Key::kRight;
    case 'H':
      return Key::kHome;
    case 'F':
      return Key::kEnd;
    case '~':
      if (parameters == "1" || parameters == "7") return Key::kHome;
      if (parameters == "4" || parameters == "8") return Key::kEnd;
      if (parameters == "3") return Key::kDelete;
      return Key::kNone;
    default:
      return Key::kNone;
  }
}

// One key; for kText, `text` gets the character (UTF-8 in, UTF-16 out).
Key ReadKey(int fd, Text& text) {
  const int byte = ReadByte(fd);
  switch (byte) {
    case kNoMoreInput:
      return Key::kEndOfInput;
    case kEscape:
      return ReadEscapeSequence(fd);
    case '\r':
    case '\n':
      return Key::kEnter;
    case 0x7F:
    case '\b':
      return Key::kBackspace;
    case 0x01:  // Ctrl-A
      return Key::kHome;
    case 0x05:  // Ctrl-E
      return Key::kEnd;
    case 0x15:  // Ctrl-U
      return Key::kClear;
    default:
      break;
  }
  if (byte < 0x20) return Key::kNone;
  std::string utf8(1, static_cast<char>(byte));
  const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
  while (utf8.size() < length) {
    const int next = ReadByte(fd);
    if (next == kNoMoreInput) return Key::kEndOfInput;
    utf8.push_back(static_cast<char>(next));
  }
  text = FromUtf8(utf8);
  return Key::kText;
}

bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Screen columns of a stretch of text: one per character.
std::size_t Columns(TextView text) {
  std::size_t columns = 0;
  for (char16_t unit : text) columns += IsLowSurrogate(unit) ? 0 : 1;
  return columns;
}

std::string Left(std::size_t columns) {
  return columns == 0 ? std::string() : "\x1b[" + std::to_string(columns) + "D";
}

// One field's line: the text typed so far and the cursor in it. Characters
// the control would refuse are refused as they are typed.
class LineEditor {
 public:
  LineEditor(int tty, const FormField& field) : tty_(tty), field_(field) {}

  // Edits until Enter (the line, possibly empty) or until the form is
  // cancelled or the terminal gone (nothing).
  std::optional<Text> Edit() {
    for (;;) {
      Text typed;
      switch (ReadKey(tty_, typed)) {
        case Key::kText:
          Insert(typed);
          break;
        case Key::kEnter:
          Draw(tty_, "\n");
          return text_;
        case Key::kLeft:
          MoveTo(Previous());
          break;
        case Key::kRight:
          MoveTo(Next());
          break;
        case Key::kHome:
          MoveTo(0);
          break;
        case Key::kEnd:
          MoveTo(text_.size());
          break;
        case Key::kBackspace:
          if (cursor_ > 0) Erase(Previous(), cursor_);
          break;
        case Key::kDelete:
          Erase(cursor_, Next());
          break;
        case Key::kClear:
          MoveTo(0);
          Erase(0, text_.size());
          break;
        case Key::kNone:
          break;
        case Key::kCancel:
        case Key::kEndOfInput:
          Draw(tty_, "\n");
          return std::nullopt;
      }
    }
  }

 private:
  std::size_t Previous() const {
    std::size_t at = cursor_;
    if (at > 0) --at;
    if (at > 0 && IsLowSurrogate(text_[at])) --at;
    return at;
  }
  std::size_t Next() const {
    std::size_t at = cursor_;
    if (at < text_.size()) ++at;
    if (at < text_.size() && IsLowSurrogate(text_[at])) ++at;
    return at;
  }

  // The text from `from` on as the screen shows it.
  std::string Shown(std::size_t from) const {
    const TextView rest = TextView(text_).substr(from);
    return field_.hidden ? std::string(Columns(rest), '*') : ToUtf8(rest);
  }

  // Redraws from the cursor's old place on, clearing what was behind, and
  // puts the cursor at `cursor`.
  void Redraw(std::size_t from, std::size_t cursor) {
    cursor_ = cursor;
    Draw(tty_, Shown(from) + "\x1b[K" + Left(Columns(TextView(text_).substr(cursor_))));
  }

  void Insert(const Text& typed) {
    Text longer = text_;
    longer.insert(cursor_, typed);
    if (FilterInput(field_, longer) != longer) return;
    text_ = std::move(longer);
    Redraw(cursor_, cursor_ + typed.size());
  }

  void Erase(std::size_t from, std::size_t to) {
    if (from >= to) return;
    Draw(tty_, Left(Columns(TextView(text_).substr(from, cursor_ - from))));
    text_.erase(from, to - from);
    Redraw(from, from);
  }

  void MoveTo(std::size_t at) {
    if (at < cursor_) {
      Draw(tty_, Left(Columns(TextView(text_).substr(at, cursor_ - at))));
    } else if (at > cursor_) {
      Draw(tty_,
           "\x1b[" + std::to_string(Columns(TextView(text_).substr(cursor_, at - cursor_))) + "C");
    }
    cursor_ = at;
  }

  int tty_;
  const FormField& field_;
  Text text_;
  std::size_t cursor_ = 0;
};

}  // namespace

FormAnswer AskOnTerminal(int tty, const Form& form, FormTexts& texts,
                         const std::vector<bool>& ask) {
  FormAnswer result = FormAnswer::kOk;
  FormTexts typed = texts;  // the form's texts change only when it is confirmed
  RawTerminal raw(tty);
  Draw(tty, ToUtf8(form.caption) + " (Enter keeps [text], Escape cancels)\n");
  for (std::size_t i = 0; i < form.field_count && result == FormAnswer::kOk; ++i) {
    if (!ask.empty() && !ask[i]) continue;
    const FormField& field = form.fields[i];
    // A field the rule refuses says why and is asked again.
    for (;;) {
      const std::string shown =
          field.hidden ? std::string(Columns(typed[i]), '*') : ToUtf8(typed[i]);
      Draw(tty, "  " + ToUtf8(field.label) + " [" + shown + "]: ");
      const std::optional<Text> line = LineEditor(tty, field).Edit();
      if (!line) {
        result = FormAnswer::kCancel;
        break;
      }
      const Text text = line->empty() ? typed[i] : FilterInput(field, *line);
      const Text fault = FieldFault(field, text);
      if (fault.empty()) {
        typed[i] = text;
        break;
      }
      Draw(tty, "  " + ToUtf8(fault) + "\n");
    }
  }
  if (result == FormAnswer::kOk) texts = std::move(typed);
  Draw(tty, result == FormAnswer::kOk ? "  [" + ToUtf8(form.confirm) + "]\n"
                                      : std::string("  [cancel]\n"));
  return result;
}

FormAnswer AskOnTerminal(const Form& form, FormTexts& texts, const std::vector<bool>& ask,
                         int* error) {
  const int tty = open(kTerminal, O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) {
    *error = errno;
    return FormAnswer::kFailed;
  }
  const FormAnswer result = AskOnTerminal(tty, form, texts, ask);
  close(tty);
  return result;
}

}  // namespace telvor::spoolhost
