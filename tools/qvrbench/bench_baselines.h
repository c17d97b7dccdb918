// The baselines of qvrbench: loops of bare Win32 calls that do the platform
// work of a figure, and no more.
#pragma once

#include <string>

#include "tools/qvrbench/bench_product.h"

namespace qvr {
struct ProfileStore;
}

namespace qvrbench {

// The bare reads of Initialize: every declaration key enumerated, names and
// data in one call, each feature's values queried.
void BareEnumeration();
// The bare writes of ActivateProduct(2|8|16) for benchA: every flag, the
// type's environment values, the protocol keys, every profile's state in the
// store, the product type.
void BareActivation(const BenchScale& scale, qvr::ProfileStore* store);
// FDICopy of the whole pack into `folder` (C-runtime file callbacks), then the
// files removed as RemoveExtracted does.
void BareExtraction(const std::string& folder, const std::string& pack);
// The pack's files as both extractions leave them, and their folders.
void RemoveExtracted(const std::string& folder);

}  // namespace qvrbench
