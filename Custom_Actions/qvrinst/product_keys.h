// The product's registry key paths, computed from the identity that
// product_info.dll reports.
#pragma once

#include "platform/product_info/common_reg_keys.h"

namespace qvr {

class LogSink;

// Computes the 13 registry key paths of the product from the product
// registry key of product_info.dll (the file named by the environment
// variable ProductInfoDLL when it exists, else the one found by
// LocateProductInfoLibrary). False, with a level-3 line and every path
// empty, when the product's identity cannot be obtained.
bool InitCommonRegKeys(LogSink* sink, CommonRegKeys& keys);

}  // namespace qvr
