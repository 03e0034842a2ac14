#include "run_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
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

namespace {

struct Command {
  std::vector<std::string> env_strings, argv_strings;
  std::vector<char*> envp, argv;
};

void PrepareCommand(const std::string& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& environment, Command* command) {
  std::vector<std::string>& env_strings = command->env_strings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name.rfind("QUOR_ANSWER_", 0) == 0 || environment.count(name) ||
        name == "LD_LIBRARY_PATH") {
      continue;
    }
    env_strings.push_back(entry);
  }
  for (const auto& [name, value] : environment) {
    if (!value.empty()) env_strings.push_back(name + "=" + value);
  }
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer's dlopen interceptor hides the monitor's own run path
  // ($ORIGIN), by which it finds the fax client beside it: name the place.
  std::string library_path = program.substr(0, program.rfind('/'));
#else
  std::string library_path;
#endif
  if (const char* inherited = getenv("LD_LIBRARY_PATH"); inherited && *inherited) {
    library_path += (library_path.empty() ? "" : ":") + std::string(inherited);
  }
  if (!library_path.empty()) env_strings.push_back("LD_LIBRARY_PATH=" + library_path);
  for (auto& s : env_strings) command->envp.push_back(s.data());
  command->envp.push_back(nullptr);
  command->argv_strings = {program};
  command->argv_strings.insert(command->argv_strings.end(), args.begin(), args.end());
  for (auto& s : command->argv_strings) command->argv.push_back(s.data());
  command->argv.push_back(nullptr);
}

// Waits for the child, killing it after 60 s.
int WaitFor(pid_t child) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return status;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// What the terminal shows next, waiting up to 10 s; false at its end.
bool ReadScreen(int master, std::string* screen) {
  pollfd ready{master, POLLIN, 0};
  if (poll(&ready, 1, 10000) <= 0) return false;
  char buffer[1024];
  const ssize_t count = read(master, buffer, sizeof buffer);
  if (count <= 0) return false;
  screen->append(buffer, static_cast<std::size_t>(count));
  return true;
}

}  // namespace

TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& directory,
                          const std::map<std::string, std::string>& environment,
                          const std::vector<TerminalStep>& steps) {
  Command command;
  PrepareCommand(TELVOR_SPOOL, args, environment, &command);
  TerminalRun run;
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    execve(command.argv[0], command.argv.data(), command.envp.data());
    _exit(127);
  }
  if (child < 0) return run;
  std::size_t seen = 0;
  for (const TerminalStep& step : steps) {
    while (run.screen.find(step.expect, seen) == std::string::npos) {
      if (!ReadScreen(master, &run.screen)) break;
    }
    seen = run.screen.size();
    if (write(master, step.keys.data(), step.keys.size()) < 0) break;
  }
  while (ReadScreen(master, &run.screen)) {
  }
  const int status = WaitFor(child);
  if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (status != -1 && WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  termios settings{};
  run.echo_on_after = tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  close(master);
  return run;
}

HostRun RunHost(const std::vector<std::string>& args, const std::string& directory,
                const std::map<std::string, std::string>& environment, const std::string& input,
                const HostUser* user) {
  Command command;
  PrepareCommand(user ? user->program : TELVOR_SPOOL, args, environment, &command);
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
    if (user && (setgroups(0, nullptr) != 0 || setresgid(user->gid, user->gid, user->gid) != 0 ||
                 setresuid(user->uid, user->uid, user->uid) != 0)) {
      _exit(125);
    }
    execve(command.argv[0], command.argv.data(), command.envp.data());
    _exit(127);
  }
  HostRun run;
  if (child < 0) return run;
  const int status = WaitFor(child);
  if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

}  // namespace telvor::spoolhost::testing
