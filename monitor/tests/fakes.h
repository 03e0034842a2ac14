// Fakes for the monitor's platform interface, the spooler's registry
// functions and sendfax, and a fixture that drives the monitor through the
// operations table its export returns, as the spooler does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "quor/spooler.h"

namespace quor::testing {

struct Message {
  std::u16string text;
  std::u16string caption;
  Owner owner;
  int printers_open;  // job printers still open when it was shown
};

// A prompt program started in another session, or a message sent there.
struct PromptRun {
  Handle token;
  std::uint32_t session;
  std::uint32_t seconds;
};
struct SessionMessage {
  std::uint32_t session;
  std::u16string text;
  std::u16string caption;
  bool waited_for_ok;
};

// A job report the monitor gave its host, with its spool file kept.
struct ReportedJob {
  std::uint32_t job_id;
  JobState state;
  std::int32_t send_fax_result;
  std::uint32_t server_job;
  std::uint32_t error;
  std::u16string spool_file;
};

struct FakeFile {
  std::string content;
  bool open = false;
};

class FakePlatform : public Platform {
 public:
  std::uint32_t last_error = 0;
  bool allocation_fails = false;
  std::vector<void*> allocations;

  // The files by path; open handles map to paths.
  std::map<std::u16string, FakeFile> files;
  std::map<Handle, std::u16string> handles;
  std::optional<std::uint32_t> create_fails;  // error code for the next opens
  std::optional<std::size_t> disk_space;      // bytes left on the disk
  std::uint32_t next_fresh_number = 0x1A2B;

  std::optional<std::u16string> temp = u"/tmp/spool";
  std::map<std::u16string, std::u16string> environment;  // besides TEMP

  bool load_fails = false;
  bool resolve_fails = false;
  int library_references = 0;
  // The client offers sendfax_job, which gives `server_job` for a sent fax.
  bool client_has_job_number = true;
  std::uint32_t server_job = 0;
  std::vector<ReportedJob> reports;

  DialogResult setup_result = DialogResult::kCancel;
  SetupFields setup_answer{};
  int setups_shown = 0;
  std::u16string setup_initial_attempts;
  std::u16string setup_initial_server;
  DialogResult fax_number_result = DialogResult::kOk;
  FaxNumberFields fax_number_answer{};
  int fax_numbers_shown = 0;
  std::u16string fax_number_initial_attempts;
  int files_open_at_fax_number = -1;

  bool open_printer_fails = false;
  int open_printers = 0;
  std::vector<std::u16string> printer_names;
  std::vector<std::uint32_t> jobs_sent;

  std::optional<std::u16string> conversion_fails_for;
  std::vector<Message> messages;

  // Where the person is. The fake's prompt program answers with the
  // dialogs' results above.
  bool on_visible_desktop = true;
  Handle caller_token = nullptr;
  std::uint32_t caller_token_session = kNoSession;
  std::vector<Handle> tokens_released;
  std::optional<std::u16string> job_user;
  std::optional<JobPaper> job_paper;
  std::map<std::u16string, std::uint32_t> user_sessions;
  std::uint32_t console_session = kNoSession;
  std::optional<std::uint32_t> prompt_fails;  // error code: not started or timed out
  bool prompt_answer_garbled = false;
  std::vector<PromptRun> prompts;
  std::vector<SessionMessage> session_messages;
  std::vector<std::u16string> events;

  // Who each operation ran as: (name, as the spooler) in call order. The
  // system's work ("set", "folder", "create", "open", "remove", "load",
  // "sendfax", "event", "prompt", "message") must run as the spooler, the
  // person's ("token", "show") as the person.
  int as_spooler_depth = 0;
  std::vector<std::pair<std::string, bool>> identities;
  void Record(const char* operation) { identities.emplace_back(operation, as_spooler_depth > 0); }

  ~FakePlatform() override;

  std::uint32_t LastError() override { return last_error; }
  void SetLastError(std::uint32_t code) override { last_error = code; }
  void* AllocateTable(std::size_t size) override;
  Handle OpenExclusiveFile(const char16_t* path) override;
  bool AppendToFile(Handle file, const void* data, std::uint32_t size,
                    std::uint32_t* written) override;
  bool CutFileHere(Handle file) override { return handles.count(file) != 0; }
  bool CloseFile(Handle file) override;
  bool RemoveFile(const char16_t* path) override {
    Record("remove");
    return files.erase(path) != 0;
  }
  std::uint32_t ReadEnvironment(const char16_t* name, char16_t* buffer,
                                std::uint32_t capacity) override;
  // The folder is `temp`, as on POSIX; the log goes there, as on Windows.
  std::uint32_t SpoolFolder(char16_t* buffer, std::uint32_t capacity) override {
    Record("folder");
    return ReadEnvironment(u"TEMP", buffer, capacity);
  }
  bool LogInSpoolFolder() override { return true; }
  // The registry's values each time the key was protected.
  std::vector<std::size_t> values_at_protection;
  std::optional<std::uint32_t> protect_fails;
  bool ProtectSettings() override;
  std::uint32_t FormTempName(const char16_t* directory, const char16_t* prefix,
                             std::uint32_t number, char16_t* path) override;
  std::uint32_t CreateFreshTempFile(const char16_t* directory, const char16_t* prefix,
                                    char16_t* path) override;
  Handle LoadFaxLibrary() override;
  SendFaxFunction ResolveSendFax(Handle library, const char* name) override;
  SendFaxJobFunction ResolveSendFaxJob(Handle library, const char* name) override;
  bool FreeFaxLibrary(Handle library) override;
  DialogResult AskSettings(SetupFields& fields) override;
  DialogResult AskFaxNumber(FaxNumberFields& fields) override;
  void ShowMessage(const char16_t* text, const char16_t* caption, Owner owner) override;
  bool OpenJobPrinter(const char16_t* printer_name, Handle* printer) override;
  bool MarkJobSent(Handle printer, std::uint32_t job_id) override;
  bool CloseJobPrinter(Handle printer) override;
  bool ToAnsi(const char16_t* text, char* out, std::size_t capacity) override;
  bool OnVisibleDesktop() override { return on_visible_desktop; }
  Handle TakeCallerToken(std::uint32_t* session) override;
  void ReleaseToken(Handle token) override { tokens_released.push_back(token); }
  bool caller_is_administrator = true;
  bool CallerMayConfigure() override {
    Record("admin");
    return caller_is_administrator;
  }
  bool JobUserName(Handle printer, std::uint32_t job_id, char16_t* name,
                   std::size_t capacity) override;
  bool JobPaperOf(Handle printer, std::uint32_t job_id, JobPaper* paper) override;
  std::uint32_t UserSession(const char16_t* user) override;
  std::uint32_t ConsoleSession() override { return console_session; }
  bool RunPrompt(Handle token, std::uint32_t session, const void* request, std::size_t request_size,
                 void* answer, std::size_t* size, std::uint32_t seconds) override;
  void SendSessionMessage(std::uint32_t session, const char16_t* text, const char16_t* caption,
                          bool wait_for_ok) override;
  void LogEvent(const char16_t* text) override {
    Record("event");
    events.push_back(text);
  }
  void ReportJob(const JobReport& report) override;
  void BeginAsSpooler() override { ++as_spooler_depth; }
  void EndAsSpooler() override { --as_spooler_depth; }

  bool IsOpen(const std::u16string& path) const;
  bool Exists(const std::u16string& path) const { return files.count(path) != 0; }
  std::vector<std::u16string> MessageTexts() const;
};

// The spooler's registry functions over a list of values.
struct FakeRegistry {
  struct Value {
    std::u16string name;
    std::u16string data;  // without the terminator
  };
  std::vector<Value> values;
  LONG query_result = ERROR_SUCCESS;
  std::vector<std::u16string> failing_writes;
  std::map<DWORD, LONG> enum_results;  // forced results by index
  // Calls whose arguments are not what the spooler's functions expect.
  std::vector<std::string> faults;

  MONITORREG functions{};
  MONITORINIT init{};

  FakeRegistry();
  // A key as the spooler leaves it at registration.
  void Registered();
  // The bytes stored for a value (UTF-16 with terminator), or -1.
  long StoredBytes(const std::u16string& name) const;
};

// What sendfax received, and what it answers.
struct SendFaxCall {
  std::string server_ip, user, password, fax_number, mail, info, filename;
  std::int32_t maxdials = 0;
  std::string content;  // the spool file's bytes at the call
  bool file_open = false;
  // sendfax_job's settings (none through sendfax).
  std::string modem;
  JobPaper paper{};
  std::string log_folder;
};
extern std::vector<SendFaxCall> g_sendfax_calls;
extern std::int32_t g_sendfax_result;

// Installs fresh fakes and the monitor's state at load, and takes the
// operations table from the export.
class MonitorTest : public ::testing::Test {
 protected:
  static constexpr DWORD kJobId = 17;
  static constexpr DWORD kUnset = 0xA5A5A5A5;
  static HANDLE SentinelHandle() { return reinterpret_cast<HANDLE>(0x5E5E); }

  MonitorTest();
  ~MonitorTest() override;

  // The port as the spooler opens it; the handle stays at its sentinel when
  // the opening fails.
  BOOL Open(HANDLE* port);
  HANDLE OpenOrFail();
  BOOL Start(HANDLE port, DWORD job_id = kJobId);
  // Writes `data`; the count written.
  DWORD Write(HANDLE port, const std::string& data);
  BOOL End(HANDLE port) { return table->pfnEndDocPort(port); }
  BOOL Close(HANDLE port) { return table->pfnClosePort(port); }
  // Opens the port, runs one job with `data` and closes the port; the
  // arguments sendfax received (empty when it was not called).
  SendFaxCall SendJob(const std::string& data = "%!PS\n");

  void AnswerFaxNumber(const char16_t* number, const char16_t* attempts, const char16_t* info);
  void AnswerSetup(const char16_t* server, const char16_t* user, const char16_t* password,
                   const char16_t* mail, const char16_t* attempts);

  FakePlatform platform;
  FakeRegistry registry;
  HANDLE monitor = nullptr;
  LPMONITOR2 table = nullptr;
};

}  // namespace quor::testing
