#include "component/oxa/system/file/path.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace {

using oxa::PathForm;

struct Pair {
  const wchar_t* input;
  const wchar_t* expected;
};

TEST(PathForm, FormsAndRoots) {
  const std::pair<const wchar_t*, PathForm> forms[] = {
      {L"\\\\?\\C:\\a", PathForm::LongOrDevice},
      {L"\\\\.\\pipe\\x", PathForm::LongOrDevice},
      {L"\\\\server\\share", PathForm::Unc},
      {L"\\\\?/C:", PathForm::Unc},  // the long prefix is backslashes only
      {L"c:/", PathForm::DriveAbsolute},
      {L"C:a", PathForm::Relative},
      {L"1:\\a", PathForm::Relative},
  };
  for (const auto& [path, form] : forms) EXPECT_EQ(oxa::GetPathForm(path), form) << path;
  const Pair roots[] = {
      {L"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\"},
      {L"\\\\?\\C:", L"\\\\?\\C:"},
      {L"\\\\?\\UNC\\srv\\share\\a", L"\\\\?\\UNC\\srv\\share"},
      {L"\\\\?\\UNC\\srv", L"\\\\?\\UNC\\srv"},
      {L"\\\\?\\unc\\srv\\share", L"\\\\?\\unc"},  // only "UNC" itself introduces a server and share
      {L"\\\\srv\\share\\a", L"\\\\srv\\share"},
      {L"C:/a", L"C:/"},
      {L"C:a", L"C:"},
      {L"\\a", L"\\"},
      {L"a\\b", L""},
  };
  for (const Pair& row : roots) EXPECT_EQ(oxa::GetPathRoot(row.input), row.expected) << row.input;
}

TEST(NormalizePath, DotsSeparatorsAndTheRoot) {
  const Pair cases[] = {
      {L"\\\\?\\C:\\a\\.\\b\\..\\c\\\\d", L"\\\\?\\C:\\a\\c\\d"},
      {L"C:/a/b/", L"C:\\a\\b"},
      // ".." stops at the root: the prefix, the drive, server and share stay.
      {L"\\\\?\\C:\\..\\..\\x", L"\\\\?\\C:\\x"},
      {L"\\\\?\\C:\\a\\..", L"\\\\?\\C:\\"},
      {L"\\a\\..\\..\\b", L"\\b"},
      {L"\\\\?\\UNC\\srv\\share\\a\\..\\..\\b", L"\\\\?\\UNC\\srv\\share\\b"},
      // Relative paths keep the ".." they cannot resolve.
      {L"a\\..", L"."},
      {L"..\\..\\a\\..\\b", L"..\\..\\b"},
      {L"X:a\\..\\..\\b", L"X:..\\b"},
  };
  for (const Pair& row : cases) {
    std::wstring path = row.input;
    oxa::NormalizePath(path);
    EXPECT_EQ(path, row.expected) << row.input;
  }
}

TEST(ToLongPath, RelativeToTheCurrentDirectoryAndAsGiven) {
  const Pair cases[] = {
      {L"a\\..\\b\\.\\c", L"\\\\?\\C:\\work\\dir\\b\\c"},
      {L"..\\..\\..\\x", L"\\\\?\\C:\\x"},
      {L"\\a\\b", L"\\\\?\\C:\\a\\b"},
      {L"c:x", L"\\\\?\\C:\\work\\dir\\x"},
      {L"D:x\\..\\y", L"\\\\?\\D:\\y"},
      {L"C:\\a\\..\\b", L"\\\\?\\C:\\b"},
      // UNC, long and device paths are taken as they are.
      {L"\\\\srv\\share\\..\\a", L"\\\\srv\\share\\..\\a"},
  };
  for (const Pair& row : cases) EXPECT_EQ(oxa::ToLongPath(row.input, L"C:\\work\\dir"), row.expected) << row.input;
  EXPECT_EQ(oxa::ToLongPath(L"a", L"C:\\"), L"\\\\?\\C:\\a");
  EXPECT_EQ(oxa::ToLongPath(L"a", L"\\\\?\\D:\\x"), L"\\\\?\\D:\\x\\a");
  EXPECT_EQ(oxa::ToLongPath(L"..\\..\\a", L"\\\\srv\\share\\d"), L"\\\\?\\UNC\\srv\\share\\a");
  EXPECT_EQ(oxa::ToLongPath(L"\\a", L"\\\\srv\\share\\d"), L"\\\\?\\UNC\\srv\\share\\a");
}

TEST(SplitAndJoin, KeepTheRoot) {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\a\\b.txt", L"C:\\a", L"b.txt"},
      {L"C:\\b.txt", L"C:\\", L"b.txt"},
      {L"X:b.txt", L"X:", L"b.txt"},
      {L"\\\\?\\UNC\\srv\\share\\b", L"\\\\?\\UNC\\srv\\share", L"b"},
      {L"b.txt", L"", L"b.txt"},
      {L"a/b", L"a", L"b"},
  };
  for (const auto& [path, directory, name] : cases) {
    const oxa::PathSplit split = oxa::SplitAtLastSeparator(path);
    EXPECT_EQ(split.directory, directory) << path;
    EXPECT_EQ(split.name, name) << path;
  }
  EXPECT_EQ(oxa::JoinPath(L"C:\\a", L"b"), L"C:\\a\\b");
  EXPECT_EQ(oxa::JoinPath(L"C:\\", L"b"), L"C:\\b");
  EXPECT_EQ(oxa::JoinPath(L"X:", L"b"), L"X:b");
  EXPECT_EQ(oxa::JoinPath(L"", L"b"), L"b");
}

}  // namespace
