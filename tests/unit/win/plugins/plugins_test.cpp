// Plugin self-registration run by the probe program, which records its runs:
// the launcher with a host's service locator, and Selfregs and Selfunregs.
#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/service_locator.h"
#include "activators/process_launcher.h"
#include "component/oxa/system/unique_handle.h"

#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/test_files.h"
#include "tests/support/test_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <sstream>
#include <stdexcept>

namespace {

using qvr::LaunchResult;
using qvr::ProcessLauncher;
using qvrtest::RecordingSink;
using qvrtest::TestName;
using qvrtest::TestProduct;
using testing::_;
using testing::ElementsAre;
using testing::Pair;

// `Command` gives `"<probe>" "<record>" arguments`, a run that records itself here.
class ProbeRecord {
 public:
  std::wstring Command(const std::string& arguments) const {
    return L"\"" + qvrtest::BuildPath(L"testdata/plugin_probe.exe") + L"\" \"" + path_ + L"\" " +
           std::wstring(arguments.begin(), arguments.end());
  }
  // Process id and arguments of each run, in order.
  std::vector<std::pair<DWORD, std::string>> Runs() const {
    std::vector<std::pair<DWORD, std::string>> runs;
    std::istringstream lines(qvrtest::ReadAll(path_));
    DWORD processId = 0;
    for (std::string arguments; lines.ignore(4) >> processId && std::getline(lines, arguments);)  // "run <id> ..."
      runs.emplace_back(processId, arguments.substr(std::min<std::size_t>(1, arguments.size())));
    return runs;
  }

 private:
  qvrtest::TestFolder folder_{L"probe"};
  std::wstring path_ = folder_ / L"record.txt";
};

// Whether the process has threads, each with a suspend count above zero
// (SuspendThread returns the previous count; the resume puts it back).
bool AllThreadsSuspended(DWORD processId) {
  const oxa::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  int threads = 0, running = 0;
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    ++threads;
    const oxa::KernelHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
    const DWORD previous = thread ? SuspendThread(thread.Get()) : static_cast<DWORD>(-1);
    if (previous != static_cast<DWORD>(-1)) ResumeThread(thread.Get());
    if (previous == 0 || previous == static_cast<DWORD>(-1)) ++running;
  }
  return threads > 0 && running == 0;
}

bool Ended(const oxa::KernelHandle& process) { return WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0; }

struct Grant {
  DWORD processId = 0;
  oxa::KernelHandle process;
  bool suspended = false;
  bool endedAtRelease = false;
};

// A host's locator whose waiver service records each grant and throws where
// told to; a granted process still running at the end is killed.
class TestLocator final : public qvr::ServiceLocator, private qvr::WaiverService {
 public:
  ~TestLocator() {
    for (const Grant& grant : grants)
      if (TerminateProcess(grant.process.Get(), 1)) WaitForSingleObject(grant.process.Get(), INFINITE);
  }
  std::int32_t GetWaiverService(qvr::WaiverService** service) override {
    if (serviceResult == 0) *service = this;
    return serviceResult;
  }

  std::int32_t serviceResult = 0;  // not 0: GetWaiverService answers it without a service
  std::int32_t grantResult = 0;    // what GrantWaiver returns
  bool grantThrows = false;
  bool releaseThrows = false;
  std::vector<Grant> grants;
  int releases = 0;

 private:
  std::int32_t GrantWaiver(std::uint32_t processId) override {
    const DWORD access = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;
    grants.push_back(
        {processId, oxa::KernelHandle(OpenProcess(access, FALSE, processId)), AllThreadsSuspended(processId)});
    if (grantThrows) throw std::runtime_error("GrantWaiver failed");
    return grantResult;
  }
  void Release() override {
    ++releases;
    if (!grants.empty()) grants.back().endedAtRelease = Ended(grants.back().process);
    if (releaseThrows) throw std::runtime_error("X");
  }
};

// What goes wrong in a launch (a failed wait fails after the process ended,
// so that none is left behind).
enum class Fail { kNothing, kRelease, kTimeLimit, kWait, kExitCode };
class TestLauncher final : public ProcessLauncher {
 public:
  TestLauncher(Fail fail, qvr::ServiceLocator* locator, qvr::LogSink* sink)
      : ProcessLauncher(locator, sink, fail == Fail::kTimeLimit ? 500 : kTimeLimitMs), fail_(fail) {}

 protected:
  std::uint32_t WaitForProcess(void* process, std::uint32_t limitMs) override {
    if (fail_ != Fail::kWait && fail_ != Fail::kExitCode) return ProcessLauncher::WaitForProcess(process, limitMs);
    const std::uint32_t waited = ProcessLauncher::WaitForProcess(process, INFINITE);
    SetLastError(ERROR_INVALID_HANDLE);
    return fail_ == Fail::kWait ? WAIT_FAILED : waited;
  }
  bool ReadExitCode(void* process, std::uint32_t& exitCode) override {
    SetLastError(ERROR_ACCESS_DENIED);
    return fail_ != Fail::kExitCode && ProcessLauncher::ReadExitCode(process, exitCode);
  }
  const Fail fail_;
};

// The grant names the process before any of its threads ran; the service is
// released once the launcher is done with it. What the locator answers does
// not stop the launch. At the time limit the process is left running; a
// failed wait gives no exit code. "%" in a line stands for the process id.
TEST(ProcessLauncher, GrantsTheWaiverWhileTheProcessIsSuspended) {
  using R = LaunchResult;
  struct Case {
    std::uint32_t serviceResult, grantResult;
    Fail fail;
    LaunchResult result;
    std::vector<std::wstring> lines;
  };
  const std::wstring granted = L"Set waiver result: 0x00000000";
  const Case cases[] = {
      {1, 0, Fail::kNothing, R::kCompleted, {L"Failed to get waiver: 0x80004003"}},
      {0, 0x80070005u, Fail::kRelease, R::kCompleted, {L"Set waiver result: 0x80070005", L"Waiver release failed: X"}},
      {0, 0, Fail::kTimeLimit, R::kTimedOut, {granted}},
      {0, 0, Fail::kWait, R::kWaitFailed, {granted, L"Failed to wait for process %: result 0xFFFFFFFF, error 6"}},
      {0, 0, Fail::kExitCode, R::kWaitFailed, {granted, L"Failed to read the exit code of process %: 5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.lines.back()));
    ProbeRecord record;
    RecordingSink sink;
    TestLocator locator;
    locator.serviceResult = static_cast<std::int32_t>(c.serviceResult);
    locator.grantResult = static_cast<std::int32_t>(c.grantResult);
    locator.releaseThrows = c.fail == Fail::kRelease;
    const std::string arguments = c.fail == Fail::kTimeLimit ? "hang" : "exit=3";
    std::uint32_t exitCode = 99;
    EXPECT_EQ(TestLauncher(c.fail, &locator, &sink).Run(record.Command(arguments), exitCode), c.result);
    EXPECT_EQ(exitCode, c.result == R::kCompleted ? 3u : 0u);
    // Without a service there is no grant and nothing to release.
    const bool serviced = c.serviceResult == 0;
    ASSERT_EQ(locator.grants.size(), serviced ? 1u : 0u);
    EXPECT_EQ(locator.releases, serviced ? 1 : 0);
    std::vector<std::wstring> lines = c.lines;
    const std::size_t at = lines.back().find(L'%');
    if (at != std::wstring::npos) lines.back().replace(at, 1, std::to_wstring(locator.grants[0].processId));
    EXPECT_EQ(sink.Texts(), lines);
    if (!serviced) continue;
    const Grant& grant = locator.grants[0];
    EXPECT_TRUE(grant.suspended);
    const bool ended = c.result != R::kTimedOut;
    EXPECT_EQ(grant.endedAtRelease, ended);
    if (!ended) continue;
    EXPECT_THAT(record.Runs(), ElementsAre(Pair(grant.processId, arguments)));
  }
}

// A callback's exception goes on to the caller's edge, after the service was
// released and the suspended process terminated.
TEST(ProcessLauncher, CallbackThatThrowsBeforeTheStartLeavesNoSuspendedProcess) {
  ProbeRecord record;
  TestLocator locator;
  locator.grantThrows = true;
  std::uint32_t exitCode = 99;
  EXPECT_THROW(ProcessLauncher(&locator, nullptr).Run(record.Command("thrown"), exitCode), std::runtime_error);
  EXPECT_EQ(locator.releases, 1);
  ASSERT_EQ(locator.grants.size(), 1u);
  DWORD ended = 0;
  EXPECT_TRUE(Ended(locator.grants[0].process) && GetExitCodeProcess(locator.grants[0].process.Get(), &ended));
  EXPECT_EQ(ended, static_cast<DWORD>(ERROR_PROCESS_ABORTED));  // never started
}

// Both directions: a command that cannot start or exits with a code other
// than 0 is logged as failed, and the next one still runs.
TEST(RegisterPlugins, RunsTheCommandsOneAfterAnotherAndLogsTheFailedOnes) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  product.AddFeature(L"F", L"kis");
  product.SetString(L"Installer\\features\\F", L"Selfregs", L"a b undeclared c");
  product.SetString(L"Installer\\features\\F", L"SelfUnregs", L"u");
  ProbeRecord record;
  const std::wstring missing = L"C:\\qvr-no-such-folder\\register.exe /s";
  const std::wstring exits5 = record.Command("exit=5 b");
  product.SetString(L"Installer\\Selfregs", L"a", missing);
  product.SetString(L"Installer\\Selfregs", L"b", exits5);
  product.SetString(L"Installer\\Selfregs", L"c", record.Command("c"));
  product.SetString(L"Installer\\Selfunregs", L"u", record.Command("u"));

  RecordingSink sink;
  TestLocator locator;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  static_cast<qvr::VersionedInstaller&>(installer).SetServiceLocator(&locator);  // as a host does
  sink.lines.clear();
  EXPECT_TRUE(installer.RegisterPlugins(L"kis"));
  EXPECT_TRUE(installer.UnregisterPlugins(L"kis"));

  EXPECT_THAT(record.Runs(), ElementsAre(Pair(_, "exit=5 b"), Pair(_, "c"), Pair(_, "u")));
  EXPECT_EQ(locator.grants.size(), 3u);
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"RegisterPlugins: self-registering " + missing + L" failed",
                                                      L"RegisterPlugins: self-registering " + exits5 + L" failed"));
  EXPECT_THAT(sink.Texts(), testing::IsSupersetOf({L"RegisterPlugins: self-registering c requested by feature F",
                                                   L"RegisterPluginImpl: Exec function execret: 0, retcode: 5",
                                                   L"UnegisterPlugins: unself-registering u requested by feature F",
                                                   L"UnregisterPluginImpl: Exec function execret: 0, retcode: 0"}));
}

}  // namespace
