// telvor-faxserver: runs the embedded fax server until SIGTERM or SIGINT.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "faxserver.h"

namespace {

using telvor::faxserver::Behaviour;

constexpr char kUsage[] =
    "usage: telvor-faxserver [--address A] [--dir D] [--ready-file F]\n"
    "         [--error-replies] [--pasv-address A] [--pasv-reply TEXT]\n"
    "         [--completion-in-one-segment] [--split-replies] [--multiline-greeting]\n"
    "         [--stop-answering-after N] [--refuse-data] [--close-data-early]\n"
    "         [--completion-reply TEXT] [--refuse-login] [--refuse-submission]\n"
    "         [--urgent-data]\n"
    "Serves the HylaFAX client protocol on A:4559 (default 127.0.0.2) and stores\n"
    "every upload and submitted job in D (default ./faxserver-spool).\n";

struct Options {
  std::string address = "127.0.0.2";
  std::string directory = "./faxserver-spool";
  std::string ready_file;
  Behaviour behaviour;
};

bool ParseCount(const std::string& text, int* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || n < 0 || n > INT_MAX) return false;
  *value = static_cast<int>(n);
  return true;
}

// False with a message for an unknown option or a missing or bad value.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  Behaviour& b = options->behaviour;
  const struct {
    const char* name;
    bool* flag;
  } flags[] = {
      {"--error-replies", &b.error_replies},
      {"--completion-in-one-segment", &b.completion_in_one_segment},
      {"--split-replies", &b.split_replies},
      {"--multiline-greeting", &b.multiline_greeting},
      {"--refuse-data", &b.refuse_data},
      {"--close-data-early", &b.close_data_early},
      {"--refuse-login", &b.refuse_login},
      {"--refuse-submission", &b.refuse_submission},
      {"--urgent-data", &b.urgent_data},
  };
  const struct {
    const char* name;
    std::string* value;
  } texts[] = {
      {"--address", &options->address},       {"--dir", &options->directory},
      {"--ready-file", &options->ready_file}, {"--pasv-address", &b.pasv_address},
      {"--pasv-reply", &b.pasv_reply},        {"--completion-reply", &b.completion_reply},
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool matched = false;
    for (const auto& f : flags) {
      if (arg == f.name) *f.flag = matched = true;
    }
    if (matched) continue;
    const bool takes_value = arg == "--stop-answering-after" ||
                             std::any_of(std::begin(texts), std::end(texts),
                                         [&](const auto& t) { return arg == t.name; });
    if (!takes_value) {
      *error = "unknown option: " + arg;
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = arg + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    if (arg == "--stop-answering-after") {
      if (!ParseCount(value, &b.stop_answering_after)) {
        *error = "--stop-answering-after needs a count of lines, not \"" + value + "\"";
        return false;
      }
      continue;
    }
    for (const auto& t : texts) {
      if (arg == t.name) *t.value = value;
    }
  }
  return true;
}

// Written whole under a temporary name first, so that a watcher never reads
// half a file.
bool WriteReadyFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  std::FILE* f = std::fopen(temporary.c_str(), "w");
  if (f == nullptr) return false;
  const bool written = std::fputs(text.c_str(), f) >= 0;
  if (std::fclose(f) != 0 || !written) return false;
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    std::cerr << "telvor-faxserver: " << error << "\n" << kUsage;
    return 2;
  }

  // Events go to stdout; a reader that went away must not end the server.
  signal(SIGPIPE, SIG_IGN);
  // The server's thread inherits this mask, so the signals wait for sigwait.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  telvor::faxserver::Server server(options.address, options.directory, options.behaviour);
  server.SetEventSink([](const std::string& event) { std::cout << event << std::endl; });
  if (!server.Start(&error)) {
    std::cerr << "telvor-faxserver: " << error << "\n";
    return 1;
  }
  const std::string endpoint = options.address + ":" + std::to_string(telvor::faxserver::kPort);
  std::cout << "listening on " << endpoint << std::endl;
  if (!options.ready_file.empty() && !WriteReadyFile(options.ready_file, endpoint + "\n")) {
    std::cerr << "telvor-faxserver: cannot write " << options.ready_file << ": "
              << std::strerror(errno) << "\n";
    return 1;
  }
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  return 0;
}
