// A print job through the port: opening, capture, the fax-number dialog,
// sendfax, and what is left behind.
#include <cstdio>
#include <string>
#include <vector>

#include "fakes.h"
#include "telvor_common/text.h"

namespace quor::testing {
namespace {

using Texts = std::vector<std::u16string>;

constexpr char16_t kPlaceholder[] = u"/tmp/spool/fax777.tmp";
constexpr char16_t kFirstSpoolFile[] = u"/tmp/spool/fax1A2B.tmp";
constexpr char16_t kSecondSpoolFile[] = u"/tmp/spool/fax1A2C.tmp";

// The spool file with the temporary-name rule's `number`.
std::u16string TempPath(std::uint32_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "/tmp/spool/fax%X.tmp", number);
  return telvor::FromUtf8(name);
}

class JobTest : public MonitorTest {
 protected:
  JobTest() {
    registry.values = {
        {u"Driver", u"quor.dll"}, {u"HylaFAXServerIp", u"10.0.0.9"},    {u"User", u"fax"},
        {u"Password", u"pw"},     {u"MailAddress", u"fax@example.com"}, {u"Attempts", u"2"}};
  }

  // Marked sent and its printer closed, before any message box blocks.
  void ExpectJobEnded() {
    EXPECT_EQ(platform.jobs_sent, std::vector<std::uint32_t>{kJobId});
    EXPECT_EQ(platform.open_printers, 0);
    for (const Message& message : platform.messages) EXPECT_EQ(message.printers_open, 0);
  }
};

TEST_F(JobTest, AJobIsCapturedSentAndCleanedUp) {
  platform.server_job = 41;
  HANDLE port = SentinelHandle();
  ASSERT_TRUE(Open(&port));
  EXPECT_TRUE(platform.IsOpen(kPlaceholder));
  ASSERT_TRUE(Start(port));
  EXPECT_EQ(platform.printer_names, Texts{u"Telvor Printer"});
  EXPECT_EQ(Write(port, "%!PS-Adobe-3.0\n"), 15u);
  EXPECT_EQ(Write(port, "showpage\n"), 9u);
  EXPECT_TRUE(End(port));

  EXPECT_EQ(platform.fax_number_initial_attempts, u"2");
  // The spool file is cut and closed before the dialog; the placeholder
  // stays open.
  EXPECT_EQ(platform.files_open_at_fax_number, 1);
  ASSERT_EQ(g_sendfax_calls.size(), 1u);
  const SendFaxCall& call = g_sendfax_calls[0];
  EXPECT_EQ(call.server_ip, "10.0.0.9");
  EXPECT_EQ(call.user, "fax");
  EXPECT_EQ(call.password, "pw");
  EXPECT_EQ(call.fax_number, "5551234");
  EXPECT_EQ(call.mail, "fax@example.com");
  EXPECT_EQ(call.info, "note");
  EXPECT_EQ(call.filename, "/tmp/spool/fax1A2B.tmp");
  EXPECT_EQ(call.log_folder, "/tmp/spool/");
  EXPECT_EQ(call.maxdials, 3);
  EXPECT_EQ(call.content, "%!PS-Adobe-3.0\nshowpage\n");
  EXPECT_FALSE(call.file_open);
  EXPECT_FALSE(platform.Exists(kFirstSpoolFile));
  ExpectJobEnded();
  EXPECT_TRUE(platform.messages.empty());
  // The host hears of the start and of the server's job number.
  ASSERT_EQ(platform.reports.size(), 2u);
  EXPECT_EQ(platform.reports[0].state, JobState::kStarted);
  EXPECT_EQ(platform.reports[0].job_id, kJobId);
  EXPECT_EQ(platform.reports[0].spool_file, kFirstSpoolFile);
  EXPECT_EQ(platform.reports[1].state, JobState::kSent);
  EXPECT_EQ(platform.reports[1].server_job, 41u);

  EXPECT_TRUE(Close(port));
  EXPECT_FALSE(platform.IsOpen(kPlaceholder));
  EXPECT_TRUE(platform.Exists(kPlaceholder));
  EXPECT_EQ(platform.library_references, 0);

  // Closing it again fails and releases nothing more.
  const HANDLE again = OpenOrFail();
  EXPECT_FALSE(Close(port));
  EXPECT_EQ(platform.library_references, 1);
  EXPECT_TRUE(Close(again));
}

TEST_F(JobTest, TwoJobsGetTwoSpoolFilesAndShareThePlaceholder) {
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));  // a job of no bytes: an empty file is sent
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  EXPECT_TRUE(Close(port));
  EXPECT_TRUE(Close(OpenOrFail()));

  ASSERT_EQ(g_sendfax_calls.size(), 2u);
  EXPECT_EQ(g_sendfax_calls[0].content, "");
  EXPECT_NE(g_sendfax_calls[0].filename, g_sendfax_calls[1].filename);
  EXPECT_EQ(platform.files.size(), 1u);
  EXPECT_TRUE(platform.Exists(kPlaceholder));
}

TEST_F(JobTest, AMissingTempStopsOpeningAndStarting) {
  platform.temp.reset();
  HANDLE port = SentinelHandle();
  EXPECT_FALSE(Open(&port));
  EXPECT_EQ(port, SentinelHandle());
  EXPECT_EQ(platform.library_references, 0);
  EXPECT_FALSE(Start(port));
  EXPECT_EQ(platform.MessageTexts(),
            (Texts{u"GetEnvironmentVariable error 203\n", u"GetEnvironmentVariable error 203\n"}));
  EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
  EXPECT_EQ(platform.messages[0].owner, Owner::kNone);
  EXPECT_EQ(platform.open_printers, 0);

  // A TEMP that leaves no room for a file name is refused the same way.
  platform.temp = u"/" + std::u16string(kPathUnits, u't');
  EXPECT_FALSE(Open(&port));
  EXPECT_EQ(platform.messages.back().text, u"GetEnvironmentVariable error 122\n");
}

TEST_F(JobTest, ATempEndingInASeparatorGivesADoubledSeparator) {
  platform.temp = u"/tmp/spool/";
  const HANDLE port = OpenOrFail();
  EXPECT_TRUE(platform.IsOpen(u"/tmp/spool//fax777.tmp"));
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  EXPECT_EQ(g_sendfax_calls.at(0).filename, "/tmp/spool//fax1A2B.tmp");
}

// Every failure sendfax can give, not only one of them, keeps the document
// and is told to the person and to the host.
TEST_F(JobTest, EveryFailedSendIsShownAndKeepsTheSpoolFile) {
  const HANDLE port = OpenOrFail();
  std::uint32_t number = 0x1A2B;
  for (const std::int32_t code :
       {TELVOR_ERR_LOG, TELVOR_ERR_ARGUMENT, TELVOR_ERR_SOCKETS, TELVOR_ERR_CONTROL_SOCKET,
        TELVOR_ERR_CONNECT, TELVOR_ERR_LOGIN, TELVOR_ERR_DATA_SOCKET, TELVOR_ERR_DATA_CONNECT,
        TELVOR_ERR_UPLOAD, TELVOR_ERR_FILE_OPEN, TELVOR_ERR_NOT_POSTSCRIPT, TELVOR_ERR_SERVER_FILE,
        TELVOR_ERR_FILE_READ, TELVOR_ERR_TIMEOUT, TELVOR_ERR_JOB_REFUSED, 1, -1}) {
    SCOPED_TRACE(code);
    g_sendfax_result = code;
    platform.messages.clear();
    platform.reports.clear();
    platform.jobs_sent.clear();
    ASSERT_TRUE(Start(port));
    Write(port, "%!PS\n");
    EXPECT_FALSE(End(port));
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text,
              u"SendFax error " + telvor::FromUtf8(std::to_string(code)) + u"\n");
    EXPECT_EQ(platform.messages[0].caption, u"TelvMon");
    EXPECT_EQ(platform.messages[0].owner, Owner::kNone);
    const std::u16string spool = TempPath(number++);
    EXPECT_EQ(platform.files[spool].content, "%!PS\n");
    ASSERT_EQ(platform.reports.size(), 2u);
    EXPECT_EQ(platform.reports[1].state, JobState::kNotSent);
    EXPECT_EQ(platform.reports[1].send_fax_result, code);
    EXPECT_EQ(platform.reports[1].spool_file, spool);
    EXPECT_EQ(platform.events.back(),
              u"The fax of job 17 (\"report.ps\") printed by an unknown "
              u"user was not sent. The document is kept in " +
                  spool + u".");
    ExpectJobEnded();
  }
}

// A full disk fails the write, and a document not captured whole is never
// sent: it ends with the write's error and leaves no spool file.
TEST_F(JobTest, AWriteThatFailsFailsAndTheJobIsNotSent) {
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  platform.disk_space = 1000;
  DWORD written = kUnset;
  EXPECT_FALSE(table->pfnWritePort(port, reinterpret_cast<LPBYTE>(std::string(4096, 'x').data()),
                                   4096, &written));
  EXPECT_EQ(written, 1000u);
  EXPECT_EQ(platform.last_error, 112u);
  platform.disk_space.reset();
  EXPECT_EQ(Write(port, "more"), 4u);  // the rest may still arrive
  EXPECT_FALSE(End(port));
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.MessageTexts(), Texts{u"WriteFile error 112\n"});
  EXPECT_FALSE(platform.Exists(kFirstSpoolFile));
  ExpectJobEnded();

  // The next job starts afresh.
  ASSERT_TRUE(Start(port));
  Write(port, "%!PS\n");
  EXPECT_TRUE(End(port));
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
}

TEST_F(JobTest, ASecondOpeningFailsWithASharingViolation) {
  const HANDLE first = OpenOrFail();
  HANDLE second = SentinelHandle();
  EXPECT_FALSE(Open(&second));
  EXPECT_EQ(second, SentinelHandle());
  EXPECT_EQ(platform.MessageTexts(), Texts{u"CreateFile error 32\n"});
  EXPECT_EQ(platform.library_references, 1);
  // The first port still works and releases its library.
  ASSERT_TRUE(Start(first));
  EXPECT_TRUE(End(first));
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_TRUE(Close(first));
  EXPECT_EQ(platform.library_references, 0);
}

TEST_F(JobTest, CancellingTheFaxNumberMeansNoFaxAndAMissingDialogKeepsTheDocument) {
  // An earlier job's number must not receive this document.
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  platform.jobs_sent.clear();
  platform.fax_number_result = DialogResult::kCancel;
  ASSERT_TRUE(Start(port));
  Write(port, "%!PS\n");
  EXPECT_TRUE(End(port));
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_FALSE(platform.Exists(kSecondSpoolFile));
  ExpectJobEnded();
  EXPECT_TRUE(platform.messages.empty());

  platform.fax_number_result = DialogResult::kFailed;
  platform.jobs_sent.clear();
  ASSERT_TRUE(Start(port));
  EXPECT_FALSE(End(port));
  EXPECT_EQ(g_sendfax_calls.size(), 1u);
  EXPECT_EQ(platform.MessageTexts(), Texts{u"DialogBoxParam error 1813\n"});
  EXPECT_TRUE(platform.Exists(u"/tmp/spool/fax1A2D.tmp"));
  ExpectJobEnded();
}

TEST_F(JobTest, AttemptsFromTheDialogLastUntilTheNextOpening) {
  AnswerFaxNumber(u"1", u"", u"");
  HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_FALSE(End(port));  // refused, never taken as 1
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.MessageTexts(), Texts{u"Attempts must be one digit from 1 to 9, not \"\"."});
  AnswerFaxNumber(u"1", u"5", u"");
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  EXPECT_EQ(platform.fax_number_initial_attempts, u"");  // as it was typed
  EXPECT_EQ(g_sendfax_calls.at(0).maxdials, 5);
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  EXPECT_EQ(platform.fax_number_initial_attempts, u"5");
  EXPECT_TRUE(Close(port));
  port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_TRUE(End(port));
  EXPECT_EQ(platform.fax_number_initial_attempts, u"2");
}

TEST_F(JobTest, TextsThatDoNotConvertEndTheJobWithoutSending) {
  platform.conversion_fails_for = u"5551234";
  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  EXPECT_FALSE(End(port));
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.MessageTexts(), Texts{u"WideCharToMultiByte error 1113\n"});
  EXPECT_TRUE(platform.Exists(kFirstSpoolFile));
  ExpectJobEnded();
}

TEST_F(JobTest, APathReachesSendfaxWholeAndANoteIsShortenedToFitWithAMessage) {
  // A spool path near the path limit, and a note of 127 characters of three
  // bytes each in the narrow form: 381 bytes, more than the client takes.
  const std::u16string directory = u"/" + std::u16string(240, u'\u00e9');
  platform.temp = directory;
  const std::u16string note(127, u'\u20ac');
  AnswerFaxNumber(u"12345678901234", u"1", note.c_str());
  const SendFaxCall call = SendJob();
  EXPECT_EQ(call.filename, telvor::ToUtf8(directory) + "/fax1A2B.tmp");
  const std::u16string kept(85, u'\u20ac');  // 255 bytes
  EXPECT_EQ(call.info, telvor::ToUtf8(kept));
  EXPECT_EQ(platform.MessageTexts(),
            Texts{u"The note was too long for the fax server; it is sent as: " + kept});
}

// The number the person meant, or none; the job's settings as the client
// takes them.
TEST_F(JobTest, TheNumberRuleAndTheJobsSettingsReachTheClient) {
  registry.values.push_back({u"Modem", u"ttyIAX0"});
  registry.values[4].data = u"%u@example.com";
  platform.job_user = u"ann";
  platform.job_paper = JobPaper{216, 279, 98};
  AnswerFaxNumber(u" +49 (30) 555-33.01 / 7", u"4", u"");
  const SendFaxCall call = SendJob();
  EXPECT_EQ(call.fax_number,
            "+49305553301"
            "7");
  EXPECT_EQ(call.maxdials, 4);
  EXPECT_EQ(call.modem, "ttyIAX0");
  EXPECT_EQ(call.mail, "ann@example.com");
  EXPECT_EQ(call.paper.width_mm, 216u);
  EXPECT_EQ(call.paper.length_mm, 279u);
  EXPECT_EQ(call.paper.vertical_resolution, 98u);

  // A name that cannot stand in an address leaves the notice to the server.
  platform.job_user = u"Ann Smith";
  EXPECT_EQ(SendJob().mail, "");

  for (const char16_t* refused : {u"555-CALL-NOW", u"49+30", u"()", u""}) {
    SCOPED_TRACE(telvor::ToUtf8(refused));
    g_sendfax_calls.clear();
    platform.messages.clear();
    AnswerFaxNumber(refused, u"3", u"");
    EXPECT_TRUE(SendJob().fax_number.empty());
    EXPECT_TRUE(g_sendfax_calls.empty());
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.messages[0].text.find(u"fax number"), std::u16string::npos);
  }
}

TEST_F(JobTest, AFailedOpeningReportsTheCallAndReleasesTheLibrary) {
  HANDLE port = SentinelHandle();
  platform.load_fails = true;
  EXPECT_FALSE(Open(&port));
  platform.load_fails = false;
  platform.resolve_fails = true;
  EXPECT_FALSE(Open(&port));
  platform.resolve_fails = false;
  platform.create_fails = 5;
  EXPECT_FALSE(Open(&port));
  EXPECT_EQ(
      platform.MessageTexts(),
      (Texts{u"LoadLibrary error 126\n", u"GetProcAddress error 127\n", u"CreateFile error 5\n"}));
  EXPECT_EQ(platform.library_references, 0);
  EXPECT_EQ(port, SentinelHandle());
}

TEST_F(JobTest, AJobThatCannotStartLeavesNothingOpen) {
  const HANDLE port = OpenOrFail();
  platform.open_printer_fails = true;
  EXPECT_FALSE(Start(port));
  EXPECT_EQ(platform.MessageTexts(), Texts{u"OpenPrinter error 1801\n"});
  EXPECT_FALSE(platform.Exists(kFirstSpoolFile));

  platform.open_printer_fails = false;
  platform.create_fails = 112;
  EXPECT_FALSE(Start(port));
  EXPECT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.open_printers, 0);
  EXPECT_FALSE(platform.Exists(kSecondSpoolFile));
  // Nothing to end: the spooler gets FALSE and no fax goes out.
  EXPECT_FALSE(End(port));
  EXPECT_TRUE(g_sendfax_calls.empty());
}

TEST_F(JobTest, EndingWithoutAStartedJobOrABoundLibraryDoesNotSend) {
  EXPECT_FALSE(End(nullptr));
  EXPECT_EQ(platform.last_error, 6u);
  EXPECT_TRUE(platform.files.empty());
  EXPECT_TRUE(platform.messages.empty());

  const HANDLE port = OpenOrFail();
  ASSERT_TRUE(Start(port));
  Write(port, "%!PS\n");
  ASSERT_TRUE(Close(port));
  EXPECT_FALSE(End(port));
  EXPECT_TRUE(g_sendfax_calls.empty());
  EXPECT_EQ(platform.fax_numbers_shown, 0);
  EXPECT_EQ(platform.files[kFirstSpoolFile].content, "%!PS\n");
  ExpectJobEnded();
}

}  // namespace
}  // namespace quor::testing
