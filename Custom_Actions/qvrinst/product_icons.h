// Where the product's launcher icon for a product type and language lives.
#pragma once

#include <functional>
#include <string>

namespace qvr {

// Joins two path parts with one backslash; an empty part adds nothing.
std::wstring AppendPath(const std::wstring& left, const std::wstring& right);

// The icon below `productRoot`\skin\resources\: the localization's own icon,
// else the neutral one, else the plain neutral path (without the
// small-office folder and variant), whether it exists or not. `exists` tells
// whether a file is there (every failure counts as absent).
std::wstring ComputeIconPath(const std::wstring& productRoot, const std::wstring& localization,
                             const wchar_t* variant, bool smallOffice,
                             const std::function<bool(const std::wstring&)>& exists);

}  // namespace qvr
