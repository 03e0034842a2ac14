#include "platform.h"

#include <atomic>

namespace telvor::installer {
namespace {

// Set before the installer's threads start; read by all three.
std::atomic<Platform*> g_platform{nullptr};

}  // namespace

Platform& CurrentPlatform() {
  Platform* const platform = g_platform.load();
  return platform != nullptr ? *platform : SystemPlatform();
}

void UsePlatform(Platform* platform) { g_platform.store(platform); }

}  // namespace telvor::installer
