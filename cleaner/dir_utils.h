// Recursive directory helpers of the cleaner. Both return Windows errors.
#pragma once

#include <windows.h>

#include <string>

namespace qvr {

// Creates `path` and any missing parent ("\"-separated). An existing
// directory is success; a bare name that cannot be created gives 3
// (ERROR_PATH_NOT_FOUND).
DWORD DirEnsureExists(const std::wstring& path);

// Deletes the directory `path` with everything below it, clearing read-only,
// hidden and system attributes on the way. What cannot be deleted now is
// scheduled for deletion at the next restart: files silently, directories
// with their error returned. Links (junctions, symbolic links) are removed
// themselves and never followed, so their targets stay untouched. A path
// that is not a directory gives 87 (ERROR_INVALID_PARAMETER).
DWORD RecursiveDelete(const std::wstring& path);

}  // namespace qvr
