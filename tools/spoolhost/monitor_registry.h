// The spooler's registry functions (MONITORREG) over the host's key store:
// the key handle the monitor receives is the KeyStore itself.
#pragma once

#include "keystore.h"
#include "quor/spooler.h"

namespace telvor::spoolhost {

MONITORREG MakeMonitorReg();

inline HANDLE KeyHandle(KeyStore* store) { return store; }

}  // namespace telvor::spoolhost
