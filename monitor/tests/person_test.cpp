// The monitor inside a service: its dialogs go to the person who printed
// through the prompt program in that person's session, its messages are
// sent there and logged; nobody to ask means "cannot be shown" at once.
#include <map>
#include <string>
#include <vector>

#include "fakes.h"

namespace quor::testing {
namespace {

using Texts = std::vector<std::u16string>;

constexpr char16_t kSpoolFile[] = u"/tmp/spool/fax1A2B.tmp";

class ServiceTest : public MonitorTest {
 protected:
  ServiceTest() {
    registry.values = {
        {u"Driver", u"quor.dll"}, {u"HylaFAXServerIp", u"10.0.0.9"},    {u"User", u"fax"},
        {u"Password", u"pw"},     {u"MailAddress", u"fax@example.com"}, {u"Attempts", u"2"}};
    platform.on_visible_desktop = false;
    platform.console_session = 1;
    platform.user_sessions = {{u"ann", 2}};
  }

  // Runs one job; whether EndDocPort succeeded.
  bool RunJob() {
    const HANDLE port = OpenOrFail();
    EXPECT_TRUE(Start(port));
    Write(port, "%!PS\n");
    const bool ended = End(port) != FALSE;
    Close(port);
    return ended;
  }

  Handle Token() { return reinterpret_cast<Handle>(0x70C); }
};

TEST_F(ServiceTest, TheJobOwnersTokenTakesThePromptToTheirSession) {
  platform.caller_token = Token();
  platform.caller_token_session = 3;
  platform.job_user = u"ann";
  EXPECT_TRUE(RunJob());
  ASSERT_EQ(platform.prompts.size(), 1u);
  EXPECT_EQ(platform.prompts[0].token, Token());
  EXPECT_EQ(platform.prompts[0].session, 3u);
  EXPECT_EQ(platform.prompts[0].seconds, 300u);
  EXPECT_EQ(platform.fax_number_initial_attempts, u"2");
  ASSERT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_EQ(g_sendfax_calls[0].fax_number, "5551234");
  EXPECT_EQ(g_sendfax_calls[0].maxdials, 3);
  EXPECT_EQ(g_sendfax_calls[0].info, "note");
  // Taken at the opening and at the job's start, each given back.
  EXPECT_EQ(platform.tokens_released, (std::vector<Handle>{Token(), Token()}));
}

TEST_F(ServiceTest, AJobThatCannotStartIsReportedToItsOwner) {
  platform.caller_token = Token();
  platform.caller_token_session = 3;
  platform.open_printer_fails = true;
  const HANDLE port = OpenOrFail();
  EXPECT_FALSE(Start(port));
  ASSERT_EQ(platform.session_messages.size(), 1u);
  EXPECT_EQ(platform.session_messages[0].session, 3u);
  EXPECT_EQ(platform.session_messages[0].text, u"OpenPrinter error 1801\n");
  // Sent without waiting for its OK: the port's thread goes on.
  EXPECT_FALSE(platform.session_messages[0].waited_for_ok);
  EXPECT_EQ(platform.tokens_released, (std::vector<Handle>{Token(), Token()}));
  Close(port);
}

TEST_F(ServiceTest, WithoutAUsableTokenTheJobsUserIsLookedFor) {
  // A token from the network (session 0) shows nothing.
  platform.caller_token = Token();
  platform.caller_token_session = 0;
  platform.job_user = u"ann";
  platform.environment[u"TELVOR_PROMPT_SECONDS"] = u"7";
  EXPECT_TRUE(RunJob());
  ASSERT_EQ(platform.prompts.size(), 1u);
  EXPECT_EQ(platform.prompts[0].token, nullptr);
  EXPECT_EQ(platform.prompts[0].session, 2u);
  EXPECT_EQ(platform.prompts[0].seconds, 7u);
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
}

TEST_F(ServiceTest, WithNoUserKnownTheSetupGoesToTheConsole) {
  registry.Registered();
  AnswerSetup(u"10.1.1.1", u"u", u"p", u"m@example.com", u"4");
  platform.environment[u"TELVOR_PROMPT_SECONDS"] = u"0";  // not a limit: the default
  EXPECT_TRUE(RunJob());
  ASSERT_EQ(platform.prompts.size(), 2u);
  EXPECT_EQ(platform.prompts[0].session, 1u);
  EXPECT_EQ(platform.prompts[0].seconds, 300u);
  EXPECT_EQ(platform.setup_initial_attempts, u"1");
  EXPECT_EQ(registry.StoredBytes(u"HylaFAXServerIp"), 18);
  ASSERT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_EQ(g_sendfax_calls[0].server_ip, "10.1.1.1");
}

TEST_F(ServiceTest, AUserFromAnotherComputerIsNotWaitedFor) {
  platform.job_user = u"visitor";
  EXPECT_FALSE(RunJob());
  EXPECT_TRUE(platform.prompts.empty());
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_TRUE(platform.Exists(kSpoolFile));
  // Whoever looks later learns whose document waits where.
  EXPECT_EQ(platform.events,
            (Texts{u"DialogBoxParam error 1312\n",
                   u"The fax of job 17 (\"report.ps\") printed by visitor was not sent. The "
                   u"document is kept in /tmp/spool/fax1A2B.tmp."}));
  EXPECT_TRUE(platform.session_messages.empty());
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(ServiceTest, APromptWithoutAnAnswerKeepsTheDocumentAndSaysSoWhereThePersonIs) {
  platform.job_user = u"ann";
  platform.prompt_fails = 258;  // timed out
  EXPECT_FALSE(RunJob());
  EXPECT_TRUE(platform.Exists(kSpoolFile));
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.events.at(0), u"DialogBoxParam error 258\n");
  ASSERT_EQ(platform.session_messages.size(), 1u);
  EXPECT_EQ(platform.session_messages[0].session, 2u);
  EXPECT_EQ(platform.session_messages[0].text, u"DialogBoxParam error 258\n");
  EXPECT_EQ(platform.session_messages[0].caption, u"TelvMon");

  // An answer the dialog could not have given: cut short, or a number of
  // 41 characters.
  platform.prompt_fails.reset();
  platform.prompt_answer_garbled = true;
  EXPECT_FALSE(RunJob());
  EXPECT_EQ(platform.events.end()[-2], u"DialogBoxParam error 13\n");
  platform.prompt_answer_garbled = false;
  AnswerFaxNumber(std::u16string(41, u'1').c_str(), u"3", u"note");
  EXPECT_FALSE(RunJob());
  EXPECT_EQ(platform.events.end()[-2], u"DialogBoxParam error 13\n");
  EXPECT_TRUE(g_sendfax_calls.empty());
}

// The user the spooler acts for may write neither the monitor's key and
// files nor the event log, nor start a program as another user: all of that
// runs as the spooler, and only that.
TEST_F(ServiceTest, TheSystemsWorkRunsAsTheSpoolerAndThePersonsAsThePerson) {
  registry.Registered();
  AnswerSetup(u"10.1.1.1", u"u", u"p", u"m@example.com", u"4");
  platform.caller_token = Token();
  platform.caller_token_session = 3;
  platform.job_user = u"ann";
  EXPECT_TRUE(RunJob());
  g_sendfax_result = TELVOR_ERR_CONNECT;
  EXPECT_FALSE(RunJob());
  platform.on_visible_desktop = true;
  EXPECT_FALSE(RunJob());

  std::map<std::string, std::vector<bool>> seen;
  for (const auto& [operation, as_spooler] : platform.identities) {
    seen[operation].push_back(as_spooler);
  }
  for (const char* operation : {"set", "protect", "folder", "create", "open", "remove", "load",
                                "sendfax", "event", "prompt", "message"}) {
    SCOPED_TRACE(operation);
    ASSERT_FALSE(seen[operation].empty());
    EXPECT_EQ(seen[operation], std::vector<bool>(seen[operation].size(), true));
  }
  for (const char* operation : {"token", "show", "admin"}) {
    SCOPED_TRACE(operation);
    ASSERT_FALSE(seen[operation].empty());
    EXPECT_EQ(seen[operation], std::vector<bool>(seen[operation].size(), false));
  }
}

TEST_F(ServiceTest, CancelInThePromptSendsNothing) {
  platform.job_user = u"ann";
  platform.fax_number_result = DialogResult::kCancel;
  EXPECT_TRUE(RunJob());
  EXPECT_EQ(platform.prompts.size(), 1u);
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_FALSE(platform.Exists(kSpoolFile));
  EXPECT_TRUE(platform.events.empty());
}

TEST_F(MonitorTest, OnTheUsersOwnDesktopMessagesShowInProcessAndAreLogged) {
  registry.values = {{u"Driver", u"quor.dll"}, {u"Attempts", u"12"}};
  platform.setup_result = DialogResult::kCancel;
  OpenOrFail();
  EXPECT_TRUE(platform.prompts.empty());
  EXPECT_EQ(platform.MessageTexts(), Texts{u"Error read registry"});
  EXPECT_EQ(platform.events, Texts{u"Error read registry"});
}

}  // namespace
}  // namespace quor::testing
