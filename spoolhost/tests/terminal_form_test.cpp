// The terminal forms as a person uses them: run in a child process whose
// controlling terminal is a pseudo-terminal that the test types into.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "quor/forms.h"
#include "telvor_common/text.h"
#include "terminal_forms.h"

namespace telvor::spoolhost {
namespace {

struct Outcome {
  std::string result;  // what the child reported: "ok <fields...>" or "cancel"
  std::string screen;  // everything the form wrote to the terminal
  int status = 0;      // the child's, as waitpid gives it
  termios after{};     // the terminal's settings once the child has ended
};

std::string Describe(FormAnswer result) {
  switch (result) {
    case FormAnswer::kOk:
      return "ok";
    case FormAnswer::kCancel:
      return "cancel";
    case FormAnswer::kFailed:
      return "failed";
  }
  return "?";
}

std::size_t Prompts(const std::string& screen) {
  std::size_t count = 0;
  for (std::size_t at = screen.find("]: "); at != std::string::npos;
       at = screen.find("]: ", at + 1)) {
    ++count;
  }
  return count;
}

// Reads what the terminal shows until `prompts` prompts are on the screen
// (or the form has ended, or nothing comes for a while).
void ReadUntilPrompt(int terminal, std::size_t prompts, std::string& screen) {
  char buffer[512];
  while (Prompts(screen) < prompts) {
    pollfd ready{terminal, POLLIN, 0};
    if (poll(&ready, 1, 5000) <= 0) return;
    const ssize_t n = read(terminal, buffer, sizeof(buffer));
    if (n <= 0) return;
    screen.append(buffer, static_cast<std::size_t>(n));
  }
}

// Runs `form` ("setup" or "fax") in a child on a new terminal and types each
// of `lines` at its prompt, as a person would.
Outcome RunOnTerminal(const std::string& form, const std::vector<std::string>& lines) {
  int report[2];
  if (pipe(report) != 0) return {};
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    close(report[0]);
    const bool setup = form == "setup";
    const Form& shown = setup ? kSetupForm : kFaxNumberForm;
    FormTexts texts(shown.field_count);
    texts[FieldIndex(shown, setup ? QUOR_ID_DEFAULT_ATTEMPTS : QUOR_ID_ATTEMPTS)] =
        setup ? u"1" : u"3";
    int error = 0;
    std::string line = Describe(AskOnTerminal(shown, texts, {}, &error));
    for (const Text& text : texts) line += "|" + ToUtf8(text);
    if (write(report[1], line.data(), line.size()) < 0) _exit(2);
    _exit(0);
  }
  close(report[1]);
  Outcome outcome;
  if (child < 0) return outcome;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ReadUntilPrompt(terminal, i + 1, outcome.screen);
    if (write(terminal, lines[i].data(), lines[i].size()) < 0) return outcome;
  }
  char buffer[512];
  for (ssize_t n; (n = read(terminal, buffer, sizeof(buffer))) > 0;) {
    outcome.screen.append(buffer, static_cast<std::size_t>(n));
  }
  for (ssize_t n; (n = read(report[0], buffer, sizeof(buffer))) > 0;) {
    outcome.result.append(buffer, static_cast<std::size_t>(n));
  }
  close(report[0]);
  waitpid(child, &outcome.status, 0);
  // Through the controlling side: the settings of the child's side.
  tcgetattr(terminal, &outcome.after);
  close(terminal);
  return outcome;
}

// Letters are refused as typed; a number the rule refuses is said and asked
// again; Enter keeps the shown text.
TEST(TerminalFormTest, TypedTextsAreFilteredCheckedAndEnterKeepsTheShownText) {
  const Outcome outcome =
      RunOnTerminal("fax", {"49+30\n", "+49 555-12ab34 999999999999\n", "\n", "hello\n"});
  EXPECT_EQ(outcome.result, "ok|+49 555-1234 999999999999|3|hello");
  EXPECT_NE(outcome.screen.find("has a \"+\" that does not lead it"), std::string::npos)
      << outcome.screen;
  EXPECT_NE(outcome.screen.find("Attempts(1-9) [3]: "), std::string::npos) << outcome.screen;
  EXPECT_NE(outcome.screen.find("[Send Fax]"), std::string::npos) << outcome.screen;
}

TEST(TerminalFormTest, ArrowsHomeEndAndDeleteEditTheLine) {
  // Number: "234", Home, "1", End, "5", Left, Backspace. Note: "ab", Left,
  // "c", Up (no edit), Home, Delete.
  const Outcome outcome = RunOnTerminal(
      "fax", {"234\x1b[H1\x1bOF5\x1b[D\x7f\n", "\n", "ab\x1b[Dc\x1b[A\x1b[1~\x1b[3~\n"});
  EXPECT_EQ(outcome.result, "ok|1235|3|cb");
}

TEST(TerminalFormTest, ALoneEscapeCancelsAtOnce) {
  const Outcome outcome = RunOnTerminal("fax", {"555\n", "\x1b"});
  EXPECT_EQ(outcome.result, "cancel||3|");
  EXPECT_NE(outcome.screen.find("[cancel]"), std::string::npos) << outcome.screen;
}

TEST(TerminalFormTest, AnInterruptAtThePasswordLeavesTheTerminalAsItWas) {
  const Outcome outcome = RunOnTerminal("setup", {"10.0.0.1\n", "fax\n", "\x03"});
  EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == SIGINT) << outcome.status;
  EXPECT_TRUE(outcome.after.c_lflag & ECHO);
  EXPECT_TRUE(outcome.after.c_lflag & ICANON);
}

TEST(TerminalFormTest, ThePasswordIsNotShown) {
  const Outcome outcome =
      RunOnTerminal("setup", {"10.0.0.1\n", "fax\n", "secret\n", "m@x\n", "7\n", "ttyACM0\n"});
  EXPECT_EQ(outcome.result, "ok|10.0.0.1|fax|secret|m@x|7|ttyACM0");
  EXPECT_EQ(outcome.screen.find("secret"), std::string::npos) << outcome.screen;
}

TEST(FormFilterTest, KeepsWhatTheControlWouldTake) {
  const FormField& note = kFaxNumberForm.fields[FieldIndex(kFaxNumberForm, QUOR_ID_INFO)];
  EXPECT_EQ(FilterInput(note, u"a\tb c"), u"ab c");
  // A character outside the 16-bit range is not split at the limit.
  const std::u16string text = std::u16string(126, u'a') + u"\U0001F600";
  EXPECT_EQ(FilterInput(note, text), std::u16string(126, u'a'));
}

}  // namespace
}  // namespace telvor::spoolhost
