// install.exe's command line: what to do and the settings to store.
#pragma once

#include <cstdint>
#include <vector>

#include "telvor_common/text.h"

namespace telvor::installer {

// The exit status of a command line that cannot be followed; nothing has
// changed then.
constexpr std::uint32_t kUsageErrorStatus = 87;

struct Options {
  bool quiet = false;      // no window, no box: the log and the exit status
  bool uninstall = false;  // remove instead of install
  bool usage = false;      // show the usage only
  // No Apps entry and no copy in the system directory: an MSI that runs
  // install.exe keeps its own entry and the program.
  bool no_apps_entry = false;
  // The settings given, by their value names (names.h); others stay as they
  // are stored.
  std::vector<std::pair<Text, Text>> settings;
  Text password_file;  // empty when not given
};

// The usage text.
extern const char16_t kUsageText[];

// Whether `argument` is a switch followed by its value (/server, ...).
bool TakesValue(const Text& argument);

// The arguments after the program's name. False with `error` telling why
// (a line of its own, the usage follows it); `options.quiet` is still set
// when /quiet was among them.
bool ParseCommandLine(const std::vector<Text>& arguments, Options& options, Text& error);

}  // namespace telvor::installer
