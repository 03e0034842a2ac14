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

TEST(BackendTest, AnswersComeFromTheJob) {
  // The number's sources in order; the note falls back to the title.
  JobAnswers answers = AnswersOf({{"phone", "111"}, {"fax-number", "222"}}, "Letter");
  EXPECT_EQ(answers.fax_number, "222");
  EXPECT_EQ(answers.note, "Letter");
  EXPECT_FALSE(answers.attempts);
  EXPECT_EQ(FaxNumberAnswer(answers), "1000=222\n1003=Letter");

  answers = AnswersOf({{"FaxNumber", "Custom.+49 (30) 555"},
                       {"fax-attempts", "4"},
                       {"note", "two\nlines\n1000=999"}},
                      "t");
  EXPECT_EQ(answers.fax_number, "+49 (30) 555");
  // A line break cannot smuggle another field into the answer.
  EXPECT_EQ(FaxNumberAnswer(answers), "1000=+49 (30) 555\n1002=4\n1003=twolines1000=999");

  EXPECT_FALSE(HasDialableNumber(AnswersOf({{"FaxNumber", "None"}}, "t").fax_number));
  EXPECT_FALSE(HasDialableNumber(AnswersOf({{"fax-number", "call me"}}, "t").fax_number));
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

TEST(BackendTest, MonitorLinesBecomeStatusLines) {
  MonitorLines lines;
  EXPECT_EQ(lines.Translate("Telvor Printer"), "DEBUG: Telvor Printer");
  EXPECT_EQ(lines.Translate("  Enter Phone Number: 4930555"),
            "DEBUG:   Enter Phone Number: 4930555");
  EXPECT_EQ(lines.Translate("  Attempts(1-9): 4"), "DEBUG:   Attempts(1-9): 4");
  EXPECT_EQ(lines.Translate("  More Info: Letter"), "DEBUG:   More Info: Letter");
  EXPECT_EQ(lines.Translate("  [Send Fax]"), "DEBUG:   [Send Fax]");
  EXPECT_EQ(lines.Translate("TelvMon: SendFax error -13"), "INFO: TelvMon: SendFax error -13");
  EXPECT_EQ(lines.last_message(), "TelvMon: SendFax error -13");

  JobAnswers answers{"+49 (30) 555", std::string("4"), "Letter"};
  EXPECT_EQ(ChangedAnswers(answers, lines),
            std::vector<std::string>{"INFO: fax number \"+49 (30) 555\" taken as \"4930555\""});

  HostOutcome outcome;
  outcome.monitor_ready = true;
  outcome.job = JobResult::kNotSent;
  const Verdict held = VerdictOf(outcome, lines, "12");
  EXPECT_EQ(held.exit_code, 3);
  EXPECT_EQ(held.line,
            "ERROR: TelvMon: SendFax error -13 - fax not sent, job held; send it again with: "
            "lp -i 12 -H resume");
  outcome.job = JobResult::kHandedOver;
  EXPECT_EQ(VerdictOf(outcome, lines, "12").exit_code, 0);
  outcome.job = JobResult::kPortNotOpened;
  EXPECT_EQ(VerdictOf(outcome, lines, "12").exit_code, 4);
  outcome.monitor_ready = false;
  outcome.job = JobResult::kHandedOver;
  EXPECT_EQ(VerdictOf(outcome, lines, "12").exit_code, 4);
  EXPECT_EQ(HoldForNumber("7").exit_code, 3);
}

}  // namespace
}  // namespace telvor::spoolhost::cups
