#include "progress.h"

#include <gtest/gtest.h>

#include "fake_operations.h"

namespace telvor::installer {
namespace {

constexpr std::uint32_t kSetPos = 0x402;
constexpr std::uint32_t kSetBarColor = 0x409;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressBarHandle = 0;
    AnimationThreadHandle = 0;
  }
  FakeOperations ops;
};

TEST(AnimationFrameTest, EveryStepMatchesTheIntegerFormula) {
  for (std::int32_t step = 0; step <= 98; ++step) {
    const AnimationFrame frame = AnimationFrameAt(step);
    EXPECT_EQ(frame.position, step);
    EXPECT_EQ(frame.sets_colour, step % 5 != 0) << step;
    if (step % 5 == 0) continue;
    const auto red = static_cast<std::uint32_t>((5 * step) / 2);
    const auto blue = static_cast<std::uint32_t>((510 - 5 * step) / 2);
    EXPECT_EQ(frame.colour, red + blue * 65536) << step;
    EXPECT_EQ(red + blue, step % 2 ? 254u : 255u) << step;
  }
}

TEST(AnimationFrameTest, ListedRows) {
  const struct {
    std::int32_t step;
    std::uint32_t colour;
  } rows[] = {{1, 0x00FC0002},  {2, 0x00FA0005},  {3, 0x00F70007},
              {4, 0x00F5000A},  {6, 0x00F0000F},  {49, 0x0084007A},
              {51, 0x007F007F}, {97, 0x000C00F2}, {98, 0x000A00F5}};
  for (const auto& row : rows) {
    const AnimationFrame frame = AnimationFrameAt(row.step);
    EXPECT_TRUE(frame.sets_colour) << row.step;
    EXPECT_EQ(frame.colour, row.colour) << row.step;
  }
  EXPECT_FALSE(AnimationFrameAt(0).sets_colour);
  EXPECT_FALSE(AnimationFrameAt(5).sets_colour);
  EXPECT_FALSE(AnimationFrameAt(95).sets_colour);
  EXPECT_EQ(NextAnimationStep(97), 98);
  EXPECT_EQ(NextAnimationStep(98), 0);
}

// Two cycles as the bar receives them: pure blue first, then per step a
// 200 ms pause, the position and perhaps a colour; after 98 comes 0, which
// keeps 98's colour.
TEST_F(ProgressTest, AnimationRunsThroughTheCycleAndStartsAgain) {
  ProgressBarHandle = FakeOperations::kProgressBar;
  StartAnimation(ops);
  std::int32_t step = 0;
  for (int i = 0; i < 99 + 2; ++i) step = AnimateStep(ops, step);
  EXPECT_EQ(step, 2);

  ASSERT_FALSE(ops.sent.empty());
  EXPECT_EQ(ops.sent[0].message, kSetBarColor);
  EXPECT_EQ(ops.sent[0].lparam, 0x00FF0000);
  std::vector<std::int64_t> positions;
  for (const auto& m : ops.sent) {
    EXPECT_EQ(m.window, FakeOperations::kProgressBar);
    if (m.message == kSetPos) positions.push_back(static_cast<std::int64_t>(m.wparam));
  }
  ASSERT_EQ(positions.size(), 101u);
  EXPECT_EQ(positions[0], 0);
  EXPECT_EQ(positions[98], 98);
  EXPECT_EQ(positions[99], 0);
  EXPECT_EQ(positions[100], 1);
  EXPECT_EQ(ops.CountOf("Sleep"), 101);
  EXPECT_EQ(ops.log[1], "Sleep 200");

  // After position 98 its colour, then position 0 with none, then step 1's.
  std::size_t at = 0;
  int seen = 0;
  for (; at < ops.sent.size(); ++at) {
    if (ops.sent[at].message == kSetPos && ++seen == 99) break;
  }
  ASSERT_LT(at + 4, ops.sent.size());
  EXPECT_EQ(ops.sent[at].wparam, 98u);
  EXPECT_EQ(ops.sent[at + 1].lparam, 0x000A00F5);
  EXPECT_EQ(ops.sent[at + 2].message, kSetPos);
  EXPECT_EQ(ops.sent[at + 2].wparam, 0u);
  EXPECT_EQ(ops.sent[at + 3].message, kSetPos);
  EXPECT_EQ(ops.sent[at + 4].lparam, 0x00FC0002);
}

TEST_F(ProgressTest, WindowThreadRunsTheDialogOwnedByTheTopWindow) {
  ops.dialog_result = 2;  // closed with Escape
  EXPECT_EQ(ProgressWindowThread(ops), 0u);
  EXPECT_EQ(ops.log, (std::vector<std::string>{"GetTopWindow", "DialogBoxParamW PBDIALOG 0x900",
                                               "GetLastError"}));
  EXPECT_TRUE(ops.boxes.empty());
}

TEST_F(ProgressTest, DialogThatCannotBeShownIsReportedAndEndsTheThread) {
  for (const std::intptr_t result : {std::intptr_t{0}, std::intptr_t{-1}}) {
    FakeOperations fake;
    fake.dialog_result = result;
    fake.dialog_error = 1407;
    EXPECT_EQ(ProgressWindowThread(fake), 1u);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "DialogBox error 1407\n");
    EXPECT_EQ(fake.boxes[0].caption, "Install");
    EXPECT_EQ(fake.boxes[0].owner, 0u);
    EXPECT_EQ(fake.boxes[0].type, 0u);
    EXPECT_EQ(fake.log.back(), "ExitThread 1");
  }
}

TEST_F(ProgressTest, InitDialogSetsUpTheBarAndPublishesTheAnimationThread) {
  EXPECT_EQ(ProgressDialogProc(ops, FakeOperations::kDialog, 0x0110, 0, 0), 0);
  EXPECT_EQ(ProgressBarHandle, FakeOperations::kProgressBar);
  EXPECT_EQ(AnimationThreadHandle.load(), FakeOperations::kAnimationThread);
  EXPECT_EQ(ops.log, (std::vector<std::string>{"GetDlgItem 0xb00 1000", "SendMessageW",
                                               "SetActiveWindow 0xb00", "CreateThread animation"}));
  ASSERT_EQ(ops.sent.size(), 1u);
  EXPECT_EQ(ops.sent[0].message, kSetPos);
  EXPECT_EQ(ops.sent[0].wparam, 0u);
}

TEST_F(ProgressTest, AnimationThreadThatCannotStartLeavesTheWindowStill) {
  ops.Fail("CreateThread", 8);
  EXPECT_EQ(ProgressDialogProc(ops, FakeOperations::kDialog, 0x0110, 0, 0), 8);
  EXPECT_EQ(AnimationThreadHandle.load(), 0u);
  ASSERT_EQ(ops.boxes.size(), 1u);
  EXPECT_EQ(ops.boxes[0].text, "CreateThread2 error 8\n");
  EXPECT_EQ(ops.boxes[0].caption, "Install");
  EXPECT_EQ(ops.boxes[0].owner, 0u);

  // Pause and resume then do nothing.
  PauseAnimation(ops);
  ResumeAnimation(ops);
  EXPECT_EQ(ops.CountOf("SuspendThread") + ops.CountOf("ResumeThread"), 0);
}

TEST_F(ProgressTest, EnterEscapeAndCloseEndTheDialog) {
  // The whole wParam, notification code included, becomes the result.
  EXPECT_EQ(ProgressDialogProc(ops, FakeOperations::kDialog, 0x0111, 1, 0), 1);
  EXPECT_EQ(ProgressDialogProc(ops, FakeOperations::kDialog, 0x0111, 0x10002, 0), 1);
  EXPECT_EQ(ops.log, (std::vector<std::string>{"EndDialog 0xb00 1", "EndDialog 0xb00 65538"}));

  ops.log.clear();
  EXPECT_EQ(ProgressDialogProc(ops, FakeOperations::kDialog, 0x0111, 1000, 0), 0);
  EXPECT_EQ(ProgressDialogProc(ops, FakeOperations::kDialog, 0x0010, 0, 0), 0);
  EXPECT_TRUE(ops.log.empty());
}

}  // namespace
}  // namespace telvor::installer
