// Owner of one loaded library: freed when the scope ends.
#pragma once

#include <windows.h>

namespace qvr {

class ScopedLibrary {
 public:
  ScopedLibrary() = default;
  explicit ScopedLibrary(HMODULE module) : module_(module) {}
  ~ScopedLibrary() { Reset(); }

  ScopedLibrary(const ScopedLibrary&) = delete;
  ScopedLibrary& operator=(const ScopedLibrary&) = delete;

  HMODULE Get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

  // Frees the library held and takes `module` (may be null).
  void Reset(HMODULE module = nullptr) {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = module;
  }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace qvr
