// One `sendfax` call: log, argument checks, login, upload and job
// submission, against the platform operations of platform.h.
#pragma once

#include <cstdint>

#include "platform.h"
#include "telvor/sendfax.h"

namespace telvor::client {

// The eight arguments of `sendfax`, and the job of `sendfax_job` (may be
// null); null texts are read as empty.
struct SendRequest {
  const char* server_ip = nullptr;
  const char* user = nullptr;
  const char* password = nullptr;
  const char* fax_number = nullptr;
  const char* mail = nullptr;
  const char* info = nullptr;
  const char* filename = nullptr;
  std::int32_t maxdials = 0;
  telvor_job* job = nullptr;
};

// How long the exported call waits for a connect, for one whole reply, and
// for the peer to take the bytes of one send.
inline constexpr int kTimeLimitMs = 60000;

// One call on CurrentPlatform(): a TELVOR_ result. A job of the right size
// has its job number set to 0, and to the server's number once submitted.
std::int32_t RunSendFax(const SendRequest& request, int time_limit_ms);

}  // namespace telvor::client
