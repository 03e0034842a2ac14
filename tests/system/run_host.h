// Runs telvor-spool as a child process for the end-to-end tests.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace telvor::spoolhost::testing {

struct HostRun {
  int status = -1;  // exit status; -1 when it did not exit by itself
  std::string out;
  std::string err;
};

// Another user to run the host as, from a copy of it that user can reach.
struct HostUser {
  std::string program;  // telvor-spool with libquor.so and libtelvor.so beside it
  uid_t uid = 0;
  gid_t gid = 0;
};

// Runs the host in `directory` (where the fax client writes its log) with
// `environment` added to this process's (answers for the forms removed; an
// empty value removes the variable), its standard input from `input` ("" for
// none), as `user` if given (the output files are opened before switching).
// The child has no terminal: a form without answers is cancelled instead of
// waiting. Killed after 60 s.
HostRun RunHost(const std::vector<std::string>& args, const std::string& directory,
                const std::map<std::string, std::string>& environment,
                const std::string& input = "", const HostUser* user = nullptr);

// A step of a conversation on the terminal: wait until the host has written
// `expect` there, then type `keys`.
struct TerminalStep {
  std::string expect;
  std::string keys;
};

struct TerminalRun {
  int status = -1;             // exit status; -1 when it did not exit by itself
  int signal = 0;              // the signal that ended it, if one did
  std::string screen;          // everything written to the terminal
  bool echo_on_after = false;  // the terminal echoes again once the host has ended
};

// Runs the host as RunHost does, but on a new pseudo-terminal that is its
// controlling terminal and standard input and output, going through `steps`.
TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& directory,
                          const std::map<std::string, std::string>& environment,
                          const std::vector<TerminalStep>& steps);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Names of the files in `directory`, sorted.
std::vector<std::string> ListDirectory(const std::string& directory);

}  // namespace telvor::spoolhost::testing
