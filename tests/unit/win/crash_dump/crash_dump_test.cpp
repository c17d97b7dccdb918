// The crash dump filter, in child processes: the test program runs itself
// again with --crash-dump-child, so that each scenario starts with no filter
// of ours installed and nothing prepared, and a dump request raised without
// a handler ends the child's process, not the test, if the filter lets it.
#include "Custom_Actions/qvrinst/crash_dump.h"

#include "tests/support/msi_session.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr wchar_t kChildFlag[] = L"--crash-dump-child";

LONG WINAPI SentinelFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

LPTOP_LEVEL_EXCEPTION_FILTER CurrentFilter() {
  const LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
  SetUnhandledExceptionFilter(current);
  return current;
}

bool IsInModule(LPTOP_LEVEL_EXCEPTION_FILTER filter, HMODULE module) {
  MEMORY_BASIC_INFORMATION memory{};
  return filter && VirtualQuery(reinterpret_cast<void*>(filter), &memory, sizeof memory) == sizeof memory &&
         memory.AllocationBase == reinterpret_cast<void*>(module);
}

// The import slot of LoadLibraryExW in this program, through which the
// linked-in preparation loads DbgHelp.dll: replaced to count those loads.
extern "C" decltype(&LoadLibraryExW) __imp_LoadLibraryExW;
decltype(&LoadLibraryExW) g_loadLibraryExW = nullptr;
int g_dbghelpLoads = 0;
bool g_dbghelpFromSystemDirectory = true;

HMODULE WINAPI CountingLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  const std::wstring path = name ? name : L"";
  if (path.size() >= 12 && _wcsicmp(path.c_str() + path.size() - 12, L"\\dbghelp.dll") == 0) {
    ++g_dbghelpLoads;
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    g_dbghelpFromSystemDirectory = g_dbghelpFromSystemDirectory && length > 0 &&
                                   path == std::wstring(system, length) + L"\\DbgHelp.dll" &&
                                   flags == LOAD_WITH_ALTERED_SEARCH_PATH;
  }
  return g_loadLibraryExW(name, file, flags);
}

bool CountDbgHelpLoads() {
  DWORD protection = 0;
  if (!VirtualProtect(&__imp_LoadLibraryExW, sizeof(void*), PAGE_READWRITE, &protection)) return false;
  g_loadLibraryExW = __imp_LoadLibraryExW;
  __imp_LoadLibraryExW = CountingLoadLibraryExW;
  VirtualProtect(&__imp_LoadLibraryExW, sizeof(void*), protection, &protection);
  return true;
}

std::wstring ModulePath() { return qvrtest::BuildPath(L"bin/qvrinst.dll"); }

// Child scenarios. Each returns 0 when every step went as expected, else the
// number of the first step that did not.

// The real module with TEMP set to `folder`: a dump request writes a dump
// there and the program goes on; unloading puts the previous filter back.
int ChildDumpOnRequest(const std::wstring& folder) {
  if (!SetEnvironmentVariableW(L"TEMP", folder.c_str())) return 10;
  SetUnhandledExceptionFilter(SentinelFilter);
  const HMODULE module = LoadLibraryW(ModulePath().c_str());
  if (!module) return 11;
  if (!IsInModule(CurrentFilter(), module)) return 12;
  RaiseException(qvr::kDumpRequestCode, 0, 0, nullptr);
  if (!IsInModule(CurrentFilter(), module)) return 13;
  FreeLibrary(module);
  if (CurrentFilter() != SentinelFilter) return 14;
  return 0;
}

// Without TEMP the module refuses to load, and its failed load leaves the
// previous filter in place. The filter itself is installed even so; the
// failed preparation keeps nothing and is tried again by the next
// installation.
int ChildWithoutTemp() {
  wchar_t temp[MAX_PATH];
  if (GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH) == 0) return 20;
  SetEnvironmentVariableW(L"TEMP", nullptr);
  SetUnhandledExceptionFilter(SentinelFilter);
  if (LoadLibraryW(ModulePath().c_str()) != nullptr) return 21;
  if (CurrentFilter() != SentinelFilter) return 22;

  if (!CountDbgHelpLoads()) return 23;
  bool prepared = true;
  if (qvr::InstallCrashDumpFilter(prepared) != SentinelFilter) return 24;
  if (prepared) return 25;
  if (CurrentFilter() != qvr::CrashDumpFilter) return 26;
  if (g_dbghelpLoads != 0) return 27;

  SetEnvironmentVariableW(L"TEMP", temp);
  qvr::InstallCrashDumpFilter(prepared);
  if (!prepared) return 28;
  if (g_dbghelpLoads != 1 || !g_dbghelpFromSystemDirectory) return 29;
  SetUnhandledExceptionFilter(SentinelFilter);
  return 0;
}

// Once prepared, an installation neither loads DbgHelp.dll again nor looks at
// TEMP again; it only installs the filter.
int ChildSecondInstallation() {
  if (!CountDbgHelpLoads()) return 30;
  bool prepared = false;
  qvr::InstallCrashDumpFilter(prepared);
  if (!prepared) return 31;
  if (g_dbghelpLoads != 1 || !g_dbghelpFromSystemDirectory) return 32;

  SetUnhandledExceptionFilter(SentinelFilter);
  SetEnvironmentVariableW(L"TEMP", nullptr);
  prepared = false;
  if (qvr::InstallCrashDumpFilter(prepared) != SentinelFilter) return 33;
  if (!prepared) return 34;
  if (g_dbghelpLoads != 1) return 35;
  if (CurrentFilter() != qvr::CrashDumpFilter) return 36;
  SetUnhandledExceptionFilter(SentinelFilter);
  return 0;
}

// With TEMP set to `folder` (which holds a '%'), the module loads and the
// writer is prepared.
int ChildPercentSign(const std::wstring& folder) {
  if (!SetEnvironmentVariableW(L"TEMP", folder.c_str())) return 50;
  SetUnhandledExceptionFilter(SentinelFilter);
  const HMODULE module = LoadLibraryW(ModulePath().c_str());
  if (!module) return 51;
  FreeLibrary(module);
  bool prepared = false;
  qvr::InstallCrashDumpFilter(prepared);
  if (!prepared) return 52;
  SetUnhandledExceptionFilter(SentinelFilter);
  return 0;
}

// Runs a scenario when this process was started as a child, before
// GoogleTest sees the command line.
const bool g_childChecked = [] {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words || count < 3 || std::wstring(words[1]) != kChildFlag) {
    LocalFree(words);
    return false;
  }
  const std::wstring scenario = words[2];
  int result = 2;
  if (scenario == L"dump" && count == 4) result = ChildDumpOnRequest(words[3]);
  if (scenario == L"percent" && count == 4) result = ChildPercentSign(words[3]);
  if (scenario == L"no-temp") result = ChildWithoutTemp();
  if (scenario == L"second-installation") result = ChildSecondInstallation();
  ExitProcess(static_cast<UINT>(result));
}();

struct ChildRun {
  DWORD exitCode = 0xFFFFFFFF;
  DWORD processId = 0;
};

ChildRun RunChild(const std::wstring& arguments) {
  ChildRun run;
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    ADD_FAILURE() << "GetModuleFileNameW failed";
    return run;
  }
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + kChildFlag + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return run;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  run.processId = process.dwProcessId;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

// A folder of this test in the prefix's temporary folder (its name ends with
// `suffix`), removed with what it holds.
class TestTempFolder {
 public:
  explicit TestTempFolder(const std::wstring& suffix = L"") {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    EXPECT_TRUE(length > 0 && length < MAX_PATH);
    path_ = std::wstring(temp) + L"qvr_crash_dump_" + std::to_wstring(GetCurrentProcessId()) + suffix;
    EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << GetLastError();
  }
  ~TestTempFolder() {
    for (const auto& entry : Entries()) DeleteFileW((path_ + L"\\" + entry.cFileName).c_str());
    RemoveDirectoryW(path_.c_str());
  }
  TestTempFolder(const TestTempFolder&) = delete;
  TestTempFolder& operator=(const TestTempFolder&) = delete;

  const std::wstring& Path() const { return path_; }

  std::vector<WIN32_FIND_DATAW> Entries() const {
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
      if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..") entries.push_back(found);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
  }

 private:
  std::wstring path_;
};

using Minute = std::tuple<int, int, int, int>;  // month, day, hour, minute

Minute MinuteOf(const SYSTEMTIME& time) { return {time.wMonth, time.wDay, time.wHour, time.wMinute}; }

TEST(CrashDump, DumpOnRequestWritesAFullDumpAndContinues) {
  TestTempFolder temp;
  SYSTEMTIME before;
  GetLocalTime(&before);
  const ChildRun child = RunChild(L"dump \"" + temp.Path() + L"\"");
  SYSTEMTIME after;
  GetLocalTime(&after);
  ASSERT_EQ(child.exitCode, 0u) << std::hex << "child exit code 0x" << child.exitCode;

  const auto entries = temp.Entries();
  ASSERT_EQ(entries.size(), 1u);
  const std::wstring name = entries[0].cFileName;
  const std::wregex pattern(L"TRXINST\\.21\\.26\\.0\\.0_([0-9]{2})\\.([0-9]{2})_([0-9]{2})\\.([0-9]{2})_" +
                            std::to_wstring(child.processId) + L"\\.SETUP\\.full\\.dmp");
  std::wsmatch fields;
  ASSERT_TRUE(std::regex_match(name, fields, pattern)) << std::string(name.begin(), name.end());
  const Minute stamped{std::stoi(fields[1]), std::stoi(fields[2]), std::stoi(fields[3]), std::stoi(fields[4])};
  // The name carries the local time of the dump (a year boundary may lie in between).
  const bool sameYear = MinuteOf(before) <= MinuteOf(after);
  if (sameYear)
    EXPECT_TRUE(MinuteOf(before) <= stamped && stamped <= MinuteOf(after));
  else
    EXPECT_TRUE(MinuteOf(before) <= stamped || stamped <= MinuteOf(after));

  const ULONGLONG size = (static_cast<ULONGLONG>(entries[0].nFileSizeHigh) << 32) | entries[0].nFileSizeLow;
  // A full-memory dump holds at least the process image; a minidump is far smaller.
  EXPECT_GT(size, 1024u * 1024u);
  // The filter names the file "<TEMP>/<name>".
  const std::wstring expected = temp.Path() + L"/" + name;
  EXPECT_NE(GetFileAttributesW(expected.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CrashDump, TempWithAPercentSignIsSet) {
  // '%' is legal in folder and user names.
  TestTempFolder temp(L"_x%y");
  const ChildRun child = RunChild(L"percent \"" + temp.Path() + L"\"");
  EXPECT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;
}

TEST(CrashDump, WithoutTempTheModuleDoesNotLoadButTheFilterIsInstalled) {
  const ChildRun child = RunChild(L"no-temp");
  EXPECT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;
}

TEST(CrashDump, SecondInstallationDoesNotPrepareAgain) {
  const ChildRun child = RunChild(L"second-installation");
  EXPECT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;
}

}  // namespace
