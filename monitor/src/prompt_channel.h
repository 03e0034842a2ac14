// What the monitor and its prompt program say to each other over the pipe
// that only the monitor holds: the dialog to show with its initial fields,
// and the person's answer with the fields entered. Both ends are built
// from the same sources for the same machine, so the records travel as
// they are, behind a header that is checked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

namespace quor {

struct PromptHeader {
  std::uint32_t magic;
  DialogKind kind;
  DialogResult result;  // in an answer only
  std::uint32_t error;  // with kFailed: why the dialog could not be shown
};

inline constexpr std::uint32_t kPromptMagic = 0x31525051;  // "QPR1"
inline constexpr std::size_t kPromptMessageBytes =
    sizeof(PromptHeader) +
    (sizeof(SetupFields) > sizeof(FaxNumberFields) ? sizeof(SetupFields) : sizeof(FaxNumberFields));

// The bytes of the dialog's fields record.
std::size_t FieldsSize(DialogKind kind);

// Writes a message into `out` (kPromptMessageBytes); the bytes written.
std::size_t EncodePrompt(DialogKind kind, DialogResult result, std::uint32_t error,
                         const void* fields, void* out);

// Reads a message for dialog `kind`; false when it is not a whole message
// for that dialog, or holds a text longer than its field takes (a fax
// number of more than kFaxNumberLimit characters among them). The fields
// are taken only from an answer kOk.
bool DecodePrompt(const void* data, std::size_t size, DialogKind kind, DialogResult* result,
                  std::uint32_t* error, void* fields);

}  // namespace quor
