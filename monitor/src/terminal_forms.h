// The dialogs on POSIX systems: each form is answered by its prepared answer
// (quor/prepared_answers.h) when the host gave one, otherwise asked on the
// controlling terminal.
#pragma once

#include "platform.h"

namespace quor {

// As the platform's AskSettings and AskFaxNumber; on kFailed, `error` gets
// the errno of what failed.
DialogResult RunSetupForm(SetupFields& fields, int& error);
DialogResult RunFaxNumberForm(FaxNumberFields& fields, int& error);

}  // namespace quor
