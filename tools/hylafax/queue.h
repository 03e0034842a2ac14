// What the tests read of Debian's real HylaFAX server (the hylafax_server
// fixture on 127.0.3.1): whether it answers, and its queue files.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace telvor::hylafax {

inline constexpr char kAddress[] = "127.0.3.1";

// Empty when the server answers on kAddress port 4559; otherwise why not.
// A test skips with that reason, or fails with it when CI=true.
std::string Unavailable();

// "key:value" lines of a queue file; the first of each key counts.
std::map<std::string, std::string> QueueFields(const std::string& text);

// The newest queue file (sendq/qN, or doneq/qN once the job has ended) whose
// job info ("jobtag") is `tag`; empty when there is none.
std::filesystem::path QueueFileOf(const std::string& tag);

// A file of the server's spool, relative to its root (or absolute).
std::string ReadSpoolFile(const std::filesystem::path& path);

}  // namespace telvor::hylafax
