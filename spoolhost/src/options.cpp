#include "options.h"

#include <utility>

#include "quor/fax_number.h"
#include "telvor_common/names.h"

namespace telvor::spoolhost {
namespace {

bool ParseNumber(const std::string& text, unsigned long long low, unsigned long long high,
                 unsigned long long* value) {
  if (text.empty() || text.size() > 19) return false;
  unsigned long long result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<unsigned long long>(c - '0');
  }
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

}  // namespace

const char kUsage[] =
    "usage: telvor-spool [options] [FILE]\n"
    "Prints FILE (or standard input, also with FILE \"-\") to the port FX: through the\n"
    "port monitor plug-in, the way the print spooler does.\n"
    "  --monitor PATH        the monitor plug-in (default: libquor.so beside this program)\n"
    "  --registry FILE       the monitor's registry key (default:\n"
    "                        $XDG_CONFIG_HOME/telvor/TelvorMon.reg or ~/.config/...)\n"
    "  --printer NAME        the printer whose job this is (default \"Telvor Printer\")\n"
    "  --job-id N            the job's id (default 1)\n"
    "  --chunk-size N        bytes per WritePort (default 4096)\n"
    "  --setup               change the stored settings: the setup form, filled with\n"
    "                        them (options answer it); no document is printed\n"
    "  --cups-setup          the same for the CUPS queue (as root): the key store of\n"
    "                        the device URI telvor:/ (or --registry FILE), made\n"
    "                        readable by the group lp\n"
    "Answers for the setup form (asked at first use, or with --setup):\n"
    "  --server ADDRESS --user NAME --mail ADDRESS --attempts DIGIT --modem NAME\n"
    "                        (--mail may hold %u, the name of the user who prints;\n"
    "                        --modem empty: ttyS0)\n"
    "  --password-file FILE  the password is its first line; else $TELVOR_PASSWORD\n"
    "                        (never on the command line, which every user can see)\n"
    "  --cancel-setup\n"
    "Answers for the fax-number form:\n"
    "  --fax-number NUMBER   digits, a leading +, the separators blank - ( ) / .\n"
    "  --dial-attempts DIGIT --note TEXT\n"
    "  --cancel-fax\n"
    "A form without answers asks in the terminal.\n"
    "Exit status: 0 the job ended at the port (the fax was handed over, or the\n"
    "fax-number form was cancelled); 1 the fax was not handed over (the spool file\n"
    "stays in TEMP); 2 bad command line or document; 3 the monitor could not be\n"
    "loaded or set up, or it does not offer FX:; 4 the port could not be opened or\n"
    "the job not started or written.\n";

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  options->printer = ToUtf8(kPrinterName);
  const std::pair<const char*, std::optional<std::string>*> answers[] = {
      {"--server", &options->server},
      {"--user", &options->user},
      {"--mail", &options->mail},
      {"--attempts", &options->attempts},
      {"--modem", &options->modem},
      {"--fax-number", &options->fax_number},
      {"--dial-attempts", &options->dial_attempts},
      {"--note", &options->note},
  };
  const std::pair<const char*, std::string*> paths[] = {
      {"--monitor", &options->monitor},
      {"--registry", &options->registry},
      {"--password-file", &options->password_file},
      {"--printer", &options->printer},
  };

  bool inputs_only = false;
  bool have_input = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (inputs_only || arg == "-" || arg.rfind("--", 0) != 0) {
      if (have_input) {
        *error = "only one document at a time: " + arg;
        return false;
      }
      options->input = arg;
      have_input = true;
      continue;
    }
    if (arg == "--") {
      inputs_only = true;
      continue;
    }
    if (arg == "--help") {
      options->help = true;
      continue;
    }
    if (arg == "--cancel-setup") {
      options->cancel_setup = true;
      continue;
    }
    if (arg == "--cancel-fax") {
      options->cancel_fax = true;
      continue;
    }
    if (arg == "--cups-setup" || arg == "--setup") {
      options->setup = true;
      options->cups_setup = options->cups_setup || arg == "--cups-setup";
      continue;
    }
    if (arg == "--password" || arg.rfind("--password=", 0) == 0) {
      *error =
          "--password: every user can read a command line; give the password with "
          "--password-file FILE or in " +
          std::string(kPasswordVariable);
      return false;
    }

    // The rest take a value: "--name value" or "--name=value".
    std::string value;
    const std::size_t equals = arg.find('=');
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      *error = arg + " needs a value";
      return false;
    }

    bool known = false;
    for (const auto& [name, field] : answers) {
      if (arg != name) continue;
      if (value.find_first_of("\r\n") != std::string::npos) {
        *error = arg + " takes one line of text";
        return false;
      }
      *field = value;
      known = true;
    }
    for (const auto& [name, field] : paths) {
      if (arg == name) {
        *field = value;
        known = true;
      }
    }
    unsigned long long number = 0;
    if (arg == "--job-id") {
      if (!ParseNumber(value, 1, 0xFFFFFFFFull, &number)) {
        *error = "--job-id takes a number from 1 to 4294967295";
        return false;
      }
      options->job_id = static_cast<std::uint32_t>(number);
      known = true;
    } else if (arg == "--chunk-size") {
      if (!ParseNumber(value, 1, 1u << 24, &number)) {
        *error = "--chunk-size takes a number from 1 to 16777216";
        return false;
      }
      options->chunk_size = static_cast<std::size_t>(number);
      known = true;
    }
    if (!known) {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (options->cancel_setup && (AnswersSetup(*options) || !options->password_file.empty())) {
    *error = "--cancel-setup together with setup answers";
    return false;
  }
  if (options->cancel_fax && (options->fax_number || options->dial_attempts || options->note)) {
    *error = "--cancel-fax together with fax-number answers";
    return false;
  }
  // Refused here as the monitor would refuse them, before anything is sent.
  if (options->fax_number) {
    Text dial;
    const Text typed = FromUtf8(*options->fax_number);
    const quor::NumberFault fault = quor::ReadFaxNumber(typed, &dial);
    if (fault != quor::NumberFault::kNone) {
      *error = "--fax-number: " + ToUtf8(quor::NumberFaultText(fault, typed));
      return false;
    }
  }
  if (options->modem && !quor::ModemNameTaken(FromUtf8(*options->modem))) {
    *error = "--modem: " + ToUtf8(quor::ModemFaultText(FromUtf8(*options->modem)));
    return false;
  }
  for (const auto& [name, value] : {std::pair{"--attempts", &options->attempts},
                                    std::pair{"--dial-attempts", &options->dial_attempts}}) {
    int attempts = 0;
    if (*value && !quor::ReadAttempts(FromUtf8(**value), &attempts)) {
      *error = std::string(name) + ": " + ToUtf8(quor::AttemptsFaultText(FromUtf8(**value)));
      return false;
    }
  }
  return true;
}

bool AnswersSetup(const Options& options) {
  // Not the password: one kept in the environment is no request to change.
  return options.server || options.user || options.mail || options.attempts || options.modem;
}

GivenAnswers SetupAnswers(const Options& options) {
  return {options.server, options.user,     options.password,
          options.mail,   options.attempts, options.modem};
}

GivenAnswers FaxNumberAnswers(const Options& options) {
  return {options.fax_number, options.dial_attempts, options.note};
}

}  // namespace telvor::spoolhost
