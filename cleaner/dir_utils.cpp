#include "cleaner/dir_utils.h"

#include <new>
#include <vector>

#include "component/oxa/system/file/detail/filesystem_impl.h"
#include "component/oxa/system/file/path.h"
#include "component/oxa/system/unique_handle.h"

namespace qvr {
namespace {

DWORD CreateDirectoryIfMissing(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS) return error;
  // A file of that name is no directory.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_SUCCESS : error;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The path that opening `path` without following a final link
// (FILE_FLAG_OPEN_REPARSE_POINT) reaches; empty when it cannot be opened.
std::wstring ReachedPath(const std::wstring& path) {
  const oxa::FileHandle opened(
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened) return {};
  std::wstring reached(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(opened.Get(), reached.data(), static_cast<DWORD>(reached.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    // When the buffer is too small, the length asked for includes the NUL.
    const bool fits = length < reached.size();
    reached.resize(length);
    if (fits) return reached;
  }
}

// Whether Win32 calls on `path`, the entry `name` of the directory that
// opens at `directoryReached`, act on the entry itself. Windows opens a link
// itself when told to, so there this holds for every entry. Wine 8 does not:
// it resolves a Unix symbolic link (which it shows to files as a plain
// file), deleting one deletes its target and removing one to an empty
// directory removes that directory. What cannot be opened is taken for what
// its attributes say.
bool ActsOnItself(const std::wstring& directoryReached, const std::wstring& path, std::wstring_view name) {
  if (directoryReached.empty()) return true;
  const std::wstring reached = ReachedPath(path);
  if (reached.empty()) return true;
  const std::wstring own = oxa::JoinPath(directoryReached, name);
  return CompareStringOrdinal(reached.c_str(), static_cast<int>(reached.size()), own.c_str(),
                              static_cast<int>(own.size()), TRUE) == CSTR_EQUAL;
}

// Removes a link itself: RemoveDirectoryW for a directory link, DeleteFileW
// for a file link. It is never scheduled for the restart, which might
// resolve it.
DWORD RemoveLink(const std::wstring& path, DWORD attributes) {
  const BOOL removed =
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  return removed ? ERROR_SUCCESS : GetLastError();
}

void DeleteFileOrSchedule(const std::wstring& path, DWORD attributes) {
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileW(path.c_str())) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

DWORD RemoveDirectoryOrSchedule(const std::wstring& path) {
  if (RemoveDirectoryW(path.c_str())) return ERROR_SUCCESS;
  // The removal's own error: scheduling may succeed and clear the last error.
  const DWORD error = GetLastError();
  MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return error;
}

// A directory of the walk: first listed, removed once all below it is done.
struct Directory {
  std::wstring path;
  DWORD attributes;
  bool listed = false;
  DWORD listing = ERROR_SUCCESS;  // a directory that could not be listed is left as it is
};

// Deletes the files and links of `directory` and adds its subdirectories to
// `walk`. Returns the error of listing it.
DWORD DeleteEntries(const Directory& directory, std::vector<Directory>& walk) {
  if ((directory.attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      !SetFileAttributesW(directory.path.c_str(), FILE_ATTRIBUTE_NORMAL))
    return GetLastError();
  const std::wstring reached = ReachedPath(directory.path);
  WIN32_FIND_DATAW entry;
  const oxa::FindHandle find(FindFirstFileW(oxa::JoinPath(directory.path, L"*.*").c_str(), &entry));
  if (!find) return GetLastError();
  do {
    const std::wstring_view name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring entry_path = oxa::JoinPath(directory.path, name);
    // What stays (a link that can go only through its target, something in
    // use) makes the removal of its directory fail.
    if (!ActsOnItself(reached, entry_path, name)) continue;
    if (IsLink(entry.dwFileAttributes))
      RemoveLink(entry_path, entry.dwFileAttributes);
    else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      walk.push_back({std::move(entry_path), entry.dwFileAttributes});
    else
      DeleteFileOrSchedule(entry_path, entry.dwFileAttributes);
  } while (FindNextFileW(find.Get(), &entry));
  const DWORD end = GetLastError();
  return end == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : end;
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
  try {
    // The long form reaches entries below MAX_PATH and beyond.
    std::wstring root;
    const oxa::ResultCode made = oxa::MakeLongPath(path, root);
    if (made == oxa::rc::OutOfMemory) return ERROR_NOT_ENOUGH_MEMORY;
    if (OXA_FAILED(made)) return ERROR_BAD_PATHNAME;
    const DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_INVALID_PARAMETER;
    if (IsLink(attributes)) {
      const oxa::PathSplit split = oxa::SplitAtLastSeparator(root);
      if (!ActsOnItself(ReachedPath(std::wstring(split.directory)), root, split.name)) return ERROR_NOT_SUPPORTED;
      return RemoveLink(root, attributes);
    }

    // Walked with a stack of its own, so that no depth of tree can exhaust
    // the thread's.
    std::vector<Directory> walk{{root, attributes}};
    for (;;) {
      const std::size_t top = walk.size() - 1;
      if (!walk[top].listed) {
        walk[top].listed = true;
        const Directory listed = walk[top];  // `walk` grows below it
        walk[top].listing = DeleteEntries(listed, walk);
        continue;
      }
      // Everything below it is done.
      const Directory done = std::move(walk[top]);
      walk.pop_back();
      const DWORD result = done.listing != ERROR_SUCCESS ? done.listing : RemoveDirectoryOrSchedule(done.path);
      if (walk.empty()) return result;  // the root's
    }
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace qvr
