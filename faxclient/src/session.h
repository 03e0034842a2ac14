// One `sendfax` call: log, argument checks, login, upload and job
// submission, against the platform operations of platform.h.
#pragma once

#include <cstdint>

#include "platform.h"

namespace telvor::client {

// The eight arguments of `sendfax`; null texts are read as empty.
struct SendRequest {
  const char* server_ip = nullptr;
  const char* user = nullptr;
  const char* password = nullptr;
  const char* fax_number = nullptr;
  const char* mail = nullptr;
  const char* info = nullptr;
  const char* filename = nullptr;
  std::int32_t maxdials = 0;
};

// Results of a call.
inline constexpr std::int32_t kSent = 0;
inline constexpr std::int32_t kLogNotOpened = -100;
inline constexpr std::int32_t kInvalidArgument = -40;
inline constexpr std::int32_t kStartupFailed = -11;
inline constexpr std::int32_t kNoControlSocket = -12;
inline constexpr std::int32_t kConnectFailed = -13;
inline constexpr std::int32_t kLoginRefused = -14;
inline constexpr std::int32_t kNoDataSocket = -22;
inline constexpr std::int32_t kDataConnectFailed = -23;
inline constexpr std::int32_t kUploadBroken = -24;
inline constexpr std::int32_t kFileNotOpened = -30;
inline constexpr std::int32_t kNotPostScript = -31;
inline constexpr std::int32_t kNoServerFileName = -32;
inline constexpr std::int32_t kFileNotRead = -33;
inline constexpr std::int32_t kServerTimedOut = -50;
inline constexpr std::int32_t kJobNotSubmitted = -60;

// How long the exported call waits for a connect, for one whole reply, and
// for the peer to take the bytes of one send.
inline constexpr int kTimeLimitMs = 60000;

// One call on CurrentPlatform().
std::int32_t RunSendFax(const SendRequest& request, int time_limit_ms);

}  // namespace telvor::client
