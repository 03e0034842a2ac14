#include "platform.h"

namespace quor {

namespace {
Platform* g_platform = nullptr;
}

Platform& CurrentPlatform() { return g_platform ? *g_platform : SystemPlatform(); }

void UsePlatform(Platform* platform) { g_platform = platform; }

AsSpooler::AsSpooler() : platform_(CurrentPlatform()) { platform_.BeginAsSpooler(); }

AsSpooler::~AsSpooler() { platform_.EndAsSpooler(); }

}  // namespace quor
