// The file name of a loaded module, whatever its length.
#pragma once

#include <windows.h>

#include <string>

namespace oxa {

// The full path of `module` (null: the process's program); empty when it
// cannot be read. The buffer doubles while the name fills it.
inline std::wstring ModuleFileName(HMODULE module) {
  std::wstring name(MAX_PATH, L'\0');
  // A path has at most 32767 characters.
  while (name.size() <= 0x10000) {
    const DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    name.resize(name.size() * 2);
  }
  return {};
}

}  // namespace oxa
