// The product identity as the module takes it: read from a product_info.dll
// whose product signature is checked before it is loaded.
#pragma once

#include <string>

#include "platform/product_info/product_info.h"

namespace qvr {

// Loads the library at `path` into `module` (owned by the caller in every
// outcome) through LoadLibraryAndCheckSignature (signature.h): a file that
// cannot be opened or loaded throws oxa::CheckResultFailedException with the
// Windows error converted, at Custom_Actions/COMMON/signature line 206; a file
// without a valid product signature is not loaded and throws
// oxa::CheckFailedException at Custom_Actions/COMMON/product_info_checked
// line 29.
void LoadProductInfoLibraryChecked(const wchar_t* path, oxa::ModuleHandle& module);

// LoadProductInfo over LoadProductInfoLibraryChecked, with the process-wide
// cache (see platform/product_info/product_info.h for what it throws).
ProductInfo LoadProductInfo(const std::wstring& path);

}  // namespace qvr
