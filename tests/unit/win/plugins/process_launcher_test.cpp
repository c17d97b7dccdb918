// The plugin launcher against the probe program: exit codes, processes that
// cannot be created or do not end, the waiver asked of the host's service
// locator while the new process is still suspended, callbacks that throw and
// waits that fail.
#include "activators/process_launcher.h"

#include "tests/support/recording_sink.h"
#include "tests/unit/win/plugins/probe_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using plugintest::ProbeRecord;
using plugintest::RecordingLocator;
using qvr::LaunchResult;
using qvr::ProcessLauncher;
using qvrtest::RecordingSink;
using testing::ElementsAre;
using testing::IsEmpty;

std::wstring Text(const std::wstring& format, unsigned value) {
  wchar_t text[200];
  swprintf(text, 200, format.c_str(), value);
  return text;
}

TEST(ProcessLauncher, WaitsForTheProcessAndHandsBackItsExitCode) {
  static_assert(ProcessLauncher::kTimeLimitMs == 60000);
  ProbeRecord record;
  RecordingSink sink;
  ProcessLauncher launcher(nullptr, &sink);
  std::uint32_t exitCode = 99;
  EXPECT_EQ(launcher.Run(record.Command(L"exit=7 first"), exitCode), LaunchResult::kCompleted);
  EXPECT_EQ(exitCode, 7u);
  EXPECT_EQ(launcher.Run(record.Command(L"second"), exitCode), LaunchResult::kCompleted);
  EXPECT_EQ(exitCode, 0u);
  // Each run ended before the next began; both saw their command line.
  EXPECT_THAT(record.Arguments(), ElementsAre(L"exit=7 first", L"second"));
  // Without a service locator nothing is granted, and the process runs anyway.
  EXPECT_THAT(sink.Texts(qvr::kLogInfo), ElementsAre(L"m_sl = null", L"m_sl = null"));
}

TEST(ProcessLauncher, ProcessesThatCannotBeCreated) {
  RecordingSink sink;
  RecordingLocator locator(nullptr);
  ProcessLauncher launcher(&locator, &sink);
  std::uint32_t exitCode = 99;
  EXPECT_EQ(launcher.Run(L"C:\\qvr-no-such-folder\\no-such-program.exe /register", exitCode),
            LaunchResult::kCreationFailed);
  EXPECT_EQ(exitCode, 0u);
  exitCode = 99;
  EXPECT_EQ(launcher.Run(L"", exitCode), LaunchResult::kCreationFailed);
  EXPECT_EQ(exitCode, 0u);
  // No process, so nothing to grant a waiver to.
  EXPECT_EQ(locator.servicesHandedOut, 0);
  EXPECT_THAT(sink.lines, IsEmpty());
}

TEST(ProcessLauncher, GrantsTheWaiverWhileTheProcessIsSuspended) {
  ProbeRecord record;
  RecordingSink sink;
  RecordingLocator locator(&record);
  locator.grantResult = static_cast<std::int32_t>(0x80070005u);
  ProcessLauncher launcher(&locator, &sink);
  std::uint32_t exitCode = 99;
  ASSERT_EQ(launcher.Run(record.Command(L"exit=3 granted"), exitCode), LaunchResult::kCompleted);
  EXPECT_EQ(exitCode, 3u);

  ASSERT_EQ(locator.grants.size(), 1u);
  const plugintest::Grant& grant = locator.grants[0];
  // The grant names the new process, which had not started: its threads were
  // suspended and it had not recorded itself yet. It ran after the grant.
  EXPECT_TRUE(grant.suspended);
  EXPECT_FALSE(grant.alreadyRan);
  const auto runs = record.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].processId, grant.processId);
  // The service was released once, after the process had ended.
  EXPECT_EQ(locator.servicesHandedOut, 1);
  EXPECT_EQ(locator.releases, 1);
  EXPECT_TRUE(grant.endedAtRelease);
  // A failed grant is reported and does not stop the launch.
  EXPECT_THAT(sink.Texts(qvr::kLogInfo), ElementsAre(L"Set waiver result: 0x80070005"));
}

TEST(ProcessLauncher, WaiverServiceUnavailable) {
  ProbeRecord record;
  RecordingSink sink;
  RecordingLocator failing(&record);
  failing.serviceResult = static_cast<std::int32_t>(0x80004005u);
  std::uint32_t exitCode = 99;
  EXPECT_EQ(ProcessLauncher(&failing, &sink).Run(record.Command(L"failing"), exitCode), LaunchResult::kCompleted);

  // Success without a service is no service either.
  RecordingLocator empty(&record);
  empty.withoutService = true;
  EXPECT_EQ(ProcessLauncher(&empty, &sink).Run(record.Command(L"empty"), exitCode), LaunchResult::kCompleted);

  EXPECT_THAT(record.Arguments(), ElementsAre(L"failing", L"empty"));
  EXPECT_THAT(sink.Texts(qvr::kLogInfo),
              ElementsAre(L"Failed to get waiver: 0x80004005", L"Failed to get waiver: 0x80004003"));
  EXPECT_THAT(failing.grants, IsEmpty());
  EXPECT_THAT(empty.grants, IsEmpty());
  EXPECT_EQ(failing.releases + empty.releases, 0);
}

TEST(ProcessLauncher, GivesUpOnAProcessAtTheTimeLimitAndLeavesItRunning) {
  ProbeRecord record;
  RecordingSink sink;
  RecordingLocator locator(&record);
  ProcessLauncher launcher(&locator, &sink, 500);
  std::uint32_t exitCode = 99;
  EXPECT_EQ(launcher.Run(record.Command(L"hang"), exitCode), LaunchResult::kTimedOut);
  EXPECT_EQ(exitCode, 0u);
  ASSERT_EQ(locator.grants.size(), 1u);
  const DWORD hung = locator.grants[0].processId;
  EXPECT_TRUE(plugintest::IsRunning(hung));
  // The service is released once the launcher gives up, with the process alive.
  EXPECT_EQ(locator.releases, 1);
  EXPECT_FALSE(locator.grants[0].endedAtRelease);
  plugintest::Kill(hung);
}

// A callback of the host that throws.
struct ThrowCase {
  const char* name;
  plugintest::ThrowAt at;
  bool standard;  // a std::exception, else an int
};

constexpr ThrowCase kThrowCases[] = {
    {"GetWaiverService", plugintest::ThrowAt::kGetWaiverService, true},
    {"GrantWaiverWithAnInt", plugintest::ThrowAt::kGrantWaiver, false},
};

void PrintTo(const ThrowCase& row, std::ostream* out) { *out << row.name; }

class ThrowingCallback : public testing::TestWithParam<ThrowCase> {};

// Before the start: the exception goes on to the caller's edge, and the
// suspended process is terminated on its way there.
TEST_P(ThrowingCallback, LeavesNoSuspendedProcess) {
  const ThrowCase& row = GetParam();
  ProbeRecord record;
  RecordingSink sink;
  plugintest::ThrowingLocator locator(row.at, row.standard);
  std::uint32_t exitCode = 99;
  EXPECT_ANY_THROW(ProcessLauncher(&locator, &sink).Run(record.Command(L"exit=5 thrown"), exitCode));
  EXPECT_EQ(locator.releases, row.at == plugintest::ThrowAt::kGetWaiverService ? 0 : 1);
  ASSERT_EQ(locator.probes.size(), 1u);
  EXPECT_EQ(WaitForSingleObject(locator.probes[0], 0), WAIT_OBJECT_0);
  DWORD ended = 0;
  EXPECT_TRUE(GetExitCodeProcess(locator.probes[0], &ended));
  EXPECT_EQ(ended, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
  EXPECT_THAT(record.Runs(), IsEmpty());
}

// After the end the launch stands: a release that throws costs a line.
TEST(ProcessLauncher, ReleaseThatThrowsAfterTheEnd) {
  ProbeRecord record;
  RecordingSink sink;
  plugintest::ThrowingLocator locator(plugintest::ThrowAt::kRelease, true);
  std::uint32_t exitCode = 99;
  EXPECT_EQ(ProcessLauncher(&locator, &sink).Run(record.Command(L"exit=5 thrown"), exitCode),
            LaunchResult::kCompleted);
  EXPECT_EQ(exitCode, 5u);
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"Waiver release failed: Release failed"));
  EXPECT_EQ(record.Arguments(), std::vector<std::wstring>{L"exit=5 thrown"});
}

INSTANTIATE_TEST_SUITE_P(Callbacks, ThrowingCallback, testing::ValuesIn(kThrowCases),
                         [](const testing::TestParamInfo<ThrowCase>& info) { return std::string(info.param.name); });

// A launcher whose waiting fails at one step, after the process has ended
// (so that none is left behind).
class FailingWaitLauncher final : public ProcessLauncher {
 public:
  enum class Step { kWait, kExitCode };
  FailingWaitLauncher(Step step, qvr::LogSink* sink) : ProcessLauncher(nullptr, sink), step_(step) {}

 protected:
  std::uint32_t WaitForProcess(void* process, std::uint32_t) override {
    const std::uint32_t waited = ProcessLauncher::WaitForProcess(process, INFINITE);
    if (step_ != Step::kWait) return waited;
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  bool ReadExitCode(void* process, std::uint32_t& exitCode) override {
    if (step_ != Step::kExitCode) return ProcessLauncher::ReadExitCode(process, exitCode);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }

 private:
  Step step_;
};

struct WaitCase {
  const char* name;
  FailingWaitLauncher::Step step;
  const wchar_t* errorLine;  // with the process id
};

constexpr WaitCase kWaitCases[] = {
    {"WaitFailed", FailingWaitLauncher::Step::kWait, L"Failed to wait for process %u: result 0xFFFFFFFF, error 6"},
    {"ExitCodeUnreadable", FailingWaitLauncher::Step::kExitCode, L"Failed to read the exit code of process %u: 5"},
};

void PrintTo(const WaitCase& row, std::ostream* out) { *out << row.name; }

class FailingWait : public testing::TestWithParam<WaitCase> {};

TEST_P(FailingWait, IsAFailedLaunchWithItsError) {
  const WaitCase& row = GetParam();
  ProbeRecord record;
  RecordingSink sink;
  std::uint32_t exitCode = 99;
  EXPECT_EQ(FailingWaitLauncher(row.step, &sink).Run(record.Command(L"exit=7 waited"), exitCode),
            LaunchResult::kWaitFailed);
  // Neither the code of a process still running (259) nor any other.
  EXPECT_EQ(exitCode, 0u);
  const auto runs = record.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(Text(row.errorLine, runs[0].processId)));
}

INSTANTIATE_TEST_SUITE_P(Steps, FailingWait, testing::ValuesIn(kWaitCases),
                         [](const testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

}  // namespace
