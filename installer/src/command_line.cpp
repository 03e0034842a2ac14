#include "command_line.h"

#include <string>

#include "telvor_common/names.h"

namespace telvor::installer {

const char16_t kUsageText[] =
    u"install.exe [/quiet] [/server NAME] [/user NAME] [/password-file FILE] [/mail ADDRESS]\n"
    u"            [/attempts 1-9] [/modem NAME] [/no-apps-entry]\n"
    u"install.exe /uninstall [/quiet]\n"
    u"install.exe /?\n"
    u"/quiet: no window; the outcome is the exit status and the log\n"
    u"%ProgramData%\\Telvor Printer\\install.log. /password-file: its first line is the\n"
    u"password. /mail may hold %u for the user who prints. Settings not given are kept.\n";

namespace {

char16_t Lower(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

bool SameSwitch(const Text& argument, const char16_t* name) {
  const TextView wanted(name);
  if (argument.size() != wanted.size() + 1) return false;
  if (argument[0] != u'/' && argument[0] != u'-') return false;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (Lower(argument[i + 1]) != wanted[i]) return false;
  }
  return true;
}

// The switches that take a value, and the registry value each one sets
// (null: the password file).
struct ValueSwitch {
  const char16_t* name;
  const char16_t* value_name;
};
constexpr ValueSwitch kValueSwitches[] = {
    {u"server", kServerIpValue}, {u"user", kUserValue},         {u"password-file", nullptr},
    {u"mail", kMailValue},       {u"attempts", kAttemptsValue}, {u"modem", kModemValue},
};

}  // namespace

bool TakesValue(const Text& argument) {
  for (const ValueSwitch& candidate : kValueSwitches) {
    if (SameSwitch(argument, candidate.name)) return true;
  }
  return false;
}

bool ParseCommandLine(const std::vector<Text>& arguments, Options& options, Text& error) {
  options = Options{};
  // /quiet first, wherever it stands: it decides how an error is told.
  for (const Text& argument : arguments) {
    if (SameSwitch(argument, u"quiet")) options.quiet = true;
  }
  bool password_given = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const Text& argument = arguments[i];
    if (SameSwitch(argument, u"quiet")) continue;
    if (SameSwitch(argument, u"?")) {
      options.usage = true;
      continue;
    }
    if (SameSwitch(argument, u"no-apps-entry")) {
      options.no_apps_entry = true;
      continue;
    }
    if (SameSwitch(argument, u"uninstall")) {
      options.uninstall = true;
      continue;
    }
    const ValueSwitch* found = nullptr;
    for (const ValueSwitch& candidate : kValueSwitches) {
      if (SameSwitch(argument, candidate.name)) found = &candidate;
    }
    if (found == nullptr) {
      // A text that is no switch is not repeated: it may be a password put
      // where it does not belong, and errors go to the log.
      const bool is_switch = !argument.empty() && (argument[0] == u'/' || argument[0] == u'-');
      error = is_switch ? u"Unknown switch: " + argument
                        : u"Argument " + FromUtf8(std::to_string(i + 1)) + u" is no switch";
      return false;
    }
    if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
      error = argument + u" needs a value";
      return false;
    }
    const Text& value = arguments[++i];
    bool repeated = false;
    if (found->value_name == nullptr) {
      repeated = password_given;
      password_given = true;
      options.password_file = value;
    } else {
      for (const auto& setting : options.settings) repeated |= setting.first == found->value_name;
      options.settings.emplace_back(found->value_name, value);
    }
    if (repeated) {
      error = argument + u" is given twice";
      return false;
    }
    if (found->value_name == kAttemptsValue &&
        (value.size() != 1 || value[0] < u'1' || value[0] > u'9')) {
      error = argument + u" takes one digit from 1 to 9";
      return false;
    }
  }
  if (options.uninstall && (!options.settings.empty() || password_given || options.no_apps_entry)) {
    error = u"/uninstall takes no settings";
    return false;
  }
  return true;
}

}  // namespace telvor::installer
