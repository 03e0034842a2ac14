// The installation: driver, libraries, monitor, printer, spooler restart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvor::installer {

// Position of the last `unit` in the terminated `text`, or -1 when it holds
// none.
std::ptrdiff_t FindLastUnit(const char16_t* text, char16_t unit);

// Runs the whole installation on the calling thread and returns the exit
// status: 0 after "Install Success!", otherwise the error code of the step
// that failed (already shown).
std::uint32_t RunInstallation();

}  // namespace telvor::installer
