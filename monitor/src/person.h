// The person who printed: where the monitor's dialogs and messages reach
// them. In a process on a desktop someone sees, they show in-process; in a
// service (the spooler since Windows Vista) they show through the prompt
// program in that person's session, and messages are sent there.
#pragma once

#include <cstdint>

#include "platform.h"

namespace quor {

enum class PromptPlace {
  kInProcess,       // this process's own desktop
  kCallerToken,     // as the user the spooler acted for, in that user's session
  kUserSession,     // the session where the job's user is logged on
  kConsoleSession,  // the console's session, when the job names no user
  kNowhere,         // nobody here to ask: "cannot be shown"
};

// What was found out about the person.
struct PersonFacts {
  bool on_visible_desktop;
  bool has_token;
  std::uint32_t token_session;
  bool has_user_name;
  std::uint32_t user_session;  // kNoSession: the user is logged on nowhere here
  std::uint32_t console_session;
};

struct PromptTarget {
  PromptPlace place;
  std::uint32_t session;
};

PromptTarget ChoosePromptTarget(const PersonFacts& facts);

// The user the spooler acts for (a job's owner at its start), replacing
// the person found before; then, once the job has started, the user the
// job names.
void FindCallerPerson();
void AddJobUser(Handle printer, std::uint32_t job_id);
// The user the job names, or null.
const char16_t* JobUser();
void ForgetPerson();
// The state at load, the token left as it is (the tests' fresh start).
void ResetPerson();

struct ForgetPersonOnExit {
  ForgetPersonOnExit() = default;
  ForgetPersonOnExit(const ForgetPersonOnExit&) = delete;
  ForgetPersonOnExit& operator=(const ForgetPersonOnExit&) = delete;
  ~ForgetPersonOnExit() { ForgetPerson(); }
};

// The dialogs and messages, wherever the person is. The results are those
// of the platform's dialogs; "cannot be shown" sets the last error.
DialogResult AskPersonSettings(SetupFields& fields);
DialogResult AskPersonFaxNumber(FaxNumberFields& fields);
void TellPerson(const char16_t* text, const char16_t* caption, Owner owner);

// How long the person has to answer a prompt or a message, in seconds.
std::uint32_t PromptSeconds();

}  // namespace quor
