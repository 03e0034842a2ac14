// The settings as opening the port leaves them: first-use setup, what is
// stored, and what the next job's sendfax receives.
#include <string>
#include <vector>

#include "fakes.h"
#include "telvor_common/text.h"

namespace quor::testing {
namespace {

using Texts = std::vector<std::u16string>;

class SettingsTest : public MonitorTest {
 protected:
  void Store(const std::vector<FakeRegistry::Value>& values) {
    registry.values = {{u"Driver", u"quor.dll"}};
    registry.values.insert(registry.values.end(), values.begin(), values.end());
  }
};

TEST_F(SettingsTest, FirstUseAsksStoresFiveValuesAndSendsWithThem) {
  registry.Registered();
  AnswerSetup(u"192.168.1.10", u"fax", u"secret", u"fax@example.com", u"3");
  AnswerFaxNumber(u"5551234", u"3", u"");
  const SendFaxCall call = SendJob();

  EXPECT_EQ(platform.setup_initial_attempts, u"1");
  EXPECT_EQ(registry.values.size(), 6u);  // no modem given: none stored
  EXPECT_EQ(call.modem, "");
  // UTF-16 with the terminator: 2 x (length + 1) bytes.
  EXPECT_EQ(registry.StoredBytes(u"HylaFAXServerIp"), 26);
  EXPECT_EQ(registry.StoredBytes(u"Attempts"), 4);
  EXPECT_EQ(call.server_ip, "192.168.1.10");
  EXPECT_EQ(call.user, "fax");
  EXPECT_EQ(call.password, "secret");
  EXPECT_EQ(call.mail, "fax@example.com");
  EXPECT_EQ(platform.fax_number_initial_attempts, u"3");
  EXPECT_TRUE(platform.messages.empty());

  // Set up once: the next opening only reads.
  SendJob();
  EXPECT_EQ(platform.setups_shown, 1);

  // The sixth setting, when given.
  registry.Registered();
  telvor::CopyText(platform.setup_answer.modem, kTextUnits, u"ttyACM0");
  EXPECT_EQ(SendJob().modem, "ttyACM0");
  EXPECT_EQ(registry.StoredBytes(u"Modem"), 16);
  // The key gets its access list after all of a setup's writes.
  EXPECT_EQ(platform.values_at_protection, (std::vector<std::size_t>{6, 7}));

  // Stored, but perhaps readable by every user: whoever set it up hears so.
  registry.Registered();
  platform.protect_fails = 5;
  SendJob();
  EXPECT_EQ(platform.MessageTexts(), Texts{u"RegSetKeySecurity error 5\n"});
}

TEST_F(SettingsTest, AFailingQueryOrNoValuesMeanNoSetupAndTheSettingsAtLoad) {
  AnswerSetup(u"10.0.0.1", u"u", u"p", u"m", u"5");
  registry.Registered();
  registry.query_result = 2;
  EXPECT_EQ(SendJob().server_ip, "");
  EXPECT_EQ(platform.fax_number_initial_attempts, u"1");
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, u"Error read registry");
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
  EXPECT_EQ(platform.messages[0].owner, Owner::kTopWindow);

  registry.query_result = ERROR_SUCCESS;
  registry.values.clear();
  EXPECT_EQ(SendJob().server_ip, "");
  EXPECT_EQ(platform.setups_shown, 0);
  EXPECT_EQ(platform.messages.size(), 1u);
}

TEST_F(SettingsTest, PartlyStoredSettingsLoadWhatIsThereAndKeepTheRest) {
  // Names are compared exactly: the near misses are passed over.
  Store({{u"HylaFAXServerIp", u"10.0.0.1"}, {u"user", u"wrong"}, {u"User ", u"wrong"}});
  EXPECT_EQ(SendJob().user, "");

  Store({{u"User", u"u"}, {u"Attempts", u"7"}});
  const SendFaxCall call = SendJob();
  EXPECT_EQ(platform.setups_shown, 0);
  EXPECT_EQ(call.server_ip, "10.0.0.1");
  EXPECT_EQ(call.user, "u");
  EXPECT_EQ(platform.fax_number_initial_attempts, u"7");
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SettingsTest, FailedWritesAreShownOneByOneAndASetupWithNoneStoredComesAgain) {
  registry.Registered();
  registry.failing_writes = {u"User", u"Attempts"};
  AnswerSetup(u"10.1.1.1", u"fax", u"pw", u"m@x", u"2");
  const SendFaxCall call = SendJob();
  EXPECT_EQ(platform.MessageTexts(), (Texts{u"Error write registry", u"Error write registry"}));
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
  EXPECT_EQ(platform.messages[0].owner, Owner::kTopWindow);
  EXPECT_EQ(registry.values.size(), 4u);
  // The job sends with what was typed, stored or not.
  EXPECT_EQ(call.server_ip, "10.1.1.1");
  EXPECT_EQ(call.user, "fax");
  EXPECT_EQ(call.maxdials, 3);

  registry.Registered();
  registry.failing_writes = {u"HylaFAXServerIp", u"User", u"Password", u"MailAddress", u"Attempts"};
  SendJob();
  SendJob();
  EXPECT_EQ(platform.setups_shown, 3);
  // Shown again with the attempts alone, not what was typed before.
  EXPECT_EQ(platform.setup_initial_server, u"");
}

// The settings are the administrators' to choose, and a standard user's
// writes would be refused: such a user is not asked, and the document waits.
TEST_F(SettingsTest, AStandardUserBeforeTheSetupIsToldToAskAnAdministrator) {
  registry.Registered();
  AnswerSetup(u"10.1.1.1", u"fax", u"pw", u"m@x", u"2");
  platform.caller_is_administrator = false;
  SendJob();
  EXPECT_EQ(platform.setups_shown, 0);
  EXPECT_EQ(platform.fax_numbers_shown, 0);
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(registry.values.size(), 1u);
  const std::u16string told =
      u"Telvor Printer is not set up yet. Ask your administrator to run quorprompt.exe /settings.";
  EXPECT_EQ(platform.MessageTexts(), Texts{told});
  EXPECT_EQ(platform.events.at(0), told);
  EXPECT_TRUE(platform.Exists(u"/tmp/spool/fax1A2B.tmp"));
  EXPECT_EQ(platform.reports.back().state, JobState::kNotSent);
  EXPECT_EQ(platform.reports.back().spool_file, u"/tmp/spool/fax1A2B.tmp");

  // The port stays open from job to job: an administrator printing next is
  // asked for the setup, and from then on the same user's jobs are sent.
  const HANDLE port = OpenOrFail();
  platform.caller_is_administrator = true;
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  EXPECT_EQ(platform.setups_shown, 1);
  platform.caller_is_administrator = false;
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  EXPECT_EQ(g_sendfax_calls.size(), 2u);
  EXPECT_EQ(g_sendfax_calls[1].server_ip, "10.1.1.1");
  Close(port);
}

TEST_F(SettingsTest, ACancelledSetupStoresNothingAndComesAgain) {
  registry.Registered();
  for (DialogResult result : {DialogResult::kCancel, DialogResult::kFailed}) {
    platform.setup_result = result;
    SendJob();
    EXPECT_EQ(registry.values.size(), 1u);
  }
  AnswerSetup(u"10.1.1.1", u"fax", u"pw", u"m@x", u"2");
  EXPECT_EQ(SendJob().server_ip, "10.1.1.1");
  EXPECT_EQ(platform.setups_shown, 3);
  EXPECT_EQ(registry.values.size(), 6u);
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SettingsTest, ASetupConfirmedWithoutAServerStoresNothingAndComesAgain) {
  registry.Registered();
  AnswerSetup(u"", u"fax", u"pw", u"m@x", u"7");
  SendJob();
  EXPECT_EQ(registry.values.size(), 1u);
  EXPECT_EQ(platform.fax_number_initial_attempts, u"1");
  AnswerSetup(u"10.1.1.1", u"fax", u"pw", u"m@x", u"2");
  EXPECT_EQ(SendJob().server_ip, "10.1.1.1");
  EXPECT_EQ(platform.setups_shown, 2);
}

TEST_F(SettingsTest, AValueNamedLongerThanAnyOfOursIsPassedOverInSilence) {
  Store({{std::u16string(128, u'n'), u"foreign"}, {u"User", u"u"}});
  EXPECT_EQ(SendJob().user, "u");
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SettingsTest, EnumerationErrorsAreShownOrPassedOver) {
  Store({{u"User", u"u"}, {u"Password", u"p"}});
  registry.enum_results = {{2, 259}, {1, 5}};
  const SendFaxCall call = SendJob();
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, u"ERROR_NO_MORE_ITEMS");
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon2");
  EXPECT_EQ(platform.messages[0].owner, Owner::kNone);
  EXPECT_EQ(call.user, "");
  EXPECT_EQ(call.password, "");
}

TEST_F(SettingsTest, A127CharacterValueIsReadWholeAndALongerOneNotAtAll) {
  const std::u16string longest(127, u'a');
  registry.Registered();
  AnswerSetup(longest.c_str(), u"", u"", u"", u"1");
  EXPECT_EQ(SendJob().server_ip, std::string(127, 'a'));
  EXPECT_EQ(registry.StoredBytes(u"HylaFAXServerIp"), 256);

  Store({{u"HylaFAXServerIp", std::u16string(128, u'b')}, {u"Attempts", u"12"}});
  EXPECT_EQ(SendJob().server_ip, std::string(127, 'a'));
  EXPECT_EQ(platform.MessageTexts(), (Texts{u"Error read registry", u"Error read registry"}));
  EXPECT_EQ(platform.fax_number_initial_attempts, u"3");  // as the last job's dialog left it
}

TEST_F(SettingsTest, MultiByteTextsReachSendfaxWholeAndOnesThatDoNotConvertStopIt) {
  const std::u16string wide(127, u'\u00e9');  // two bytes each in UTF-8
  Store({{u"MailAddress", wide}});
  EXPECT_EQ(SendJob().mail, telvor::ToUtf8(wide));

  // Built in place: GCC 12 sees a false overlap in assigning the literal.
  platform.conversion_fails_for.emplace(1, u'x');
  Store({{u"MailAddress", u"x"}});
  g_sendfax_calls.clear();
  SendJob();
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.MessageTexts(), Texts{u"WideCharToMultiByte error 1113\n"});
}

}  // namespace
}  // namespace quor::testing
