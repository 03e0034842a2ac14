#include "progress.h"

#include "../res/resources.h"
#include "report.h"

namespace telvor::installer {

Handle ProgressBarHandle = 0;
std::atomic<Handle> AnimationThreadHandle{0};

namespace {

const char16_t kDialogTemplate[] = u"PBDIALOG";
constexpr std::int32_t kProgressBarId = IDC_PROGRESS_BAR;

const char16_t kDialogFailed[] = u"DialogBox error %d\n";
const char16_t kAnimationThreadFailed[] = u"CreateThread2 error %d\n";

}  // namespace

std::uint32_t ProgressWindowThread(InstallerOperations& ops) {
  const Handle owner = ops.GetTopWindow();
  const std::intptr_t result = ops.DialogBoxParamW(kDialogTemplate, owner);
  const std::uint32_t code = ops.GetLastError();
  if (result > 0) return 0;
  // 0 or -1: the dialog could not be shown. The installation goes on.
  ReportCode(ops, kDialogFailed, code);
  ops.ExitThread(1);
  return 1;
}

std::intptr_t ProgressDialogProc(InstallerOperations& ops, Handle dialog, std::uint32_t message,
                                 std::uintptr_t wparam, std::intptr_t /*lparam*/) {
  if (message == kWmInitDialog) {
    ProgressBarHandle = ops.GetDlgItem(dialog, kProgressBarId);
    ops.SendMessageW(ProgressBarHandle, kPbmSetPos, 0, 0);
    ops.SetActiveWindow(dialog);
    const Handle thread = ops.CreateThread(ThreadRoutine::kProgressAnimation);
    AnimationThreadHandle.store(thread);
    if (thread != 0) return 0;
    // The dialog stays open with a still bar.
    return static_cast<std::intptr_t>(ReportLastError(ops, kAnimationThreadFailed));
  }
  if (message == kWmCommand) {
    // Enter, Escape and the close button; the template has no buttons.
    const std::uintptr_t id = wparam & 0xFFFFu;
    if (id == kIdOk || id == kIdCancel) {
      ops.EndDialog(dialog, static_cast<std::intptr_t>(wparam));
      return 1;
    }
  }
  return 0;
}

void StartAnimation(InstallerOperations& ops) {
  ops.SendMessageW(ProgressBarHandle, kPbmSetBarColor, 0,
                   static_cast<std::intptr_t>(kAnimationStartColour));
}

std::int32_t AnimateStep(InstallerOperations& ops, std::int32_t step) {
  ops.Sleep(kAnimationStepMs);
  const AnimationFrame frame = AnimationFrameAt(step);
  ops.SendMessageW(ProgressBarHandle, kPbmSetPos, static_cast<std::uintptr_t>(frame.position), 0);
  if (frame.sets_colour) {
    ops.SendMessageW(ProgressBarHandle, kPbmSetBarColor, 0,
                     static_cast<std::intptr_t>(frame.colour));
  }
  return NextAnimationStep(step);
}

void ProgressAnimationThread(InstallerOperations& ops) {
  std::int32_t step = 0;
  StartAnimation(ops);
  for (;;) step = AnimateStep(ops, step);
}

void PauseAnimation(InstallerOperations& ops) {
  const Handle thread = AnimationThreadHandle.load();
  if (thread != 0) ops.SuspendThread(thread);
}

void ResumeAnimation(InstallerOperations& ops) {
  const Handle thread = AnimationThreadHandle.load();
  if (thread != 0) ops.ResumeThread(thread);
}

}  // namespace telvor::installer
