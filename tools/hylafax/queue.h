// What the tests read of Debian's real HylaFAX server (the hylafax_server
// fixture on 127.0.3.1): whether it answers, and its queue files.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace telvor::hylafax {

inline constexpr char kAddress[] = "127.0.3.1";

// The strict server (fixture hylafax_strict_server): it lets in only
// kStrictUser with kStrictPassword and has no modem registered, so that its
// scheduler refuses every submission.
inline constexpr char kStrictAddress[] = TELVOR_HYLAFAX_STRICT_ADDRESS;
inline constexpr char kStrictUser[] = TELVOR_HYLAFAX_STRICT_USER;
inline constexpr char kStrictPassword[] = TELVOR_HYLAFAX_STRICT_PASSWORD;

// Empty when the server answers on `address` port 4559; otherwise why not.
// A test skips with that reason, or fails with it when CI=true.
std::string Unavailable(const char* address = kAddress);

// "key:value" lines of a queue file; the first of each key counts.
std::map<std::string, std::string> QueueFields(const std::string& text);

// The newest queue file (sendq/qN, or doneq/qN once the job has ended) whose
// job info ("jobtag") is `tag`; empty when there is none.
std::filesystem::path QueueFileOf(const std::string& tag);

// A file of the server's spool, relative to its root (or absolute).
std::string ReadSpoolFile(const std::filesystem::path& path);

}  // namespace telvor::hylafax
