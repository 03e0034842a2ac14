// The one export of the fax server client library (telvor.dll /
// libtelvor.so): sends one PostScript file to a HylaFAX server as a fax job.
// Texts are narrow, zero-terminated, in the ANSI code page; the library keeps
// no reference to them after it returns. Result 0 on success, otherwise one
// of the negative codes in the README's result table.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(TELVOR_BUILDING_CLIENT)
#define TELVOR_EXPORT __declspec(dllexport)
#elif defined(__GNUC__) && !defined(_WIN32)
#define TELVOR_EXPORT __attribute__((visibility("default")))
#else
#define TELVOR_EXPORT
#endif

// Plain C calling convention (cdecl on i686), exported undecorated.
TELVOR_EXPORT int32_t sendfax(const char* server_ip, const char* user, const char* password,
                              const char* fax_number, const char* mail, const char* info,
                              const char* filename, int32_t maxdials);

typedef int32_t (*SendFaxFunction)(const char*, const char*, const char*, const char*, const char*,
                                   const char*, const char*, int32_t);

#ifdef __cplusplus
}
#endif
