// The POSIX platform layer: unshared files, temporary names, TEMP, messages,
// the narrow code page and the host table the forms go through.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform.h"
#include "quor/host.h"
#include "telvor_common/text.h"

namespace quor {
namespace {

class PosixPlatformTest : public ::testing::Test {
 protected:
  PosixPlatformTest() {
    char pattern[] = "/tmp/quor-test-XXXXXX";
    directory_ = mkdtemp(pattern);
  }
  ~PosixPlatformTest() override {
    RegisterHost(nullptr);
    std::filesystem::remove_all(directory_);
  }

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

// A host that answers every form with what the test set, leaving no
// terminator in the fields it fills whole.
struct TestHost {
  DWORD answer = QUOR_FORM_OK;
  DWORD error = 0;
  std::u16string initial_attempts;
  std::vector<std::string> messages;
  DWORD last_error = 0;

  static TestHost& Of(void* context) { return *static_cast<TestHost*>(context); }
  template <std::size_t N>
  static void Fill(WCHAR (&field)[N], char16_t unit) {
    for (WCHAR& each : field) each = unit;
  }
  static DWORD WINAPI AskSetup(void* context, QUOR_SETUP_FORM* form, LPDWORD error) {
    TestHost& host = Of(context);
    host.initial_attempts = form->Attempts;
    Fill(form->ServerIp, u's');
    Fill(form->Password, u'p');
    form->Attempts[0] = u'7';
    *error = host.error;
    return host.answer;
  }
  static DWORD WINAPI AskFaxNumber(void* context, QUOR_FAX_NUMBER_FORM* form, LPDWORD error) {
    TestHost& host = Of(context);
    host.initial_attempts = form->Attempts;
    Fill(form->FaxNumber, u'5');
    *error = host.error;
    return host.answer;
  }
  static void WINAPI Show(void* context, LPCWSTR text, LPCWSTR caption) {
    Of(context).messages.push_back(telvor::ToUtf8(caption) + "|" + telvor::ToUtf8(text));
  }
  static void WINAPI SetError(void* context, DWORD code) { Of(context).last_error = code; }
  static DWORD WINAPI GetError(void* context) { return Of(context).last_error; }

  QUOR_HOST Table() {
    QUOR_HOST table{};
    table.cbSize = sizeof table;
    table.pContext = this;
    table.pfnAskSetup = AskSetup;
    table.pfnAskFaxNumber = AskFaxNumber;
    table.pfnShowMessage = Show;
    table.pfnSetLastError = SetError;
    table.pfnGetLastError = GetError;
    return table;
  }
};

TEST_F(PosixPlatformTest, TheFormsMessagesAndLastErrorGoThroughTheHostTable) {
  // No host: the forms fail, and messages go to standard error.
  SetupFields setup{};
  setup.attempts[0] = u'1';
  EXPECT_EQ(platform.AskSettings(setup), DialogResult::kFailed);
  EXPECT_EQ(platform.LastError(), 50u);

  TestHost host;
  QUOR_HOST table = host.Table();
  table.cbSize -= 1;
  EXPECT_FALSE(RegisterHost(&table));
  EXPECT_EQ(platform.LastError(), 87u);
  table.cbSize += 1;
  ASSERT_TRUE(RegisterHost(&table));

  EXPECT_EQ(platform.AskSettings(setup), DialogResult::kOk);
  EXPECT_EQ(host.initial_attempts, u"1");
  // Each field is ended inside its own width, whatever the host left there.
  EXPECT_EQ(std::u16string(setup.server_ip), std::u16string(127, u's'));
  EXPECT_EQ(std::u16string(setup.password), std::u16string(127, u'p'));
  EXPECT_EQ(std::u16string(setup.user), u"");
  EXPECT_EQ(std::u16string(setup.attempts), u"7");

  FaxNumberFields call{};
  call.attempts[0] = u'3';
  EXPECT_EQ(platform.AskFaxNumber(call), DialogResult::kOk);
  EXPECT_EQ(host.initial_attempts, u"3");
  EXPECT_EQ(std::u16string(call.fax_number), std::u16string(QUOR_FAX_NUMBER_UNITS - 1, u'5'));

  host.answer = QUOR_FORM_CANCEL;
  FaxNumberFields untouched{};
  EXPECT_EQ(platform.AskFaxNumber(untouched), DialogResult::kCancel);
  EXPECT_EQ(untouched.fax_number[0], 0);
  host.answer = QUOR_FORM_FAILED;
  host.error = 1460;
  EXPECT_EQ(platform.AskFaxNumber(untouched), DialogResult::kFailed);
  EXPECT_EQ(host.last_error, 1460u);  // the host keeps the last error
  host.answer = 99;                   // no answer a host may give
  EXPECT_EQ(platform.AskFaxNumber(untouched), DialogResult::kFailed);

  platform.ShowMessage(u"SendFax error -40\n", u"TelvMon", Owner::kNone);
  EXPECT_EQ(host.messages, std::vector<std::string>{"TelvMon|SendFax error -40\n"});
  // Printer calls the host left out fail as a missing export does.
  Handle printer = nullptr;
  EXPECT_FALSE(platform.OpenJobPrinter(u"Telvor Printer", &printer));
  EXPECT_EQ(platform.LastError(), 127u);
}

}  // namespace
}  // namespace quor
