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

// Wine 8's MiniDumpWriteDump loads the symbols of every module unless loads
// are deferred, and puts them into the dump as well. Its reader of PDB
// records can fault on the way (DbgHelp catches that) and leave a state on
// which the dump's own clean-up crashes, in RtlFreeHeap from SymCleanup,
// depending on how the test programs happen to be laid out. Deferred, the
// dumps are also half the size and quicker. DbgHelp's options belong to the
// process, so a child sets them for the writer it prepared.
bool DeferSymbolLoads() {
  const HMODULE dbghelp = GetModuleHandleW(L"dbghelp.dll");
  using Options = DWORD(WINAPI*)(DWORD);
  const auto setOptions =
      dbghelp ? reinterpret_cast<Options>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymSetOptions"))) : nullptr;
  using CurrentOptions = DWORD(WINAPI*)();
  const auto getOptions =
      dbghelp ? reinterpret_cast<CurrentOptions>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymGetOptions")))
              : nullptr;
  if (!setOptions || !getOptions) return false;
  setOptions(getOptions() | SYMOPT_DEFERRED_LOADS);
  return true;
}

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
  if (!DeferSymbolLoads()) return 15;
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

// The linked-in writer, prepared with TEMP set to `folder`, writes the dump
// of a request.
int ChildWriteRequestedDump(const std::wstring& folder) {
  if (!SetEnvironmentVariableW(L"TEMP", folder.c_str())) return 40;
  qvr::SetCrashDumpName(L"TRXINST");
  bool prepared = false;
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = qvr::InstallCrashDumpFilter(prepared);
  if (!prepared) return 41;
  if (!DeferSymbolLoads()) return 42;
  qvr::WriteRequestedDump();
  SetUnhandledExceptionFilter(previous);
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
  if (scenario == L"write" && count == 4) result = ChildWriteRequestedDump(words[3]);
  if (scenario == L"percent" && count == 4) result = ChildPercentSign(words[3]);
  if (scenario == L"no-temp") result = ChildWithoutTemp();
  if (scenario == L"second-installation") result = ChildSecondInstallation();
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
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    ADD_FAILURE() << "GetModuleFileNameW failed";
    return run;
  }
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
    // Links first, from the Linux side: Win32 deletion would act on their targets.
    for (const std::wstring& link : links_) qvrtest::RemoveUnixSymlink(link);
    for (const auto& entry : Entries()) DeleteFileW((path_ + L"\\" + entry.cFileName).c_str());
    RemoveDirectoryW(path_.c_str());
  }
  TestTempFolder(const TestTempFolder&) = delete;
  TestTempFolder& operator=(const TestTempFolder&) = delete;

  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  // A link in the folder, removed before the folder is.
  bool Link(const std::wstring& target, const std::wstring& link) {
    if (!qvrtest::CreateUnixSymlink(target, link)) return false;
    links_.push_back(link);
    return true;
  }

  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (const auto& entry : Entries()) names.push_back(entry.cFileName);
    return names;
  }

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
  std::vector<std::wstring> links_;
};

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
  const DWORD read = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &ownerSid, nullptr,
                                           &dacl, nullptr, &descriptor);
  EXPECT_EQ(read, 0u) << "GetNamedSecurityInfoW";
  if (read != 0) return sids;
  auto text = [](PSID sid) {
    LPWSTR string = nullptr;
    std::wstring result = ConvertSidToStringSidW(sid, &string) ? string : L"?";
    LocalFree(string);
    return result;
  };
  owner = text(ownerSid);
  EXPECT_NE(dacl, nullptr) << "no access list: everyone may open it";
  for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(dacl, index, reinterpret_cast<void**>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    sids.push_back(text(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
  }
  LocalFree(descriptor);
  return sids;
}

TEST(CrashDump, DumpOnRequestWritesAFullDumpOnlySystemAndAdministratorsMayOpenAndContinues) {
  TestTempFolder temp;
  SYSTEMTIME before;
  GetLocalTime(&before);
  const ChildRun child = RunChild(L"dump \"" + temp.Path() + L"\"");
  SYSTEMTIME after;
  GetLocalTime(&after);
  ASSERT_EQ(child.exitCode, 0u) << std::hex << "child exit code 0x" << child.exitCode;

  const auto entries = temp.Entries();
  ASSERT_EQ(entries.size(), 1u) << testing::PrintToString(temp.Names());
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

  // A full-memory dump holds at least the process image; a minidump is far smaller.
  EXPECT_GT(SizeOf(entries[0]), 1024u * 1024u);
  // The filter names the file "<TEMP>/<name>".
  const std::wstring expected = temp.Path() + L"/" + name;
  EXPECT_NE(GetFileAttributesW(expected.c_str()), INVALID_FILE_ATTRIBUTES);

  // Windows keeps the list as given: SYSTEM and Administrators. Wine 8 keeps
  // Unix permissions only and reads back SYSTEM and the file's owner, and
  // Everyone too for a file others may read.
  std::wstring owner;
  for (const std::wstring& sid : AllowedSids(expected, owner))
    EXPECT_TRUE(sid == L"S-1-5-18" || sid == L"S-1-5-32-544" || sid == owner) << "also let in: " << sid;
}

TEST(CrashDump, TempWithAPercentSignIsSet) {
  // '%' is legal in folder and user names.
  TestTempFolder temp(L"_x%y");
  const ChildRun child = RunChild(L"percent \"" + temp.Path() + L"\"");
  EXPECT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;
}

// What is planted under the name a dump would take.
enum class Plant { kFile, kLinkToFile, kLinkToMissingFile };

SYSTEMTIME MinuteLater(const SYSTEMTIME& time) {
  FILETIME file;
  SystemTimeToFileTime(&time, &file);
  ULARGE_INTEGER ticks{{file.dwLowDateTime, file.dwHighDateTime}};
  ticks.QuadPart += 60ull * 10000000ull;
  file = {ticks.LowPart, ticks.HighPart};
  SYSTEMTIME later;
  FileTimeToSystemTime(&file, &later);
  return later;
}

// The name the first dump of process `processId` takes in minute `time`.
std::wstring FirstDumpName(const SYSTEMTIME& time, DWORD processId) {
  wchar_t name[160];
  swprintf(name, 160, L"TRXINST.21.26.0.0_%02u.%02u_%02u.%02u_%lu.SETUP.full.dmp", time.wMonth, time.wDay, time.wHour,
           time.wMinute, processId);
  return name;
}

class PlantedDumpName : public testing::TestWithParam<Plant> {};

TEST_P(PlantedDumpName, StaysUntouchedAndTheDumpTakesTheNextName) {
  const Plant plant = GetParam();
  TestTempFolder temp;
  const std::wstring target = temp / L"target.txt";
  if (plant == Plant::kLinkToFile) qvrtest::WriteAll(target, "target");
  std::vector<std::wstring> planted;
  // The name holds the minute of the dump: both this one and the next are taken.
  const ChildRun child = RunChild(L"write \"" + temp.Path() + L"\"", [&](DWORD processId) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    for (const SYSTEMTIME& minute : {now, MinuteLater(now)}) {
      const std::wstring path = temp / FirstDumpName(minute, processId);
      planted.push_back(path);
      if (plant == Plant::kFile) {
        qvrtest::WriteAll(path, "planted");
      } else {
        ASSERT_TRUE(temp.Link(target, path));
      }
    }
  });
  ASSERT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;

  for (const std::wstring& path : planted) {
    if (plant == Plant::kFile) {
      EXPECT_EQ(qvrtest::ReadAll(path), "planted");
    } else {
      EXPECT_EQ(qvrtest::ReadUnixSymlink(path), qvrtest::UnixPath(target));
    }
  }
  // The link's target: unchanged, or still missing.
  const WIN32_FIND_DATAW* targetEntry = nullptr;
  const auto entries = temp.Entries();
  for (const auto& entry : entries)
    if (std::wstring(entry.cFileName) == L"target.txt") targetEntry = &entry;
  if (plant == Plant::kLinkToFile) {
    ASSERT_NE(targetEntry, nullptr);
    EXPECT_EQ(SizeOf(*targetEntry), 6u);
  } else {
    EXPECT_EQ(targetEntry, nullptr);
  }

  const std::wregex secondName(L"TRXINST\\.21\\.26\\.0\\.0_[0-9]{2}\\.[0-9]{2}_[0-9]{2}\\.[0-9]{2}_" +
                               std::to_wstring(child.processId) + L"\\.SETUP\\.full\\.2\\.dmp");
  std::vector<std::wstring> dumps;
  for (const auto& entry : entries)
    if (std::regex_match(std::wstring(entry.cFileName), secondName)) {
      dumps.push_back(entry.cFileName);
      EXPECT_GT(SizeOf(entry), 1024u * 1024u);
    }
  EXPECT_EQ(dumps.size(), 1u);
}

const char* NameOf(Plant plant) {
  constexpr const char* kNames[] = {"File", "LinkToFile", "LinkToMissingFile"};
  return kNames[static_cast<int>(plant)];
}

void PrintTo(Plant plant, std::ostream* out) { *out << NameOf(plant); }

std::string PlantName(const testing::TestParamInfo<Plant>& info) { return NameOf(info.param); }

INSTANTIATE_TEST_SUITE_P(Plants, PlantedDumpName,
                         testing::Values(Plant::kFile, Plant::kLinkToFile, Plant::kLinkToMissingFile), PlantName);

TEST(CrashDump, WithoutTempTheModuleDoesNotLoadButTheFilterIsInstalled) {
  const ChildRun child = RunChild(L"no-temp");
  EXPECT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;
}

TEST(CrashDump, SecondInstallationDoesNotPrepareAgain) {
  const ChildRun child = RunChild(L"second-installation");
  EXPECT_EQ(child.exitCode, 0u) << "failed at step " << child.exitCode;
}

}  // namespace
