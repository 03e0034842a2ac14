// The installation: driver, libraries, monitor, printer, spooler restart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "command_line.h"
#include "telvor_common/text.h"

namespace telvor::installer {

// Position of the last `unit` in the terminated `text`, or -1 when it holds
// none.
std::ptrdiff_t FindLastUnit(const char16_t* text, char16_t unit);

// Runs the whole installation on the calling thread and returns the exit
// status: 0 after "Install Success!", otherwise the error code of the step
// that failed (already shown, or logged under /quiet). The stored settings
// are kept over an upgrade; the given ones replace them.
std::uint32_t RunInstallation(const Options& options = {});

// Removes the printer, the monitor with its key, the files in the system
// directory and the event log source; the exit status as above.
std::uint32_t RunUninstallation();

// install.exe's arguments (after its name): the usage, an uninstallation or
// an installation; a command line that cannot be followed changes nothing
// and gives kUsageErrorStatus.
std::uint32_t RunCommandLine(const std::vector<Text>& arguments);

}  // namespace telvor::installer
