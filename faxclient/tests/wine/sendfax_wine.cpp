// Loads telvor.dll by name as the port monitor does, resolves "sendfax" and
// sends a document: sendfax_wine SERVER_IP FILE. Exits with the call's result.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "telvor/sendfax.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: sendfax_wine SERVER_IP FILE\n");
    return 2;
  }
  HMODULE library = LoadLibraryW(L"telvor.dll");
  if (library == nullptr) {
    std::fprintf(stderr, "LoadLibrary error %lu\n", GetLastError());
    return 3;
  }
  const FARPROC address = GetProcAddress(library, "sendfax");
  if (address == nullptr) {
    std::fprintf(stderr, "GetProcAddress error %lu\n", GetLastError());
    FreeLibrary(library);
    return 4;
  }
  SendFaxFunction send = nullptr;
  static_assert(sizeof send == sizeof address);
  std::memcpy(&send, &address, sizeof send);
  const int32_t result = send(argv[1], "alice", "secret", "5551234", "alice@example.com",
                              "sent under Wine", argv[2], 12);
  FreeLibrary(library);
  std::printf("sendfax result %d\n", static_cast<int>(result));
  return static_cast<int>(result);
}
