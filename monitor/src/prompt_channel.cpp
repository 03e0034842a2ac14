#include "prompt_channel.h"

#include <cstring>

namespace quor {

namespace {

template <std::size_t N>
void Terminate(char16_t (&field)[N]) {
  field[N - 1] = 0;
}

bool Known(DialogResult result) {
  return result == DialogResult::kOk || result == DialogResult::kCancel ||
         result == DialogResult::kFailed;
}

}  // namespace

std::size_t FieldsSize(DialogKind kind) {
  return kind == DialogKind::kSetup ? sizeof(SetupFields) : sizeof(FaxNumberFields);
}

std::size_t EncodePrompt(DialogKind kind, DialogResult result, std::uint32_t error,
                         const void* fields, void* out) {
  const PromptHeader header{kPromptMagic, kind, result, error};
  auto* bytes = static_cast<unsigned char*>(out);
  std::memcpy(bytes, &header, sizeof(header));
  std::memcpy(bytes + sizeof(header), fields, FieldsSize(kind));
  return sizeof(header) + FieldsSize(kind);
}

bool DecodePrompt(const void* data, std::size_t size, DialogKind kind, DialogResult* result,
                  std::uint32_t* error, void* fields) {
  if (kind != DialogKind::kSetup && kind != DialogKind::kFaxNumber) return false;
  PromptHeader header{};
  if (size != sizeof(header) + FieldsSize(kind)) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::memcpy(&header, bytes, sizeof(header));
  if (header.magic != kPromptMagic || header.kind != kind || !Known(header.result)) return false;
  *result = header.result;
  *error = header.error;
  if (header.result != DialogResult::kOk) return true;
  std::memcpy(fields, bytes + sizeof(header), FieldsSize(kind));
  if (kind == DialogKind::kSetup) {
    auto& setup = *static_cast<SetupFields*>(fields);
    Terminate(setup.server_ip);
    Terminate(setup.user);
    Terminate(setup.password);
    Terminate(setup.mail);
    Terminate(setup.attempts);
  } else {
    auto& number = *static_cast<FaxNumberFields*>(fields);
    Terminate(number.fax_number);
    Terminate(number.attempts);
    Terminate(number.info);
  }
  return true;
}

}  // namespace quor
