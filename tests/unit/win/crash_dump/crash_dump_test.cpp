// The crash dump filter, in child processes: the test program runs itself
// again with --crash-dump-child, so that each scenario starts with no filter
// of ours installed and nothing prepared, and a dump request raised without
// a handler ends the child's process, not the test, if the filter lets it.
#include "Custom_Actions/qvrinst/crash_dump.h"

#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"
#include "tests/support/unix_links.h"

#include <aclapi.h>
#include <dbghelp.h>
#include <sddl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
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

// Wine 8's MiniDumpWriteDump loads the symbols of every module unless loads
// are deferred, and its reader of PDB records can leave a state on which the
// dump's own clean-up crashes, depending on how the test programs happen to
// be laid out. DbgHelp's options belong to the process, so a child sets them
// for the writer it prepared.
bool DeferSymbolLoads() {
  const HMODULE dbghelp = GetModuleHandleW(L"dbghelp.dll");
  using Options = DWORD(WINAPI*)(DWORD);
  using CurrentOptions = DWORD(WINAPI*)();
  const auto set = dbghelp ? reinterpret_cast<Options>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymSetOptions")))
                           : nullptr;
  const auto get = dbghelp ? reinterpret_cast<CurrentOptions>(
                                 reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymGetOptions")))
                           : nullptr;
  if (!set || !get) return false;
  set(get() | SYMOPT_DEFERRED_LOADS);
  return true;
}

// Child scenarios: 0 when every step went as expected, else the number of
// the first step that did not.

// The real module with TEMP set to `folder`: a dump request writes a dump
// there and the program goes on; unloading puts the previous filter back.
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

// Without TEMP the module refuses to load and leaves the previous filter in
// place. The filter itself is installed even so; the failed preparation is
// tried again by the next installation, and once prepared an installation
// no longer needs TEMP.
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
  if (scenario == L"no-temp") result = ChildWithoutTemp();
  ExitProcess(static_cast<UINT>(result));
}();

struct ChildRun {
  DWORD exitCode = 0xFFFFFFFF;
  DWORD processId = 0;
};

// Runs the child scenario; `whileSuspended` is called with the child's
// process id before the child starts.
ChildRun RunChild(const std::wstring& arguments, const std::function<void(DWORD)>& whileSuspended = {}) {
  ChildRun run;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + kChildFlag + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return run;
  }
  if (whileSuspended) whileSuspended(process.dwProcessId);
  ResumeThread(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  run.processId = process.dwProcessId;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

using Minute = std::tuple<int, int, int, int>;  // month, day, hour, minute

Minute MinuteOf(const SYSTEMTIME& time) { return {time.wMonth, time.wDay, time.wHour, time.wMinute}; }

ULONGLONG SizeOf(const WIN32_FIND_DATAW& entry) {
  return (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

// The SIDs (string form) that the access list of `path` lets in, and the owner.
std::vector<std::wstring> AllowedSids(const std::wstring& path, std::wstring& owner) {
  std::vector<std::wstring> sids;
  PSID ownerSid = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &ownerSid, nullptr, &dacl, nullptr, &descriptor),
            0u);
  auto text = [](PSID sid) {
    LPWSTR string = nullptr;
    std::wstring result = ConvertSidToStringSidW(sid, &string) ? string : L"?";
    LocalFree(string);
    return result;
  };
  EXPECT_NE(dacl, nullptr) << "no access list: everyone may open it";
  if (ownerSid) owner = text(ownerSid);
  for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
    ACE_HEADER* ace = nullptr;
    if (GetAce(dacl, index, reinterpret_cast<void**>(&ace)) && ace->AceType == ACCESS_ALLOWED_ACE_TYPE)
      sids.push_back(text(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
  }
  LocalFree(descriptor);
  return sids;
}

// '%' is legal in folder and user names: TEMP holds one here.
TEST(CrashDump, DumpOnRequestWritesAFullDumpOnlySystemAndAdministratorsMayOpenAndContinues) {
  qvrtest::TestFolder temp(L"crash_dump_x%y");
  SYSTEMTIME before;
  GetLocalTime(&before);
  const ChildRun child = RunChild(L"dump \"" + temp.Path() + L"\"");
  SYSTEMTIME after;
  GetLocalTime(&after);
  ASSERT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;

  const auto entries = qvrtest::ListEntries(temp.Path());
  ASSERT_EQ(entries.size(), 1u) << testing::PrintToString(qvrtest::ListNames(temp.Path()));
  const std::wstring name = entries[0].cFileName;
  const std::wregex pattern(L"TRXINST\\.21\\.26\\.0\\.0_([0-9]{2})\\.([0-9]{2})_([0-9]{2})\\.([0-9]{2})_" +
                            std::to_wstring(child.processId) + L"\\.SETUP\\.full\\.dmp");
  std::wsmatch fields;
  ASSERT_TRUE(std::regex_match(name, fields, pattern)) << testing::PrintToString(name);
  const Minute stamped{std::stoi(fields[1]), std::stoi(fields[2]), std::stoi(fields[3]), std::stoi(fields[4])};
  // The name carries the local time of the dump (a year boundary may lie in between).
  if (MinuteOf(before) <= MinuteOf(after))
    EXPECT_TRUE(MinuteOf(before) <= stamped && stamped <= MinuteOf(after));
  else
    EXPECT_TRUE(MinuteOf(before) <= stamped || stamped <= MinuteOf(after));
  // A full-memory dump holds at least the process image; a minidump is far smaller.
  EXPECT_GT(SizeOf(entries[0]), 1024u * 1024u);

  // Windows keeps the list as given: SYSTEM and Administrators. Wine 8 keeps
  // Unix permissions only and reads back SYSTEM and the file's owner, and
  // Everyone too for a file others may read.
  std::wstring owner;
  for (const std::wstring& sid : AllowedSids(temp / name, owner))
    EXPECT_TRUE(sid == L"S-1-5-18" || sid == L"S-1-5-32-544" || sid == owner) << "also let in: " << sid;
}

TEST(CrashDump, WithoutTempTheModuleDoesNotLoadButTheFilterIsInstalled) {
  EXPECT_EQ(RunChild(L"no-temp").exitCode, 0u) << "failed at a step";
}

// The name the first dump of process `processId` takes in the minute of
// `time`, or in the next one.
std::wstring FirstDumpName(SYSTEMTIME time, DWORD processId, bool nextMinute) {
  if (nextMinute) {
    FILETIME file;
    SystemTimeToFileTime(&time, &file);
    ULARGE_INTEGER ticks{{file.dwLowDateTime, file.dwHighDateTime}};
    ticks.QuadPart += 60ull * 10000000ull;
    file = {ticks.LowPart, ticks.HighPart};
    FileTimeToSystemTime(&file, &time);
  }
  wchar_t name[160];
  swprintf(name, 160, L"TRXINST.21.26.0.0_%02u.%02u_%02u.%02u_%lu.SETUP.full.dmp", time.wMonth, time.wDay, time.wHour,
           time.wMinute, processId);
  return name;
}

// A file or a link planted under the name a dump would take stays untouched,
// and so does the link's target (or it stays missing): the dump takes the
// next name.
TEST(CrashDump, PlantedNamesStayUntouchedAndTheDumpTakesTheNextName) {
  enum Plant { kFile, kLinkToFile, kLinkToMissingFile };
  for (const Plant plant : {kFile, kLinkToFile, kLinkToMissingFile}) {
    SCOPED_TRACE(plant);
    qvrtest::TestFolder temp(L"crash_dump_" + std::to_wstring(plant));
    const std::wstring target = temp / L"target.txt";
    if (plant == kLinkToFile) qvrtest::WriteAll(target, "target");
    std::vector<std::wstring> planted;
    // The name holds the minute of the dump: both this one and the next are taken.
    const ChildRun child = RunChild(L"dump \"" + temp.Path() + L"\"", [&](DWORD processId) {
      SYSTEMTIME now;
      GetLocalTime(&now);
      for (const bool next : {false, true}) {
        planted.push_back(temp / FirstDumpName(now, processId, next));
        if (plant == kFile)
          qvrtest::WriteAll(planted.back(), "planted");
        else
          EXPECT_TRUE(temp.Link(target, planted.back()));
      }
    });
    ASSERT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;
    for (const std::wstring& path : planted) {
      if (plant == kFile)
        EXPECT_EQ(qvrtest::ReadAll(path), "planted");
      else
        EXPECT_EQ(qvrtest::ReadUnixSymlink(path), qvrtest::UnixPath(target));
    }
    EXPECT_EQ(qvrtest::ReadAll(target), plant == kLinkToFile ? "target" : "<cannot open>");
    const std::wregex secondName(L"TRXINST\\.21\\.26\\.0\\.0_[0-9._]{11}_" + std::to_wstring(child.processId) +
                                 L"\\.SETUP\\.full\\.2\\.dmp");
    int dumps = 0;
    for (const auto& entry : qvrtest::ListEntries(temp.Path())) {
      if (!std::regex_match(std::wstring(entry.cFileName), secondName)) continue;
      ++dumps;
      EXPECT_GT(SizeOf(entry), 1024u * 1024u);
    }
    EXPECT_EQ(dumps, 1);
  }
}

}  // namespace
