// Plugin self-registration against the probe program (a stand-in for a
// plugin's registration program that records its runs) and a product of the
// test's own: the launcher, with the waiver asked of the host's service
// locator while the new process is still suspended, processes that do not
// end, callbacks that throw and waits that fail; and the installer object's
// Selfregs and Selfunregs declarations read from the registry, their command
// lines run, and their outcomes.
#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/service_locator.h"
#include "activators/process_launcher.h"

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
using qvr::PluginCommandTable;
using qvr::PluginDirection;
using qvr::ProcessLauncher;
using qvrtest::RecordingSink;
using qvrtest::TestProduct;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;

// The probe program's runs, in the order they recorded themselves.
struct ProbeRun {
  DWORD processId = 0;
  std::wstring arguments;  // the words after the record file
};

// A record file in the temporary folder, removed at the end. Command gives
// `"<probe>" "<record>" arguments`, a run that records itself here.
class ProbeRecord {
 public:
  ProbeRecord() {
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    EXPECT_NE(GetTempFileNameW(folder, L"prb", 0, file), 0u);
    path_ = file;
  }
  ~ProbeRecord() { DeleteFileW(path_.c_str()); }
  ProbeRecord(const ProbeRecord&) = delete;
  ProbeRecord& operator=(const ProbeRecord&) = delete;

  std::wstring Command(const std::wstring& arguments) const {
    return L"\"" + qvrtest::BuildPath(L"testdata/plugin_probe.exe") + L"\" \"" + path_ + L"\" " + arguments;
  }
  // Each run's command line must be one of Command's.
  std::vector<ProbeRun> Runs() const {
    const std::string bytes = qvrtest::ReadAll(path_);
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                             text.data(), static_cast<int>(text.size()))));
    const std::wstring prefix = Command(L"");
    std::vector<ProbeRun> runs;
    std::wistringstream lines(text);
    for (std::wstring line; std::getline(lines, line);) {
      // "run <process id> <command line>"
      std::size_t idChars = 0;
      const DWORD processId = std::stoul(line.substr(4), &idChars);
      const std::wstring commandLine = line.substr(4 + idChars + 1);
      EXPECT_EQ(commandLine.rfind(prefix, 0), 0u) << "unexpected command line: " << testing::PrintToString(commandLine);
      runs.push_back({processId, commandLine.substr(std::min(prefix.size(), commandLine.size()))});
    }
    return runs;
  }
  std::vector<std::wstring> Arguments() const {
    std::vector<std::wstring> arguments;
    for (const ProbeRun& run : Runs()) arguments.push_back(run.arguments);
    return arguments;
  }

 private:
  std::wstring path_;
};

bool IsRunning(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  DWORD exitCode = 0;
  const bool running = process && GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
  if (process) CloseHandle(process);
  return running;
}

// Whether the process has threads and each of them has a suspend count
// above zero. Suspending a thread returns its previous count; the resume
// right after puts the count back.
bool AllThreadsSuspended(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int threads = 0;
  bool suspended = true;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    ++threads;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    const DWORD previous = thread ? SuspendThread(thread) : static_cast<DWORD>(-1);
    if (previous != static_cast<DWORD>(-1)) ResumeThread(thread);
    suspended = suspended && previous != 0 && previous != static_cast<DWORD>(-1);
    if (thread) CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return threads > 0 && suspended;
}

// What the locator saw of one grant.
struct Grant {
  DWORD processId = 0;
  bool suspended = false;  // every thread of the process was suspended
  bool endedAtRelease = false;
};

enum class ThrowAt { kNowhere, kGetWaiverService, kGrantWaiver, kRelease };

// A host's service locator whose waiver service records each grant and the
// state of the process at that moment. At `throwAt` the callback throws a
// std::runtime_error "<callback> failed", or an int when `standard` is
// false; before that it opens the probe processes this process started, so
// that the test can tell what became of them (any still running at the end
// is killed).
class TestLocator final : public qvr::ServiceLocator, private qvr::WaiverService {
 public:
  explicit TestLocator(ThrowAt throwAt = ThrowAt::kNowhere, bool standard = true)
      : throwAt_(throwAt), standard_(standard) {}
  ~TestLocator() {
    for (HANDLE probe : probes) {
      TerminateProcess(probe, 1);
      CloseHandle(probe);
    }
  }

  std::int32_t GetWaiverService(qvr::WaiverService** service) override {
    ThrowIfAt(ThrowAt::kGetWaiverService, "GetWaiverService");
    if (serviceResult < 0 || withoutService) return serviceResult;
    ++servicesHandedOut;
    *service = this;
    return 0;
  }

  std::int32_t serviceResult = 0;  // negative: GetWaiverService fails with it
  bool withoutService = false;     // GetWaiverService succeeds without a service
  std::int32_t grantResult = 0;    // what GrantWaiver returns
  std::vector<Grant> grants;
  int servicesHandedOut = 0;
  int releases = 0;
  std::vector<HANDLE> probes;  // seen at the throw

 private:
  std::int32_t GrantWaiver(std::uint32_t processId) override {
    ThrowIfAt(ThrowAt::kGrantWaiver, "GrantWaiver");
    grants.push_back({processId, AllThreadsSuspended(processId), false});
    return grantResult;
  }
  void Release() override {
    ++releases;
    if (!grants.empty()) grants.back().endedAtRelease = !IsRunning(grants.back().processId);
    ThrowIfAt(ThrowAt::kRelease, "Release");
  }
  void ThrowIfAt(ThrowAt at, const char* callback) {
    if (at != throwAt_) return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      if (entry.th32ParentProcessID != GetCurrentProcessId() || _wcsicmp(entry.szExeFile, L"plugin_probe.exe") != 0)
        continue;
      if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                       entry.th32ProcessID))
        probes.push_back(process);
    }
    CloseHandle(snapshot);
    if (standard_) throw std::runtime_error(std::string(callback) + " failed");
    throw 7;
  }

  ThrowAt throwAt_;
  bool standard_;
};

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
  EXPECT_TRUE(IsRunning(hung));
  // Released once the launcher gave up, with the process alive.
  EXPECT_EQ(locator.releases, 1);
  EXPECT_FALSE(locator.grants[0].endedAtRelease);
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, hung);
  EXPECT_TRUE(TerminateProcess(process, 1));
  EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
  CloseHandle(process);
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

constexpr const wchar_t* kSelfregs = L"Installer\\Selfregs";
constexpr const wchar_t* kSelfunregs = L"Installer\\Selfunregs";

std::wstring TestName() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return std::wstring(name.begin(), name.end());
}

// The texts of `sink` that start with one of `prefixes`, in order.
std::vector<std::wstring> Starting(const RecordingSink& sink, std::initializer_list<const wchar_t*> prefixes) {
  std::vector<std::wstring> texts;
  for (const auto& text : sink.Texts())
    for (const wchar_t* prefix : prefixes)
      if (text.rfind(prefix, 0) == 0) texts.push_back(text);
  return texts;
}

// A value that cannot be read, or is empty, costs only that declaration, and
// so does a name too long for one; the key's default value declares nothing.
TEST(PluginDeclarations, ReadersKeepWhatTheyCanRead) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  const std::wstring command = L"C:\\qvr-plugin\\register.exe /s";
  product.SetString(kSelfregs, L"first", command);
  product.SetString(kSelfregs, L"blank", L"");
  product.SetString(kSelfregs, L"expand", command, REG_EXPAND_SZ);
  product.SetDword(kSelfregs, L"number", 1);
  product.SetString(kSelfregs, L"", command);
  product.SetString(kSelfregs, std::wstring(300, L'n').c_str(), command);
  product.SetString(kSelfregs, L"last", command + L" last");
  product.SetString(kSelfunregs, L"undo", command);
  product.SetString(kSelfunregs, L"blank", L"");

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_EQ(installer.Plugins().Commands(PluginDirection::kRegister),
            (PluginCommandTable{{L"first", command}, {L"last", command + L" last"}}));
  EXPECT_EQ(installer.Plugins().Commands(PluginDirection::kUnregister), (PluginCommandTable{{L"undo", command}}));
  EXPECT_THAT(sink.Texts(qvr::kLogError), Contains(L"ReadSelfregs: can't enum selfregs key: 0x000000ea"));
}

TEST(PluginDeclarations, MissingKeysGiveEmptyTables) {
  TestProduct product(TestName());
  for (const wchar_t* key : {L"environment", L"Installer\\features", L"Installer\\profiles", L"Installer\\drivers",
                             L"Installer\\ProtoHandlers", L"Installer\\registry"})
    product.CreateKey(key);
  RecordingSink sink;
  qvr::Installer installer;
  EXPECT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_THAT(installer.Plugins().Commands(PluginDirection::kRegister), IsEmpty());
  EXPECT_THAT(installer.Plugins().Commands(PluginDirection::kUnregister), IsEmpty());
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"ReadSelfregs: can't open selfreg key: 0x00000002",
                                                      L"ReadSelfUnregs: can't open selfunreg key: 0x00000002"));
}

// Both directions with the host's locator: a command that cannot be started
// or exits with another code than 0 is logged as failed, and the next one
// still runs.
TEST(RegisterPlugins, RunsTheCommandsOneAfterAnotherAndLogsTheFailedOnes) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  const std::wstring missing = L"C:\\qvr-no-such-folder\\register.exe /s";
  const std::wstring exits5 = record.Command(L"exit=5 b");
  product.SetString(kSelfregs, L"a", missing);
  product.SetString(kSelfregs, L"b", exits5);
  product.SetString(kSelfregs, L"c", record.Command(L"c"));
  product.SetString(kSelfunregs, L"u", record.Command(L"u"));
  product.AddFeature(L"F", L"kis");
  product.SetString(L"Installer\\features\\F", L"Selfregs", L"a b undeclared c");
  product.SetString(L"Installer\\features\\F", L"SelfUnregs", L"u");

  RecordingSink sink;
  TestLocator locator;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  static_cast<qvr::VersionedInstaller&>(installer).SetServiceLocator(&locator);  // as a host does
  sink.lines.clear();
  EXPECT_TRUE(installer.RegisterPlugins(L"kis"));
  EXPECT_TRUE(installer.UnregisterPlugins(L"kis"));

  EXPECT_THAT(record.Arguments(), ElementsAre(L"exit=5 b", L"c", L"u"));
  EXPECT_EQ(locator.grants.size(), 3u);
  EXPECT_THAT(Starting(sink, {L"RegisterPlugins: ", L"RegisterPluginImpl: Exec", L"Une", L"UnregisterPlugins: ",
                              L"UnregisterPluginImpl: Exec"}),
              ElementsAre(L"RegisterPlugins: self-registering a requested by feature F",
                          L"RegisterPluginImpl: Exec function execret: 1, retcode: 0",
                          L"RegisterPlugins: self-registering " + missing + L" failed",
                          L"RegisterPlugins: self-registering b requested by feature F",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 5",
                          L"RegisterPlugins: self-registering " + exits5 + L" failed",
                          L"RegisterPlugins: self-registering c requested by feature F",
                          L"RegisterPluginImpl: Exec function execret: 0, retcode: 0",
                          L"UnegisterPlugins: unself-registering u requested by feature F",
                          L"UnregisterPluginImpl: Exec function execret: 0, retcode: 0"));
}

// A host's callback that throws ends the operation at its edge: false, the
// line, no registration.
TEST(RegisterPlugins, ThrowingHostCallbackFailsTheActivation) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  ProbeRecord record;
  product.SetString(kSelfregs, L"p1", record.Command(L"p1"));
  product.AddFeature(L"A", L"kis");
  product.SetString(L"Installer\\features\\A", L"Selfregs", L"p1");

  RecordingSink sink;
  TestLocator locator(ThrowAt::kGrantWaiver);
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  installer.SetServiceLocator(&locator);
  sink.lines.clear();
  EXPECT_FALSE(installer.ActivateProduct(qvr::kActivatePlugins));
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"ActivateProduct: unexpected exception: GrantWaiver failed"));
  EXPECT_THAT(record.Runs(), IsEmpty());
}

}  // namespace
