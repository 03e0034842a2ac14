// The library's one export.
#include "telvor/sendfax.h"

#include <type_traits>

#include "session.h"

// The monitor calls through SendFaxFunction: it must match the export.
static_assert(std::is_same_v<decltype(&sendfax), SendFaxFunction>);

extern "C" int32_t sendfax(const char* server_ip, const char* user, const char* password,
                           const char* fax_number, const char* mail, const char* info,
                           const char* filename, int32_t maxdials) {
  telvor::client::SendRequest request;
  request.server_ip = server_ip;
  request.user = user;
  request.password = password;
  request.fax_number = fax_number;
  request.mail = mail;
  request.info = info;
  request.filename = filename;
  request.maxdials = maxdials;
  return telvor::client::RunSendFax(request, telvor::client::kTimeLimitMs);
}
