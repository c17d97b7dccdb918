#include "signcheck_lib/file_helpers.h"

#include <new>

namespace qvr::file_helpers {

DWORD ReadFileToBuff(HANDLE file, std::vector<std::uint8_t>& fileBuff) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return GetLastError();
  if (size.QuadPart >= 0x100000000LL) return ERROR_FILE_TOO_LARGE;
  try {
    fileBuff.resize(static_cast<std::size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::size_t done = 0;
  while (done < fileBuff.size()) {
    // Each read says where it starts: the checks share the handle.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(done);
    DWORD read = 0;
    if (!ReadFile(file, fileBuff.data() + done, static_cast<DWORD>(fileBuff.size() - done), &read, &at)) {
      const DWORD error = GetLastError();
      return error == ERROR_HANDLE_EOF ? ERROR_FILE_CORRUPT : error;
    }
    if (read == 0) return ERROR_FILE_CORRUPT;
    done += read;
  }
  return 0;
}

}  // namespace qvr::file_helpers
