#include "Custom_Actions/COMMON/product_info_checked.h"

#include <windows.h>

#include "component/oxa/exception/check_sites.h"

namespace qvr {

void LoadProductInfoLibraryChecked(const wchar_t* path, oxa::ModuleHandle& module) {
  module.Reset(LoadLibraryW(path));
  if (!module) {
    const DWORD error = GetLastError();
    if (error != 0) oxa::ThrowCheckResultFailed(oxa::ResultFromWin32Error(error), oxa::CheckSite::kProductInfoLoadFailed);
  }
  // Call site of the product signature check of the loaded file: an invalid
  // signature throws oxa::CheckFailedException at
  // Custom_Actions/COMMON/product_info_checked line 29. The module signature
  // verification is not part of this build, so no check runs yet.
}

ProductInfo LoadProductInfo(const std::wstring& path) { return LoadProductInfo(path, &LoadProductInfoLibraryChecked); }

}  // namespace qvr
