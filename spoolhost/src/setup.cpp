#include "setup.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>

namespace telvor::spoolhost {
namespace {

constexpr char kBeforeSetup[] = ".before-setup";

}  // namespace

bool FillSetup(const KeyStore& store, Options* options, const FormAsker& ask) {
  const Form& form = kSetupForm;
  std::optional<std::string>* fields[] = {&options->server, &options->user,     &options->password,
                                          &options->mail,   &options->attempts, &options->modem};
  FormTexts texts(form.field_count);
  std::vector<bool> asked(form.field_count);
  bool any = false;
  for (std::size_t i = 0; i < form.field_count; ++i) {
    texts[i] = store.Value(kSettingNames[i]).value_or(Text());
    asked[i] = !*fields[i];
    any = any || asked[i];
  }
  if (any) {
    int error = 0;
    // No terminal: what is stored stays.
    if (ask(form, texts, asked, &error) == FormAnswer::kCancel) return false;
  }
  for (std::size_t i = 0; i < form.field_count; ++i) {
    if (asked[i]) *fields[i] = ToUtf8(texts[i]);
  }
  return true;
}

bool BeginSetup(const std::string& path, std::string* error) {
  if (std::rename(path.c_str(), (path + kBeforeSetup).c_str()) != 0 && errno != ENOENT) {
    *error = "cannot replace " + path;
    return false;
  }
  return true;
}

void EndSetup(const std::string& path, bool stored) {
  const std::string before = path + kBeforeSetup;
  if (stored) {
    ::unlink(before.c_str());
  } else {
    std::rename(before.c_str(), path.c_str());
  }
}

}  // namespace telvor::spoolhost
