// The progress window: the modal dialog PBDIALOG on a thread of its own, and
// an animation thread that moves its bar and changes its colour.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform.h"

namespace telvor::installer {

// The progress bar, set when the dialog opens, before the animation starts.
extern Handle ProgressBarHandle;
// The progress dialog while it is open, else null: the owner of the
// installer's boxes, which an owned window always lies above.
extern std::atomic<Handle> ProgressWindowHandle;
// Set when the window thread is started, cleared when its dialog opens or
// cannot be shown.
extern std::atomic<bool> ProgressWindowPending;

// Waits, for a short while at most, until the progress window has opened or
// failed: a box shown before it would end up under it.
void WaitForProgressWindow();
// The animation thread, published when the dialog opens; null until then and
// when the thread cannot be created. The installation pauses and resumes it.
extern std::atomic<Handle> AnimationThreadHandle;

// What the dialog procedure is told.
constexpr std::uint32_t kWmInitDialog = 0x0110;
constexpr std::uint32_t kWmCommand = 0x0111;
constexpr std::uintptr_t kIdOk = 1;
constexpr std::uintptr_t kIdCancel = 2;

// One step of the animation: the bar position it sets and, on steps that are
// not multiples of 5, the colour (COLORREF 0x00BBGGRR) it sets.
struct AnimationFrame {
  std::int32_t position;
  bool sets_colour;
  std::uint32_t colour;
};

constexpr std::uint32_t kAnimationStartColour = 0x00FF0000;
constexpr std::uint32_t kAnimationStepMs = 200;

AnimationFrame AnimationFrameAt(std::int32_t step);
// 0 to 98, then 0 again.
std::int32_t NextAnimationStep(std::int32_t step);

// The window thread's work; its exit code: 0 when the dialog ended, 1 when
// it could not be shown.
std::uint32_t ProgressWindowThread();

// The dialog procedure of PBDIALOG.
std::intptr_t ProgressDialogProc(Handle dialog, std::uint32_t message, std::uintptr_t wparam,
                                 std::intptr_t lparam);

// The animation thread: StartAnimation, then AnimateStep for ever.
[[noreturn]] void ProgressAnimationThread();
void StartAnimation();
// Waits one step's time, shows `step` and returns the next step.
std::int32_t AnimateStep(std::int32_t step);

// The installation's pause and resume; nothing while no animation thread is
// published.
void PauseAnimation();
void ResumeAnimation();

}  // namespace telvor::installer
