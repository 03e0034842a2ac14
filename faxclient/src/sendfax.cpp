// The library's exports: both run the same call.
#include "telvor/sendfax.h"

#include <type_traits>

#include "session.h"

// Callers call through these types: they must match the exports.
static_assert(std::is_same_v<decltype(&sendfax), SendFaxFunction>);
static_assert(std::is_same_v<decltype(&sendfax_job), SendFaxJobFunction>);

extern "C" int32_t sendfax_job(const char* server_ip, const char* user, const char* password,
                               const char* fax_number, const char* mail, const char* info,
                               const char* filename, int32_t maxdials, telvor_job* job) {
  telvor::client::SendRequest request;
  request.server_ip = server_ip;
  request.user = user;
  request.password = password;
  request.fax_number = fax_number;
  request.mail = mail;
  request.info = info;
  request.filename = filename;
  request.maxdials = maxdials;
  request.job = job;
  return telvor::client::RunSendFax(request, telvor::client::kTimeLimitMs);
}

extern "C" int32_t sendfax(const char* server_ip, const char* user, const char* password,
                           const char* fax_number, const char* mail, const char* info,
                           const char* filename, int32_t maxdials) {
  return sendfax_job(server_ip, user, password, fax_number, mail, info, filename, maxdials,
                     nullptr);
}
