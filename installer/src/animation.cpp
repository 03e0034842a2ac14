#include "progress.h"

namespace telvor::installer {
namespace {

constexpr std::int32_t kAnimationSteps = 99;
constexpr std::int32_t kColourlessEvery = 5;
constexpr double kColourPerStep = 2.5;
constexpr double kFullBlue = 255.0;

// Truncated toward zero and kept to its low 8 bits.
std::uint32_t ColourByte(double value) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value)) & 0xFFu;
}

}  // namespace

AnimationFrame AnimationFrameAt(std::int32_t step) {
  AnimationFrame frame{step, false, 0};
  if (step % kColourlessEvery != 0) {
    const std::uint32_t red = ColourByte(step * kColourPerStep);
    const std::uint32_t blue = ColourByte(kFullBlue - step * kColourPerStep);
    frame.sets_colour = true;
    frame.colour = red + blue * 65536u;
  }
  return frame;
}

std::int32_t NextAnimationStep(std::int32_t step) {
  return step + 1 == kAnimationSteps ? 0 : step + 1;
}

}  // namespace telvor::installer
