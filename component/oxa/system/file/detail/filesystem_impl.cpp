#include "component/oxa/system/file/detail/filesystem_impl.h"

#include <new>

#include "component/oxa/exception/check_sites.h"
#include "component/oxa/system/file/path.h"

namespace oxa {
namespace {

// The source position that the current-directory failure is reported with.

// Bit 29 marks a result code that OpenFile hands out among Windows errors.
constexpr DWORD kCustomerBit = 0x20000000;

std::wstring GetCurrentDirectoryOrThrow() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) {
      const ResultCode code = ResultFromWin32Error(GetLastError());
      ThrowResultWithStack(OXA_FAILED(code) ? code : rc::PlatformUnspecified, CheckSite::kCurrentDirectory);
    }
    // When the buffer is too small, the length asked for includes the NUL.
    const bool fits = length < buffer.size();
    buffer.resize(length);
    if (fits) return buffer;
  }
}

ResultCode PlainDirectoryState(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return ResultFromWin32Error(GetLastError());
  const bool plain_directory =
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  return plain_directory ? rc::Ok : rc::False;
}

bool IsDirectoryOrLinkToOne(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Ends `path` at `end` for as long as it lives (a NUL written over the
// character there), so that each prefix of a path can be handed to Win32
// without copying it.
class PrefixScope {
 public:
  PrefixScope(std::wstring& path, std::size_t end) : path_(path), end_(end) {
    if (end_ < path_.size()) {
      saved_ = path_[end_];
      path_[end_] = L'\0';
    }
  }
  ~PrefixScope() {
    if (end_ < path_.size()) path_[end_] = saved_;
  }
  PrefixScope(const PrefixScope&) = delete;
  PrefixScope& operator=(const PrefixScope&) = delete;

  const wchar_t* Get() const { return path_.c_str(); }

 private:
  std::wstring& path_;
  std::size_t end_;
  wchar_t saved_ = L'\0';
};

// The end of the next shorter prefix of `path` than [0, end): cut at the
// last separator before `end`, never into the root. npos when none is left.
std::size_t ShorterPrefixEnd(const std::wstring& path, std::size_t end, std::size_t root) {
  if (end <= root) return std::wstring::npos;
  for (std::size_t i = end; i-- > root;)
    if (IsPathSeparator(path[i])) return i;
  return root > 0 ? root : std::wstring::npos;
}

HANDLE CreateWithReadSharing(const std::wstring& path, DWORD access, DWORD disposition) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ResultCode MakeLongPath(std::wstring_view path, std::wstring& longPath) {
  try {
    std::wstring current_directory;
    if (GetPathForm(path) == PathForm::Relative) current_directory = GetCurrentDirectoryOrThrow();
    longPath = ToLongPath(path, current_directory);
    return rc::Ok;
  } catch (const ResultCodeException& error) {
    return GetExceptionResultCode(error);
  } catch (...) {
    return rc::OutOfMemory;
  }
}

ResultCode IsDirectory(const std::wstring& path) { return PlainDirectoryState(path.c_str()); }

ResultCode CreateDirectories(std::wstring_view path) {
  if (path.empty()) return rc::InvalidArgument;
  std::wstring long_path;
  const ResultCode made = MakeLongPath(path, long_path);
  if (OXA_FAILED(made)) return made;
  const std::size_t root = GetPathRoot(long_path).size();

  // Backward: the longest prefix that exists, which must be a directory (or
  // a link to one).
  std::size_t existing_end = long_path.size();
  for (;;) {
    const PrefixScope prefix(long_path, existing_end);
    const DWORD attributes = GetFileAttributesW(prefix.Get());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) break;
      return rc::InvalidPathName;
    }
    const ResultCode missing = ResultFromWin32Error(GetLastError());
    if (missing != rc::FileNotFound && missing != rc::PathNotFound) return missing;
    existing_end = ShorterPrefixEnd(long_path, existing_end, root);
    if (existing_end == std::wstring::npos) return rc::PathNotFound;
  }

  // Forward: each further component in turn.
  for (std::size_t end = existing_end;;) {
    std::size_t begin = end;
    while (begin < long_path.size() && IsPathSeparator(long_path[begin])) ++begin;
    if (begin == long_path.size()) return rc::Ok;
    end = begin;
    while (end < long_path.size() && !IsPathSeparator(long_path[end])) ++end;

    const PrefixScope prefix(long_path, end);
    if (PlainDirectoryState(prefix.Get()) == rc::Ok) continue;
    if (CreateDirectoryW(prefix.Get(), nullptr)) continue;
    const ResultCode failed = ResultFromWin32Error(GetLastError());
    // Someone else may have created it in the meantime.
    if (failed == rc::AlreadyExists && IsDirectoryOrLinkToOne(prefix.Get())) continue;
    return failed;
  }
}

DWORD CreateFileReplacingInUse(const std::wstring& directory, const std::wstring& name, DWORD access,
                               HANDLE& handle) {
  handle = INVALID_HANDLE_VALUE;
  try {
    const std::wstring full = JoinPath(directory, name);
    handle = CreateWithReadSharing(full, access, CREATE_ALWAYS);
    if (handle != INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION) return error;

    // In use: move it aside within the same directory (the same volume) and
    // have the restart remove it.
    wchar_t temporary[MAX_PATH];
    if (GetTempFileNameW(directory.empty() ? L"." : directory.c_str(), L"", 0, temporary) == 0) return GetLastError();
    if (!MoveFileExW(full.c_str(), temporary, MOVEFILE_REPLACE_EXISTING)) {
      const DWORD move_error = GetLastError();
      DeleteFileW(temporary);
      return move_error;
    }
    handle = CreateWithReadSharing(full, access, CREATE_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD retry_error = GetLastError();
      MoveFileExW(temporary, full.c_str(), 0);
      return retry_error;
    }
    MoveFileExW(temporary, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

DWORD File::Read(void* buffer, DWORD count, DWORD& done) {
  done = 0;
  DWORD transferred = 0;
  if (!ReadFile(handle_.Get(), buffer, count, &transferred, nullptr)) return GetLastError();
  done = transferred;
  return ERROR_SUCCESS;
}

DWORD File::Write(const void* buffer, DWORD count, DWORD& done) {
  done = 0;
  DWORD transferred = 0;
  if (!WriteFile(handle_.Get(), buffer, count, &transferred, nullptr)) return GetLastError();
  done = transferred;
  return ERROR_SUCCESS;
}

DWORD File::Seek(LONG distance, DWORD method, DWORD& position) {
  // 0xFFFFFFFF is also a valid position; only the last error tells them apart.
  SetLastError(ERROR_SUCCESS);
  const DWORD result = SetFilePointer(handle_.Get(), distance, nullptr, method);
  if (result == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return GetLastError();
  position = result;
  return ERROR_SUCCESS;
}

File::~File() {
  if (handle_ && close_handler_) close_handler_->CloseFile(handle_.Release());
}

DWORD FileSystem::OpenFile(const std::wstring& path, DWORD access, DWORD disposition,
                           std::shared_ptr<FileCloseHandler> closeHandler, std::unique_ptr<File>* file) {
  if (file == nullptr) return ERROR_BAD_ARGUMENTS;
  std::unique_ptr<File> opened(new (std::nothrow) File(std::move(closeHandler)));
  if (!opened) return ERROR_OUTOFMEMORY;
  // The file is opened through the long form its folders are created with:
  // only so does a path over MAX_PATH open, and names the plain form would
  // change (a folder name ending in a dot) stay the ones created.
  std::wstring long_path;
  const ResultCode made = MakeLongPath(path, long_path);
  if (OXA_FAILED(made)) return static_cast<DWORD>(made) | kCustomerBit;

  DWORD error = ERROR_SUCCESS;
  if (disposition == CREATE_NEW || disposition == CREATE_ALWAYS) {
    try {
      const PathSplit split = SplitAtLastSeparator(long_path);
      if (!split.directory.empty()) {
        const ResultCode created = CreateDirectories(split.directory);
        if (created != rc::Ok) return static_cast<DWORD>(created) | kCustomerBit;
      }
      if (disposition == CREATE_NEW) {
        // A file that exists, in use or not, is never replaced here.
        opened->handle_.Reset(CreateWithReadSharing(long_path, access, CREATE_NEW));
        if (!opened->handle_) error = GetLastError();
      } else {
        error = CreateFileReplacingInUse(std::wstring(split.directory), std::wstring(split.name), access,
                                         *opened->handle_.Receive());
      }
    } catch (const std::bad_alloc&) {
      return ERROR_OUTOFMEMORY;
    }
  } else {
    opened->handle_.Reset(CreateWithReadSharing(long_path, access, disposition));
    if (!opened->handle_) error = GetLastError();
  }
  if (error != ERROR_SUCCESS) return error;
  *file = std::move(opened);
  return ERROR_SUCCESS;
}

}  // namespace oxa
