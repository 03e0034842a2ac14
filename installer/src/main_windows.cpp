// install.exe: sets the fax printer up in one run, behind its progress
// window. No command line; the exit status is 0 or the failed step's code.
#include <windows.h>

#include "sequence.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // The code's 32 bits become the exit status, top bit included.
  return static_cast<int>(telvor::installer::RunInstallation());
}
