#include "backend.h"

#include <gtest/gtest.h>

namespace telvor::spoolhost::cups {
namespace {

TEST(BackendTest, ReadsOptionsAsCupsQuotesThem) {
  const JobOptions options = ParseJobOptions(
      "fax-number=555\\ 1234 note='Dear Sir, hello' title=\"a \\\"b\\\"\" nocollate "
      "landscape media-col={media-size={x-dimension=21000}} FaxNumber=Custom.5550000");
  const JobOptions expected = {
      {"fax-number", "555 1234"},     {"note", "Dear Sir, hello"},
      {"title", "a \"b\""},           {"collate", "false"},
      {"landscape", "true"},          {"media-col", "{media-size={x-dimension=21000}}"},
      {"FaxNumber", "Custom.5550000"}};
  EXPECT_EQ(options, expected);
}

TEST(BackendTest, TheFaxNumberFormIsAnsweredFromTheJob) {
  // The number's sources in order; the note falls back to the title.
  JobAnswers answers = AnswersOf({{"phone", "111"}, {"fax-number", "222"}}, "Letter");
  EXPECT_EQ(answers.fax_number, "222");
  EXPECT_EQ(answers.note, "Letter");
  EXPECT_FALSE(answers.attempts);
  EXPECT_EQ(AnswersOf({{"phone", "111"}}, "t").fax_number, "111");
  EXPECT_EQ(AnswersOf({{"FaxNumber", "Custom.333"}}, "t").fax_number, "333");
  EXPECT_FALSE(HasDialableNumber(AnswersOf({{"FaxNumber", "None"}}, "t").fax_number));
  EXPECT_FALSE(HasDialableNumber(AnswersOf({{"fax-number", "call me"}}, "t").fax_number));

  answers = AnswersOf(
      {{"FaxNumber", "Custom.+49 (30) 555"}, {"fax-attempts", "4"}, {"note", "two\nlines"}}, "t");
  EXPECT_EQ(answers.note, "twolines");
  JobUser user(answers, [](const std::string&) {});
  FormTexts texts = {u"", u"1", u""};
  std::uint32_t error = 0;
  EXPECT_EQ(user.AskForm(kFaxNumberForm, texts, &error), FormAnswer::kOk);
  EXPECT_EQ(texts, (FormTexts{u"+49 (30) 555", u"4", u"twolines"}));
  EXPECT_TRUE(user.asked());
  // What the form does not take as given is said.
  EXPECT_EQ(ChangedAnswers(answers),
            std::vector<std::string>{"INFO: fax number \"+49 (30) 555\" taken as \"4930555\""});
  // Nobody is asked for the settings in a job.
  FormTexts setup(kSetupForm.field_count);
  EXPECT_EQ(user.AskForm(kSetupForm, setup, &error), FormAnswer::kFailed);
  EXPECT_EQ(error, 50u);
}

TEST(BackendTest, TheDeviceUriNamesTheKeyStore) {
  std::string path, error;
  EXPECT_TRUE(StorePathOfUri("telvor:/", &path, &error));
  EXPECT_EQ(path, "/etc/telvor/TelvorMon.reg");
  EXPECT_TRUE(StorePathOfUri("telvor:/srv/fax%20b/b.reg", &path, &error));
  EXPECT_EQ(path, "/srv/fax b/b.reg");
  for (const char* bad : {"ipp://host/x", "telvor://host/x.reg", "telvor:relative.reg",
                          "telvor:/a%00b", "telvor:/etc/telvor/"}) {
    EXPECT_FALSE(StorePathOfUri(bad, &path, &error)) << bad;
  }
}

std::vector<std::string> said;

TEST(BackendTest, MessagesAndOutcomesBecomeStatusLinesAndExitCodes) {
  said.clear();
  JobUser user({}, [](const std::string& line) { said.push_back(line); });
  user.ShowMessage("TelvMon", "SendFax error -13\n");
  EXPECT_EQ(said, std::vector<std::string>{"INFO: TelvMon: SendFax error -13"});

  HostOutcome outcome;
  outcome.monitor_ready = true;
  outcome.job = JobResult::kNotSent;
  const Verdict held = VerdictOf(outcome, user.last_message(), "12");
  EXPECT_EQ(held.exit_code, 3);
  EXPECT_EQ(held.line,
            "ERROR: TelvMon: SendFax error -13 - fax not sent, job held; send it again with: "
            "lp -i 12 -H resume");
  outcome.job = JobResult::kHandedOver;
  EXPECT_EQ(VerdictOf(outcome, "", "12").exit_code, 0);
  // Part of a document is never a completed job.
  outcome.job = JobResult::kNotWritten;
  EXPECT_NE(VerdictOf(outcome, "", "12").exit_code, 0);
  outcome.job = JobResult::kPortNotOpened;
  EXPECT_EQ(VerdictOf(outcome, "", "12").exit_code, 4);
  outcome.monitor_ready = false;
  outcome.job = JobResult::kHandedOver;
  EXPECT_EQ(VerdictOf(outcome, "", "12").exit_code, 4);
  EXPECT_EQ(HoldForNumber("7").exit_code, 3);
}

TEST(BackendTest, TheLogIsKeptOnlyWhenAskedFor) {
  EXPECT_FALSE(KeepLogRequested(nullptr));
  EXPECT_FALSE(KeepLogRequested(""));
  EXPECT_FALSE(KeepLogRequested("0"));
  EXPECT_TRUE(KeepLogRequested("1"));
  EXPECT_TRUE(KeepLogRequested("yes"));
}

}  // namespace
}  // namespace telvor::spoolhost::cups
