#include "tests/unit/win/plugins/probe_support.h"

#include "tests/support/msi_session.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <stdexcept>

namespace plugintest {
namespace {

std::wstring Wide(const std::string& bytes) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

// Whether the process has threads and each of them has a suspend count
// above zero. Suspending a thread returns its previous count; the resume
// right after puts the count back.
bool AllThreadsSuspended(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int threads = 0;
  bool suspended = true;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    ++threads;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (!thread) {
      suspended = false;
      continue;
    }
    const DWORD previous = SuspendThread(thread);
    if (previous != static_cast<DWORD>(-1)) ResumeThread(thread);
    if (previous == 0 || previous == static_cast<DWORD>(-1)) suspended = false;
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return threads > 0 && suspended;
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
  const std::wstring text = Wide(ReadAll(path_));
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(start, end - start);
    start = end + 1;
    // "run <process id> <command line>"
    ProbeRun run;
    std::size_t afterId = 0;
    EXPECT_EQ(line.rfind(L"run ", 0), 0u) << "not a run: " << testing::PrintToString(line);
    run.processId = static_cast<DWORD>(std::stoul(line.substr(4), &afterId));
    const std::wstring commandLine = line.substr(4 + afterId + 1);
    EXPECT_EQ(commandLine.rfind(prefix, 0), 0u) << "unexpected command line: " << testing::PrintToString(commandLine);
    run.arguments = commandLine.substr(std::min(prefix.size(), commandLine.size()));
    runs.push_back(run);
  }
  return runs;
}

std::vector<std::wstring> ProbeRecord::Arguments() const {
  std::vector<std::wstring> arguments;
  for (const ProbeRun& run : Runs()) arguments.push_back(run.arguments);
  return arguments;
}

bool ProbeRecord::HasRun(DWORD processId) const {
  for (const ProbeRun& run : Runs())
    if (run.processId == processId) return true;
  return false;
}

std::int32_t RecordingLocator::GetWaiverService(qvr::WaiverService** service) {
  if (serviceResult < 0) return serviceResult;
  if (withoutService) return 0;
  ++servicesHandedOut;
  *service = this;
  return 0;
}

std::int32_t RecordingLocator::GrantWaiver(std::uint32_t processId) {
  Grant grant;
  grant.processId = processId;
  grant.suspended = AllThreadsSuspended(processId);
  grant.alreadyRan = record_ && record_->HasRun(processId);
  grants.push_back(grant);
  return grantResult;
}

void RecordingLocator::Release() {
  ++releases;
  if (!grants.empty()) grants.back().endedAtRelease = !IsRunning(grants.back().processId);
}

namespace {

// The probe processes whose parent is this process, opened to be waited for,
// asked for their exit code and killed.
std::vector<HANDLE> OpenProbeChildren() {
  std::vector<HANDLE> probes;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return probes;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId() || _wcsicmp(entry.szExeFile, L"plugin_probe.exe") != 0)
      continue;
    const HANDLE process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process) probes.push_back(process);
  }
  CloseHandle(snapshot);
  return probes;
}

}  // namespace

ThrowingLocator::~ThrowingLocator() {
  for (HANDLE probe : probes) {
    TerminateProcess(probe, 1);  // left behind by the launcher
    CloseHandle(probe);
  }
}

std::int32_t ThrowingLocator::GetWaiverService(qvr::WaiverService** service) {
  ThrowIfAt(ThrowAt::kGetWaiverService, "GetWaiverService");
  *service = this;
  return 0;
}

std::int32_t ThrowingLocator::GrantWaiver(std::uint32_t) {
  ThrowIfAt(ThrowAt::kGrantWaiver, "GrantWaiver");
  return 0;
}

void ThrowingLocator::Release() {
  ++releases;
  ThrowIfAt(ThrowAt::kRelease, "Release");
}

void ThrowingLocator::ThrowIfAt(ThrowAt at, const char* callback) {
  if (at != at_) return;
  probes = OpenProbeChildren();
  if (standard_) throw std::runtime_error(std::string(callback) + " failed");
  throw 7;
}

bool IsRunning(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return false;
  DWORD exitCode = 0;
  const bool running = GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
  CloseHandle(process);
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
