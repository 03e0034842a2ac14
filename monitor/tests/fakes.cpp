#include "fakes.h"

#include <cstdlib>
#include <cstring>

#include "operations.h"
#include "telvor_common/text.h"
#include "temp_name.h"

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

std::string Ascii(const std::u16string& text) { return telvor::ToUtf8(text); }

bool KeyAndSpooler(HANDLE key, HANDLE spooler) { return key == kKey && spooler == kSpooler; }

LONG WINAPI QueryInfoKey(HANDLE key, PDWORD sub_keys, PDWORD sub_key_length, PDWORD values,
                         PDWORD value_name_length, PDWORD data_length, PDWORD security,
                         PFILETIME write_time, HANDLE spooler) {
  FakeRegistry& r = *g_registry;
  const bool only_count = !sub_keys && !sub_key_length && values && !value_name_length &&
                          !data_length && !security && !write_time;
  r.calls.push_back(
      std::string("query") +
      (KeyAndSpooler(key, spooler) && only_count && *values == 0 ? "" : " (bad arguments)"));
  if (r.query_result != ERROR_SUCCESS) return r.query_result;
  *values = static_cast<DWORD>(r.values.size());
  return ERROR_SUCCESS;
}

LONG WINAPI SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size,
                     HANDLE spooler) {
  FakeRegistry& r = *g_registry;
  const std::u16string value_name(reinterpret_cast<const char16_t*>(name));
  r.calls.push_back("set " + Ascii(value_name) +
                    (KeyAndSpooler(key, spooler) && type == REG_SZ ? "" : " (bad arguments)"));
  r.written_data.emplace_back(data, data + size);
  for (const auto& failing : r.failing_writes) {
    if (failing == value_name) return 5;
  }
  FakeRegistry::Value value;
  value.name = value_name;
  value.data.assign(reinterpret_cast<const char16_t*>(data), size / 2);
  if (!value.data.empty() && value.data.back() == 0) value.data.pop_back();
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
  const bool fresh = *name_capacity == 128 && *data_capacity == 256 && name[0] == 0 &&
                     data[0] == 0 && !type && KeyAndSpooler(key, spooler);
  r.calls.push_back("enum " + std::to_string(index) + (fresh ? "" : " (bad arguments)"));
  const auto forced = r.enum_results.find(index);
  if (forced != r.enum_results.end()) return forced->second;
  if (index >= r.values.size()) return ERROR_NO_MORE_ITEMS;
  const FakeRegistry::Value& value = r.values[index];
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

}  // namespace

std::vector<SendFaxCall> g_sendfax_calls;
std::int32_t g_sendfax_result = 0;

std::int32_t FakeSendFax(const char* server_ip, const char* user, const char* password,
                         const char* fax_number, const char* mail, const char* info,
                         const char* filename, std::int32_t maxdials) {
  SendFaxCall call{server_ip, user,     password, fax_number, mail,
                   info,      filename, maxdials, "",         false};
  const auto file = g_platform->files.find(telvor::FromUtf8(filename));
  if (file != g_platform->files.end()) {
    call.content = file->second.content;
    call.file_open = file->second.open;
  }
  g_sendfax_calls.push_back(call);
  return g_sendfax_result;
}

FakePlatform::~FakePlatform() {
  for (void* memory : allocations) std::free(memory);
}

void* FakePlatform::AllocateZeroed(std::size_t size) {
  calls.push_back("allocate " + std::to_string(size));
  if (allocation_fails) {
    last_error = 8;
    return nullptr;
  }
  allocations.push_back(std::calloc(1, size));
  return allocations.back();
}

Handle FakePlatform::CreateUnsharedFile(const char16_t* path) {
  const std::u16string name(path);
  calls.push_back("create " + Ascii(name));
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

bool FakePlatform::WriteFile(Handle file, const void* data, std::uint32_t size,
                             std::uint32_t* written) {
  calls.push_back("write " + std::to_string(size));
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

bool FakePlatform::SetEndOfFile(Handle file) {
  calls.push_back("set end");
  return handles.count(file) != 0;
}

bool FakePlatform::CloseHandle(Handle file) {
  const auto at = handles.find(file);
  if (at == handles.end()) {
    calls.push_back("close (not open)");
    last_error = 6;
    return false;
  }
  calls.push_back("close " + Ascii(at->second));
  files[at->second].open = false;
  handles.erase(at);
  return true;
}

bool FakePlatform::DeleteNamedFile(const char16_t* path) {
  calls.push_back("delete " + Ascii(path));
  return files.erase(path) != 0;
}

std::uint32_t FakePlatform::ReadEnvironment(const char16_t* name, char16_t* buffer,
                                            std::uint32_t capacity) {
  calls.push_back("environment " + Ascii(name));
  if (std::u16string(name) != u"TEMP" || !temp) {
    last_error = 203;
    return 0;
  }
  if (temp->size() + 1 > capacity) return static_cast<std::uint32_t>(temp->size() + 1);
  telvor::CopyText(buffer, capacity, *temp);
  return static_cast<std::uint32_t>(temp->size());
}

std::uint32_t FakePlatform::TempFileName(const char16_t* directory, const char16_t* prefix,
                                         std::uint32_t unique, char16_t* path) {
  calls.push_back("temp name " + Ascii(directory) + " " + Ascii(prefix) + " " +
                  std::to_string(unique));
  const std::uint32_t number = unique != 0 ? unique : next_fresh_number++;
  const telvor::Text name = TempName(directory, prefix, number);
  if (!telvor::CopyText(path, kPathUnits, name)) return 0;
  if (unique == 0) files[name] = FakeFile{};
  return number;
}

Handle FakePlatform::LoadFaxLibrary() {
  calls.push_back("load library");
  if (load_fails) {
    last_error = 126;
    return nullptr;
  }
  ++library_references;
  return &g_library_marker;
}

SendFaxFunction FakePlatform::ResolveSendFax(Handle library, const char* name) {
  calls.push_back(std::string("resolve ") + name);
  if (resolve_fails || library != &g_library_marker) {
    last_error = 127;
    return nullptr;
  }
  return FakeSendFax;
}

bool FakePlatform::FreeFaxLibrary(Handle library) {
  calls.push_back("free library");
  if (library != &g_library_marker || library_references == 0) {
    last_error = 6;
    return false;
  }
  --library_references;
  return true;
}

DialogResult FakePlatform::SetupDialog(SetupFields& fields) {
  calls.push_back("setup dialog");
  setup_initial_attempts = fields.attempts;
  if (setup_result == DialogResult::kOk) fields = setup_answer;
  if (setup_result == DialogResult::kFailed) last_error = 1813;
  return setup_result;
}

DialogResult FakePlatform::FaxNumberDialog(FaxNumberFields& fields) {
  calls.push_back("fax number dialog");
  fax_number_initial_attempts = fields.attempts;
  if (fax_number_result == DialogResult::kOk) fields = fax_number_answer;
  if (fax_number_result == DialogResult::kFailed) last_error = 1813;
  return fax_number_result;
}

void FakePlatform::ShowMessage(const char16_t* text, const char16_t* caption, Owner owner) {
  calls.push_back("message " + Ascii(text));
  messages.push_back(Message{text, caption, owner});
}

bool FakePlatform::OpenJobPrinter(const char16_t* printer_name, Handle* printer) {
  calls.push_back("open printer " + Ascii(printer_name));
  if (open_printer_fails) {
    last_error = 1801;
    return false;
  }
  ++open_printers;
  *printer = &g_printer_marker;
  return true;
}

bool FakePlatform::SetJobCommand(Handle printer, std::uint32_t job_id, std::uint32_t command) {
  calls.push_back("set job " + std::to_string(job_id) + " " + std::to_string(command));
  job_commands.push_back(job_id);
  job_commands.push_back(command);
  return printer == &g_printer_marker;
}

bool FakePlatform::CloseJobPrinter(Handle printer) {
  calls.push_back("close printer");
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

MonitorTest::MonitorTest() {
  g_registry = &registry;
  g_platform = &platform;
  g_sendfax_calls.clear();
  g_sendfax_result = 0;
  UsePlatform(&platform);
  ResetMonitorState();
}

MonitorTest::~MonitorTest() {
  UsePlatform(nullptr);
  g_registry = nullptr;
  g_platform = nullptr;
}

}  // namespace quor::testing
