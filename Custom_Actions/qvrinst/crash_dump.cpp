#include "Custom_Actions/qvrinst/crash_dump.h"

#include "component/oxa/system/unique_handle.h"

#include <dbghelp.h>
#include <sddl.h>

#include <cwchar>

namespace qvr {
namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

wchar_t g_tempDirectory[MAX_PATH];
MiniDumpWriteDumpFn g_writeDump = nullptr;
const wchar_t* g_dumpName = L"";
volatile LONG g_preparationLock = 0;
// The thread writing a dump, 0 when none: DbgHelp is single-threaded, so
// dumps are written one at a time.
volatile LONG g_dumpingThread = 0;

void Acquire(volatile LONG& lock, LONG owner) {
  for (int spins = 0; InterlockedCompareExchange(&lock, owner, 0) != 0;) {
    if (spins < 4000)
      ++spins;
    else
      Sleep(1);
  }
}

void Release(volatile LONG& lock) { InterlockedExchange(&lock, 0); }

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
  oxa::ModuleHandle dbghelp(LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!dbghelp) return false;
  const auto writeDump = reinterpret_cast<MiniDumpWriteDumpFn>(
      reinterpret_cast<void*>(GetProcAddress(dbghelp.Get(), "MiniDumpWriteDump")));
  if (!writeDump) return false;
  // Kept loaded for the life of the process: the filter may run at any time.
  dbghelp.Release();
  g_writeDump = writeDump;
  return true;
}

}  // namespace

void SetCrashDumpName(const wchar_t* name) { g_dumpName = name; }

LPTOP_LEVEL_EXCEPTION_FILTER InstallCrashDumpFilter(bool& prepared) {
  prepared = true;
  Acquire(g_preparationLock, 1);
  if (!g_writeDump) prepared = Prepare();
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(CrashDumpFilter);
  Release(g_preparationLock);
  return previous;
}

namespace {

// A dump holds the whole memory of the process: only SYSTEM and the
// administrators may open it.
constexpr wchar_t kDumpAccess[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Names tried before giving up: the plain name, then a counter before ".dmp".
constexpr unsigned kDumpNameTries = 16;

// A new file in TEMP; a name that exists is never opened. Deferred custom
// actions run as SYSTEM, with TEMP in the system's temporary folder, where
// any user may plant a file or a link under the name of the next dump.
oxa::FileHandle CreateDumpFile() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kDumpAccess, SDDL_REVISION_1, &descriptor, nullptr))
    return {};
  const oxa::LocalMemory descriptorOwner(descriptor);
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  SYSTEMTIME now;
  GetLocalTime(&now);
  for (unsigned attempt = 1; attempt <= kDumpNameTries; ++attempt) {
    wchar_t counter[12] = L"";
    if (attempt > 1) _snwprintf(counter, 12, L".%u", attempt);
    wchar_t name[520];
    _snwprintf(name, 520, L"%s/%s.21.26.0.0_%02u.%02u_%02u.%02u_%u.SETUP.%s%s.dmp", g_tempDirectory, g_dumpName,
               now.wMonth, now.wDay, now.wHour, now.wMinute, static_cast<unsigned>(GetCurrentProcessId()), L"full",
               counter);
    name[519] = L'\0';
    oxa::FileHandle file(
        CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return file;
    // Taken (a file, a link, a folder we may not open): the next name.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return {};
  }
  return {};
}

void WriteDump(EXCEPTION_POINTERS* exception) {
  if (!g_writeDump) return;
  const oxa::KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
  if (!process) return;
  const oxa::FileHandle file = CreateDumpFile();
  if (!file) return;
  MINIDUMP_EXCEPTION_INFORMATION info;
  info.ThreadId = GetCurrentThreadId();
  info.ExceptionPointers = exception;
  info.ClientPointers = FALSE;
  g_writeDump(process.Get(), GetCurrentProcessId(), file.Get(), MiniDumpWithFullMemory, &info, nullptr, nullptr);
}

// Writes the dump of `exception`; false, and nothing, while this thread
// writes one already. A fault inside the writer (Wine 8's DbgHelp can crash
// in its own clean-up) calls the filter again on that thread: a dump of the
// writer would fault the same way, each one larger than the last.
bool WriteOneDump(EXCEPTION_POINTERS* exception) {
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  if (g_dumpingThread == self) return false;
  Acquire(g_dumpingThread, self);
  WriteDump(exception);
  Release(g_dumpingThread);
  return true;
}

}  // namespace

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : 0;
  if (!WriteOneDump(exception)) return EXCEPTION_CONTINUE_SEARCH;
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
  WriteOneDump(&pointers);
}

}  // namespace qvr
