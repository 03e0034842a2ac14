#include "run_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace telvor::spoolhost::testing {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> ListDirectory(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

HostRun RunHost(const std::vector<std::string>& args, const std::string& directory,
                const std::map<std::string, std::string>& environment, const std::string& input) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name.rfind("QUOR_ANSWER_", 0) == 0 || environment.count(name) ||
        name == "LD_LIBRARY_PATH") {
      continue;
    }
    env_strings.push_back(entry);
  }
  for (const auto& [name, value] : environment) env_strings.push_back(name + "=" + value);
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer's dlopen interceptor hides the monitor's own run path
  // ($ORIGIN), by which it finds the fax client beside it: name the place.
  const std::string program = TELVOR_SPOOL;
  std::string library_path = program.substr(0, program.rfind('/'));
#else
  std::string library_path;
#endif
  if (const char* inherited = getenv("LD_LIBRARY_PATH"); inherited && *inherited) {
    library_path += (library_path.empty() ? "" : ":") + std::string(inherited);
  }
  if (!library_path.empty()) env_strings.push_back("LD_LIBRARY_PATH=" + library_path);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_strings = {TELVOR_SPOOL};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const std::string out_path = directory + "/host.out";
  const std::string err_path = directory + "/host.err";
  const pid_t child = fork();
  if (child == 0) {
    setsid();  // no controlling terminal for the forms to fall back on
    if (chdir(directory.c_str()) != 0) _exit(126);
    const int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  HostRun run;
  if (child < 0) return run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

}  // namespace telvor::spoolhost::testing
