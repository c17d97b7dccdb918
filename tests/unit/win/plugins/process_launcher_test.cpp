// The plugin launcher against the probe program: the waiver asked of the
// host's service locator while the new process is still suspended, processes
// that do not end, callbacks that throw and waits that fail. (Exit codes and
// programs that cannot be started are the plugin tests'.)
#include "activators/process_launcher.h"

#include "tests/support/recording_sink.h"
#include "tests/unit/win/plugins/probe_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using plugintest::ProbeRecord;
using plugintest::TestLocator;
using plugintest::ThrowAt;
using qvr::LaunchResult;
using qvr::ProcessLauncher;
using qvrtest::RecordingSink;
using testing::ElementsAre;
using testing::IsEmpty;

// What the locator answers is reported, and does not stop the launch: a
// refused grant, a failed service request, a success without a service.
TEST(ProcessLauncher, GrantsTheWaiverWhileTheProcessIsSuspended) {
  struct Case {
    std::uint32_t serviceResult;
    bool withoutService;
    std::uint32_t grantResult;
    const wchar_t* line;
  };
  const Case cases[] = {
      {0, false, 0x80070005u, L"Set waiver result: 0x80070005"},
      {0x80004005u, false, 0, L"Failed to get waiver: 0x80004005"},
      {0, true, 0, L"Failed to get waiver: 0x80004003"},
  };
  for (const Case& c : cases) {
    ProbeRecord record;
    RecordingSink sink;
    TestLocator locator;
    locator.serviceResult = static_cast<std::int32_t>(c.serviceResult);
    locator.withoutService = c.withoutService;
    locator.grantResult = static_cast<std::int32_t>(c.grantResult);
    std::uint32_t exitCode = 99;
    ASSERT_EQ(ProcessLauncher(&locator, &sink).Run(record.Command(L"exit=3 granted"), exitCode),
              LaunchResult::kCompleted);
    EXPECT_EQ(exitCode, 3u);
    EXPECT_THAT(sink.Texts(qvr::kLogInfo), ElementsAre(c.line));
    EXPECT_EQ(locator.releases, locator.servicesHandedOut) << c.line;
    if (locator.servicesHandedOut == 0) {
      EXPECT_THAT(locator.grants, IsEmpty());
      continue;
    }
    // The grant named the new process before any of its threads ran; the
    // service was released once, after the process had ended.
    const auto runs = record.Runs();
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(locator.grants.size(), 1u);
    EXPECT_EQ(locator.grants[0].processId, runs[0].processId);
    EXPECT_TRUE(locator.grants[0].suspended);
    EXPECT_TRUE(locator.grants[0].endedAtRelease);
    EXPECT_EQ(locator.releases, 1);
  }
}

TEST(ProcessLauncher, GivesUpOnAProcessAtTheTimeLimitAndLeavesItRunning) {
  ProbeRecord record;
  TestLocator locator;
  std::uint32_t exitCode = 99;
  EXPECT_EQ(ProcessLauncher(&locator, nullptr, 500).Run(record.Command(L"hang"), exitCode), LaunchResult::kTimedOut);
  EXPECT_EQ(exitCode, 0u);
  ASSERT_EQ(locator.grants.size(), 1u);
  const DWORD hung = locator.grants[0].processId;
  EXPECT_TRUE(plugintest::IsRunning(hung));
  // Released once the launcher gave up, with the process alive.
  EXPECT_EQ(locator.releases, 1);
  EXPECT_FALSE(locator.grants[0].endedAtRelease);
  plugintest::Kill(hung);
}

// Before the start the exception goes on to the caller's edge, and the
// suspended process is terminated on its way there.
TEST(ProcessLauncher, CallbackThatThrowsBeforeTheStartLeavesNoSuspendedProcess) {
  const std::pair<ThrowAt, bool> cases[] = {{ThrowAt::kGetWaiverService, true}, {ThrowAt::kGrantWaiver, false}};
  for (const auto& [at, standard] : cases) {
    SCOPED_TRACE(at == ThrowAt::kGrantWaiver ? "GrantWaiver throws an int" : "GetWaiverService throws");
    ProbeRecord record;
    TestLocator locator(at, standard);
    std::uint32_t exitCode = 99;
    EXPECT_ANY_THROW(ProcessLauncher(&locator, nullptr).Run(record.Command(L"exit=5 thrown"), exitCode));
    EXPECT_EQ(locator.releases, at == ThrowAt::kGrantWaiver ? 1 : 0);
    ASSERT_EQ(locator.probes.size(), 1u);
    EXPECT_EQ(WaitForSingleObject(locator.probes[0], 0), WAIT_OBJECT_0);
    DWORD ended = 0;
    EXPECT_TRUE(GetExitCodeProcess(locator.probes[0], &ended));
    EXPECT_EQ(ended, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
    EXPECT_THAT(record.Runs(), IsEmpty());
  }
}

// After the end the launch stands: a release that throws costs a line.
TEST(ProcessLauncher, ReleaseThatThrowsAfterTheEnd) {
  ProbeRecord record;
  RecordingSink sink;
  TestLocator locator(ThrowAt::kRelease);
  std::uint32_t exitCode = 99;
  EXPECT_EQ(ProcessLauncher(&locator, &sink).Run(record.Command(L"exit=5 thrown"), exitCode),
            LaunchResult::kCompleted);
  EXPECT_EQ(exitCode, 5u);
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"Waiver release failed: Release failed"));
  EXPECT_THAT(record.Arguments(), ElementsAre(L"exit=5 thrown"));
}

// A launcher whose waiting fails at one step, after the process has ended
// (so that none is left behind).
class FailingWaitLauncher final : public ProcessLauncher {
 public:
  FailingWaitLauncher(bool waitFails, qvr::LogSink* sink) : ProcessLauncher(nullptr, sink), waitFails_(waitFails) {}

 protected:
  std::uint32_t WaitForProcess(void* process, std::uint32_t) override {
    const std::uint32_t waited = ProcessLauncher::WaitForProcess(process, INFINITE);
    if (!waitFails_) return waited;
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  bool ReadExitCode(void* process, std::uint32_t& exitCode) override {
    if (waitFails_) return ProcessLauncher::ReadExitCode(process, exitCode);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }

 private:
  bool waitFails_;
};

TEST(ProcessLauncher, FailedWaitOrUnreadableExitCodeIsAFailedLaunchWithItsError) {
  const std::pair<bool, const wchar_t*> cases[] = {
      {true, L"Failed to wait for process %u: result 0xFFFFFFFF, error 6"},
      {false, L"Failed to read the exit code of process %u: 5"},
  };
  for (const auto& [waitFails, errorLine] : cases) {
    ProbeRecord record;
    RecordingSink sink;
    std::uint32_t exitCode = 99;
    EXPECT_EQ(FailingWaitLauncher(waitFails, &sink).Run(record.Command(L"exit=7 waited"), exitCode),
              LaunchResult::kWaitFailed);
    // Neither the code of a process still running (259) nor any other.
    EXPECT_EQ(exitCode, 0u);
    const auto runs = record.Runs();
    ASSERT_EQ(runs.size(), 1u);
    wchar_t expected[200];
    swprintf(expected, 200, errorLine, static_cast<unsigned>(runs[0].processId));
    EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(std::wstring(expected)));
  }
}

}  // namespace
