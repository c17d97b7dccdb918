// The one owner of every platform handle: a kind states its value type, the
// value that means "no handle" and how a handle is given back. Every handle
// the module, its host and its companions open is held by one of the aliases
// at the end, so no code outside this file closes a handle itself.
#pragma once

#include <windows.h>
#include <msi.h>

#include <utility>

namespace oxa {

template <class Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Value value) noexcept : value_(value) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Value Get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  // For the out argument of a platform call; a handle held is closed first.
  Value* Receive() noexcept {
    Reset();
    return &value_;
  }

  // Closes the handle held and takes `value`.
  void Reset(Value value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) Traits::Close(value_);
    value_ = value;
  }

  // Gives the handle up without closing it.
  Value Release() noexcept { return std::exchange(value_, Traits::Invalid()); }

 private:
  Value value_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value handle) noexcept { CloseHandle(handle); }
};

// CreateFileW answers INVALID_HANDLE_VALUE for a failure, not null.
struct FileHandleTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Value handle) noexcept { CloseHandle(handle); }
};

struct FindHandleTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Value handle) noexcept { FindClose(handle); }
};

struct RegistryKeyTraits {
  using Value = HKEY;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value key) noexcept { RegCloseKey(key); }
};

struct ModuleTraits {
  using Value = HMODULE;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value module) noexcept { FreeLibrary(module); }
};

// LocalAlloc blocks handed out by the platform (security descriptors).
struct LocalMemoryTraits {
  using Value = HLOCAL;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value memory) noexcept { LocalFree(memory); }
};

struct InstallerHandleTraits {
  using Value = MSIHANDLE;
  static Value Invalid() noexcept { return 0; }
  static void Close(Value handle) noexcept { MsiCloseHandle(handle); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;          // processes, threads, tokens, events
using FileHandle = UniqueHandle<FileHandleTraits>;              // CreateFileW
using FindHandle = UniqueHandle<FindHandleTraits>;              // FindFirstFileW
using RegistryKeyHandle = UniqueHandle<RegistryKeyTraits>;      // RegOpenKeyExW, RegCreateKeyExW
using ModuleHandle = UniqueHandle<ModuleTraits>;                // LoadLibraryW, LoadLibraryExW
using LocalMemory = UniqueHandle<LocalMemoryTraits>;            // ConvertStringSecurityDescriptorToSecurityDescriptorW
using InstallerHandle = UniqueHandle<InstallerHandleTraits>;    // MsiCreateRecord, MsiOpenPackageW

}  // namespace oxa
