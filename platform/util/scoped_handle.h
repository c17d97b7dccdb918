// Owner of one kernel object handle (token, process, thread, file): closed
// when the scope ends.
#pragma once

#include <windows.h>

namespace qvr {

class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Reset(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // For the out argument of a Win32 call; any handle held is closed first.
  HANDLE* Receive() {
    Reset();
    return &handle_;
  }

  void Reset() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE, the owner's empty
// state is null.
inline HANDLE ValidOrNull(HANDLE file) { return file == INVALID_HANDLE_VALUE ? nullptr : file; }

}  // namespace qvr
