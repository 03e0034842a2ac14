#include "options.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "setup.h"

namespace telvor::spoolhost {
namespace {

TEST(OptionsTest, DefaultsPrintStandardInputToTheTelvorPrinter) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({}, &options, &error)) << error;
  EXPECT_EQ(options.printer, "Telvor Printer");
  EXPECT_EQ(options.job_id, 1u);
  EXPECT_EQ(options.chunk_size, 4096u);
  EXPECT_EQ(options.input, "");
  EXPECT_EQ(FaxNumberAnswers(options), GivenAnswers(3));

  ASSERT_TRUE(ParseOptions({"-"}, &options, &error));
  EXPECT_EQ(options.input, "-");
}

TEST(OptionsTest, AnswersFillTheFormsFields) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--server",
                            "127.0.2.1",
                            "--user=alice",
                            "--password-file",
                            "secret.txt",
                            "--mail",
                            "alice@example.com",
                            "--attempts",
                            "3",
                            "--fax-number",
                            "5551234",
                            "--dial-attempts",
                            "2",
                            "--note",
                            "Quarterly report",
                            "--registry",
                            "key.reg",
                            "--job-id",
                            "42",
                            "letter.ps"},
                           &options, &error))
      << error;
  EXPECT_EQ(options.password_file, "secret.txt");
  options.password = "se=cret";  // what the file held
  EXPECT_EQ(SetupAnswers(options),
            (GivenAnswers{"127.0.2.1", "alice", "se=cret", "alice@example.com", "3", {}}));
  EXPECT_EQ(FaxNumberAnswers(options), (GivenAnswers{"5551234", "2", "Quarterly report"}));
  EXPECT_EQ(options.registry, "key.reg");
  EXPECT_EQ(options.job_id, 42u);
  EXPECT_EQ(options.input, "letter.ps");

  // Only what is given is answered; the other fields keep their start text.
  Options number_only;
  ASSERT_TRUE(ParseOptions({"--fax-number", "5550000"}, &number_only, &error));
  EXPECT_EQ(FaxNumberAnswers(number_only), (GivenAnswers{"5550000", {}, {}}));
  EXPECT_EQ(SetupAnswers(number_only), GivenAnswers(6));
}

// --setup: what no option gives is asked, showing the stored text; a
// cancelled form leaves every answer as it was, so nothing is stored.
TEST(OptionsTest, SetupAsksForWhatNoOptionGivesAndACancelChangesNothing) {
  char pattern[] = "/tmp/spoolhost-setup-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string path = std::string(pattern) + "/TelvorMon.reg";
  KeyStore store(path);
  std::string error;
  ASSERT_TRUE(store.Open(u"libquor.so", &error)) << error;
  const std::u16string server = u"10.0.0.1";
  ASSERT_EQ(store.SetValue(kServerIpValue, 1, reinterpret_cast<const std::uint8_t*>(server.c_str()),
                           static_cast<std::uint32_t>((server.size() + 1) * 2)),
            0);

  Options options;
  options.user = "bob";
  std::vector<bool> asked;
  FormTexts shown;
  FormAnswer answer = FormAnswer::kCancel;
  const FormAsker ask = [&](const Form&, FormTexts& texts, const std::vector<bool>& mask, int*) {
    asked = mask;
    shown = texts;
    texts[0] = u"10.0.0.2";
    return answer;
  };
  EXPECT_FALSE(FillSetup(store, &options, ask));
  EXPECT_EQ(asked, (std::vector<bool>{true, false, true, true, true, true}));
  EXPECT_EQ(shown[0], server);
  EXPECT_FALSE(options.server);

  answer = FormAnswer::kOk;
  EXPECT_TRUE(FillSetup(store, &options, ask));
  EXPECT_EQ(options.server, "10.0.0.2");
  EXPECT_EQ(options.user, "bob");
  EXPECT_EQ(options.password, "");
  std::filesystem::remove_all(pattern);
}

TEST(OptionsTest, RefusesWhatCannotBeAnswered) {
  const std::vector<std::vector<std::string>> bad = {
      {"--colour", "red"},
      {"--server"},
      {"--password", "secret"},  // every user could read it
      {"--password=secret"},
      {"--note", "two\nlines"},
      {"--job-id", "0"},
      {"--chunk-size", "many"},
      {"a.ps", "b.ps"},
      {"--cancel-fax", "--fax-number", "5551234"},
      {"--cancel-setup", "--server", "127.0.0.1"},
      // Numbers and attempts the monitor would refuse: refused here, never cut.
      {"--fax-number", "FAX-ME"},
      {"--fax-number", "49+30"},
      {"--fax-number", std::string(31, '5')},
      {"--dial-attempts", "12"},
      {"--attempts", "0"},
      {"--modem", "tty S0"},
  };
  for (const auto& args : bad) {
    Options options;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, &options, &error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace telvor::spoolhost
