// telvor-bench: upload throughput of sendfax against the embedded fax server
// beside a plain loop that sends the same file in 512-byte pieces over
// loopback, and the peak memory of sendfax for a small and a large file, each
// measured in a fresh process. Prints one table.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "faxserver.h"
#include "telvor/sendfax.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr char kAddress[] = "127.0.5.1";
constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kPiece = 512;  // what sendfax sends per call on the data connection
constexpr char kPeakChild[] = "--peak-child";

// A PostScript file of exactly `size` bytes.
bool WriteDocument(const fs::path& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  std::string text = "%!PS-Adobe-3.0\n";
  const std::string line =
      "% benchmark filler, seventy-two bytes to the line, nothing else here..\n";
  std::size_t written = 0;
  while (written < size) {
    const std::string& piece = written == 0 ? text : line;
    const std::size_t n = std::min(piece.size(), size - written);
    out.write(piece.data(), static_cast<std::streamsize>(n));
    written += n;
  }
  return static_cast<bool>(out);
}

std::int32_t Send(const std::string& file) {
  return sendfax(kAddress, "bench", "bench", "5551234", "bench@example.com", "benchmark",
                 file.c_str(), 3);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Sends `file` in 512-byte pieces to a loopback listener that reads and
// drops everything; the seconds until the listener has seen the end, or -1.
double PlainLoop(const std::string& file) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  inet_pton(AF_INET, kAddress, &at.sin_addr);
  socklen_t length = sizeof at;
  if (bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    close(listener);
    return -1;
  }
  std::thread sink([listener] {
    const int peer = accept(listener, nullptr, nullptr);
    std::vector<char> buffer(64 * 1024);
    while (peer >= 0 && recv(peer, buffer.data(), buffer.size(), 0) > 0) {
    }
    if (peer >= 0) close(peer);
  });

  const auto started = std::chrono::steady_clock::now();
  const int out = socket(AF_INET, SOCK_STREAM, 0);
  bool ok = connect(out, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  std::FILE* in = std::fopen(file.c_str(), "rb");
  ok = ok && in != nullptr;
  char block[kPiece];
  for (std::size_t n = 0; ok && (n = std::fread(block, 1, sizeof block, in)) > 0;) {
    for (std::size_t sent = 0; ok && sent < n;) {
      const ssize_t m = send(out, block + sent, n - sent, MSG_NOSIGNAL);
      ok = m > 0;
      if (ok) sent += static_cast<std::size_t>(m);
    }
  }
  if (in != nullptr) std::fclose(in);
  close(out);
  sink.join();
  close(listener);
  return ok ? Seconds(std::chrono::steady_clock::now() - started) : -1;
}

// The process's peak resident memory in kB (VmHWM).
long PeakKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Runs one sendfax of `file` in a fresh process and returns its peak
// memory in kB, or -1.
long PeakOfCall(const std::string& file) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  std::string self = fs::read_symlink("/proc/self/exe").string();
  std::string mode = kPeakChild;
  std::string argument = file;
  char* argv[] = {self.data(), mode.data(), argument.data(), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  std::string output;
  char buffer[256];
  for (ssize_t n; spawned == 0 && (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipe_ends[0]);
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return std::strtol(output.c_str(), nullptr, 10);
}

int PeakChild(const std::string& file) {
  const std::int32_t result = Send(file);
  if (result != 0) {
    std::fprintf(stderr, "sendfax result %d\n", static_cast<int>(result));
    return 1;
  }
  std::printf("%ld\n", PeakKilobytes());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], kPeakChild) == 0) return PeakChild(argv[2]);
  std::size_t large_mib = 100;
  if (argc == 3 && std::strcmp(argv[1], "--size-mb") == 0) {
    large_mib = std::strtoul(argv[2], nullptr, 10);
  } else if (argc != 1) {
    large_mib = 0;
  }
  if (large_mib == 0) {
    std::fprintf(stderr, "usage: telvor-bench [--size-mb N]\n");
    return 2;
  }

  std::error_code ec;
  const fs::path dir = fs::temp_directory_path() / ("telvor-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);  // sendfax writes telvor.log here
  const std::string small = (dir / "small.ps").string();
  const std::string large = (dir / "large.ps").string();
  if (!WriteDocument(small, kMiB) || !WriteDocument(large, large_mib * kMiB)) {
    std::fprintf(stderr, "cannot write the documents in %s\n", dir.c_str());
    return 1;
  }

  telvor::faxserver::Server server(kAddress, (dir / "store").string());
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "embedded fax server on %s: %s\n", kAddress, error.c_str());
    return 1;
  }

  const double size_mb = static_cast<double>(large_mib);
  const auto started = std::chrono::steady_clock::now();
  const std::int32_t result = Send(large);
  const double sendfax_seconds = Seconds(std::chrono::steady_clock::now() - started);
  const double plain_seconds = PlainLoop(large);
  const long peak_small = PeakOfCall(small);
  const long peak_large = PeakOfCall(large);
  server.Stop();
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(dir, ec);

  if (result != 0 || plain_seconds < 0 || peak_small < 0 || peak_large < 0) {
    std::fprintf(stderr, "benchmark failed: sendfax %d, plain loop %s, peaks %ld / %ld kB\n",
                 static_cast<int>(result), plain_seconds < 0 ? "failed" : "ok", peak_small,
                 peak_large);
    return 1;
  }
  std::printf("telvor benchmark: %zu MiB PostScript file, embedded fax server on %s\n", large_mib,
              kAddress);
  std::printf("%-52s %10s %10s\n", "upload", "seconds", "MiB/s");
  std::printf("%-52s %10.2f %10.1f\n", "sendfax (whole call: login, upload, job)", sendfax_seconds,
              size_mb / sendfax_seconds);
  std::printf("%-52s %10.2f %10.1f\n", "plain loop, 512-byte sends", plain_seconds,
              size_mb / plain_seconds);
  std::printf("%-52s %10s\n", "peak memory of one sendfax call (fresh process)", "kB");
  std::printf("%-52s %10ld\n", "1 MiB file", peak_small);
  std::printf("%-52s %10ld\n", (std::to_string(large_mib) + " MiB file").c_str(), peak_large);
  std::printf("%-52s %10ld\n", "difference", peak_large - peak_small);
  return 0;
}
