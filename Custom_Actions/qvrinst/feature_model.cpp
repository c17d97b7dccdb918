#include "Custom_Actions/qvrinst/feature_model.h"

#include <algorithm>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

namespace qvr {

StringVector SplitDeclarationList(const std::wstring& text) {
  StringVector entries;
  boost::split(entries, text, boost::is_any_of(L" "));
  return entries;
}

bool Qualifies(const FeatureRecord& feature, const std::wstring& type) {
  return feature.installed &&
         std::find(feature.productTypes.begin(), feature.productTypes.end(), type) != feature.productTypes.end();
}

bool IsSmallOfficeType(const std::wstring& type) { return type == L"vmobpc" || type == L"vmobfs"; }

bool IsSmallOfficeVersionAtMost62(std::uint64_t version) {
  const auto upper = static_cast<std::uint32_t>(version >> 32);
  const std::uint32_t major = (upper >> 16) & 0xFF;
  const std::uint32_t minor = (upper >> 8) & 0xFF;
  return major < 6 || (major == 6 && minor <= 2);
}

}  // namespace qvr
