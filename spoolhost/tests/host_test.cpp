// The host table with the real plug-in: the monitor asks its forms, shows
// its messages and reports its jobs through it, and the host drives it as
// both Linux hosts do.
#include "host.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "telvor/sendfax.h"

namespace telvor::spoolhost {
namespace {

// Nothing listens here: every send fails at once with the connect error.
constexpr char16_t kDeadServer[] = u"127.0.4.250";

class ScriptedUser : public HostUser {
 public:
  FormAnswer answer = FormAnswer::kOk;
  FormTexts setup = {kDeadServer, u"ann", u"secret", u"ann@example.com", u"42", u""};
  FormTexts fax_number = {u"555-1234", u"", u"note"};
  std::vector<std::string> messages;
  std::vector<std::u16string> initial_attempts;

  FormAnswer AskForm(const Form& form, FormTexts& texts, std::uint32_t*) override {
    initial_attempts.push_back(texts[&form == &kSetupForm ? 4 : 1]);
    const FormTexts& given = &form == &kSetupForm ? setup : fax_number;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (!given[i].empty()) texts[i] = given[i];
    }
    return answer;
  }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    messages.push_back(caption + ": " + text);
  }
};

// Gives `first` bytes, then fails.
class BrokenSource : public ByteSource {
 public:
  explicit BrokenSource(std::string first) : first_(std::move(first)) {}
  long long Read(std::uint8_t* buffer, std::size_t size) override {
    if (first_.empty()) return -1;
    const std::size_t count = std::min(size, first_.size());
    std::copy_n(first_.data(), count, buffer);
    first_.erase(0, count);
    return static_cast<long long>(count);
  }

 private:
  std::string first_;
};

class StringSource : public BrokenSource {
 public:
  explicit StringSource(std::string text) : BrokenSource(std::move(text)) {}
  long long Read(std::uint8_t* buffer, std::size_t size) override {
    const long long count = BrokenSource::Read(buffer, size);
    return count < 0 ? 0 : count;
  }
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/spoolhost-host-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(work_);  // where the fax client writes its log
    setenv("TEMP", work_.c_str(), 1);
    std::string error;
    ASSERT_TRUE(store_.Open(u"libquor.so", &error)) << error;
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    unsetenv("TEMP");
    std::filesystem::remove_all(work_);
  }

  HostOutcome Run(ByteSource* input) {
    HostJob job;
    job.monitor_path = TELVOR_TEST_MONITOR;
    job.store = &store_;
    job.queue = &queue_;
    job.user = &user_;
    job.request.printer = u"Telvor Printer";
    job.request.job_id = 7;
    job.input = input;
    return RunMonitorJob(job);
  }

  std::string work_;
  std::filesystem::path previous_;
  KeyStore store_{std::string(::testing::TempDir()) + "unused"};
  PrintQueue queue_{u"Telvor Printer", nullptr};
  ScriptedUser user_;
};

TEST_F(HostTest, TheFormsMessagesAndJobReportsGoThroughTheHostTable) {
  store_ = KeyStore(work_ + "/TelvorMon.reg");
  std::string error;
  ASSERT_TRUE(store_.Open(u"libquor.so", &error)) << error;

  // First use: the setup form, answered through the controls' rules.
  HostOutcome opened = Run(nullptr);
  ASSERT_TRUE(opened.monitor_ready) << opened.error;
  EXPECT_EQ(opened.job, JobResult::kHandedOver) << opened.error;
  EXPECT_EQ(store_.Value(u"HylaFAXServerIp"), std::u16string(kDeadServer));
  EXPECT_EQ(store_.Value(u"Attempts"), u"4");

  // A job whose fax cannot be sent: reported with sendfax's result and the
  // spool file that keeps the document, and the message shown.
  StringSource document("%!PS\nshowpage\n");
  HostOutcome failed = Run(&document);
  EXPECT_EQ(failed.job, JobResult::kNotSent);
  EXPECT_EQ(failed.news.state, static_cast<std::uint32_t>(QUOR_JOB_NOT_SENT));
  EXPECT_EQ(failed.news.send_fax_result, TELVOR_ERR_CONNECT);
  EXPECT_EQ(failed.news.spool_file.rfind(work_ + "/fax", 0), 0u) << failed.news.spool_file;
  EXPECT_TRUE(std::filesystem::exists(failed.news.spool_file));
  EXPECT_EQ(user_.messages, std::vector<std::string>{"TelvMon: SendFax error -13\n"});
  EXPECT_EQ(user_.initial_attempts, (std::vector<std::u16string>{u"1", u"4"}));
  EXPECT_EQ(queue_.JobState(7), "sent to printer");

  // Cancelled: nothing kept.
  user_.answer = FormAnswer::kCancel;
  StringSource again("%!PS\nshowpage\n");
  HostOutcome cancelled = Run(&again);
  EXPECT_EQ(cancelled.job, JobResult::kHandedOver);
  EXPECT_EQ(cancelled.news.state, static_cast<std::uint32_t>(QUOR_JOB_CANCELLED));
  EXPECT_FALSE(std::filesystem::exists(cancelled.news.spool_file));

  // Read only in part: the job is started, never ended; its spool file is
  // the host's to remove.
  BrokenSource broken("%!PS\n");
  HostOutcome partial = Run(&broken);
  EXPECT_EQ(partial.job, JobResult::kNotWritten);
  EXPECT_EQ(partial.news.state, static_cast<std::uint32_t>(QUOR_JOB_STARTED));
  EXPECT_TRUE(std::filesystem::exists(partial.news.spool_file));
}

}  // namespace
}  // namespace telvor::spoolhost
