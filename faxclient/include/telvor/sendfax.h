// The exports of the fax server client library (telvor.dll / libtelvor.so):
// each sends one PostScript file to a HylaFAX server as a fax job. Texts are
// narrow, zero-terminated, in the ANSI code page; the library keeps no
// reference to them after it returns. Result TELVOR_SENT on success,
// otherwise one of the negative TELVOR_ERR_ codes below.
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

// The debug log each call writes afresh in the caller's current directory.
#define TELVOR_LOG_FILE "telvor.log"

// The most bytes a text argument may have (the terminator aside).
#define TELVOR_TEXT_LIMIT 256

// Results of sendfax and sendfax_job.
#define TELVOR_SENT 0  // the server accepted the job ("JSUBM" got a 2xx reply)
#define TELVOR_ERR_LOG \
  (-100)                                 // no log at all, not even one that discards
                                         // (a log that cannot be opened is left out)
#define TELVOR_ERR_ARGUMENT (-40)        // an argument or a job setting is not acceptable
#define TELVOR_ERR_SOCKETS (-11)         // the sockets library cannot be started
#define TELVOR_ERR_CONTROL_SOCKET (-12)  // no socket for the control connection
#define TELVOR_ERR_CONNECT (-13)         // the connection to the server failed
#define TELVOR_ERR_LOGIN (-14)           // the server refused the login
#define TELVOR_ERR_DATA_SOCKET (-22)     // no socket for the data connection
#define TELVOR_ERR_DATA_CONNECT (-23)    // the data connection cannot be connected
#define TELVOR_ERR_UPLOAD (-24)          // the server broke off the upload; no job
#define TELVOR_ERR_FILE_OPEN (-30)       // the document cannot be opened
#define TELVOR_ERR_NOT_POSTSCRIPT (-31)  // no "%!PS" in the document's first 512 bytes
#define TELVOR_ERR_SERVER_FILE (-32)     // the server named no stored file after the upload; no job
#define TELVOR_ERR_FILE_READ (-33)       // the document could not be read to its end; no job
#define TELVOR_ERR_TIMEOUT (-50)         // the server did not answer, or take data, within 60 s
#define TELVOR_ERR_JOB_REFUSED (-60)     // the server did not accept the job

// Plain C calling convention (cdecl on i686), exported undecorated.
TELVOR_EXPORT int32_t sendfax(const char* server_ip, const char* user, const char* password,
                              const char* fax_number, const char* mail, const char* info,
                              const char* filename, int32_t maxdials);

// What a caller of sendfax_job may set beyond sendfax's arguments, and what
// it gets back. Zero (or null) in a setting means the value sendfax uses.
typedef struct telvor_job {
  uint32_t size;                 // sizeof(telvor_job)
  const char* modem;             // the server's modem to send with; "ttyS0"
  uint32_t page_width;           // millimetres, 1 to 999; 209 (A4)
  uint32_t page_length;          // millimetres, 1 to 999; 296 (A4)
  uint32_t vertical_resolution;  // lines per inch, 98 or 196; 196
  uint32_t job_number;           // out: the server's number for the job, 0 when unknown
  const char* log_folder;        // where TELVOR_LOG_FILE goes; the current directory
} telvor_job;

// sendfax with the job's settings and the server's job number in `job` (may
// be null: then exactly sendfax). A setting out of range, or a modem name
// with a blank or a control character or longer than TELVOR_TEXT_LIMIT,
// gives TELVOR_ERR_ARGUMENT before anything is sent. `job->job_number` is 0
// until the call succeeds, then the number in the reply to "JSUBM" ("200 Job
// N submitted."), still 0 when the reply names none that fits.
TELVOR_EXPORT int32_t sendfax_job(const char* server_ip, const char* user, const char* password,
                                  const char* fax_number, const char* mail, const char* info,
                                  const char* filename, int32_t maxdials, telvor_job* job);

typedef int32_t (*SendFaxFunction)(const char*, const char*, const char*, const char*, const char*,
                                   const char*, const char*, int32_t);
typedef int32_t (*SendFaxJobFunction)(const char*, const char*, const char*, const char*,
                                      const char*, const char*, const char*, int32_t, telvor_job*);

#ifdef __cplusplus
}
#endif
