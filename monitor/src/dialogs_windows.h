// The monitor's two dialogs on Windows, from the templates in `module`:
// shown by the monitor itself on a desktop someone sees, and by the prompt
// program on the desktop of the person who printed.
#pragma once

#include "platform.h"
#include "quor/spooler.h"

namespace quor {

// The prompt program's two ways to run: for the monitor, and for an
// administrator.
inline constexpr wchar_t kPromptSwitch[] = L"/prompt";

// Every field starts with the record's text; on kOk the record holds what
// was entered. kFailed leaves the platform's last error set.
DialogResult ShowSetupDialog(HINSTANCE module, HWND owner, SetupFields& fields);
DialogResult ShowFaxNumberDialog(HINSTANCE module, HWND owner, FaxNumberFields& fields);

}  // namespace quor
