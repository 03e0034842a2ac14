#include "options.h"

#include <gtest/gtest.h>

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
  EXPECT_FALSE(SetupAnswer(options));
  EXPECT_FALSE(FaxNumberAnswer(options));

  ASSERT_TRUE(ParseOptions({"-"}, &options, &error));
  EXPECT_EQ(options.input, "-");
}

TEST(OptionsTest, AnswersBecomeFormLines) {
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
  EXPECT_EQ(*SetupAnswer(options),
            "1000=127.0.2.1\n1002=alice\n1003=se=cret\n1004=alice@example.com\n1009=3");
  EXPECT_EQ(*FaxNumberAnswer(options), "1000=5551234\n1002=2\n1003=Quarterly report");
  EXPECT_EQ(options.registry, "key.reg");
  EXPECT_EQ(options.job_id, 42u);
  EXPECT_EQ(options.input, "letter.ps");

  // Only what is given is answered; the other fields keep their start text.
  Options number_only;
  ASSERT_TRUE(ParseOptions({"--fax-number", "5550000"}, &number_only, &error));
  EXPECT_EQ(*FaxNumberAnswer(number_only), "1000=5550000");
  EXPECT_FALSE(SetupAnswer(number_only));

  Options cancelled;
  ASSERT_TRUE(ParseOptions({"--cancel-setup", "--cancel-fax"}, &cancelled, &error));
  EXPECT_EQ(*SetupAnswer(cancelled), "cancel");
  EXPECT_EQ(*FaxNumberAnswer(cancelled), "cancel");
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
