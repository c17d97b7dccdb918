// Features, product types and the rule by which a feature counts for a
// product type. No Win32 here: the registry side is in the installer object.
#pragma once

#include <cstdint>
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

// Splits a declaration list at every single space: adjacent spaces give an
// empty entry, and an empty text gives one empty entry.
StringVector SplitDeclarationList(const std::wstring& text);

// Whether a feature counts for product type `type`: installed, and `type` is
// an exact entry of its ProductTypes.
bool Qualifies(const FeatureRecord& feature, const std::wstring& type);

// The small-office product types, which share resources ("vmob").
bool IsSmallOfficeType(const std::wstring& type);

// Whether the small-office version stored as "inmobver" (REG_QWORD) is at
// most 6.2: major in bits 48..55, minor in bits 40..47.
bool IsSmallOfficeVersionAtMost62(std::uint64_t version);

}  // namespace qvr
