// The product identity as the module takes it: read from a product_info.dll
// that is loaded and checked before its export is called.
#pragma once

#include <string>

#include "platform/product_info/product_info.h"

namespace qvr {

// Loads the library at `path` into `module` (owned by the caller in every
// outcome). A failed load with a Windows error throws
// oxa::CheckResultFailedException with that error converted, at
// Custom_Actions/COMMON/signature line 206.
void LoadProductInfoLibraryChecked(const wchar_t* path, oxa::ModuleHandle& module);

// LoadProductInfo over LoadProductInfoLibraryChecked, with the process-wide
// cache (see platform/product_info/product_info.h for what it throws).
ProductInfo LoadProductInfo(const std::wstring& path);

}  // namespace qvr
