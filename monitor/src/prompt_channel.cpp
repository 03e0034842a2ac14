#include "prompt_channel.h"

#include <cstring>

#include "widths.h"

namespace quor {

namespace {

// Whether the text ends within `limit` units of the field.
template <std::size_t N>
bool Ends(const char16_t (&field)[N], std::size_t limit = N - 1) {
  for (std::size_t i = 0; i <= limit; ++i) {
    if (field[i] == 0) return true;
  }
  return false;
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
  if (header.result == DialogResult::kOk) {
    // The answer comes from a program running as the person who printed:
    // what the dialog could not have given is refused, not cut to fit.
    if (kind == DialogKind::kSetup) {
      SetupFields setup;
      std::memcpy(&setup, bytes + sizeof(header), sizeof(setup));
      if (!Ends(setup.server_ip) || !Ends(setup.user) || !Ends(setup.password) ||
          !Ends(setup.mail) || !Ends(setup.attempts) || !Ends(setup.modem)) {
        return false;
      }
      *static_cast<SetupFields*>(fields) = setup;
    } else {
      FaxNumberFields number;
      std::memcpy(&number, bytes + sizeof(header), sizeof(number));
      if (!Ends(number.fax_number, kFaxNumberLimit) || !Ends(number.attempts) ||
          !Ends(number.info)) {
        return false;
      }
      *static_cast<FaxNumberFields*>(fields) = number;
    }
  }
  *result = header.result;
  *error = header.error;
  return true;
}

}  // namespace quor
