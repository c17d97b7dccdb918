// The product's own state in the registry: the stored product type, the
// feature declarations and the small-office version, under the key paths of
// CommonRegKeys.
#pragma once

#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"
#include "platform/product_info/common_reg_keys.h"

namespace qvr {

class LogSink;

// ReadProductType: the product type stored in the product environment key
// (empty when none is). False when the key or the value cannot be read.
bool ReadProductType(LogSink* sink, const CommonRegKeys& keys, std::wstring& productType);
// WriteProductType: stores `productType`, or removes the stored one when it
// is empty.
bool WriteProductType(LogSink* sink, const CommonRegKeys& keys, const std::wstring& productType);
// ReadFeatures: fills `features` from the subkeys of the features key. False
// at the first feature that cannot be opened; the ones read before stay.
bool ReadFeatures(LogSink* sink, const CommonRegKeys& keys, FeatureMap& features);
// Whether the small-office version in the data key ("inmobver") is at most
// 6.2; true when the data key cannot be opened.
bool IsSmallOfficeVersion(const CommonRegKeys& keys);

}  // namespace qvr
