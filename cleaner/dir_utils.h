// Recursive directory helpers of the cleaner. Both return Windows errors.
#pragma once

#include <windows.h>

#include <string>

namespace qvr {

// Creates `path` and any missing parent ("\"-separated). An existing
// directory is success; a bare name that cannot be created gives 3
// (ERROR_PATH_NOT_FOUND).
DWORD DirEnsureExists(const std::wstring& path);

// Deletes the directory `path` with everything below it, however deep,
// clearing read-only, hidden and system attributes on the way. What cannot
// be deleted now is scheduled for deletion at the next restart: files
// silently, directories with their error returned. Links (junctions,
// symbolic links to directories or files) are removed themselves, never
// followed and never scheduled, so their targets stay untouched; a link the
// system can reach only through its target (Wine's Unix symbolic links) is
// left in place, and as `path` gives 50 (ERROR_NOT_SUPPORTED). A path that
// is not a directory gives 87 (ERROR_INVALID_PARAMETER), memory running out
// 8 (ERROR_NOT_ENOUGH_MEMORY).
DWORD RecursiveDelete(const std::wstring& path);

}  // namespace qvr
