// The crash dump filter, in child processes (the program run again with --crash-dump-child): each starts unprepared,
// and a request the filter lets through ends the child, not the test.
#include "Custom_Actions/qvrinst/crash_dump.h"

#include <aclapi.h>
#include <dbghelp.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "component/oxa/system/unique_handle.h"
#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"

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

// Wine 8's MiniDumpWriteDump loads the symbols of every module unless loads are deferred, and its PDB reader can
// leave a state on which the dump's own clean-up crashes. The options belong to the process: a child sets them.
bool DeferSymbolLoads() {
  const HMODULE dbghelp = GetModuleHandleW(L"dbghelp.dll");
  if (!dbghelp) return false;
  const auto get =
      reinterpret_cast<DWORD(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymGetOptions")));
  const auto set =
      reinterpret_cast<DWORD(WINAPI*)(DWORD)>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymSetOptions")));
  if (!set || !get) return false;
  set(get() | SYMOPT_DEFERRED_LOADS);
  return true;
}

// The real module with TEMP set to `folder`: a dump request writes a dump there and the program goes on; unloading
// puts the previous filter back.
int ChildDumpOnRequest(const std::wstring& folder) {
  if (!SetEnvironmentVariableW(L"TEMP", folder.c_str())) return 10;
  SetUnhandledExceptionFilter(SentinelFilter);
  const HMODULE module = LoadLibraryW(qvrtest::BuildPath(L"bin/qvrinst.dll").c_str());
  if (!module) return 11;
  if (!IsInModule(CurrentFilter(), module)) return 12;
  if (!DeferSymbolLoads()) return 13;
  RaiseException(qvr::kDumpRequestCode, 0, 0, nullptr);
  if (!IsInModule(CurrentFilter(), module)) return 14;
  FreeLibrary(module);
  if (CurrentFilter() != SentinelFilter) return 15;
  return 0;
}

// Without TEMP the module refuses to load, leaving the previous filter; InstallCrashDumpFilter installs ours even so,
// retries the preparation next time, and once prepared no longer needs TEMP. Children answer 0 or the failed step.
int ChildWithoutTemp() {
  wchar_t temp[MAX_PATH];
  if (GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH) == 0) return 20;
  SetEnvironmentVariableW(L"TEMP", nullptr);
  SetUnhandledExceptionFilter(SentinelFilter);
  if (LoadLibraryW(qvrtest::BuildPath(L"bin/qvrinst.dll").c_str()) != nullptr) return 21;
  if (CurrentFilter() != SentinelFilter) return 22;
  bool prepared = true;
  if (qvr::InstallCrashDumpFilter(prepared) != SentinelFilter || prepared) return 23;
  if (CurrentFilter() != qvr::CrashDumpFilter) return 24;
  SetEnvironmentVariableW(L"TEMP", temp);
  qvr::InstallCrashDumpFilter(prepared);
  if (!prepared) return 25;
  SetEnvironmentVariableW(L"TEMP", nullptr);
  SetUnhandledExceptionFilter(SentinelFilter);
  if (qvr::InstallCrashDumpFilter(prepared) != SentinelFilter || !prepared) return 26;
  return 0;
}

// A child runs its scenario before GoogleTest sees the command line.
const bool g_childChecked = [] {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  const oxa::LocalMemory wordsOwner(words);
  if (!words || count < 3 || std::wstring(words[1]) != kChildFlag) return false;
  const std::wstring scenario = words[2];
  ExitProcess(scenario == L"no-temp"              ? ChildWithoutTemp()
              : scenario == L"dump" && count == 4 ? ChildDumpOnRequest(words[3])
                                                  : 2);
}();

// Runs the child scenario and answers its exit code; `whileSuspended` gets the child's id before the child starts.
DWORD RunChild(const std::wstring& arguments, const std::function<void(DWORD)>& whileSuspended = {}) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + kChildFlag + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &started)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return 0xFFFFFFFF;
  }
  const oxa::KernelHandle process(started.hProcess), thread(started.hThread);
  if (whileSuspended) whileSuspended(started.dwProcessId);
  ResumeThread(thread.Get());
  WaitForSingleObject(process.Get(), INFINITE);
  DWORD exitCode = 0xFFFFFFFF;
  GetExitCodeProcess(process.Get(), &exitCode);
  return exitCode;
}

// The SIDs the access list of `path` lets in besides SYSTEM, the administrators and the owner (Wine 8 keeps Unix
// permissions only: it reads back SYSTEM and the owner, and Everyone for a file others may read).
std::vector<std::wstring> OthersLetIn(const std::wstring& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, &descriptor),
            0u);
  const oxa::LocalMemory descriptorOwner(descriptor);
  EXPECT_NE(dacl, nullptr) << "no access list: everyone may open it";
  std::vector<std::wstring> others;
  for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, index, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    const PSID sid = &ace->SidStart;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        (owner && EqualSid(sid, owner)))
      continue;
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(sid, &text);
    const oxa::LocalMemory textOwner(text);
    others.push_back(text ? text : L"?");
  }
  return others;
}

TEST(CrashDump, WithoutTempTheModuleDoesNotLoadButTheFilterIsInstalled) {
  EXPECT_EQ(RunChild(L"no-temp"), 0u) << "failed at a step";
}

// The name the first dump of process `processId` takes `minutes` after `time`.
std::wstring FirstDumpName(SYSTEMTIME time, DWORD processId, int minutes) {
  FILETIME file;
  SystemTimeToFileTime(&time, &file);
  ULARGE_INTEGER ticks{{file.dwLowDateTime, file.dwHighDateTime}};
  ticks.QuadPart += minutes * 60ull * 10000000ull;
  file = {ticks.LowPart, ticks.HighPart};
  FileTimeToSystemTime(&file, &time);
  wchar_t name[160];
  swprintf(name, 160, L"TRXINST.21.26.0.0_%02u.%02u_%02u.%02u_%lu.SETUP.full.dmp", time.wMonth, time.wDay, time.wHour,
           time.wMinute, processId);
  return name;
}

// A dump request writes one full dump, named by local time and process, only SYSTEM and the administrators may open;
// the program goes on. A file planted under its name (this minute and the next) stays as it was and the dump takes
// the next name. TEMP holds a '%', legal in folder and user names.
TEST(CrashDump, DumpOnRequestTakesAFreeNameOnlySystemAndAdministratorsMayOpen) {
  qvrtest::TestFolder temp(L"crash_dump_x%y");
  std::vector<std::wstring> planted, expected;  // `expected`: the names the dump may take
  const DWORD exitCode = RunChild(L"dump \"" + temp.Path() + L"\"", [&](DWORD processId) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    for (const int minutes : {0, 1}) {
      const std::wstring name = FirstDumpName(now, processId, minutes);
      expected.push_back(name.substr(0, name.size() - 4) + L".2.dmp");
      planted.push_back(temp / name);
      qvrtest::WriteAll(planted.back(), "planted");
    }
  });
  ASSERT_EQ(exitCode, 0u) << "failed at step " << exitCode;
  for (const std::wstring& path : planted) EXPECT_EQ(qvrtest::ReadAll(path), "planted");
  std::vector<std::wstring> dumps;  // what is not planted
  for (const auto& entry : qvrtest::ListEntries(temp.Path())) {
    const std::wstring path = temp / entry.cFileName;
    if (std::find(planted.begin(), planted.end(), path) != planted.end()) continue;
    dumps.push_back(entry.cFileName);
    // A full-memory dump holds at least the process image; a minidump is far smaller.
    EXPECT_GT((static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow, 1024u * 1024u);
    EXPECT_EQ(OthersLetIn(path), std::vector<std::wstring>{});
  }
  ASSERT_EQ(dumps.size(), 1u) << testing::PrintToString(dumps);
  EXPECT_NE(std::find(expected.begin(), expected.end(), dumps[0]), expected.end()) << testing::PrintToString(dumps[0]);
}

}  // namespace
