// The POSIX platform layer: unshared files, temporary names, TEMP, messages,
// the narrow code page and the terminal forms' prepared answers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "forms.h"
#include "platform.h"
#include "quor/prepared_answers.h"
#include "telvor_common/text.h"

namespace quor {
namespace {

class PosixPlatformTest : public ::testing::Test {
 protected:
  PosixPlatformTest() {
    char pattern[] = "/tmp/quor-test-XXXXXX";
    directory_ = mkdtemp(pattern);
    unsetenv(kSetupAnswerVariable);
    unsetenv(kFaxNumberAnswerVariable);
  }
  ~PosixPlatformTest() override { std::filesystem::remove_all(directory_); }

  std::u16string Directory() const { return telvor::FromUtf8(directory_ + "/"); }

  Platform& platform = SystemPlatform();
  std::string directory_;
};

TEST_F(PosixPlatformTest, ASecondOpenFailsWithASharingViolationAndLinksAreNotFollowed) {
  const std::u16string path = Directory() + u"fax777.tmp";
  const Handle first = platform.OpenExclusiveFile(path.c_str());
  ASSERT_NE(first, nullptr);
  std::uint32_t written = 0;
  ASSERT_TRUE(platform.AppendToFile(first, "data", 4, &written));
  EXPECT_EQ(written, 4u);

  EXPECT_EQ(platform.OpenExclusiveFile(path.c_str()), nullptr);
  EXPECT_EQ(platform.LastError(), 32u);
  EXPECT_EQ(std::filesystem::file_size(directory_ + "/fax777.tmp"), 4u);

  ASSERT_TRUE(platform.CloseFile(first));
  EXPECT_FALSE(platform.CloseFile(first));
  const Handle again = platform.OpenExclusiveFile(path.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(std::filesystem::file_size(directory_ + "/fax777.tmp"), 0u);  // emptied
  EXPECT_TRUE(platform.CloseFile(again));
  EXPECT_EQ(platform.OpenExclusiveFile((Directory() + u"no/such.tmp").c_str()), nullptr);
  EXPECT_EQ(platform.LastError(), 2u);

  // A link planted under the fixed name is refused, and its target kept.
  std::filesystem::remove(directory_ + "/fax777.tmp");
  std::ofstream(directory_ + "/target") << "keep";
  std::filesystem::create_symlink(directory_ + "/target", directory_ + "/fax777.tmp");
  EXPECT_EQ(platform.OpenExclusiveFile(path.c_str()), nullptr);
  EXPECT_EQ(std::filesystem::file_size(directory_ + "/target"), 4u);
}

TEST_F(PosixPlatformTest, TempNamesFormThePlaceholderAndCreateFreshSpoolFiles) {
  char16_t path[kPathUnits] = {};
  const std::u16string directory = Directory();
  EXPECT_EQ(platform.FormTempName(directory.c_str(), u"fax", 0x777, path), 0x777u);
  EXPECT_EQ(std::u16string(path), directory + u"fax777.tmp");
  EXPECT_FALSE(std::filesystem::exists(directory_ + "/fax777.tmp"));

  char16_t second[kPathUnits] = {};
  const std::uint32_t number = platform.CreateFreshTempFile(directory.c_str(), u"fax", path);
  EXPECT_NE(number, 0u);
  EXPECT_NE(platform.CreateFreshTempFile(directory.c_str(), u"fax", second), 0u);
  EXPECT_NE(std::u16string(path), std::u16string(second));
  for (const char16_t* name : {path, second}) {
    const std::filesystem::path file(telvor::ToUtf8(name));
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(file.parent_path().string(), directory_);
    EXPECT_EQ(file.filename().string().substr(0, 3), "fax");
    EXPECT_EQ(file.extension().string(), ".tmp");
  }
  EXPECT_EQ(platform.CreateFreshTempFile(u"/no/such/dir/", u"fax", path), 0u);

  // Jobs in a row get distinct names, also once the earlier file is gone.
  std::filesystem::remove(telvor::ToUtf8(second));
  char16_t third[kPathUnits] = {};
  EXPECT_NE(platform.CreateFreshTempFile(directory.c_str(), u"fax", third), 0u);
  EXPECT_NE(std::u16string(third), std::u16string(second));

  // A directory whose names do not fit the path buffer gets no file at all.
  const std::string deep = directory_ + "/" + std::string(kPathUnits - directory_.size(), 'd');
  ASSERT_TRUE(std::filesystem::create_directory(deep));
  EXPECT_EQ(platform.CreateFreshTempFile(telvor::FromUtf8(deep + "/").c_str(), u"fax", path), 0u);
  EXPECT_EQ(platform.LastError(), 206u);
  EXPECT_TRUE(std::filesystem::is_empty(deep));
}

TEST_F(PosixPlatformTest, TempComesFromTheEnvironment) {
  char16_t buffer[16] = {};
  unsetenv("TEMP");
  EXPECT_EQ(platform.ReadEnvironment(u"TEMP", buffer, 16), 0u);
  EXPECT_EQ(platform.LastError(), 203u);
  setenv("TEMP", "/var/tmp", 1);
  EXPECT_EQ(platform.ReadEnvironment(u"TEMP", buffer, 16), 8u);
  EXPECT_EQ(std::u16string(buffer), u"/var/tmp");
  setenv("TEMP", "/a/rather/long/directory", 1);
  EXPECT_GE(platform.ReadEnvironment(u"TEMP", buffer, 16), 16u);
  unsetenv("TEMP");
}

TEST_F(PosixPlatformTest, MessagesGoToStandardErrorAsCaptionAndText) {
  ::testing::internal::CaptureStderr();
  platform.ShowMessage(u"SendFax error -40\n", u"TelvMon", Owner::kNone);
  platform.ShowMessage(u"Error read registry", u"TelvMon", Owner::kTopWindow);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "TelvMon: SendFax error -40\nTelvMon: Error read registry\n");
}

TEST_F(PosixPlatformTest, TheNarrowFormIsUtf8AndNeverCut) {
  char out[8];
  EXPECT_TRUE(platform.ToAnsi(u"caf\u00e9", out, 6));
  EXPECT_EQ(std::string(out), "caf\xc3\xa9");
  EXPECT_FALSE(platform.ToAnsi(u"caf\u00e9", out, 5));
  EXPECT_EQ(platform.LastError(), 122u);
}

TEST_F(PosixPlatformTest, PreparedAnswersGoThroughTheControlsFilters) {
  SetupFields setup{};
  setup.attempts[0] = u'1';
  const std::string long_text(130, 'u');
  setenv(kSetupAnswerVariable,
         ("1000=127.0.0.2\n1002=" + long_text + "\n1003=s3cret\r\n1009=42\nnoise\n7=x").c_str(), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(platform.AskSettings(setup), DialogResult::kOk);
  const std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::u16string(setup.server_ip), u"127.0.0.2");
  EXPECT_EQ(std::u16string(setup.user), std::u16string(127, u'u'));
  EXPECT_EQ(std::u16string(setup.password), u"s3cret");
  EXPECT_EQ(std::u16string(setup.mail), u"");
  EXPECT_EQ(std::u16string(setup.attempts), u"4");
  EXPECT_NE(shown.find("Telvor Printer Setup\n"), std::string::npos);
  EXPECT_NE(shown.find("  Password: ******\n"), std::string::npos);
  EXPECT_EQ(shown.find("s3cret"), std::string::npos);
  EXPECT_NE(shown.find("  [OK]\n"), std::string::npos);

  FaxNumberFields call{};
  call.attempts[0] = u'3';
  setenv(kFaxNumberAnswerVariable, "1000=+49 (555) 123-4567-8901234\n1003=hello", 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(platform.AskFaxNumber(call), DialogResult::kOk);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("  Enter Phone Number: 49555123456789\n"),
            std::string::npos);
  EXPECT_EQ(std::u16string(call.fax_number), u"49555123456789");
  EXPECT_EQ(std::u16string(call.attempts), u"3");  // not named: kept
  EXPECT_EQ(std::u16string(call.info), u"hello");

  setenv(kFaxNumberAnswerVariable, "cancel", 1);
  FaxNumberFields cancelled{};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(platform.AskFaxNumber(cancelled), DialogResult::kCancel);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Telvor Printer\n  [cancel]\n");
  unsetenv(kSetupAnswerVariable);
  unsetenv(kFaxNumberAnswerVariable);
}

TEST(FormFilterTest, KeepsWhatTheControlWouldTake) {
  const FormField& note = kFaxNumberForm.fields[FieldIndex(kFaxNumberForm, 1003)];
  EXPECT_EQ(FilterInput(note, u"a\tb c"), u"ab c");
  // A character outside the 16-bit range is not split at the limit.
  const std::u16string text = std::u16string(126, u'a') + u"\U0001F600";
  EXPECT_EQ(FilterInput(note, text), std::u16string(126, u'a'));
}

}  // namespace
}  // namespace quor
