// The platform operations the monitor uses, behind one narrow interface: one
// Windows implementation, one POSIX implementation, and fakes in the tests.
// Texts are UTF-16 (char16_t); handles are opaque, and null means "none"
// (the implementations never hand out a null handle for an open object).
#pragma once

#include <cstddef>
#include <cstdint>

#include "telvor/sendfax.h"
#include "widths.h"

#ifndef _WIN32
struct _QUOR_HOST;  // quor/host.h
#endif

namespace quor {

using Handle = void*;

// What the setup dialog edits: the wide forms of the settings.
struct SetupFields {
  char16_t server_ip[kTextUnits];
  char16_t user[kTextUnits];
  char16_t password[kTextUnits];
  char16_t mail[kTextUnits];
  char16_t attempts[kAttemptsUnits];
  char16_t modem[kTextUnits];  // empty: the client's own, "ttyS0"
};

// What the fax-number dialog edits.
struct FaxNumberFields {
  char16_t fax_number[kFaxNumberUnits];
  char16_t attempts[kAttemptsUnits];
  char16_t info[kTextUnits];
};

enum class DialogResult { kOk, kCancel, kFailed };

// The paper of a job as the fax server is told of it; 0: the client's own
// (A4, 196 lines per inch).
struct JobPaper {
  std::uint32_t width_mm;
  std::uint32_t length_mm;
  std::uint32_t vertical_resolution;
};

// What became of a job, for the host that printed it.
enum class JobState : std::uint32_t { kStarted = 1, kSent, kNotSent, kCancelled };

struct JobReport {
  std::uint32_t job_id;
  JobState state;
  std::int32_t send_fax_result;  // kSent, kNotSent: sendfax's result (0: not called)
  std::uint32_t server_job;      // kSent: the server's job number, 0 when unknown
  std::uint32_t error;           // kNotSent before sendfax: the error code
  const char16_t* spool_file;    // kStarted, kNotSent: the spool file
};

// The two dialogs, as the prompt program is asked for one.
enum class DialogKind : std::uint32_t { kSetup = 1, kFaxNumber = 2 };

// No session: the session functions' answer when there is none.
inline constexpr std::uint32_t kNoSession = 0xFFFFFFFF;

// Message boxes either have no owner or the top-level window at the top of
// the Z order.
enum class Owner { kNone, kTopWindow };

class Platform {
 public:
  virtual ~Platform() = default;

  // The thread's last error code, which the spooler reads after a failure.
  virtual std::uint32_t LastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;

  // Zero-filled memory for an operations table: the spooler keeps it until
  // the process ends, so it is never freed.
  virtual void* AllocateTable(std::size_t size) = 0;

  // Opens the file for reading and writing, created empty, and keeps
  // everyone else out: a second opening while this one is open fails with
  // code 32. On Windows whatever had the name (a file, a link someone put
  // there) goes first, and no link is followed.
  virtual Handle OpenExclusiveFile(const char16_t* path) = 0;
  // Appends `size` bytes; `written` gets the count that reached the file.
  virtual bool AppendToFile(Handle file, const void* data, std::uint32_t size,
                            std::uint32_t* written) = 0;
  // Cuts the file at its current position.
  virtual bool CutFileHere(Handle file) = 0;
  virtual bool CloseFile(Handle file) = 0;
  virtual bool RemoveFile(const char16_t* path) = 0;

  // Reads an environment variable into `buffer` of `capacity` units. Returns
  // its length; 0 when it is missing; `capacity` or more when it does not fit.
  virtual std::uint32_t ReadEnvironment(const char16_t* name, char16_t* buffer,
                                        std::uint32_t capacity) = 0;
  // The folder of the placeholder, the spool files and the documents kept,
  // as ReadEnvironment answers. On Windows the monitor's own under
  // ProgramData, which only SYSTEM and Administrators may open (made so
  // when missing or made by anyone else: C:\Windows\Temp is every user's);
  // elsewhere TEMP, which the Linux hosts make private.
  virtual std::uint32_t SpoolFolder(char16_t* buffer, std::uint32_t capacity) = 0;
  // Whether the client's log goes there too (the spooler's current folder
  // is the system's) rather than into the current folder, the host's own.
  virtual bool LogInSpoolFolder() = 0;
  // The temporary-name rule; `directory` ends with a separator and `path`
  // has kPathUnits units. FormTempName only forms the name with `number`
  // (nonzero); CreateFreshTempFile picks a name no file has, creates that
  // empty file and gives the number used. Both give 0 on failure.
  virtual std::uint32_t FormTempName(const char16_t* directory, const char16_t* prefix,
                                     std::uint32_t number, char16_t* path) = 0;
  virtual std::uint32_t CreateFreshTempFile(const char16_t* directory, const char16_t* prefix,
                                            char16_t* path) = 0;

  // The fax server client library: on Windows the file beside the monitor's
  // own library, never searched for; elsewhere through the library search.
  virtual Handle LoadFaxLibrary() = 0;
  virtual SendFaxFunction ResolveSendFax(Handle library, const char* name) = 0;
  // The variant that also gives the server's job number; null, with no error,
  // when the library has none.
  virtual SendFaxJobFunction ResolveSendFaxJob(Handle library, const char* name) = 0;
  virtual bool FreeFaxLibrary(Handle library) = 0;

  // The two dialogs. `fields` holds the initial attempts text; on kOk every
  // field holds what was entered, on kCancel and kFailed nothing is read.
  virtual DialogResult AskSettings(SetupFields& fields) = 0;
  virtual DialogResult AskFaxNumber(FaxNumberFields& fields) = 0;

  // A message box with an OK button only and no icon.
  virtual void ShowMessage(const char16_t* text, const char16_t* caption, Owner owner) = 0;

  // The spooler's side of a job: its printer, and the notice that the job
  // has gone out of the spooler's hands.
  virtual bool OpenJobPrinter(const char16_t* printer_name, Handle* printer) = 0;
  virtual bool MarkJobSent(Handle printer, std::uint32_t job_id) = 0;
  virtual bool CloseJobPrinter(Handle printer) = 0;

  // Where the person who printed is. A service's windows are on a desktop
  // nobody sees: OnVisibleDesktop tells whether this process's are seen.
  virtual bool OnVisibleDesktop() = 0;
  // The user the thread acts for (the spooler impersonates a job's owner),
  // as a primary token for starting a program, with its session; null when
  // the thread acts for no one.
  virtual Handle TakeCallerToken(std::uint32_t* session) = 0;
  virtual void ReleaseToken(Handle token) = 0;
  // Whether the person the thread acts for may store the settings: on
  // Windows an administrator whose token is elevated (the thread's, or the
  // process's when it acts for no one); elsewhere the host's own user.
  virtual bool CallerMayConfigure() = 0;
  // The user name the spooler recorded for the job; false when unknown.
  virtual bool JobUserName(Handle printer, std::uint32_t job_id, char16_t* name,
                           std::size_t capacity) = 0;
  // The paper the job was printed for; false when nothing is known of it.
  virtual bool JobPaperOf(Handle printer, std::uint32_t job_id, JobPaper* paper) = 0;
  // The session where `user` is logged on, or kNoSession.
  virtual std::uint32_t UserSession(const char16_t* user) = 0;
  // The session attached to the physical console, or kNoSession.
  virtual std::uint32_t ConsoleSession() = 0;

  // Starts the prompt program on the interactive desktop of `session` (as
  // `token`'s user when given), hands it `request` and collects its answer
  // into `answer` (capacity `*size`, set to the bytes read). False, with the
  // last error set, when it could not be started or gave no answer within
  // `seconds` (it is then ended).
  virtual bool RunPrompt(Handle token, std::uint32_t session, const void* request,
                         std::size_t request_size, void* answer, std::size_t* size,
                         std::uint32_t seconds) = 0;
  // A message box with an OK button in another session, shown until its OK.
  // Without `wait_for_ok` the call returns at once: a port thread held by a
  // message box would hold every job of its port.
  virtual void SendSessionMessage(std::uint32_t session, const char16_t* text,
                                  const char16_t* caption, bool wait_for_ok) = 0;
  // An entry in the system's log, for whoever looks later.
  virtual void LogEvent(const char16_t* text) = 0;
  // Tells the host that printed the job what became of it: the POSIX hosts
  // show it; the Windows spooler learns it from the job's state.
  virtual void ReportJob(const JobReport& report) = 0;

  // UTF-16 to the ANSI code page, with the terminator, into `capacity` bytes.
  // Fails (last error set) rather than cut the text.
  virtual bool ToAnsi(const char16_t* text, char* out, std::size_t capacity) = 0;

  // Gives the monitor's settings (the password among them) an access list
  // for SYSTEM and Administrators alone, as the spooler's registry
  // functions cannot; false with the last error set. Nothing to do where
  // the settings are the host's own file.
  virtual bool ProtectSettings() = 0;

  // The spooler's threads act for (impersonate) the job's owner, who may
  // not write the monitor's key or files, the event log or start programs
  // as another user. From BeginAsSpooler to its EndAsSpooler the thread
  // acts as the spooler itself, and then again for whom it acted before.
  // Pairs nest; neither changes the last error. Use AsSpooler.
  virtual void BeginAsSpooler() = 0;
  virtual void EndAsSpooler() = 0;
};

// While it lives, the thread acts as the spooler: only around what needs
// the system, never around what the person sees or answers.
class AsSpooler {
 public:
  AsSpooler();
  AsSpooler(const AsSpooler&) = delete;
  AsSpooler& operator=(const AsSpooler&) = delete;
  ~AsSpooler();

 private:
  Platform& platform_;
};

// The real one, defined in platform_windows.cpp / platform_posix.cpp.
Platform& SystemPlatform();
// What the monitor's operations call.
Platform& CurrentPlatform();
// Tests put a fake in place; null restores the system's.
void UsePlatform(Platform* platform);

#ifndef _WIN32
// The host's table of calls (quor/host.h), copied; null forgets it. False
// for a table of another size.
bool RegisterHost(const ::_QUOR_HOST* host);
#endif

#ifdef _WIN32
// The monitor library's own module, where the dialog templates are, as its
// load notification receives it: found so under any file name the library
// was installed with.
void KeepLibraryModule(void* module);
#endif

}  // namespace quor
