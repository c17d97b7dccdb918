// The crash dump filter: a full memory dump in %TEMP% for an unhandled
// exception, and a dump on request (exception 0x42849FD0) after which the
// program continues. Each dump is a new file (a name that exists is never
// opened; the next one is tried) that only SYSTEM and the administrators may
// open. Dumps are written one at a time; a fault inside the writer gets no
// dump of its own, and the filter leaves it to the handling that follows.
#pragma once

#include <windows.h>

namespace qvr {

constexpr DWORD kDumpRequestCode = 0x42849FD0;

// Name put at the start of each dump file; the string must outlive the filter.
void SetCrashDumpName(const wchar_t* name);

// Prepares the dump writer once per process (TEMP, DbgHelp.dll from the
// system directory, MiniDumpWriteDump) and installs the filter whatever the
// outcome. `prepared` tells whether dumps can be written.
LPTOP_LEVEL_EXCEPTION_FILTER InstallCrashDumpFilter(bool& prepared);

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* exception);

// Writes the dump the filter writes for a raised request (kDumpRequestCode),
// without raising; nothing when the writer is not prepared. Never throws.
void WriteRequestedDump();

}  // namespace qvr
