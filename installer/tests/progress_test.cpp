#include "progress.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"

namespace telvor::installer {
namespace {

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressBarHandle = 0;
    ProgressWindowHandle = 0;
    ProgressWindowPending = false;
    AnimationThreadHandle = 0;
    UsePlatform(&fake);
  }
  void TearDown() override { UsePlatform(nullptr); }
  FakePlatform fake;
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
  ProgressBarHandle = FakePlatform::kProgressBar;
  StartAnimation();
  std::int32_t step = 0;
  for (int i = 0; i < 99 + 2; ++i) step = AnimateStep(step);
  EXPECT_EQ(step, 2);

  ASSERT_FALSE(fake.bar.empty());
  EXPECT_EQ(fake.bar[0], "colour 0xff0000");
  std::vector<std::string> positions;
  for (const auto& sent : fake.bar) {
    if (sent.rfind("position ", 0) == 0) positions.push_back(sent);
  }
  ASSERT_EQ(positions.size(), 101u);
  EXPECT_EQ(positions[0], "position 0");
  EXPECT_EQ(positions[98], "position 98");
  EXPECT_EQ(positions[99], "position 0");
  EXPECT_EQ(positions[100], "position 1");
  EXPECT_EQ(fake.CountOf("Sleep"), 101);
  EXPECT_EQ(fake.log[1], "Sleep 200");
  for (const auto& entry : fake.log) {
    if (entry.rfind("SetBar", 0) == 0) {
      EXPECT_NE(entry.find(" 0xb10 "), std::string::npos);
    }
  }

  // After position 98 its colour, then position 0 with none, then step 1's.
  const auto at = std::find(fake.bar.begin(), fake.bar.end(), "position 98");
  ASSERT_LT(at + 4, fake.bar.end());
  EXPECT_EQ(std::vector<std::string>(at, at + 5),
            (std::vector<std::string>{"position 98", "colour 0xa00f5", "position 0", "position 1",
                                      "colour 0xfc0002"}));
}

// No owner: the dialog is never ended by the program, and a modal dialog
// keeps its owner disabled.
TEST_F(ProgressTest, WindowThreadRunsTheDialogWithoutOwner) {
  fake.dialog_result = 2;  // closed with Escape
  EXPECT_EQ(ProgressWindowThread(), 0u);
  EXPECT_EQ(fake.log, (std::vector<std::string>{"RunDialog PBDIALOG 0x0", "LastError"}));
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(ProgressTest, DialogThatCannotBeShownIsReportedAndEndsTheThread) {
  for (const std::intptr_t result : {std::intptr_t{0}, std::intptr_t{-1}}) {
    FakePlatform platform;
    UsePlatform(&platform);
    platform.dialog_result = result;
    platform.dialog_error = 1407;
    EXPECT_EQ(ProgressWindowThread(), 1u);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "DialogBox error 1407\n");
    EXPECT_EQ(platform.boxes[0].caption, "Install");
    EXPECT_EQ(platform.boxes[0].owner, 0u);
    EXPECT_EQ(platform.boxes[0].style, 0x50000u);
    EXPECT_EQ(platform.log.back(), "EndThread 1");
  }
}

TEST_F(ProgressTest, InitDialogSetsUpTheBarAndPublishesTheAnimationThread) {
  EXPECT_EQ(ProgressDialogProc(FakePlatform::kDialog, 0x0110, 0, 0), 0);
  EXPECT_EQ(ProgressBarHandle, FakePlatform::kProgressBar);
  EXPECT_EQ(ProgressWindowHandle.load(), FakePlatform::kDialog);
  EXPECT_EQ(AnimationThreadHandle.load(), FakePlatform::kAnimationThread);
  EXPECT_EQ(fake.log, (std::vector<std::string>{"DialogItem 0xb00 1000", "SetBarPosition 0xb10 0",
                                                "Activate 0xb00", "StartThread animation"}));
}

TEST_F(ProgressTest, AnimationThreadThatCannotStartLeavesTheWindowStill) {
  fake.Fail("StartThread", 8);
  EXPECT_EQ(ProgressDialogProc(FakePlatform::kDialog, 0x0110, 0, 0), 8);
  EXPECT_EQ(AnimationThreadHandle.load(), 0u);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, "CreateThread2 error 8\n");
  EXPECT_EQ(fake.boxes[0].caption, "Install");
  EXPECT_EQ(fake.boxes[0].owner, FakePlatform::kDialog);  // on its own thread

  // Pause and resume then do nothing.
  PauseAnimation();
  ResumeAnimation();
  EXPECT_EQ(fake.CountOf("SuspendThread") + fake.CountOf("ResumeThread"), 0);
}

TEST_F(ProgressTest, EnterEscapeAndCloseEndTheDialog) {
  // The whole wParam, notification code included, becomes the result.
  EXPECT_EQ(ProgressDialogProc(FakePlatform::kDialog, 0x0111, 1, 0), 1);
  EXPECT_EQ(ProgressDialogProc(FakePlatform::kDialog, 0x0111, 0x10002, 0), 1);
  EXPECT_EQ(fake.log, (std::vector<std::string>{"EndDialog 0xb00 1", "EndDialog 0xb00 65538"}));
  EXPECT_EQ(ProgressWindowHandle.load(), 0u);  // no longer an owner for boxes

  fake.log.clear();
  EXPECT_EQ(ProgressDialogProc(FakePlatform::kDialog, 0x0111, 1000, 0), 0);
  EXPECT_EQ(ProgressDialogProc(FakePlatform::kDialog, 0x0010, 0, 0), 0);
  EXPECT_TRUE(fake.log.empty());
}

}  // namespace
}  // namespace telvor::installer
