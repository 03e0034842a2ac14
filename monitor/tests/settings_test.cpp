// The settings: first-use setup, the writes, and the read at every opening.
#include "settings.h"

#include <string>
#include <vector>

#include "fakes.h"
#include "telvor_common/text.h"

namespace quor::testing {
namespace {

using Calls = std::vector<std::string>;

class SettingsTest : public MonitorTest {
 protected:
  void Answer(const char16_t* server, const char16_t* user, const char16_t* password,
              const char16_t* mail, const char16_t* attempts) {
    platform.setup_result = DialogResult::kOk;
    telvor::CopyText(platform.setup_answer.server_ip, kTextUnits, server);
    telvor::CopyText(platform.setup_answer.user, kTextUnits, user);
    telvor::CopyText(platform.setup_answer.password, kTextUnits, password);
    telvor::CopyText(platform.setup_answer.mail, kTextUnits, mail);
    telvor::CopyText(platform.setup_answer.attempts, kAttemptsUnits, attempts);
  }
  int SetupDialogs() const {
    int count = 0;
    for (const auto& call : platform.calls) count += call == "setup dialog";
    return count;
  }
  std::u16string Attempts() const { return g_settings.wide.attempts; }
};

TEST_F(SettingsTest, FirstUseAsksWritesFiveValuesInOrderAndReadsThemBack) {
  registry.Registered();
  Answer(u"192.168.1.10", u"fax", u"secret", u"fax@example.com", u"3");
  LoadSettings(registry.init);

  EXPECT_EQ(platform.setup_initial_attempts, u"1");
  EXPECT_EQ(registry.calls, (Calls{"query", "set HylaFAXServerIp", "set User", "set Password",
                                   "set MailAddress", "set Attempts", "query", "enum 5", "enum 4",
                                   "enum 3", "enum 2", "enum 1", "enum 0"}));
  // UTF-16 with the terminator: 2 x (length + 1) bytes.
  EXPECT_EQ(registry.written_data[0].size(), 26u);
  EXPECT_EQ(registry.written_data[4].size(), 4u);
  EXPECT_EQ(std::string(g_settings.server_ip.text), "192.168.1.10");
  EXPECT_EQ(std::string(g_settings.user.text), "fax");
  EXPECT_EQ(std::string(g_settings.password.text), "secret");
  EXPECT_EQ(std::string(g_settings.mail.text), "fax@example.com");
  EXPECT_EQ(Attempts(), u"3");
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SettingsTest, NoValuesOrAFailingQueryMeanNoSetupAndNoRead) {
  LoadSettings(registry.init);
  EXPECT_EQ(registry.calls, Calls{"query"});
  EXPECT_TRUE(platform.messages.empty());

  registry.Registered();
  registry.query_result = 2;
  registry.calls.clear();
  LoadSettings(registry.init);
  EXPECT_EQ(registry.calls, Calls{"query"});
  EXPECT_EQ(SetupDialogs(), 0);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, u"Error read registry");
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
  EXPECT_EQ(platform.messages[0].owner, Owner::kTopWindow);
  EXPECT_EQ(Attempts(), u"1");
  EXPECT_EQ(std::string(g_settings.server_ip.text), "");
}

TEST_F(SettingsTest, PartlyStoredSettingsLoadWhatIsThereAndKeepTheRest) {
  // Names are compared exactly: the near misses are passed over.
  registry.values = {{u"Driver", u"quor.dll"},
                     {u"HylaFAXServerIp", u"10.0.0.1"},
                     {u"user", u"wrong"},
                     {u"User ", u"wrong"}};
  LoadSettings(registry.init);
  ASSERT_EQ(std::string(g_settings.server_ip.text), "10.0.0.1");
  EXPECT_EQ(std::string(g_settings.user.text), "");

  for (std::size_t count = 2; count <= 5; ++count) {
    SCOPED_TRACE(count);
    registry.values = {{u"Driver", u"quor.dll"},
                       {u"User", u"u"},
                       {u"Attempts", u"7"},
                       {u"MailAddress", u"m@x"},
                       {u"Password", u"p"}};
    registry.values.resize(count);
    LoadSettings(registry.init);
    EXPECT_EQ(SetupDialogs(), 0);
    EXPECT_EQ(std::string(g_settings.server_ip.text), "10.0.0.1");
    EXPECT_EQ(std::string(g_settings.user.text), "u");
  }
  EXPECT_EQ(Attempts(), u"7");
  EXPECT_EQ(std::string(g_settings.password.text), "p");
}

TEST_F(SettingsTest, AFailedWriteIsShownAndTheOthersAreStillWritten) {
  registry.Registered();
  registry.failing_writes = {u"User", u"Attempts"};
  Answer(u"10.1.1.1", u"fax", u"pw", u"m@x", u"2");
  LoadSettings(registry.init);
  EXPECT_EQ(platform.MessageTexts(),
            (std::vector<std::u16string>{u"Error write registry", u"Error write registry"}));
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
  EXPECT_EQ(platform.messages[0].owner, Owner::kTopWindow);
  EXPECT_EQ(registry.values.size(), 4u);
  EXPECT_EQ(std::string(g_settings.server_ip.text), "10.1.1.1");
  EXPECT_EQ(std::string(g_settings.user.text), "");
}

TEST_F(SettingsTest, WhenEveryWriteFailsTheSetupComesAgain) {
  registry.Registered();
  registry.failing_writes = {u"HylaFAXServerIp", u"User", u"Password", u"MailAddress", u"Attempts"};
  Answer(u"10.1.1.1", u"fax", u"pw", u"m@x", u"2");
  LoadSettings(registry.init);
  LoadSettings(registry.init);
  EXPECT_EQ(SetupDialogs(), 2);
  EXPECT_EQ(platform.messages.size(), 10u);
}

TEST_F(SettingsTest, ACancelledSetupStoresNothingAndComesAgain) {
  registry.Registered();
  for (DialogResult result : {DialogResult::kCancel, DialogResult::kFailed}) {
    platform.setup_result = result;
    registry.calls.clear();
    LoadSettings(registry.init);
    // Only the spooler's value is enumerated (and passed over).
    EXPECT_EQ(registry.calls, (Calls{"query", "enum 0"}));
    EXPECT_EQ(registry.values.size(), 1u);
    EXPECT_EQ(Attempts(), u"1");
  }
  Answer(u"10.1.1.1", u"fax", u"pw", u"m@x", u"2");
  LoadSettings(registry.init);
  EXPECT_EQ(SetupDialogs(), 3);
  EXPECT_EQ(registry.values.size(), 6u);
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SettingsTest, EnumerationErrorsAreShownOrPassedOver) {
  registry.values = {{u"Driver", u"quor.dll"}, {u"User", u"u"}, {u"Password", u"p"}};
  registry.enum_results = {{2, 259}, {1, 5}};
  LoadSettings(registry.init);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, u"ERROR_NO_MORE_ITEMS");
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon2");
  EXPECT_EQ(platform.messages[0].owner, Owner::kNone);
  EXPECT_EQ(registry.calls, (Calls{"query", "enum 2", "enum 1", "enum 0"}));
  EXPECT_EQ(std::string(g_settings.user.text), "");
  EXPECT_EQ(std::string(g_settings.password.text), "");
}

TEST_F(SettingsTest, A127CharacterValueIsReadWholeAndALongerOneNotAtAll) {
  const std::u16string longest(127, u'a');
  registry.Registered();
  Answer(longest.c_str(), u"", u"", u"", u"1");
  LoadSettings(registry.init);
  EXPECT_EQ(registry.written_data[0].size(), 256u);
  EXPECT_EQ(std::string(g_settings.server_ip.text), std::string(127, 'a'));

  registry.values = {{u"Driver", u"quor.dll"},
                     {u"HylaFAXServerIp", std::u16string(128, u'b')},
                     {u"Attempts", u"12"}};
  LoadSettings(registry.init);
  EXPECT_EQ(platform.MessageTexts(),
            (std::vector<std::u16string>{u"Error read registry", u"Error read registry"}));
  EXPECT_EQ(std::string(g_settings.server_ip.text), std::string(127, 'a'));
  EXPECT_EQ(Attempts(), u"1");
}

TEST_F(SettingsTest, MultiByteTextsFitTheirNarrowForms) {
  const std::u16string wide(127, u'\u00e9');  // two bytes each in UTF-8
  registry.values = {{u"Driver", u"quor.dll"}, {u"MailAddress", wide}};
  LoadSettings(registry.init);
  EXPECT_EQ(std::string(g_settings.mail.text), telvor::ToUtf8(wide));
  EXPECT_EQ(g_settings.mail.conversion_error, 0u);

  platform.conversion_fails_for = u"x";
  registry.values = {{u"Driver", u"quor.dll"}, {u"MailAddress", u"x"}};
  LoadSettings(registry.init);
  EXPECT_EQ(std::string(g_settings.mail.text), "");
  EXPECT_EQ(g_settings.mail.conversion_error, 1113u);
}

}  // namespace
}  // namespace quor::testing
