// The command line of telvor-spool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "spooler.h"

namespace telvor::spoolhost {

struct Options {
  std::string monitor;   // the plug-in; empty: libquor.so beside the program
  std::string registry;  // the key store; empty: the default place
  std::string printer;   // the printer whose job this is
  std::uint32_t job_id = kDefaultJobId;
  std::size_t chunk_size = kDefaultChunkSize;
  std::string input;  // the document; empty or "-": standard input
  bool help = false;
  // Change the stored settings (the setup form, filled with them); print
  // nothing.
  bool setup = false;
  // The same for the CUPS queue's store, readable by CUPS's backend.
  bool cups_setup = false;
  std::string password_file;  // the password's first line is read from it

  // Answers for the setup form, used when the monitor asks for its settings.
  std::optional<std::string> server, user, password, mail, attempts, modem;
  bool cancel_setup = false;
  // Answers for the fax-number form.
  std::optional<std::string> fax_number, dial_attempts, note;
  bool cancel_fax = false;
};

extern const char kUsage[];
// Where the password comes from when no file is named.
inline constexpr char kPasswordVariable[] = "TELVOR_PASSWORD";

// False with a reason for an unknown option, a missing or bad value, or a
// value that spans lines (a form field holds one line).
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// What the options answer in each field of a form, in the form's order;
// nothing for a field no option answers.
using GivenAnswers = std::vector<std::optional<std::string>>;
GivenAnswers SetupAnswers(const Options& options);
GivenAnswers FaxNumberAnswers(const Options& options);
// Whether an option asks for a setting (the password aside).
bool AnswersSetup(const Options& options);

}  // namespace telvor::spoolhost
