// The file a signature check reads: opened once by its caller, denying
// writers, so that every check reads the same content.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvr {

struct CheckedFile {
  std::wstring path;  // for the records
  HANDLE handle;      // open for reading; writers and deleters denied
};

namespace file_helpers {

// The whole content of `file`, read from its start, into `fileBuff`. Returns
// 0, or the Windows error: ERROR_FILE_TOO_LARGE (223) from 4 GiB on,
// ERROR_FILE_CORRUPT (1392) for a short read, ERROR_NOT_ENOUGH_MEMORY (14),
// or that of the failed call. An empty file gives an empty buffer and 0.
DWORD ReadFileToBuff(HANDLE file, std::vector<std::uint8_t>& fileBuff);

}  // namespace file_helpers
}  // namespace qvr
