#include "Custom_Actions/qvrinst/product_icons.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using qvr::AppendPath;
using qvr::ComputeIconPath;

// Roots with and without a trailing backslash, an empty localization and variant show AppendPath's other cases.
TEST(IconPath, CandidatesInOrder) {
  EXPECT_EQ(AppendPath(L"C:\\P\\", L"\\skin"), L"C:\\P\\skin");
  std::set<std::wstring> files;
  auto exists = [&](const std::wstring& path) { return files.count(path) != 0; };
  const std::wstring root = L"C:\\Product\\";
  const std::wstring localized =
      L"C:\\Product\\skin\\resources\\de-DE\\vmob\\images\\taskbar\\scale-100\\dark\\qvruilauncher.ico";
  const std::wstring neutral =
      L"C:\\Product\\skin\\resources\\neutral\\vmob\\images\\taskbar\\scale-100\\dark\\qvruilauncher.ico";
  const std::wstring plain = L"C:\\Product\\skin\\resources\\neutral\\images\\taskbar\\scale-100\\qvruilauncher.ico";

  // Nothing there: the plain neutral path, even for small-office types.
  EXPECT_EQ(ComputeIconPath(root, L"de-DE", L"dark", true, exists), plain);
  files.insert(neutral);
  EXPECT_EQ(ComputeIconPath(root, L"de-DE", L"dark", true, exists), neutral);
  files.insert(localized);
  EXPECT_EQ(ComputeIconPath(root, L"de-DE", L"dark", true, exists), localized);

  // No variant and no small-office folder; an empty localization adds nothing.
  const std::wstring simple = L"C:\\Product\\skin\\resources\\en-US\\images\\taskbar\\scale-100\\qvruilauncher.ico";
  files.insert(simple);
  EXPECT_EQ(ComputeIconPath(L"C:\\Product", L"en-US", nullptr, false, exists), simple);
  const std::wstring unlocalized = L"C:\\Product\\skin\\resources\\images\\taskbar\\scale-100\\qvruilauncher.ico";
  files.insert(unlocalized);
  EXPECT_EQ(ComputeIconPath(L"C:\\Product", L"", nullptr, false, exists), unlocalized);
}

}  // namespace
