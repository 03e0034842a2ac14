// telvor-spool --setup: the settings to store, and the store set up afresh
// so that the monitor asks for (and writes) every one of them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "forms.h"
#include "keystore.h"
#include "options.h"

namespace telvor::spoolhost {

// How a form is asked: the fields marked in the mask, each showing its text.
using FormAsker =
    std::function<FormAnswer(const Form&, FormTexts&, const std::vector<bool>&, int* error)>;

// Every setting gets an answer in `options`: its option, else what `ask`
// gets on the terminal (showing the stored text, which Enter keeps), else,
// with no terminal, the stored text. False when the person cancels: nothing
// may change then.
bool FillSetup(const KeyStore& store, Options* options, const FormAsker& ask);

// The store is moved aside, so that the port's opening is a first use; the
// settings before come back unless new ones were stored.
bool BeginSetup(const std::string& path, std::string* error);
void EndSetup(const std::string& path, bool stored);

}  // namespace telvor::spoolhost
