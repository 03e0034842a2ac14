#include "fakes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "operations.h"
#include "prompt_channel.h"
#include "telvor_common/text.h"
#include "temp_name.h"

// The library's export (entry.cpp, built into the tests).
extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);

namespace quor::testing {

namespace {

FakeRegistry* g_registry = nullptr;
FakePlatform* g_platform = nullptr;
int g_key_marker = 0;
int g_spooler_marker = 0;
HANDLE const kKey = &g_key_marker;
HANDLE const kSpooler = &g_spooler_marker;
int g_library_marker = 0;
int g_printer_marker = 0;

void CheckKeyAndSpooler(FakeRegistry& r, const char* call, HANDLE key, HANDLE spooler) {
  if (key != kKey || spooler != kSpooler) r.faults.push_back(std::string(call) + ": key, spooler");
}

LONG WINAPI QueryInfoKey(HANDLE key, PDWORD sub_keys, PDWORD sub_key_length, PDWORD values,
                         PDWORD value_name_length, PDWORD data_length, PDWORD security,
                         PFILETIME write_time, HANDLE spooler) {
  FakeRegistry& r = *g_registry;
  CheckKeyAndSpooler(r, "query", key, spooler);
  if (sub_keys || sub_key_length || !values || value_name_length || data_length || security ||
      write_time || *values != 0) {
    r.faults.push_back("query: asks for more than a preset value count");
  }
  if (r.query_result != ERROR_SUCCESS) return r.query_result;
  *values = static_cast<DWORD>(r.values.size());
  return ERROR_SUCCESS;
}

LONG WINAPI SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size,
                     HANDLE spooler) {
  FakeRegistry& r = *g_registry;
  CheckKeyAndSpooler(r, "set", key, spooler);
  if (type != REG_SZ) r.faults.push_back("set: not REG_SZ");
  const std::u16string value_name(reinterpret_cast<const char16_t*>(name));
  g_platform->Record("set");
  for (const auto& failing : r.failing_writes) {
    if (failing == value_name) return 5;
  }
  FakeRegistry::Value value{value_name, {}};
  // Stored as given, terminator included, so that the size shows.
  value.data.assign(reinterpret_cast<const char16_t*>(data), size / 2);
  for (auto& existing : r.values) {
    if (existing.name == value_name) {
      existing = value;
      return ERROR_SUCCESS;
    }
  }
  r.values.push_back(value);
  return ERROR_SUCCESS;
}

LONG WINAPI EnumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD name_capacity, PDWORD type,
                      PBYTE data, PDWORD data_capacity, HANDLE spooler) {
  FakeRegistry& r = *g_registry;
  CheckKeyAndSpooler(r, "enum", key, spooler);
  if (*name_capacity != 128 || *data_capacity != 256 || name[0] != 0 || data[0] != 0 || type) {
    r.faults.push_back("enum: buffers not fresh");
  }
  const auto forced = r.enum_results.find(index);
  if (forced != r.enum_results.end()) return forced->second;
  if (index >= r.values.size()) return ERROR_NO_MORE_ITEMS;
  FakeRegistry::Value value = r.values[index];
  if (!value.data.empty() && value.data.back() == 0) value.data.pop_back();
  const std::size_t name_units = value.name.size() + 1;
  const std::size_t data_bytes = (value.data.size() + 1) * 2;
  if (name_units > *name_capacity) return ERROR_MORE_DATA;
  std::memcpy(name, value.name.c_str(), name_units * 2);
  *name_capacity = static_cast<DWORD>(value.name.size());
  if (data_bytes > *data_capacity) return ERROR_MORE_DATA;
  std::memcpy(data, value.data.c_str(), data_bytes);
  *data_capacity = static_cast<DWORD>(data_bytes);
  return ERROR_SUCCESS;
}

std::int32_t FakeSendFax(const char* server_ip, const char* user, const char* password,
                         const char* fax_number, const char* mail, const char* info,
                         const char* filename, std::int32_t maxdials) {
  g_platform->Record("sendfax");
  SendFaxCall call{server_ip, user, password, fax_number, mail,       info, filename,
                   maxdials,  "",   false,    "",         JobPaper{}, ""};
  const auto file = g_platform->files.find(telvor::FromUtf8(filename));
  if (file != g_platform->files.end()) {
    call.content = file->second.content;
    call.file_open = file->second.open;
  }
  g_sendfax_calls.push_back(call);
  return g_sendfax_result;
}

std::int32_t FakeSendFaxJob(const char* server_ip, const char* user, const char* password,
                            const char* fax_number, const char* mail, const char* info,
                            const char* filename, std::int32_t maxdials, telvor_job* job) {
  job->job_number = 0;
  const std::int32_t result =
      FakeSendFax(server_ip, user, password, fax_number, mail, info, filename, maxdials);
  SendFaxCall& call = g_sendfax_calls.back();
  call.modem = job->modem;
  call.log_folder = job->log_folder ? job->log_folder : "";
  call.paper = {job->page_width, job->page_length, job->vertical_resolution};
  if (result == 0) job->job_number = g_platform->server_job;
  return result;
}

}  // namespace

std::vector<SendFaxCall> g_sendfax_calls;
std::int32_t g_sendfax_result = 0;

FakePlatform::~FakePlatform() {
  for (void* memory : allocations) std::free(memory);
}

void* FakePlatform::AllocateTable(std::size_t size) {
  if (allocation_fails) {
    last_error = 8;
    return nullptr;
  }
  // Not zeroed here: the monitor must fill every slot itself.
  allocations.push_back(std::malloc(size));
  std::memset(allocations.back(), 0xA5, size);
  return allocations.back();
}

Handle FakePlatform::OpenExclusiveFile(const char16_t* path) {
  Record("open");
  const std::u16string name(path);
  if (create_fails) {
    last_error = *create_fails;
    return nullptr;
  }
  if (name.empty()) {
    last_error = 3;
    return nullptr;
  }
  if (IsOpen(name)) {
    last_error = 32;
    return nullptr;
  }
  files[name] = FakeFile{"", true};
  static std::uintptr_t next_handle = 0x100;
  const auto handle = reinterpret_cast<Handle>(next_handle++);
  handles[handle] = name;
  return handle;
}

bool FakePlatform::AppendToFile(Handle file, const void* data, std::uint32_t size,
                                std::uint32_t* written) {
  const auto at = handles.find(file);
  if (at == handles.end()) {
    *written = 0;
    last_error = 6;
    return false;
  }
  std::size_t count = size;
  if (disk_space) count = std::min(count, *disk_space);
  files[at->second].content.append(static_cast<const char*>(data), count);
  if (disk_space) *disk_space -= count;
  *written = static_cast<std::uint32_t>(count);
  if (count < size) {
    last_error = 112;
    return false;
  }
  return true;
}

bool FakePlatform::CloseFile(Handle file) {
  const auto at = handles.find(file);
  if (at == handles.end()) {
    last_error = 6;
    return false;
  }
  files[at->second].open = false;
  handles.erase(at);
  return true;
}

std::uint32_t FakePlatform::ReadEnvironment(const char16_t* name, char16_t* buffer,
                                            std::uint32_t capacity) {
  const auto other = environment.find(name);
  const std::optional<std::u16string> value = std::u16string(name) == u"TEMP" ? temp
                                              : other != environment.end()
                                                  ? std::optional<std::u16string>(other->second)
                                                  : std::nullopt;
  if (!value) {
    last_error = 203;
    return 0;
  }
  if (value->size() + 1 > capacity) return static_cast<std::uint32_t>(value->size() + 1);
  telvor::CopyText(buffer, capacity, *value);
  return static_cast<std::uint32_t>(value->size());
}

std::uint32_t FakePlatform::FormTempName(const char16_t* directory, const char16_t* prefix,
                                         std::uint32_t number, char16_t* path) {
  return telvor::CopyText(path, kPathUnits, TempName(directory, prefix, number)) ? number : 0;
}

std::uint32_t FakePlatform::CreateFreshTempFile(const char16_t* directory, const char16_t* prefix,
                                                char16_t* path) {
  Record("create");
  const std::uint32_t number = next_fresh_number++;
  const telvor::Text name = TempName(directory, prefix, number);
  if (!telvor::CopyText(path, kPathUnits, name)) return 0;
  files[name] = FakeFile{};
  return number;
}

Handle FakePlatform::LoadFaxLibrary() {
  Record("load");
  if (load_fails) {
    last_error = 126;
    return nullptr;
  }
  ++library_references;
  return &g_library_marker;
}

SendFaxFunction FakePlatform::ResolveSendFax(Handle library, const char* name) {
  if (resolve_fails || library != &g_library_marker || std::string(name) != "sendfax") {
    last_error = 127;
    return nullptr;
  }
  return FakeSendFax;
}

SendFaxJobFunction FakePlatform::ResolveSendFaxJob(Handle library, const char* name) {
  if (!client_has_job_number || library != &g_library_marker ||
      std::string(name) != "sendfax_job") {
    return nullptr;
  }
  return FakeSendFaxJob;
}

bool FakePlatform::JobPaperOf(Handle printer, std::uint32_t, JobPaper* paper) {
  if (printer == nullptr || !job_paper) return false;
  *paper = *job_paper;
  return true;
}

void FakePlatform::ReportJob(const JobReport& report) {
  reports.push_back({report.job_id, report.state, report.send_fax_result, report.server_job,
                     report.error, report.spool_file ? report.spool_file : u""});
}

bool FakePlatform::ProtectSettings() {
  Record("protect");
  values_at_protection.push_back(g_registry->values.size());
  if (protect_fails) last_error = *protect_fails;
  return !protect_fails;
}

bool FakePlatform::FreeFaxLibrary(Handle library) {
  if (library != &g_library_marker || library_references == 0) {
    last_error = 6;
    return false;
  }
  --library_references;
  return true;
}

DialogResult FakePlatform::AskSettings(SetupFields& fields) {
  ++setups_shown;
  setup_initial_attempts = fields.attempts;
  setup_initial_server = fields.server_ip;
  if (setup_result == DialogResult::kOk) fields = setup_answer;
  if (setup_result == DialogResult::kFailed) last_error = 1813;
  return setup_result;
}

DialogResult FakePlatform::AskFaxNumber(FaxNumberFields& fields) {
  ++fax_numbers_shown;
  fax_number_initial_attempts = fields.attempts;
  files_open_at_fax_number = 0;
  for (const auto& file : files) files_open_at_fax_number += file.second.open;
  if (fax_number_result == DialogResult::kOk) fields = fax_number_answer;
  if (fax_number_result == DialogResult::kFailed) last_error = 1813;
  return fax_number_result;
}

void FakePlatform::ShowMessage(const char16_t* text, const char16_t* caption, Owner owner) {
  Record("show");
  messages.push_back(Message{text, caption, owner, open_printers});
}

Handle FakePlatform::TakeCallerToken(std::uint32_t* session) {
  Record("token");
  *session = caller_token ? caller_token_session : kNoSession;
  return caller_token;
}

bool FakePlatform::JobUserName(Handle printer, std::uint32_t, char16_t* name,
                               std::size_t capacity) {
  if (!job_user || printer != &g_printer_marker || job_user->size() >= capacity) return false;
  std::copy(job_user->begin(), job_user->end(), name);
  name[job_user->size()] = 0;
  return true;
}

std::uint32_t FakePlatform::UserSession(const char16_t* user) {
  const auto found = user_sessions.find(user);
  return found == user_sessions.end() ? kNoSession : found->second;
}

// Plays the prompt program: reads the request, shows the dialog (the fake's
// own) and answers.
bool FakePlatform::RunPrompt(Handle token, std::uint32_t session, const void* request,
                             std::size_t request_size, void* answer, std::size_t* size,
                             std::uint32_t seconds) {
  Record("prompt");
  prompts.push_back(PromptRun{token, session, seconds});
  if (prompt_fails) {
    last_error = *prompt_fails;
    return false;
  }
  DialogResult unused = DialogResult::kOk;
  std::uint32_t error = 0;
  SetupFields setup{};
  FaxNumberFields number{};
  const auto kind = request_size == sizeof(PromptHeader) + sizeof(SetupFields)
                        ? DialogKind::kSetup
                        : DialogKind::kFaxNumber;
  void* fields = kind == DialogKind::kSetup ? static_cast<void*>(&setup) : &number;
  EXPECT_TRUE(DecodePrompt(request, request_size, kind, &unused, &error, fields));
  const DialogResult result =
      kind == DialogKind::kSetup ? AskSettings(setup) : AskFaxNumber(number);
  EXPECT_GE(*size, kPromptMessageBytes);
  *size = EncodePrompt(kind, result, last_error, fields, answer);
  if (prompt_answer_garbled) *size -= 1;
  return true;
}

void FakePlatform::SendSessionMessage(std::uint32_t session, const char16_t* text,
                                      const char16_t* caption, bool wait_for_ok) {
  Record("message");
  session_messages.push_back(SessionMessage{session, text, caption, wait_for_ok});
}

bool FakePlatform::OpenJobPrinter(const char16_t* printer_name, Handle* printer) {
  printer_names.push_back(printer_name);
  if (open_printer_fails) {
    last_error = 1801;
    return false;
  }
  ++open_printers;
  *printer = &g_printer_marker;
  return true;
}

bool FakePlatform::MarkJobSent(Handle printer, std::uint32_t job_id) {
  if (printer != &g_printer_marker || open_printers == 0) return false;
  jobs_sent.push_back(job_id);
  return true;
}

bool FakePlatform::CloseJobPrinter(Handle printer) {
  if (printer != &g_printer_marker || open_printers == 0) return false;
  --open_printers;
  return true;
}

bool FakePlatform::ToAnsi(const char16_t* text, char* out, std::size_t capacity) {
  if (conversion_fails_for && *conversion_fails_for == text) {
    last_error = 1113;
    return false;
  }
  const std::string narrow = telvor::ToUtf8(text);
  if (narrow.size() + 1 > capacity) {
    last_error = 122;
    return false;
  }
  std::memcpy(out, narrow.c_str(), narrow.size() + 1);
  return true;
}

bool FakePlatform::IsOpen(const std::u16string& path) const {
  const auto at = files.find(path);
  return at != files.end() && at->second.open;
}

std::vector<std::u16string> FakePlatform::MessageTexts() const {
  std::vector<std::u16string> texts;
  for (const Message& message : messages) texts.push_back(message.text);
  return texts;
}

FakeRegistry::FakeRegistry() {
  functions.cbSize = sizeof(MONITORREG);
  functions.fpQueryInfoKey = QueryInfoKey;
  functions.fpSetValue = SetValue;
  functions.fpEnumValue = EnumValue;
  init.cbSize = sizeof(MONITORINIT);
  init.hSpooler = kSpooler;
  init.hckRegistryRoot = kKey;
  init.pMonitorReg = &functions;
  init.bLocal = TRUE;
}

void FakeRegistry::Registered() { values = {Value{u"Driver", u"quor.dll"}}; }

long FakeRegistry::StoredBytes(const std::u16string& name) const {
  for (const Value& value : values) {
    if (value.name == name) return static_cast<long>(value.data.size() * 2);
  }
  return -1;
}

MonitorTest::MonitorTest() {
  g_registry = &registry;
  g_platform = &platform;
  g_sendfax_calls.clear();
  g_sendfax_result = 0;
  UsePlatform(&platform);
  ResetMonitorState();
  monitor = SentinelHandle();
  table = InitializePrintMonitor2(&registry.init, &monitor);
  AnswerFaxNumber(u"5551234", u"3", u"note");
}

MonitorTest::~MonitorTest() {
  EXPECT_EQ(registry.faults, std::vector<std::string>{});
  EXPECT_EQ(platform.as_spooler_depth, 0) << "acting as the spooler past an operation";
  UsePlatform(nullptr);
  g_registry = nullptr;
  g_platform = nullptr;
}

BOOL MonitorTest::Open(HANDLE* port) {
  char16_t name[] = u"FX:";
  return table->pfnOpenPort(monitor, reinterpret_cast<LPWSTR>(name), port);
}

HANDLE MonitorTest::OpenOrFail() {
  HANDLE port = nullptr;
  EXPECT_TRUE(Open(&port));
  return port;
}

BOOL MonitorTest::Start(HANDLE port, DWORD job_id) {
  char16_t printer[] = u"Telvor Printer";
  char16_t document[] = u"report.ps";
  char16_t data_type[] = u"RAW";
  DOC_INFO_1W info{reinterpret_cast<LPWSTR>(document), nullptr,
                   reinterpret_cast<LPWSTR>(data_type)};
  return table->pfnStartDocPort(port, reinterpret_cast<LPWSTR>(printer), job_id, 1,
                                reinterpret_cast<LPBYTE>(&info));
}

DWORD MonitorTest::Write(HANDLE port, const std::string& data) {
  DWORD written = kUnset;
  std::string copy = data;
  EXPECT_TRUE(table->pfnWritePort(port, reinterpret_cast<LPBYTE>(copy.data()),
                                  static_cast<DWORD>(copy.size()), &written));
  return written;
}

SendFaxCall MonitorTest::SendJob(const std::string& data) {
  const std::size_t before = g_sendfax_calls.size();
  const HANDLE port = OpenOrFail();
  if (Start(port)) {
    Write(port, data);
    End(port);
  }
  Close(port);
  return g_sendfax_calls.size() > before ? g_sendfax_calls.back() : SendFaxCall{};
}

void MonitorTest::AnswerFaxNumber(const char16_t* number, const char16_t* attempts,
                                  const char16_t* info) {
  platform.fax_number_result = DialogResult::kOk;
  telvor::CopyText(platform.fax_number_answer.fax_number, kFaxNumberUnits, number);
  telvor::CopyText(platform.fax_number_answer.attempts, kAttemptsUnits, attempts);
  telvor::CopyText(platform.fax_number_answer.info, kTextUnits, info);
}

void MonitorTest::AnswerSetup(const char16_t* server, const char16_t* user,
                              const char16_t* password, const char16_t* mail,
                              const char16_t* attempts) {
  platform.setup_result = DialogResult::kOk;
  telvor::CopyText(platform.setup_answer.server_ip, kTextUnits, server);
  telvor::CopyText(platform.setup_answer.user, kTextUnits, user);
  telvor::CopyText(platform.setup_answer.password, kTextUnits, password);
  telvor::CopyText(platform.setup_answer.mail, kTextUnits, mail);
  telvor::CopyText(platform.setup_answer.attempts, kAttemptsUnits, attempts);
}

}  // namespace quor::testing
