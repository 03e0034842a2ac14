// Questions telvor-spool asks on the terminal itself (the settings to
// change with --setup): one line each, the current text kept by Enter,
// hidden input for the password, and the terminal as it was on every way
// out, signals included.
#pragma once

#include <optional>
#include <string>

namespace telvor::spoolhost {

class Terminal {
 public:
  Terminal();  // opens /dev/tty
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool available() const { return fd_ >= 0; }

  // "  LABEL [current]: "; Enter keeps `current`. A hidden answer is not
  // echoed and its current text is shown as stars. Nothing at the end of
  // input or for a lone Escape (cancel).
  std::optional<std::string> Ask(const std::string& label, const std::string& current, bool hidden);
  void Say(const std::string& text);

 private:
  int fd_;
};

// A typed line without the escape sequences that arrow and editing keys put
// into it; nothing when the line is a lone Escape.
std::optional<std::string> CleanTypedLine(const std::string& line);

}  // namespace telvor::spoolhost
