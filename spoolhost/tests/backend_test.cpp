#include "backend.h"

#include <gtest/gtest.h>

#include "telvor/sendfax.h"

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
            std::vector<std::string>{"INFO: fax number \"+49 (30) 555\" taken as \"+4930555\""});
  // Nobody is asked for the settings in a job.
  FormTexts setup(kSetupForm.field_count);
  EXPECT_EQ(user.AskForm(kSetupForm, setup, &error), FormAnswer::kFailed);
  EXPECT_EQ(error, 50u);
}

// A number or attempts the monitor would refuse holds the job before it is
// tried, saying why and how to give it again; nothing is cut or clamped.
TEST(BackendTest, RefusedNumbersAndAttemptsHoldTheJob) {
  const auto held = [](const JobOptions& options) {
    const std::optional<Verdict> verdict = RefusedAnswers(AnswersOf(options, "t"), "12");
    EXPECT_TRUE(!verdict || verdict->exit_code == 3);
    return verdict ? verdict->line : std::string();
  };
  EXPECT_EQ(held({{"fax-number", "+49 30 5553301"}, {"fax-attempts", "9"}}), "");
  EXPECT_EQ(held({{"FaxNumber", "None"}}),
            "ERROR: No fax number given. Give it again with: lp -i 12 -o fax-number=NUMBER -H "
            "resume");
  EXPECT_NE(held({{"fax-number", "555-CALL-NOW"}}).find("holds \"C\""), std::string::npos);
  EXPECT_NE(held({{"phone", std::string(31, '5')}}).find("too long"), std::string::npos);
  EXPECT_NE(held({{"fax-number", "5551234"}, {"fax-attempts", "12"}})
                .find("not \"12\". Give it again with: lp -i 12 -o fax-attempts=DIGIT"),
            std::string::npos);
  // CUPS split an unquoted number at its blanks.
  EXPECT_EQ(held(ParseJobOptions("fax-number=0 555 1234")),
            "ERROR: The fax number was split at its blanks: \"0\" came with \"555\", \"1234\" "
            "apart; quote it whole. Give it again with: lp -i 12 -o \"fax-number='NUMBER WITH "
            "BLANKS'\" -H resume");
}

TEST(BackendTest, ThePaperAndResolutionComeFromTheJob) {
  EXPECT_TRUE(AnswersOf({{"PageSize", "Letter"}}, "t").letter);
  EXPECT_TRUE(AnswersOf({{"media", "na_letter_8.5x11in"}}, "t").letter);
  EXPECT_FALSE(AnswersOf({{"media", "A4"}}, "t").letter);
  EXPECT_FALSE(AnswersOf({{"PageSize", "LetterSmall"}}, "t").letter);
  EXPECT_EQ(AnswersOf({{"Resolution", "204x98dpi"}}, "t").vertical_resolution, 98u);
  EXPECT_EQ(AnswersOf({{"Resolution", "204x196dpi"}}, "t").vertical_resolution, 196u);
  EXPECT_EQ(AnswersOf({}, "t").vertical_resolution, 0u);
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

  // Completed only when the monitor reported the fax sent, with the server's number.
  HostOutcome outcome;
  outcome.monitor_ready = true;
  outcome.job = JobResult::kHandedOver;
  const std::string advice = SetupAdvice("/srv/fax.reg", "Fax");
  EXPECT_EQ(VerdictOf(outcome, "", "12", advice).exit_code, 3);
  outcome.news.state = QUOR_JOB_SENT;
  EXPECT_EQ(VerdictOf(outcome, "", "12", advice).line, "INFO: Fax handed to the HylaFAX server");
  outcome.news.server_job = 57;
  const Verdict sent = VerdictOf(outcome, "", "12", advice);
  EXPECT_EQ(sent.exit_code, 0);
  EXPECT_EQ(sent.line, "INFO: Fax handed to the HylaFAX server as job 57");

  // Not sent: sorted by who can mend it.
  outcome.job = JobResult::kNotSent;
  outcome.news = {};
  outcome.news.state = QUOR_JOB_NOT_SENT;
  const std::pair<std::int32_t, int> by_result[] = {
      {TELVOR_ERR_CONNECT, 6},     {TELVOR_ERR_SOCKETS, 6},     {TELVOR_ERR_CONTROL_SOCKET, 6},
      {TELVOR_ERR_LOG, 6},         {TELVOR_ERR_LOGIN, 4},       {TELVOR_ERR_NOT_POSTSCRIPT, 3},
      {TELVOR_ERR_FILE_OPEN, 3},   {TELVOR_ERR_FILE_READ, 3},   {TELVOR_ERR_DATA_CONNECT, 3},
      {TELVOR_ERR_UPLOAD, 3},      {TELVOR_ERR_SERVER_FILE, 3}, {TELVOR_ERR_TIMEOUT, 3},
      {TELVOR_ERR_JOB_REFUSED, 3}, {TELVOR_ERR_ARGUMENT, 3},    {0, 3},
  };
  for (const auto& [result, code] : by_result) {
    outcome.news.send_fax_result = result;
    EXPECT_EQ(VerdictOf(outcome, "", "12", advice).exit_code, code) << result;
  }
  outcome.news.send_fax_result = TELVOR_ERR_TIMEOUT;
  EXPECT_EQ(VerdictOf(outcome, user.last_message(), "12", advice).line,
            "ERROR: TelvMon: SendFax error -13 - fax not sent, job held; send it again with: "
            "lp -i 12 -H resume");
  outcome.news.send_fax_result = TELVOR_ERR_LOGIN;
  EXPECT_NE(VerdictOf(outcome, "", "12", advice)
                .line.find("as root, run: telvor-spool --cups-setup --registry /srv/fax.reg, "
                           "then: cupsenable Fax"),
            std::string::npos);
  outcome.news.send_fax_result = TELVOR_ERR_NOT_POSTSCRIPT;
  EXPECT_NE(VerdictOf(outcome, "", "12", advice).line.find("cancel 12"), std::string::npos);

  // Part of a document is never a completed job.
  outcome.job = JobResult::kNotWritten;
  EXPECT_EQ(VerdictOf(outcome, "", "12", advice).exit_code, 1);
  outcome.job = JobResult::kPortNotOpened;
  EXPECT_EQ(VerdictOf(outcome, "", "12", advice).exit_code, 4);
  outcome.monitor_ready = false;
  outcome.job = JobResult::kHandedOver;
  EXPECT_EQ(VerdictOf(outcome, "", "12", advice).exit_code, 4);
  EXPECT_EQ(SetupAdvice("/etc/telvor/TelvorMon.reg", "Q"),
            "as root, run: telvor-spool --cups-setup, then: cupsenable Q");
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
