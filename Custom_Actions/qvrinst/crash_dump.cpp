#include "Custom_Actions/qvrinst/crash_dump.h"

#include <dbghelp.h>

#include <cwchar>

namespace qvr {
namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

wchar_t g_tempDirectory[MAX_PATH];
MiniDumpWriteDumpFn g_writeDump = nullptr;
const wchar_t* g_dumpName = L"";
volatile LONG g_preparationLock = 0;

void Lock() {
  for (int spins = 0; InterlockedExchange(&g_preparationLock, 1) == 1;) {
    if (spins < 4000)
      ++spins;
    else
      Sleep(1);
  }
}

void Unlock() { InterlockedExchange(&g_preparationLock, 0); }

bool ExpandTempDirectory() {
  // Wine (and Windows) leave an unset variable as it stands and still report
  // its length: "%TEMP%" unexpanded is as much a failure as a zero result.
  // Any other '%' belongs to the folder (folder and user names may hold one).
  const DWORD expanded = ExpandEnvironmentStringsW(L"%TEMP%", g_tempDirectory, MAX_PATH);
  if (expanded == 0 || expanded > MAX_PATH || wcscmp(g_tempDirectory, L"%TEMP%") == 0) {
    g_tempDirectory[0] = L'\0';
    return false;
  }
  return true;
}

// Done only when everything is there, so that a failed preparation is tried
// again by the next installation and keeps no reference to DbgHelp.dll (the
// module is refused, and unloaded, when its first preparation fails).
bool Prepare() {
  if (!ExpandTempDirectory()) return false;
  wchar_t path[MAX_PATH + 16];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  wcscat(path, L"\\DbgHelp.dll");
  const HMODULE dbghelp = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!dbghelp) return false;
  const auto writeDump = reinterpret_cast<MiniDumpWriteDumpFn>(
      reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
  if (!writeDump) {
    FreeLibrary(dbghelp);
    return false;
  }
  // Kept loaded for the life of the process: the filter may run at any time.
  g_writeDump = writeDump;
  return true;
}

}  // namespace

void SetCrashDumpName(const wchar_t* name) { g_dumpName = name; }

LPTOP_LEVEL_EXCEPTION_FILTER InstallCrashDumpFilter(bool& prepared) {
  prepared = true;
  Lock();
  if (!g_writeDump) prepared = Prepare();
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(CrashDumpFilter);
  Unlock();
  return previous;
}

namespace {

void WriteDump(EXCEPTION_POINTERS* exception) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
  if (process) {
    if (g_writeDump) {
      SYSTEMTIME now;
      GetLocalTime(&now);
      wchar_t name[520];
      _snwprintf(name, 520, L"%s/%s.21.26.0.0_%02u.%02u_%02u.%02u_%u.SETUP.%s.dmp", g_tempDirectory, g_dumpName,
                 now.wMonth, now.wDay, now.wHour, now.wMinute, static_cast<unsigned>(GetCurrentProcessId()), L"full");
      name[519] = L'\0';
      HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        MINIDUMP_EXCEPTION_INFORMATION info;
        info.ThreadId = GetCurrentThreadId();
        info.ExceptionPointers = exception;
        info.ClientPointers = FALSE;
        g_writeDump(process, GetCurrentProcessId(), file, MiniDumpWithFullMemory, &info, nullptr, nullptr);
        CloseHandle(file);
      }
    }
    CloseHandle(process);
  }
}

}  // namespace

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : 0;
  WriteDump(exception);
  return code == kDumpRequestCode ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_EXECUTE_HANDLER;
}

void WriteRequestedDump() {
  // The record the filter would see for a raised request, built here: a
  // raise could be taken by a handler of the caller and unwind our frames.
  CONTEXT context = {};
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = kDumpRequestCode;
  EXCEPTION_POINTERS pointers = {&record, &context};
  WriteDump(&pointers);
}

}  // namespace qvr
