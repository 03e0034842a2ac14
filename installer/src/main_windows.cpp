// install.exe: sets the fax printer up in one run, behind its progress
// window, or quietly (/quiet); removes it (/uninstall). The exit status is 0
// or the failed step's code.
#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <vector>

#include "sequence.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  std::vector<telvor::Text> arguments;
  int count = 0;
  LPWSTR* const argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  // The first is the program's own name.
  for (int i = 1; argv != nullptr && i < count; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  ::LocalFree(argv);
  // The code's 32 bits become the exit status, top bit included.
  return static_cast<int>(telvor::installer::RunCommandLine(arguments));
}
