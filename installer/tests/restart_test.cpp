#include "restart.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "progress.h"

namespace telvor::installer {
namespace {

constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kStartPending = 2;
constexpr std::uint32_t kStopPending = 3;
constexpr std::uint32_t kRunning = 4;

QueryReply State(std::uint32_t state, std::uint32_t wait_hint = 10000) {
  return QueryReply{true, state, wait_hint, 0};
}
QueryReply Failed(std::uint32_t error) { return QueryReply{false, 0, 0, error}; }

std::vector<std::string> Without(std::vector<std::string> calls, const std::string& name) {
  calls.erase(std::remove(calls.begin(), calls.end(), name), calls.end());
  return calls;
}

class RestartTest : public ::testing::Test {
 protected:
  void SetUp() override { ProgressWindowPending = false; }
  void TearDown() override { UsePlatform(nullptr); }
};

TEST(WaitLimitTest, OnlyMoreThanSixtySecondsCounts) {
  EXPECT_FALSE(WaitLimitPassed(1000, 61000));
  EXPECT_TRUE(WaitLimitPassed(1000, 61001));
  // Across the wrap of the 32-bit tick count.
  EXPECT_FALSE(WaitLimitPassed(0xFFFFFFF0u, 59984));
  EXPECT_TRUE(WaitLimitPassed(0xFFFFFFF0u, 59985));
  EXPECT_FALSE(WaitLimitPassed(0xFFFFFFF0u, 0xFFFFFFF5u));
}

TEST_F(RestartTest, StopsWaitsStartsWaits) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.stop_reply = State(kStopPending, 300);
  ops.query_script = {State(kRunning), State(kStopPending, 300), State(kStopped),
                      State(kStartPending, 500), State(kRunning)};
  EXPECT_EQ(RestartSpoolerService(), 0u);
  EXPECT_EQ(ops.log, (std::vector<std::string>{
                         "TickCount", "OpenServiceManager", "OpenService 0xa00 Spooler",
                         "QueryService 0xa10", "StopService 0xa10", "Sleep 300",
                         "QueryService 0xa10", "TickCount", "Sleep 300", "QueryService 0xa10",
                         "StartService 0xa10", "TickCount", "QueryService 0xa10", "Sleep 500",
                         "QueryService 0xa10", "CloseService 0xa10", "CloseService 0xa00"}));
  EXPECT_TRUE(ops.boxes.empty());
}

TEST_F(RestartTest, AlreadyStoppedIsLeftStopped) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.service_state = kStopped;
  EXPECT_EQ(RestartSpoolerService(), 0u);
  EXPECT_EQ(ops.CountOf("StopService") + ops.CountOf("StartService"), 0);
  EXPECT_EQ(ops.CountOf("CloseService"), 2);
  EXPECT_TRUE(ops.boxes.empty());
}

TEST_F(RestartTest, StoppedReplyAndRunningAfterStartNeedNoSleep) {
  FakePlatform ops;
  UsePlatform(&ops);  // the stop reply says stopped; the start query running
  EXPECT_EQ(RestartSpoolerService(), 0u);
  EXPECT_EQ(ops.CountOf("Sleep"), 0);
  EXPECT_EQ(
      Without(ops.Calls(), "TickCount"),
      (std::vector<std::string>{"OpenServiceManager", "OpenService", "QueryService", "StopService",
                                "StartService", "QueryService", "CloseService", "CloseService"}));
}

TEST_F(RestartTest, WaitHintZeroQueriesBackToBack) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.stop_reply = State(kStopPending, 0);
  ops.query_script = {State(kRunning, 0), State(kStopPending, 0),  State(kStopPending, 0),
                      State(kStopped, 0), State(kStartPending, 0), State(kRunning, 0)};
  EXPECT_EQ(RestartSpoolerService(), 0u);
  EXPECT_EQ(ops.CountOf("Sleep"), 4);
  EXPECT_EQ(ops.tick, 1000u);
}

TEST_F(RestartTest, TickWrapDuringTheWaitKeepsItGoing) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.tick = 0xFFFFFFFFu - 15000;
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning), State(kStopPending),  State(kStopPending),
                      State(kStopped), State(kStartPending), State(kStartPending),
                      State(kRunning)};
  EXPECT_EQ(RestartSpoolerService(), 0u);
  EXPECT_EQ(ops.restarts, 1);
  EXPECT_LT(ops.tick, 100000u);  // wrapped
}

TEST_F(RestartTest, StopWaitEndsAfterMoreThanSixtySecondsWithoutMessage) {
  // Hints of 10 s: at 60 s the wait goes on, at 70 s it gives up.
  FakePlatform ops;
  UsePlatform(&ops);
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning)};
  for (int i = 0; i < 10; ++i) ops.query_script.push_back(State(kStopPending));
  EXPECT_EQ(RestartSpoolerService(), 1460u);
  EXPECT_EQ(ops.CountOf("Sleep"), 7);
  EXPECT_EQ(ops.CountOf("StartService"), 0);
  EXPECT_EQ(ops.CountOf("CloseService"), 2);
  EXPECT_TRUE(ops.boxes.empty());
}

TEST_F(RestartTest, StopWaitCountsTheTimeBeforeTheStopRequest) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.call_cost_ms["StopService"] = 30000;
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning)};
  for (int i = 0; i < 10; ++i) ops.query_script.push_back(State(kStopPending));
  EXPECT_EQ(RestartSpoolerService(), 1460u);
  EXPECT_EQ(ops.CountOf("Sleep"), 4);
}

TEST_F(RestartTest, StartWaitCountsFromTheStartRequest) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.call_cost_ms["StopService"] = 30000;
  ops.call_cost_ms["StartService"] = 50000;
  ops.query_script = {State(kRunning), State(kStartPending)};
  for (int i = 0; i < 10; ++i) ops.query_script.push_back(State(kStartPending));
  EXPECT_EQ(RestartSpoolerService(), 1460u);
  EXPECT_EQ(ops.CountOf("Sleep"), 7);
  EXPECT_EQ(ops.CountOf("StartService"), 1);
  EXPECT_TRUE(ops.boxes.empty());
}

TEST_F(RestartTest, FailedQueryInTheStopWaitIsSilent) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning), Failed(6)};
  EXPECT_EQ(RestartSpoolerService(), 6u);
  EXPECT_TRUE(ops.boxes.empty());
  EXPECT_EQ(ops.CountOf("CloseService"), 2);
}

TEST_F(RestartTest, FailedQueryInTheStartWaitIsShown) {
  FakePlatform ops;
  UsePlatform(&ops);
  ops.query_script = {State(kRunning), State(kStartPending), Failed(6)};
  EXPECT_EQ(RestartSpoolerService(), 6u);
  ASSERT_EQ(ops.boxes.size(), 1u);
  EXPECT_EQ(ops.boxes[0].text, "QueryServiceStatus error 6\n");
  EXPECT_EQ(ops.boxes[0].caption, "Install");
  EXPECT_EQ(ops.boxes[0].owner, 0u);
  EXPECT_EQ(ops.boxes[0].style, 0x50000u);  // topmost, to the foreground
  EXPECT_EQ(ops.log[ops.log.size() - 2], "CloseService 0xa00");
}

// Each shown failure: its message, its code as the result, and the handles
// opened so far closed, the service's first.
TEST_F(RestartTest, ShownFailures) {
  const struct {
    const char* call;
    int occurrence;
    std::uint32_t code;
    const char* message;
    int closed;
  } rows[] = {
      {"OpenServiceManager", 1, 5, "OpenSCManager error 5\n", 0},
      {"OpenService", 1, 1060, "OpenService error 1060\n", 1},
      {"QueryService", 1, 6, "QueryServiceStatus error 6\n", 2},
      {"StopService", 1, 1051, "ControlService error 1051\n", 2},
      {"StartService", 1, 1058, "StartService error 1058\n", 2},
      {"QueryService", 2, 6, "QueryServiceStatus error 6\n", 2},
  };
  for (const auto& row : rows) {
    FakePlatform ops;
    UsePlatform(&ops);
    ops.Fail(row.call, row.code, row.occurrence);
    EXPECT_EQ(RestartSpoolerService(), row.code) << row.message;
    ASSERT_EQ(ops.boxes.size(), 1u) << row.message;
    EXPECT_EQ(ops.boxes[0].text, row.message);
    EXPECT_EQ(ops.boxes[0].caption, "Install");
    EXPECT_EQ(ops.CountOf("CloseService"), row.closed) << row.message;
    if (row.closed == 2) {
      EXPECT_EQ(ops.log[ops.log.size() - 3], "CloseService 0xa10");
    }
  }
}

}  // namespace
}  // namespace telvor::installer
