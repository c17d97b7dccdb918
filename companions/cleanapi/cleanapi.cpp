// cleanapi.dll: the cleaner library that the module's cleaner extracts from
// the cleaner pack. It finds the applications of its databases
// (cleanapi_database.h) on this machine and removes them.
//
// Exports (C names, __stdcall, undecorated through cleanapi.def):
//   int EnumCompetitorSoftwareFromMemA(const DatabaseEntry* table,
//           uint32_t count, void* context, EnumCallback callback)
//       calls callback(index, record, context) once per application present
//       (index counts them from 0); the callback's answer is not examined.
//   int RemoveCompetitorSoftwareFromMemExtA(const DatabaseEntry* table,
//           uint32_t count, uint32_t* removed, void* context,
//           RemoveCallback callback)
//       per application present: callback(0, record, context), where 1
//       leaves the application alone; then the removal and, when it worked,
//       callback(1, record, context). Sets *removed (when not null) to the
//       number removed. Fails when a removal that was not declined failed. A
//       detect-only application (category 0) cannot be removed: it is left
//       in place without asking, and that is no failure.
//   int SetExternalTraceCallbackA(TraceCallback callback, void* context,
//           uint32_t, uint32_t registerIt)
//       registerIt 1 registers the callback (instead of any before), 0
//       unregisters it when it is the one registered; 0 for anything else.
// The enumerations answer 1 on success and 0 for a null callback, a null
// table with a count, or an exception; database files and entries that
// break the format are skipped with a trace line. Every string is UTF-8.
//
// Tracing (only with a callback registered): one line per database file
// and per entry skipped, both from a thread of the library, started and
// joined inside each enumeration; one per application checked, detected,
// removed or failed, and a summary, from the caller's thread.
//
// For tests of the caller's failure paths, the environment variable
// CLEANAPI_FAULT names functions that report failure after reading their
// databases: "enumerate", "remove" (separated by ';').
#include <windows.h>

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "companions/cleanapi/cleanapi_database.h"
#include "component/oxa/system/unique_handle.h"
#include "component/oxa/text/utf.h"
#include "platform/util/scoped_reg_key.h"

namespace {

using cleanapi::Application;
using cleanapi::DatabaseEntry;
using qvr::RegistryView;
using qvr::ScopedRegKey;

// The record of one application present, as the module reads it.
struct AppRecord {
  std::uint32_t index;  // among the applications present
  const char* name;
  const char* displayName;
  std::uint32_t category;
  // Zero. Two halves, not a uint64_t: that would align the record to 8 and
  // make it 32 bytes on i686.
  std::uint32_t reserved[2];
  const char* third;  // the uninstall key name, else the detection file
};
static_assert(sizeof(void*) != 4 || (sizeof(AppRecord) == 28 && offsetof(AppRecord, name) == 4 &&
                                     offsetof(AppRecord, displayName) == 8 && offsetof(AppRecord, category) == 12 &&
                                     offsetof(AppRecord, reserved) == 16 && offsetof(AppRecord, third) == 24));

using EnumCallback = int(__stdcall*)(std::uint32_t index, const AppRecord* record, void* context);
using RemoveCallback = int(__stdcall*)(std::uint32_t event, const AppRecord* record, void* context);
using TraceCallback = void(__stdcall*)(const char* text, std::uint32_t lengthBytes, void* context, std::uint32_t);

constexpr std::uint32_t kBeforeRemoval = 0;
constexpr std::uint32_t kRemoved = 1;
constexpr int kLeaveAlone = 1;

constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Applications register in either view; on 32-bit Windows both flags are
// ignored and the one view is looked at twice.
constexpr RegistryView kViews[] = {RegistryView::k64Bit, RegistryView::k32Bit};

// --- tracing ------------------------------------------------------------------

struct TraceTarget {
  TraceCallback callback = nullptr;
  void* context = nullptr;
};

std::mutex traceLock;
TraceTarget traceTarget;

void Trace(const std::string& line) {
  TraceTarget target;
  {
    std::lock_guard lock(traceLock);
    target = traceTarget;
  }
  // Called outside the lock, so that the callback may unregister itself.
  if (target.callback) target.callback(line.c_str(), static_cast<std::uint32_t>(line.size()), target.context, 0);
}

// For the exception boundary: a failing trace must not escape either.
void TraceFailure(const char* operation, const char* what) noexcept {
  try {
    Trace(std::string(operation) + ": unexpected exception: " + what);
  } catch (...) {
  }
}

template <typename Body>
int Guarded(const char* operation, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    TraceFailure(operation, e.what());
  } catch (...) {
    TraceFailure(operation, "not a std::exception");
  }
  return 0;
}

std::string Count(std::size_t number, const char* noun) {
  return std::to_string(number) + " " + noun + (number == 1 ? "" : "s");
}

// --- the databases ----------------------------------------------------------------

// Reads the databases, and traces what was read, on a thread of the
// library's own that is joined before this returns: the module takes trace
// lines from any thread into one buffer under a lock, and every call gives
// that path lines from a thread other than the caller's.
cleanapi::Catalog ReadDatabases(const DatabaseEntry* table, std::uint32_t count) {
  cleanapi::Catalog catalog;
  std::exception_ptr failure;
  std::thread reader([&]() noexcept {
    try {
      catalog = cleanapi::ReadCatalog(std::span(table, count));
      for (const std::string& line : catalog.lines) Trace(line);
      Trace("read " + Count(count, "database file") + ": " + Count(catalog.applications.size(), "application"));
    } catch (...) {
      failure = std::current_exception();
    }
  });
  reader.join();
  if (failure) std::rethrow_exception(failure);
  return catalog;
}

// --- detection ----------------------------------------------------------------------

std::wstring UninstallKeyPath(const Application& app) {
  return std::wstring(kUninstallRoot) + L"\\" + oxa::ToUtf16(app.uninstallKey);
}

bool KeyOpens(const std::wstring& path, RegistryView view) {
  ScopedRegKey key;
  return key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE, view) == ERROR_SUCCESS;
}

bool KeyGone(const std::wstring& path, RegistryView view) {
  ScopedRegKey key;
  return key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE, view) == ERROR_FILE_NOT_FOUND;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesW(oxa::ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool PathGone(const std::string& path) {
  if (GetFileAttributesW(oxa::ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsPresent(const Application& app) {
  if (!app.uninstallKey.empty()) {
    const std::wstring path = UninstallKeyPath(app);
    for (const RegistryView view : kViews)
      if (KeyOpens(path, view)) return true;
  }
  return !app.file.empty() && PathExists(app.file);
}

std::vector<const Application*> FindPresent(const cleanapi::Catalog& catalog) {
  std::vector<const Application*> present;
  for (const Application& app : catalog.applications) {
    Trace("checking " + app.name);
    if (!IsPresent(app)) continue;
    Trace("detected " + app.name + " (" + app.displayName + ")");
    present.push_back(&app);
  }
  Trace(Count(present.size(), "application") + " of " + std::to_string(catalog.applications.size()) + " present");
  return present;
}

AppRecord RecordOf(const Application& app, std::uint32_t index) {
  const std::string& third = app.uninstallKey.empty() ? app.file : app.uninstallKey;
  return AppRecord{index, app.name.c_str(), app.displayName.c_str(), app.category, {0, 0}, third.c_str()};
}

// --- removal ----------------------------------------------------------------------------

// The value `name` of `key`, with environment variables expanded when it is
// a REG_EXPAND_SZ; empty when it is missing or not a string.
std::wstring CommandValue(const ScopedRegKey& key, const wchar_t* name) {
  std::wstring command;
  DWORD type = 0;
  DWORD bytes = 0;
  if (key.QueryValueInfo(name, type, bytes) != ERROR_SUCCESS ||
      key.ReadString(name, qvr::StringPolicy::kSzOrExpandSz, command) != ERROR_SUCCESS || type != REG_EXPAND_SZ)
    return command;
  std::wstring expanded(ExpandEnvironmentStringsW(command.c_str(), nullptr, 0), L'\0');
  const DWORD written =
      ExpandEnvironmentStringsW(command.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
  if (written == 0 || written > expanded.size()) return {};
  expanded.resize(written - 1);
  return expanded;
}

// QuietUninstallString, else UninstallString, of the first view that holds
// the key; empty with `why` set when there is none.
std::wstring UninstallCommand(const Application& app, std::string& why) {
  const std::wstring path = UninstallKeyPath(app);
  for (const RegistryView view : kViews) {
    ScopedRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE, view) != ERROR_SUCCESS) continue;
    for (const wchar_t* name : {L"QuietUninstallString", L"UninstallString"}) {
      std::wstring command = CommandValue(key, name);
      if (!command.empty()) return command;
    }
    why = "its uninstall key has no uninstall string";
    return {};
  }
  why = "its uninstall key is not there";
  return {};
}

bool RunUninstaller(const Application& app, std::string& why) {
  std::wstring command = UninstallCommand(app, why);
  if (command.empty()) return false;
  Trace("running the uninstaller of " + app.name + ": " + oxa::ToUtf8(command));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started)) {
    why = "the uninstaller did not start (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  const oxa::KernelHandle process(started.hProcess);
  const oxa::KernelHandle thread(started.hThread);
  DWORD exitCode = 0;
  if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.Get(), &exitCode)) {
    why = "the uninstaller could not be waited for (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (exitCode == 0) return true;
  why = "the uninstaller ended with exit code " + std::to_string(exitCode);
  return false;
}

bool DeleteApplication(const Application& app, std::string& why) {
  if (!app.uninstallKey.empty()) {
    const std::wstring name = oxa::ToUtf16(app.uninstallKey);
    for (const RegistryView view : kViews) {
      ScopedRegKey root;
      constexpr REGSAM kAccess = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE;
      // ScopedRegKey deletes no keys; the tree goes through its handle.
      if (root.Open(HKEY_LOCAL_MACHINE, kUninstallRoot, kAccess, view) == ERROR_SUCCESS)
        RegDeleteTreeW(root.Get(), name.c_str());
    }
    const std::wstring path = UninstallKeyPath(app);
    for (const RegistryView view : kViews) {
      if (KeyGone(path, view)) continue;
      why = "its uninstall key is still there";
      return false;
    }
  }
  for (const std::string& file : app.deletePaths) {
    Trace("deleting " + file);
    DeleteFileW(oxa::ToUtf16(file).c_str());
    if (PathGone(file)) continue;
    why = file + " is still there";
    return false;
  }
  return true;
}

bool Remove(const Application& app, std::string& why) {
  switch (app.removal) {
    case cleanapi::Removal::kUninstaller:
      return RunUninstaller(app, why);
    case cleanapi::Removal::kDelete:
      return DeleteApplication(app, why);
    case cleanapi::Removal::kNone:
      break;
  }
  why = "it has no way of removal";
  return false;
}

bool FaultRequested(const char* function) {
  char faults[256] = {};
  const DWORD length = GetEnvironmentVariableA("CLEANAPI_FAULT", faults, sizeof(faults));
  if (length == 0 || length >= sizeof(faults)) return false;
  const std::string_view list(faults, length);
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    if (list.substr(start, end - start) == function) return true;
    start = end + 1;
  }
  return false;
}

bool FailsOnRequest(const char* operation, const char* function) {
  if (!FaultRequested(function)) return false;
  Trace(std::string(operation) + ": failing as CLEANAPI_FAULT asks");
  return true;
}

bool ArgumentsUsable(const char* operation, const DatabaseEntry* table, std::uint32_t count, const void* callback) {
  if (callback && (table || count == 0)) return true;
  Trace(std::string(operation) + ": " + (callback ? "no database table" : "no callback"));
  return false;
}

}  // namespace

extern "C" int __stdcall EnumCompetitorSoftwareFromMemA(const DatabaseEntry* table, std::uint32_t count, void* context,
                                                        EnumCallback callback) {
  constexpr const char* kOperation = "EnumCompetitorSoftwareFromMemA";
  return Guarded(kOperation, [&] {
    if (!ArgumentsUsable(kOperation, table, count, reinterpret_cast<const void*>(callback))) return 0;
    const cleanapi::Catalog catalog = ReadDatabases(table, count);
    const std::vector<const Application*> present = FindPresent(catalog);
    if (FailsOnRequest(kOperation, "enumerate")) return 0;
    for (std::uint32_t index = 0; index < present.size(); ++index) {
      const AppRecord record = RecordOf(*present[index], index);
      callback(index, &record, context);
    }
    return 1;
  });
}

extern "C" int __stdcall RemoveCompetitorSoftwareFromMemExtA(const DatabaseEntry* table, std::uint32_t count,
                                                             std::uint32_t* removedCount, void* context,
                                                             RemoveCallback callback) {
  constexpr const char* kOperation = "RemoveCompetitorSoftwareFromMemExtA";
  return Guarded(kOperation, [&] {
    if (!ArgumentsUsable(kOperation, table, count, reinterpret_cast<const void*>(callback))) return 0;
    const cleanapi::Catalog catalog = ReadDatabases(table, count);
    const std::vector<const Application*> present = FindPresent(catalog);
    if (FailsOnRequest(kOperation, "remove")) return 0;
    std::uint32_t removed = 0;
    bool failed = false;
    for (std::uint32_t index = 0; index < present.size(); ++index) {
      const Application& app = *present[index];
      const AppRecord record = RecordOf(app, index);
      if (app.removal == cleanapi::Removal::kNone) {
        Trace(app.name + " is detect-only: left in place");
        continue;
      }
      if (callback(kBeforeRemoval, &record, context) == kLeaveAlone) {
        Trace(app.name + " left in place at the caller's request");
        continue;
      }
      Trace("removing " + app.name);
      std::string why;
      if (!Remove(app, why)) {
        Trace("removing " + app.name + " failed: " + why);
        failed = true;
        continue;
      }
      Trace("removed " + app.name);
      ++removed;
      callback(kRemoved, &record, context);
    }
    if (removedCount) *removedCount = removed;
    Trace(Count(removed, "application") + " removed" + (failed ? ", some removals failed" : ""));
    return failed ? 0 : 1;
  });
}

extern "C" int __stdcall SetExternalTraceCallbackA(TraceCallback callback, void* context, std::uint32_t,
                                                   std::uint32_t registerIt) {
  return Guarded("SetExternalTraceCallbackA", [&] {
    std::lock_guard lock(traceLock);
    if (registerIt == 1 && callback) {
      traceTarget = {callback, context};
      return 1;
    }
    if (registerIt == 0 && callback && callback == traceTarget.callback) {
      traceTarget = {};
      return 1;
    }
    return 0;
  });
}
