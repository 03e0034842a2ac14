#include "platform.h"

namespace quor {

namespace {
Platform* g_platform = nullptr;
}

Platform& CurrentPlatform() { return g_platform ? *g_platform : SystemPlatform(); }

void UsePlatform(Platform* platform) { g_platform = platform; }

}  // namespace quor
