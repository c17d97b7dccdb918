#include "signcheck_lib/verification_library.h"

#include <string>

#include "component/oxa/system/file/path.h"
#include "component/oxa/system/module_file.h"

namespace qvr {

oxa::ModuleHandle LoadVerificationLibrary(const wchar_t* name) {
  std::wstring folders[2];
  HMODULE self = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&LoadVerificationLibrary), &self)) {
    const std::wstring moduleFile = oxa::ModuleFileName(self);
    if (!moduleFile.empty()) folders[0] = oxa::SplitAtLastSeparator(moduleFile).directory;
  }
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length > 0 && length < MAX_PATH) folders[1].assign(system, length);
  for (const std::wstring& folder : folders) {
    if (folder.empty()) continue;
    const std::wstring path = oxa::JoinPath(folder, name);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    // Its own imports (the platform's cryptography) resolve from its folder's view.
    return oxa::ModuleHandle(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  }
  return oxa::ModuleHandle();
}

}  // namespace qvr
