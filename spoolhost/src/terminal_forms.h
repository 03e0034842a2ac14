// The forms on the terminal, for telvor-spool, the program that owns it:
// each field a line editor, Escape cancels, and the terminal as it was on
// every way out, by a signal too.
#pragma once

#include <vector>

#include "forms.h"

namespace telvor::spoolhost {

// Asks the fields of `form` marked in `ask` (every field when it is empty)
// on the terminal `tty`, each showing its text in `texts`, which Enter on an
// empty line keeps; a number or attempts the rule refuses is said and asked
// again. kCancel, with `texts` as they were, on Escape or when the
// terminal goes away.
FormAnswer AskOnTerminal(int tty, const Form& form, FormTexts& texts, const std::vector<bool>& ask);

// The same on the controlling terminal; kFailed, with the errno in `*error`,
// when there is none.
FormAnswer AskOnTerminal(const Form& form, FormTexts& texts, const std::vector<bool>& ask,
                         int* error);

}  // namespace telvor::spoolhost
