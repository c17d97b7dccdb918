#include "tests/unit/win/plugins/probe_support.h"

#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <sstream>
#include <stdexcept>

namespace plugintest {
namespace {

std::wstring Wide(const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                           text.data(), static_cast<int>(text.size()))));
  return text;
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

// The probe processes whose parent is this process.
std::vector<HANDLE> OpenProbeChildren() {
  std::vector<HANDLE> probes;
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
  return probes;
}

}  // namespace

ProbeRecord::ProbeRecord() {
  wchar_t folder[MAX_PATH];
  wchar_t file[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  EXPECT_NE(GetTempFileNameW(folder, L"prb", 0, file), 0u);
  path_ = file;
}

ProbeRecord::~ProbeRecord() { DeleteFileW(path_.c_str()); }

std::wstring ProbeRecord::Command(const std::wstring& arguments) const {
  return L"\"" + qvrtest::BuildPath(L"testdata/plugin_probe.exe") + L"\" \"" + path_ + L"\" " + arguments;
}

std::vector<ProbeRun> ProbeRecord::Runs() const {
  const std::wstring prefix = Command(L"");
  std::vector<ProbeRun> runs;
  std::wistringstream lines(Wide(qvrtest::ReadAll(path_)));
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

std::vector<std::wstring> ProbeRecord::Arguments() const {
  std::vector<std::wstring> arguments;
  for (const ProbeRun& run : Runs()) arguments.push_back(run.arguments);
  return arguments;
}

TestLocator::~TestLocator() {
  for (HANDLE probe : probes) {
    TerminateProcess(probe, 1);  // left behind by the launcher
    CloseHandle(probe);
  }
}

std::int32_t TestLocator::GetWaiverService(qvr::WaiverService** service) {
  ThrowIfAt(ThrowAt::kGetWaiverService, "GetWaiverService");
  if (serviceResult < 0) return serviceResult;
  if (withoutService) return 0;
  ++servicesHandedOut;
  *service = this;
  return 0;
}

std::int32_t TestLocator::GrantWaiver(std::uint32_t processId) {
  ThrowIfAt(ThrowAt::kGrantWaiver, "GrantWaiver");
  grants.push_back({processId, AllThreadsSuspended(processId), false});
  return grantResult;
}

void TestLocator::Release() {
  ++releases;
  if (!grants.empty()) grants.back().endedAtRelease = !IsRunning(grants.back().processId);
  ThrowIfAt(ThrowAt::kRelease, "Release");
}

void TestLocator::ThrowIfAt(ThrowAt at, const char* callback) {
  if (at != throwAt_) return;
  probes = OpenProbeChildren();
  if (standard_) throw std::runtime_error(std::string(callback) + " failed");
  throw 7;
}

bool IsRunning(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  DWORD exitCode = 0;
  const bool running = process && GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
  if (process) CloseHandle(process);
  return running;
}

void Kill(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
  ASSERT_NE(process, nullptr) << "process " << processId << " is gone";
  EXPECT_TRUE(TerminateProcess(process, 1));
  EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
  CloseHandle(process);
}

}  // namespace plugintest
