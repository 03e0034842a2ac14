#include "progress.h"

#include "../res/resources.h"
#include "report.h"

namespace telvor::installer {

Handle ProgressBarHandle = 0;
std::atomic<Handle> ProgressWindowHandle{0};
std::atomic<bool> ProgressWindowPending{false};
std::atomic<Handle> AnimationThreadHandle{0};

namespace {

const char16_t kDialogTemplate[] = u"PBDIALOG";
constexpr std::uint32_t kWindowWaitStepMs = 10;
constexpr std::uint32_t kWindowWaitLimitMs = 3000;

const char16_t kDialogFailed[] = u"DialogBox error %d\n";
const char16_t kAnimationThreadFailed[] = u"CreateThread2 error %d\n";

}  // namespace

std::uint32_t ProgressWindowThread() {
  Platform& platform = CurrentPlatform();
  // No owner: a modal dialog disables its owner, and this one is never
  // ended by the program, so another program's window would stay disabled.
  const std::intptr_t result = platform.RunDialog(kDialogTemplate, 0);
  const std::uint32_t code = platform.LastError();
  ProgressWindowPending.store(false);
  if (result > 0) return 0;
  // 0 or -1: the dialog could not be shown. The installation goes on.
  ReportCode(kDialogFailed, code);
  platform.EndThread(1);
  return 1;
}

std::intptr_t ProgressDialogProc(Handle dialog, std::uint32_t message, std::uintptr_t wparam,
                                 std::intptr_t /*lparam*/) {
  Platform& platform = CurrentPlatform();
  if (message == kWmInitDialog) {
    ProgressWindowHandle.store(dialog);
    ProgressWindowPending.store(false);
    ProgressBarHandle = platform.DialogItem(dialog, INSTALL_ID_PROGRESS_BAR);
    platform.SetBarPosition(ProgressBarHandle, 0);
    platform.Activate(dialog);
    const Handle thread = platform.StartThread(ThreadRoutine::kProgressAnimation);
    AnimationThreadHandle.store(thread);
    if (thread != 0) return 0;
    // The dialog stays open with a still bar.
    return static_cast<std::intptr_t>(ReportLastError(kAnimationThreadFailed));
  }
  if (message == kWmCommand) {
    // Enter, Escape and the close button; the template has no buttons.
    const std::uintptr_t id = wparam & 0xFFFFu;
    if (id == kIdOk || id == kIdCancel) {
      ProgressWindowHandle.store(0);
      platform.EndDialog(dialog, static_cast<std::intptr_t>(wparam));
      return 1;
    }
  }
  return 0;
}

void WaitForProgressWindow() {
  Platform& platform = CurrentPlatform();
  for (std::uint32_t waited = 0; ProgressWindowPending.load() && waited < kWindowWaitLimitMs;
       waited += kWindowWaitStepMs) {
    platform.Sleep(kWindowWaitStepMs);
  }
  // Once is enough: a window that did not come up in time is not waited for
  // again.
  ProgressWindowPending.store(false);
}

void StartAnimation() { CurrentPlatform().SetBarColour(ProgressBarHandle, kAnimationStartColour); }

std::int32_t AnimateStep(std::int32_t step) {
  Platform& platform = CurrentPlatform();
  platform.Sleep(kAnimationStepMs);
  const AnimationFrame frame = AnimationFrameAt(step);
  platform.SetBarPosition(ProgressBarHandle, frame.position);
  if (frame.sets_colour) platform.SetBarColour(ProgressBarHandle, frame.colour);
  return NextAnimationStep(step);
}

void ProgressAnimationThread() {
  std::int32_t step = 0;
  StartAnimation();
  for (;;) step = AnimateStep(step);
}

void PauseAnimation() {
  const Handle thread = AnimationThreadHandle.load();
  if (thread != 0) CurrentPlatform().SuspendThread(thread);
}

void ResumeAnimation() {
  const Handle thread = AnimationThreadHandle.load();
  if (thread != 0) CurrentPlatform().ResumeThread(thread);
}

}  // namespace telvor::installer
