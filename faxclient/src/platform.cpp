#include "platform.h"

namespace telvor::client {
namespace {
Platform* g_platform = nullptr;
}

Platform& CurrentPlatform() { return g_platform != nullptr ? *g_platform : SystemPlatform(); }

void UsePlatform(Platform* platform) { g_platform = platform; }

}  // namespace telvor::client
