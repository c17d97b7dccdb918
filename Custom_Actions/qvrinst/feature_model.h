// Features, product types and the rule by which a feature counts for a
// product type. No Win32 here: the registry side is in the installer object.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qvr {

using StringVector = std::vector<std::wstring>;

struct FeatureRecord {
  bool installed = true;
  StringVector productTypes{L""};
  StringVector disabledProductTypes{L""};
  StringVector profiles{L""};
  StringVector selfregs{L""};
  StringVector selfUnregs{L""};
  StringVector drivers{L""};
  StringVector registry{L""};
};

// Whether a feature counts for product type `type`: installed, and `type` is
// an exact entry of its ProductTypes.
bool Qualifies(const FeatureRecord& feature, const std::wstring& type);

// Feature name to its record, in plain code-unit order of the names.
using FeatureMap = std::map<std::wstring, FeatureRecord>;

// One naming of a declaration by a qualifying feature: the line "<kind>
// <declaration> requested by feature <feature>" of every activator.
struct Request {
  std::wstring declaration;
  std::wstring feature;
  bool operator==(const Request&) const = default;
};
using Requests = std::vector<Request>;

// The declarations named in `list` by the features that qualify for `type`,
// in feature order and then list order, a name once per naming; names
// without a declaration in `declared` are left out.
template <class DeclarationTable>
Requests RequestsFor(const FeatureMap& features, const std::wstring& type, StringVector FeatureRecord::*list,
                     const DeclarationTable& declared) {
  Requests requests;
  for (const auto& [featureName, feature] : features) {
    if (!Qualifies(feature, type)) continue;
    for (const std::wstring& name : feature.*list)
      if (declared.count(name) != 0) requests.push_back({name, featureName});
  }
  return requests;
}

// Splits a declaration list at every single space: adjacent spaces give an
// empty entry, and an empty text gives one empty entry.
StringVector SplitDeclarationList(const std::wstring& text);

// The small-office product types, which share resources ("vmob").
bool IsSmallOfficeType(const std::wstring& type);

// Whether the small-office version stored as "inmobver" (REG_QWORD) is at
// most 6.2: major in bits 48..55, minor in bits 40..47.
bool IsSmallOfficeVersionAtMost62(std::uint64_t version);

}  // namespace qvr
