#include "restart.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_operations.h"

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

TEST(WaitLimitTest, OnlyMoreThanSixtySecondsCounts) {
  EXPECT_FALSE(WaitLimitPassed(1000, 61000));
  EXPECT_TRUE(WaitLimitPassed(1000, 61001));
  // Across the wrap of the 32-bit tick count.
  EXPECT_FALSE(WaitLimitPassed(0xFFFFFFF0u, 59984));
  EXPECT_TRUE(WaitLimitPassed(0xFFFFFFF0u, 59985));
  EXPECT_FALSE(WaitLimitPassed(0xFFFFFFF0u, 0xFFFFFFF5u));
}

TEST(RestartTest, StopsWaitsStartsWaits) {
  FakeOperations ops;
  ops.stop_reply = State(kStopPending, 300);
  ops.query_script = {State(kRunning), State(kStopPending, 300), State(kStopped),
                      State(kStartPending, 500), State(kRunning)};
  EXPECT_EQ(RestartSpoolerService(ops), 0u);
  EXPECT_EQ(ops.log, (std::vector<std::string>{
                         "GetTickCount", "OpenSCManagerW 1", "OpenServiceW 0xa00 Spooler 52",
                         "QueryServiceStatus 0xa10", "ControlService 0xa10 1", "Sleep 300",
                         "QueryServiceStatus 0xa10", "GetTickCount", "Sleep 300",
                         "QueryServiceStatus 0xa10", "StartServiceW 0xa10", "GetTickCount",
                         "QueryServiceStatus 0xa10", "Sleep 500", "QueryServiceStatus 0xa10",
                         "CloseServiceHandle 0xa10", "CloseServiceHandle 0xa00"}));
  EXPECT_TRUE(ops.boxes.empty());
}

TEST(RestartTest, AlreadyStoppedIsLeftStopped) {
  FakeOperations ops;
  ops.service_state = kStopped;
  EXPECT_EQ(RestartSpoolerService(ops), 0u);
  EXPECT_EQ(ops.CountOf("ControlService") + ops.CountOf("StartServiceW"), 0);
  EXPECT_EQ(ops.CountOf("CloseServiceHandle"), 2);
  EXPECT_TRUE(ops.boxes.empty());
}

TEST(RestartTest, StoppedReplyAndRunningAfterStartNeedNoSleep) {
  FakeOperations ops;  // the stop reply says stopped; the start query running
  EXPECT_EQ(RestartSpoolerService(ops), 0u);
  EXPECT_EQ(ops.CountOf("Sleep"), 0);
  EXPECT_EQ(Without(ops.Calls(), "GetTickCount"),
            (std::vector<std::string>{"OpenSCManagerW", "OpenServiceW", "QueryServiceStatus",
                                      "ControlService", "StartServiceW", "QueryServiceStatus",
                                      "CloseServiceHandle", "CloseServiceHandle"}));
}

TEST(RestartTest, WaitHintZeroQueriesBackToBack) {
  FakeOperations ops;
  ops.stop_reply = State(kStopPending, 0);
  ops.query_script = {State(kRunning, 0), State(kStopPending, 0),  State(kStopPending, 0),
                      State(kStopped, 0), State(kStartPending, 0), State(kRunning, 0)};
  EXPECT_EQ(RestartSpoolerService(ops), 0u);
  EXPECT_EQ(ops.CountOf("Sleep"), 4);
  EXPECT_EQ(ops.tick, 1000u);
}

TEST(RestartTest, TickWrapDuringTheWaitKeepsItGoing) {
  FakeOperations ops;
  ops.tick = 0xFFFFFFFFu - 15000;
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning), State(kStopPending),  State(kStopPending),
                      State(kStopped), State(kStartPending), State(kStartPending),
                      State(kRunning)};
  EXPECT_EQ(RestartSpoolerService(ops), 0u);
  EXPECT_EQ(ops.restarts, 1);
  EXPECT_LT(ops.tick, 100000u);  // wrapped
}

TEST(RestartTest, StopWaitEndsAfterMoreThanSixtySecondsWithoutMessage) {
  // Hints of 10 s: at 60 s the wait goes on, at 70 s it gives up.
  FakeOperations ops;
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning)};
  for (int i = 0; i < 10; ++i) ops.query_script.push_back(State(kStopPending));
  EXPECT_EQ(RestartSpoolerService(ops), 1460u);
  EXPECT_EQ(ops.CountOf("Sleep"), 7);
  EXPECT_EQ(ops.CountOf("StartServiceW"), 0);
  EXPECT_EQ(ops.CountOf("CloseServiceHandle"), 2);
  EXPECT_TRUE(ops.boxes.empty());
}

TEST(RestartTest, StopWaitCountsTheTimeBeforeTheStopRequest) {
  FakeOperations ops;
  ops.call_cost_ms["ControlService"] = 30000;
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning)};
  for (int i = 0; i < 10; ++i) ops.query_script.push_back(State(kStopPending));
  EXPECT_EQ(RestartSpoolerService(ops), 1460u);
  EXPECT_EQ(ops.CountOf("Sleep"), 4);
}

TEST(RestartTest, StartWaitCountsFromTheStartRequest) {
  FakeOperations ops;
  ops.call_cost_ms["ControlService"] = 30000;
  ops.call_cost_ms["StartServiceW"] = 50000;
  ops.query_script = {State(kRunning), State(kStartPending)};
  for (int i = 0; i < 10; ++i) ops.query_script.push_back(State(kStartPending));
  EXPECT_EQ(RestartSpoolerService(ops), 1460u);
  EXPECT_EQ(ops.CountOf("Sleep"), 7);
  EXPECT_EQ(ops.CountOf("StartServiceW"), 1);
  EXPECT_TRUE(ops.boxes.empty());
}

TEST(RestartTest, FailedQueryInTheStopWaitIsSilent) {
  FakeOperations ops;
  ops.stop_reply = State(kStopPending);
  ops.query_script = {State(kRunning), Failed(6)};
  EXPECT_EQ(RestartSpoolerService(ops), 6u);
  EXPECT_TRUE(ops.boxes.empty());
  EXPECT_EQ(ops.CountOf("CloseServiceHandle"), 2);
}

TEST(RestartTest, FailedQueryInTheStartWaitIsShown) {
  FakeOperations ops;
  ops.query_script = {State(kRunning), State(kStartPending), Failed(6)};
  EXPECT_EQ(RestartSpoolerService(ops), 6u);
  ASSERT_EQ(ops.boxes.size(), 1u);
  EXPECT_EQ(ops.boxes[0].text, "QueryServiceStatus error 6\n");
  EXPECT_EQ(ops.boxes[0].caption, "Install");
  EXPECT_EQ(ops.boxes[0].owner, 0u);
  EXPECT_EQ(ops.boxes[0].type, 0u);
  EXPECT_EQ(ops.log.back(), "CloseServiceHandle 0xa00");
}

// Each shown failure: its message, its code as the result, and the handles
// opened so far closed, the service's first.
TEST(RestartTest, ShownFailures) {
  const struct {
    const char* call;
    int occurrence;
    std::uint32_t code;
    const char* message;
    int closed;
  } rows[] = {
      {"OpenSCManagerW", 1, 5, "OpenSCManager error 5\n", 0},
      {"OpenServiceW", 1, 1060, "OpenService error 1060\n", 1},
      {"QueryServiceStatus", 1, 6, "QueryServiceStatus error 6\n", 2},
      {"ControlService", 1, 1051, "ControlService error 1051\n", 2},
      {"StartServiceW", 1, 1058, "StartService error 1058\n", 2},
      {"QueryServiceStatus", 2, 6, "QueryServiceStatus error 6\n", 2},
  };
  for (const auto& row : rows) {
    FakeOperations ops;
    ops.Fail(row.call, row.code, row.occurrence);
    EXPECT_EQ(RestartSpoolerService(ops), row.code) << row.message;
    ASSERT_EQ(ops.boxes.size(), 1u) << row.message;
    EXPECT_EQ(ops.boxes[0].text, row.message);
    EXPECT_EQ(ops.boxes[0].caption, "Install");
    EXPECT_EQ(ops.CountOf("CloseServiceHandle"), row.closed) << row.message;
    if (row.closed == 2) {
      EXPECT_EQ(ops.log[ops.log.size() - 2], "CloseServiceHandle 0xa10");
    }
  }
}

}  // namespace
}  // namespace telvor::installer
