#include "platform.h"

namespace quor {

namespace {
MonitorPlatform* g_platform = nullptr;
}

void UsePlatform(MonitorPlatform* platform) { g_platform = platform; }

MonitorPlatform& Platform() { return *g_platform; }

}  // namespace quor
