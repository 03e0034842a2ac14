// A print job through the port: opening, capture, the fax-number dialog,
// sendfax, and what is left behind.
#include "job.h"

#include <string>
#include <vector>

#include "fakes.h"
#include "settings.h"
#include "telvor_common/text.h"

namespace quor::testing {
namespace {

constexpr DWORD kJobId = 17;
constexpr char16_t kPlaceholder[] = u"/tmp/spool/fax777.tmp";
constexpr char16_t kFirstSpoolFile[] = u"/tmp/spool/fax1A2B.tmp";

class JobTest : public MonitorTest {
 protected:
  JobTest() {
    registry.values = {
        {u"Driver", u"quor.dll"}, {u"HylaFAXServerIp", u"10.0.0.9"},    {u"User", u"fax"},
        {u"Password", u"pw"},     {u"MailAddress", u"fax@example.com"}, {u"Attempts", u"2"}};
    Answer(u"5551234", u"3", u"note");
  }

  void Answer(const char16_t* number, const char16_t* attempts, const char16_t* info) {
    platform.fax_number_result = DialogResult::kOk;
    telvor::CopyText(platform.fax_number_answer.fax_number, kFaxNumberUnits, number);
    telvor::CopyText(platform.fax_number_answer.attempts, kAttemptsUnits, attempts);
    telvor::CopyText(platform.fax_number_answer.info, kTextUnits, info);
  }

  BOOL Open(HANDLE* port) { return OpenPort(&registry.init, nullptr, port); }
  HANDLE OpenOrFail() {
    HANDLE port = nullptr;
    EXPECT_TRUE(Open(&port));
    return port;
  }
  BOOL Start(HANDLE port) {
    char16_t printer[] = u"Telvor Printer";
    return StartDocPort(port, reinterpret_cast<LPWSTR>(printer), kJobId, 1, nullptr);
  }
  void Write(HANDLE port, const std::string& data) {
    DWORD written = 0;
    std::string copy = data;
    EXPECT_TRUE(WritePort(port, reinterpret_cast<LPBYTE>(copy.data()),
                          static_cast<DWORD>(copy.size()), &written));
    EXPECT_EQ(written, copy.size());
  }
  bool Exists(const std::u16string& path) const { return platform.files.count(path) != 0; }
  std::size_t Position(const std::string& call) const {
    for (std::size_t i = 0; i < platform.calls.size(); ++i) {
      if (platform.calls[i] == call) return i;
    }
    return platform.calls.size();
  }
  // Marked sent and its printer closed, before any message box blocks.
  void ExpectJobEnded() {
    EXPECT_EQ(platform.job_commands, (std::vector<std::uint32_t>{kJobId, 6}));
    EXPECT_EQ(platform.open_printers, 0);
    std::size_t last_close = 0;
    std::size_t last_message = platform.calls.size();
    for (std::size_t i = 0; i < platform.calls.size(); ++i) {
      if (platform.calls[i] == "close printer") last_close = i;
      if (platform.calls[i].rfind("message ", 0) == 0) last_message = i;
    }
    EXPECT_GT(last_message, last_close);
  }
};

TEST_F(JobTest, AJobIsCapturedSentAndCleanedUp) {
  const HANDLE port = OpenOrFail();
  EXPECT_TRUE(platform.IsOpen(kPlaceholder));
  ASSERT_TRUE(Start(port));
  EXPECT_LT(Position("open printer Telvor Printer"), platform.calls.size());
  Write(port, "%!PS-Adobe-3.0\n");
  Write(port, "showpage\n");
  EXPECT_EQ(platform.fax_number_initial_attempts, u"");
  EXPECT_TRUE(EndDocPort(port));

  EXPECT_EQ(platform.fax_number_initial_attempts, u"2");
  ASSERT_EQ(g_sendfax_calls.size(), 1u);
  const SendFaxCall& call = g_sendfax_calls[0];
  EXPECT_EQ(call.server_ip, "10.0.0.9");
  EXPECT_EQ(call.user, "fax");
  EXPECT_EQ(call.password, "pw");
  EXPECT_EQ(call.fax_number, "5551234");
  EXPECT_EQ(call.mail, "fax@example.com");
  EXPECT_EQ(call.info, "note");
  EXPECT_EQ(call.filename, "/tmp/spool/fax1A2B.tmp");
  EXPECT_EQ(call.maxdials, 3);
  EXPECT_EQ(call.content, "%!PS-Adobe-3.0\nshowpage\n");
  EXPECT_FALSE(call.file_open);
  // The spool file is cut and closed before the dialog.
  EXPECT_LT(Position("close /tmp/spool/fax1A2B.tmp"), Position("fax number dialog"));
  EXPECT_FALSE(Exists(kFirstSpoolFile));
  ExpectJobEnded();
  EXPECT_TRUE(platform.messages.empty());

  EXPECT_TRUE(ClosePort(port));
  EXPECT_FALSE(platform.IsOpen(kPlaceholder));
  EXPECT_TRUE(Exists(kPlaceholder));
  EXPECT_EQ(platform.library_references, 0);

  // Closing it again fails and releases nothing more.
  const HANDLE again = OpenOrFail();
  EXPECT_FALSE(ClosePort(port));
  EXPECT_EQ(platform.library_references, 1);
  EXPECT_TRUE(ClosePort(again));
}

TEST_F(JobTest, TwoJobsGetTwoSpoolFilesAndShareThePlaceholder) {
  HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(EndDocPort(port));  // a job of no bytes: an empty file is sent
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(EndDocPort(port));
  EXPECT_TRUE(ClosePort(port));
  port = OpenOrFail();
  EXPECT_TRUE(ClosePort(port));

  ASSERT_EQ(g_sendfax_calls.size(), 2u);
  EXPECT_EQ(g_sendfax_calls[0].content, "");
  EXPECT_NE(g_sendfax_calls[0].filename, g_sendfax_calls[1].filename);
  int placeholder_creates = 0;
  for (const auto& call : platform.calls) {
    placeholder_creates += call == "create /tmp/spool/fax777.tmp";
  }
  EXPECT_EQ(placeholder_creates, 2);
}

TEST_F(JobTest, AMissingTempStopsOpeningAndStarting) {
  platform.temp.reset();
  HANDLE port = nullptr;
  EXPECT_FALSE(Open(&port));
  EXPECT_EQ(platform.library_references, 0);
  EXPECT_FALSE(Start(port));
  EXPECT_EQ(platform.MessageTexts(),
            (std::vector<std::u16string>{u"GetEnvironmentVariable error 203\n",
                                         u"GetEnvironmentVariable error 203\n"}));
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
  EXPECT_EQ(platform.messages[0].owner, Owner::kNone);
  EXPECT_EQ(g_job.job_id, kJobId);
  EXPECT_EQ(platform.open_printers, 0);
}

TEST_F(JobTest, ATempEndingInASeparatorGivesADoubledSeparator) {
  platform.temp = u"/tmp/spool/";
  const HANDLE port = OpenOrFail();
  EXPECT_TRUE(platform.IsOpen(u"/tmp/spool//fax777.tmp"));
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(EndDocPort(port));
  EXPECT_EQ(g_sendfax_calls.at(0).filename, "/tmp/spool//fax1A2B.tmp");
}

TEST_F(JobTest, AFailedSendIsShownAndKeepsTheSpoolFile) {
  g_sendfax_result = -40;
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  Write(port, "%!PS\n");
  EXPECT_FALSE(EndDocPort(port));
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, u"SendFax error -40\n");
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
  EXPECT_EQ(platform.messages[0].owner, Owner::kNone);
  EXPECT_TRUE(Exists(kFirstSpoolFile));
  EXPECT_EQ(platform.files[kFirstSpoolFile].content, "%!PS\n");
  ExpectJobEnded();
}

TEST_F(JobTest, AWriteToAFullDiskReportsTheCountButNoFailure) {
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  platform.disk_space = 1000;
  std::string page(4096, 'x');
  DWORD written = 4096;
  EXPECT_TRUE(WritePort(port, reinterpret_cast<LPBYTE>(page.data()), 4096, &written));
  EXPECT_EQ(written, 1000u);
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(JobTest, ASecondOpeningFailsWithASharingViolation) {
  const HANDLE first = OpenOrFail();
  HANDLE second = nullptr;
  EXPECT_FALSE(Open(&second));
  EXPECT_EQ(platform.MessageTexts(), std::vector<std::u16string>{u"CreateFile error 32\n"});
  EXPECT_EQ(platform.library_references, 1);
  // The first port still works and releases its library.
  ASSERT_TRUE(Start(first));
  EXPECT_TRUE(EndDocPort(first));
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_TRUE(ClosePort(first));
  EXPECT_EQ(platform.library_references, 0);
}

TEST_F(JobTest, CancellingTheFaxNumberMeansNoFax) {
  // An earlier job's number must not receive this document.
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(EndDocPort(port));
  platform.job_commands.clear();
  platform.fax_number_result = DialogResult::kCancel;
  ASSERT_TRUE(Start(port));
  Write(port, "%!PS\n");
  EXPECT_TRUE(EndDocPort(port));
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_FALSE(Exists(u"/tmp/spool/fax1A2C.tmp"));
  ExpectJobEnded();
  EXPECT_TRUE(platform.messages.empty());

  // A dialog that cannot be shown is no decision: the document is kept.
  platform.fax_number_result = DialogResult::kFailed;
  platform.job_commands.clear();
  ASSERT_TRUE(Start(port));
  EXPECT_FALSE(EndDocPort(port));
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_EQ(platform.MessageTexts(), std::vector<std::u16string>{u"DialogBoxParam error 1813\n"});
  EXPECT_TRUE(Exists(u"/tmp/spool/fax1A2D.tmp"));
  ExpectJobEnded();
}

TEST_F(JobTest, AttemptsFromTheDialogLastUntilTheNextOpening) {
  Answer(u"1", u"", u"");
  HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(EndDocPort(port));
  EXPECT_EQ(g_sendfax_calls.at(0).maxdials, 0);  // an empty field
  Answer(u"1", u"5", u"");
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(EndDocPort(port));
  ASSERT_TRUE(Start(port));
  EXPECT_EQ(platform.fax_number_initial_attempts, u"");
  EXPECT_TRUE(EndDocPort(port));
  EXPECT_EQ(platform.fax_number_initial_attempts, u"5");
  EXPECT_TRUE(ClosePort(port));
  port = OpenOrFail();
  EXPECT_EQ(std::u16string(g_settings.wide.attempts), u"2");
}

TEST_F(JobTest, TextsThatDoNotConvertEndTheJobWithoutSending) {
  platform.conversion_fails_for = u"5551234";
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_FALSE(EndDocPort(port));
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.MessageTexts(),
            std::vector<std::u16string>{u"WideCharToMultiByte error 1113\n"});
  EXPECT_TRUE(Exists(kFirstSpoolFile));
  ExpectJobEnded();

  // A stored setting that did not convert stops the send the same way.
  platform.conversion_fails_for = u"pw";
  EXPECT_TRUE(ClosePort(port));
  const HANDLE again = OpenOrFail();
  platform.conversion_fails_for.reset();
  ASSERT_TRUE(Start(again));
  EXPECT_FALSE(EndDocPort(again));
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.messages.back().text, u"WideCharToMultiByte error 1113\n");
}

TEST_F(JobTest, LongTextsReachSendfaxWhole) {
  // A spool path near the path limit and a note of 127 characters, both
  // taking more than one byte per character in the narrow form.
  const std::u16string directory = u"/" + std::u16string(240, u'\u00e9');
  platform.temp = directory;
  const std::u16string note(127, u'\u20ac');
  Answer(u"12345678901234", u"1", note.c_str());
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(EndDocPort(port));
  ASSERT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_EQ(g_sendfax_calls[0].filename, telvor::ToUtf8(directory) + "/fax1A2B.tmp");
  EXPECT_EQ(g_sendfax_calls[0].info, telvor::ToUtf8(note));
  EXPECT_EQ(g_sendfax_calls[0].fax_number, "12345678901234");
}

TEST_F(JobTest, AFailedOpeningReportsTheCallAndReleasesTheLibrary) {
  HANDLE port = nullptr;
  platform.load_fails = true;
  EXPECT_FALSE(Open(&port));
  platform.load_fails = false;
  platform.resolve_fails = true;
  EXPECT_FALSE(Open(&port));
  platform.resolve_fails = false;
  platform.create_fails = 5;
  EXPECT_FALSE(Open(&port));
  EXPECT_EQ(platform.MessageTexts(),
            (std::vector<std::u16string>{u"LoadLibrary error 126\n", u"GetProcAddress error 127\n",
                                         u"CreateFile error 5\n"}));
  EXPECT_EQ(platform.library_references, 0);
  EXPECT_EQ(port, nullptr);
  EXPECT_EQ(g_fax_library.entry, nullptr);
}

TEST_F(JobTest, AJobThatCannotStartLeavesNothingOpen) {
  const HANDLE port = OpenOrFail();
  platform.open_printer_fails = true;
  EXPECT_FALSE(Start(port));
  EXPECT_EQ(platform.MessageTexts(), std::vector<std::u16string>{u"OpenPrinter error 1801\n"});
  EXPECT_FALSE(Exists(kFirstSpoolFile));

  platform.open_printer_fails = false;
  platform.create_fails = 112;
  EXPECT_FALSE(Start(port));
  EXPECT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.open_printers, 0);
  EXPECT_FALSE(Exists(u"/tmp/spool/fax1A2C.tmp"));
  // Nothing to end: the spooler gets FALSE and no fax goes out.
  EXPECT_FALSE(EndDocPort(port));
  EXPECT_TRUE(g_sendfax_calls.empty());
}

TEST_F(JobTest, EndingWithoutAStartedJobOrABoundLibraryDoesNotSend) {
  EXPECT_FALSE(EndDocPort(nullptr));
  EXPECT_EQ(platform.last_error, 6u);
  EXPECT_TRUE(platform.calls.empty());

  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  Write(port, "%!PS\n");
  ASSERT_TRUE(ClosePort(port));
  EXPECT_FALSE(EndDocPort(port));
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(Position("fax number dialog"), platform.calls.size());
  EXPECT_EQ(platform.files[kFirstSpoolFile].content, "%!PS\n");
  ExpectJobEnded();
}

}  // namespace
}  // namespace quor::testing
