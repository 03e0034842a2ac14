// Fakes for the monitor's platform interface, the spooler's registry
// functions and sendfax, and a fixture that installs them.
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
};

struct FakeFile {
  std::string content;
  bool open = false;
};

class FakePlatform : public MonitorPlatform {
 public:
  // Everything the monitor did, in order, one line per call.
  std::vector<std::string> calls;
  std::vector<Message> messages;

  std::uint32_t last_error = 0;
  bool allocation_fails = false;
  std::vector<void*> allocations;

  // The files by path; open handles map to paths.
  std::map<std::u16string, FakeFile> files;
  std::map<Handle, std::u16string> handles;
  std::optional<std::uint32_t> create_fails;  // error code for the next creates
  std::optional<std::size_t> disk_space;      // bytes left on the disk
  std::uint32_t next_fresh_number = 0x1A2B;

  std::optional<std::u16string> temp = u"/tmp/spool";

  bool load_fails = false;
  bool resolve_fails = false;
  int library_references = 0;

  DialogResult setup_result = DialogResult::kCancel;
  SetupFields setup_answer{};
  std::u16string setup_initial_attempts;
  DialogResult fax_number_result = DialogResult::kOk;
  FaxNumberFields fax_number_answer{};
  std::u16string fax_number_initial_attempts;

  bool open_printer_fails = false;
  int open_printers = 0;
  std::vector<std::uint32_t> job_commands;  // job id and command, pairwise

  std::optional<std::u16string> conversion_fails_for;

  ~FakePlatform() override;

  std::uint32_t LastError() override { return last_error; }
  void SetLastError(std::uint32_t code) override { last_error = code; }
  void* AllocateZeroed(std::size_t size) override;
  Handle CreateUnsharedFile(const char16_t* path) override;
  bool WriteFile(Handle file, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;
  bool SetEndOfFile(Handle file) override;
  bool CloseHandle(Handle file) override;
  bool DeleteNamedFile(const char16_t* path) override;
  std::uint32_t ReadEnvironment(const char16_t* name, char16_t* buffer,
                                std::uint32_t capacity) override;
  std::uint32_t TempFileName(const char16_t* directory, const char16_t* prefix,
                             std::uint32_t unique, char16_t* path) override;
  Handle LoadFaxLibrary() override;
  SendFaxFunction ResolveSendFax(Handle library, const char* name) override;
  bool FreeFaxLibrary(Handle library) override;
  DialogResult SetupDialog(SetupFields& fields) override;
  DialogResult FaxNumberDialog(FaxNumberFields& fields) override;
  void ShowMessage(const char16_t* text, const char16_t* caption, Owner owner) override;
  bool OpenJobPrinter(const char16_t* printer_name, Handle* printer) override;
  bool SetJobCommand(Handle printer, std::uint32_t job_id, std::uint32_t command) override;
  bool CloseJobPrinter(Handle printer) override;
  bool ToAnsi(const char16_t* text, char* out, std::size_t capacity) override;

  bool IsOpen(const std::u16string& path) const;
  std::vector<std::u16string> MessageTexts() const;
};

// The spooler's registry functions over a list of values.
struct FakeRegistry {
  struct Value {
    std::u16string name;
    std::u16string data;  // without the terminator
  };
  std::vector<Value> values;
  std::vector<std::string> calls;
  LONG query_result = ERROR_SUCCESS;
  std::vector<std::u16string> failing_writes;
  std::map<DWORD, LONG> enum_results;  // forced results by index
  std::vector<std::vector<std::uint8_t>> written_data;

  MONITORREG functions{};
  MONITORINIT init{};

  FakeRegistry();
  // A key as the spooler leaves it at registration.
  void Registered();
};

// What sendfax received, and what it answers.
struct SendFaxCall {
  std::string server_ip, user, password, fax_number, mail, info, filename;
  std::int32_t maxdials = 0;
  std::string content;  // the spool file's bytes at the call
  bool file_open = false;
};
extern std::vector<SendFaxCall> g_sendfax_calls;
extern std::int32_t g_sendfax_result;
std::int32_t FakeSendFax(const char* server_ip, const char* user, const char* password,
                         const char* fax_number, const char* mail, const char* info,
                         const char* filename, std::int32_t maxdials);

// Installs fresh fakes and the monitor's state at load.
class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest();
  ~MonitorTest() override;

  FakePlatform platform;
  FakeRegistry registry;
};

}  // namespace quor::testing
