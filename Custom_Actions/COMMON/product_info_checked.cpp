#include "Custom_Actions/COMMON/product_info_checked.h"

#include "Custom_Actions/COMMON/signature.h"
#include "component/oxa/exception/check_sites.h"

namespace qvr {

void LoadProductInfoLibraryChecked(const wchar_t* path, oxa::ModuleHandle& module) {
  if (!LoadLibraryAndCheckSignature(path, module)) oxa::ThrowCheckFailed(oxa::CheckSite::kProductInfoBadSignature);
}

ProductInfo LoadProductInfo(const std::wstring& path) { return LoadProductInfo(path, &LoadProductInfoLibraryChecked); }

}  // namespace qvr
