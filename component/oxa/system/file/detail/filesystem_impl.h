// The framework's file system: long path forms, recursive directory creation,
// a file object with its factory, and creation of a file that replaces one in
// use.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "component/oxa/result_code.h"
#include "component/oxa/system/unique_handle.h"

namespace oxa {

// The absolute long form of `path` (see ToLongPath), resolving a relative
// path against the current directory. Never throws.
ResultCode MakeLongPath(std::wstring_view path, std::wstring& longPath);

// 0 for a directory that is not a reparse point, 1 for a file or a reparse
// point, else the converted error of GetFileAttributesW.
ResultCode IsDirectory(const std::wstring& path);

// Creates every missing directory of `path`; an existing link to a directory
// is walked through. Concurrent creators of the same tree all succeed.
ResultCode CreateDirectories(std::wstring_view path);

// Opens or creates `directory`\`name` with CREATE_ALWAYS. A file that is in
// use is moved aside under a temporary name in the same directory, which is
// scheduled for deletion at the next restart. Returns a Windows error.
DWORD CreateFileReplacingInUse(const std::wstring& directory, const std::wstring& name, DWORD access,
                               HANDLE& handle);

// Supplied by an opener that closes its files itself.
class FileCloseHandler {
 public:
  virtual ~FileCloseHandler() = default;
  virtual void CloseFile(HANDLE handle) = 0;
};

// An open file. Its operations return Windows errors.
class File {
 public:
  explicit File(std::shared_ptr<FileCloseHandler> closeHandler) noexcept
      : close_handler_(std::move(closeHandler)) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // `done` is 0 unless the transfer succeeds.
  virtual DWORD Read(void* buffer, DWORD count, DWORD& done);
  virtual DWORD Write(const void* buffer, DWORD count, DWORD& done);
  // SetFilePointer with a 32-bit distance.
  virtual DWORD Seek(LONG distance, DWORD method, DWORD& position);
  // Hands the handle to the close handler when there is one, else closes it.
  virtual ~File();

  HANDLE GetHandle() const noexcept { return handle_.Get(); }

 private:
  friend class FileSystem;

  FileHandle handle_;
  std::shared_ptr<FileCloseHandler> close_handler_;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens `path` through its long form (MakeLongPath; a failure to make it
  // is returned with bit 29 set). CREATE_NEW and CREATE_ALWAYS create the
  // parent directories (their failure is returned with bit 29 set) and
  // replace a file in use (CreateFileReplacingInUse); other dispositions
  // open with read sharing. Returns 160 for a null `file`, 14 when memory
  // runs out.
  virtual DWORD OpenFile(const std::wstring& path, DWORD access, DWORD disposition,
                         std::shared_ptr<FileCloseHandler> closeHandler, std::unique_ptr<File>* file);
};

}  // namespace oxa
