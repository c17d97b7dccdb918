// Environment activation: the values declared for a product type copied into
// the product environment key.
#pragma once

#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"

namespace qvr {

class LogSink;

class EnvironmentValues {
 public:
  // The subkey of the installer environment key that declares the values of
  // `type`: the small-office types share "vmob".
  static std::wstring Plan(const std::wstring& type) { return IsSmallOfficeType(type) ? L"vmob" : type; }

  // ActivateEnvironment: copies every value of the subkey `declarations` of
  // `installerEnvironmentKey` into `productEnvironmentKey` as REG_SZ,
  // stopping at the first failure. `type` is named in the line of a missing declaration key.
  static bool Apply(LogSink* sink, const std::wstring& productEnvironmentKey,
                    const std::wstring& installerEnvironmentKey, const std::wstring& declarations,
                    const std::wstring& type);
};

}  // namespace qvr
