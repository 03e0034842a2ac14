#include "person.h"

#include <iterator>

#include "prompt_channel.h"
#include "telvor_common/win_errors.h"
#include "widths.h"

namespace quor {

namespace {

namespace win_error = telvor::win_error;

// Services run in session 0, which no user's desktop shows.
constexpr std::uint32_t kServicesSession = 0;

// Five minutes to answer; the spooler's environment may set another limit.
constexpr char16_t kPromptSecondsVariable[] = u"TELVOR_PROMPT_SECONDS";
constexpr std::uint32_t kDefaultPromptSeconds = 300;
constexpr std::uint32_t kMaxPromptSeconds = 86400;
constexpr std::uint32_t kMaxPromptDigits = 5;

struct Person {
  Handle token;
  std::uint32_t token_session;
  bool has_user_name;
  char16_t user_name[kTextUnits];
};

// Process-wide, one instance: the spooler drives the one port one job at a
// time. Zero at load.
Person g_person;

bool Shows(std::uint32_t session) { return session != kNoSession && session != kServicesSession; }

PersonFacts Facts() {
  Platform& platform = CurrentPlatform();
  PersonFacts facts{};
  facts.on_visible_desktop = platform.OnVisibleDesktop();
  if (facts.on_visible_desktop) return facts;
  facts.has_token = g_person.token != nullptr;
  facts.token_session = g_person.token_session;
  facts.has_user_name = g_person.has_user_name;
  facts.user_session = facts.has_user_name ? platform.UserSession(g_person.user_name) : kNoSession;
  facts.console_session = platform.ConsoleSession();
  return facts;
}

DialogResult AskThroughPrompt(DialogKind kind, void* fields) {
  Platform& platform = CurrentPlatform();
  const PromptTarget target = ChoosePromptTarget(Facts());
  if (target.place == PromptPlace::kNowhere) {
    platform.SetLastError(win_error::kNoSuchLogonSession);
    return DialogResult::kFailed;
  }
  unsigned char request[kPromptMessageBytes];
  const std::size_t request_size = EncodePrompt(kind, DialogResult::kOk, 0, fields, request);
  unsigned char answer[kPromptMessageBytes];
  std::size_t answer_size = sizeof(answer);
  const Handle token = target.place == PromptPlace::kCallerToken ? g_person.token : nullptr;
  const std::uint32_t seconds = PromptSeconds();
  bool answered = false;
  {
    const AsSpooler as_spooler;
    answered = platform.RunPrompt(token, target.session, request, request_size, answer,
                                  &answer_size, seconds);
  }
  if (!answered) return DialogResult::kFailed;
  DialogResult result = DialogResult::kFailed;
  std::uint32_t error = 0;
  if (!DecodePrompt(answer, answer_size, kind, &result, &error, fields)) {
    platform.SetLastError(win_error::kInvalidData);
    return DialogResult::kFailed;
  }
  if (result == DialogResult::kFailed) platform.SetLastError(error);
  return result;
}

}  // namespace

PromptTarget ChoosePromptTarget(const PersonFacts& facts) {
  if (facts.on_visible_desktop) return {PromptPlace::kInProcess, kNoSession};
  if (facts.has_token && Shows(facts.token_session)) {
    return {PromptPlace::kCallerToken, facts.token_session};
  }
  // A user the job names but who is logged on nowhere here printed from
  // another computer: nobody here can answer for them.
  if (facts.has_user_name) {
    if (Shows(facts.user_session)) return {PromptPlace::kUserSession, facts.user_session};
    return {PromptPlace::kNowhere, kNoSession};
  }
  if (Shows(facts.console_session)) return {PromptPlace::kConsoleSession, facts.console_session};
  return {PromptPlace::kNowhere, kNoSession};
}

void FindCallerPerson() {
  ForgetPerson();
  g_person.token = CurrentPlatform().TakeCallerToken(&g_person.token_session);
}

void AddJobUser(Handle printer, std::uint32_t job_id) {
  g_person.has_user_name =
      CurrentPlatform().JobUserName(printer, job_id, g_person.user_name, kTextUnits);
}

const char16_t* JobUser() { return g_person.has_user_name ? g_person.user_name : nullptr; }

void ForgetPerson() {
  if (g_person.token) CurrentPlatform().ReleaseToken(g_person.token);
  g_person = Person{};
}

void ResetPerson() { g_person = Person{}; }

DialogResult AskPersonSettings(SetupFields& fields) {
  if (CurrentPlatform().OnVisibleDesktop()) return CurrentPlatform().AskSettings(fields);
  return AskThroughPrompt(DialogKind::kSetup, &fields);
}

DialogResult AskPersonFaxNumber(FaxNumberFields& fields) {
  if (CurrentPlatform().OnVisibleDesktop()) return CurrentPlatform().AskFaxNumber(fields);
  return AskThroughPrompt(DialogKind::kFaxNumber, &fields);
}

void TellPerson(const char16_t* text, const char16_t* caption, Owner owner) {
  Platform& platform = CurrentPlatform();
  // Written down first: whoever looks later learns of it even when nobody
  // was there to read it.
  {
    const AsSpooler as_spooler;
    platform.LogEvent(text);
  }
  const PromptTarget target = ChoosePromptTarget(Facts());
  if (target.place == PromptPlace::kInProcess) {
    platform.ShowMessage(text, caption, owner);
  } else if (target.place != PromptPlace::kNowhere) {
    // The spooler's right to reach another session.
    const AsSpooler as_spooler;
    platform.SendSessionMessage(target.session, text, caption, false);
  }
}

std::uint32_t PromptSeconds() {
  char16_t text[12] = {};
  const std::uint32_t length =
      CurrentPlatform().ReadEnvironment(kPromptSecondsVariable, text, std::size(text));
  if (length == 0 || length > kMaxPromptDigits) return kDefaultPromptSeconds;
  std::uint32_t seconds = 0;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return kDefaultPromptSeconds;
    seconds = seconds * 10 + static_cast<std::uint32_t>(text[i] - u'0');
  }
  if (seconds == 0 || seconds > kMaxPromptSeconds) return kDefaultPromptSeconds;
  return seconds;
}

}  // namespace quor
