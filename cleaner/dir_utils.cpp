#include "cleaner/dir_utils.h"

#include "component/oxa/system/file/path.h"

namespace qvr {
namespace {

class ScopedFindHandle {
 public:
  explicit ScopedFindHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedFindHandle() { Close(); }
  ScopedFindHandle(const ScopedFindHandle&) = delete;
  ScopedFindHandle& operator=(const ScopedFindHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (IsValid()) FindClose(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

DWORD CreateDirectoryIfMissing(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS) return error;
  // A file of that name is no directory.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_SUCCESS
                                                                                               : error;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// RemoveDirectoryW on a junction or directory symbolic link removes the link
// alone. It is not scheduled for the restart, which might resolve it.
DWORD RemoveLink(const std::wstring& path) {
  return RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

void DeleteFileOrSchedule(const std::wstring& path, DWORD attributes) {
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileW(path.c_str())) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

DWORD DirEnsureExists(const std::wstring& path) {
  DWORD error = CreateDirectoryIfMissing(path);
  if (error == ERROR_SUCCESS) return error;
  const std::size_t cut = path.rfind(L'\\');
  if (path.empty() || cut == std::wstring::npos) return ERROR_PATH_NOT_FOUND;
  error = DirEnsureExists(path.substr(0, cut));
  if (error != ERROR_SUCCESS) return error;
  return CreateDirectoryIfMissing(path);
}

DWORD RecursiveDelete(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_INVALID_PARAMETER;
  if (IsLink(attributes)) return RemoveLink(path);
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && !SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
    return GetLastError();

  WIN32_FIND_DATAW entry;
  ScopedFindHandle find(FindFirstFileW(oxa::JoinPath(path, L"*.*").c_str(), &entry));
  if (!find.IsValid()) return GetLastError();
  do {
    const std::wstring_view name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring entry_path = oxa::JoinPath(path, name);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      DeleteFileOrSchedule(entry_path, entry.dwFileAttributes);
    else if (IsLink(entry.dwFileAttributes))
      RemoveLink(entry_path);  // one left behind makes the removal below fail
    else
      RecursiveDelete(entry_path);  // what it leaves makes the removal below fail
  } while (FindNextFileW(find.Get(), &entry));
  const DWORD end = GetLastError();
  if (end != ERROR_NO_MORE_FILES) return end;
  find.Close();

  if (RemoveDirectoryW(path.c_str())) return ERROR_SUCCESS;
  // The removal's own error: scheduling may succeed and clear the last error.
  const DWORD error = GetLastError();
  MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return error;
}

}  // namespace qvr
