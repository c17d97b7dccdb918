#include "Custom_Actions/qvrinst/product_icons.h"

namespace qvr {

std::wstring AppendPath(const std::wstring& left, const std::wstring& right) {
  if (right.empty()) return left;
  if (left.empty()) return right;
  const bool leftEnds = left.back() == L'\\' || left.back() == L'/';
  const bool rightStarts = right.front() == L'\\' || right.front() == L'/';
  if (leftEnds && rightStarts) return left + right.substr(1);
  if (leftEnds || rightStarts) return left + right;
  return left + L"\\" + right;
}

std::wstring ComputeIconPath(const std::wstring& productRoot, const std::wstring& localization,
                             const wchar_t* variant, bool smallOffice,
                             const std::function<bool(const std::wstring&)>& exists) {
  static const std::wstring kImages = L"images\\taskbar\\scale-100\\";
  static const std::wstring kIcon = L"qvruilauncher.ico";
  const std::wstring skin = AppendPath(productRoot, L"skin\\resources\\");
  std::wstring icon = AppendPath(smallOffice ? L"vmob" : L"", kImages);
  if (variant && *variant) icon = AppendPath(icon, variant);
  icon = AppendPath(icon, kIcon);

  const std::wstring localized = AppendPath(AppendPath(skin, localization), icon);
  if (exists(localized)) return localized;
  const std::wstring neutral = AppendPath(AppendPath(skin, L"neutral"), icon);
  if (exists(neutral)) return neutral;
  return AppendPath(AppendPath(AppendPath(skin, L"neutral"), kImages), kIcon);
}

}  // namespace qvr
