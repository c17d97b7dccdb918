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
      {L"\\\\?\\C:\\a", PathForm::LongOrDevice}, {L"\\\\.\\pipe\\x", PathForm::LongOrDevice},
      {L"\\\\server\\share", PathForm::Unc},     {L"//server/share", PathForm::Unc},
      {L"\\\\?/C:", PathForm::Unc},  // the long prefix is backslashes only
      {L"C:\\a", PathForm::DriveAbsolute},       {L"c:/", PathForm::DriveAbsolute},
      {L"C:", PathForm::Relative},               {L"C:a", PathForm::Relative},
      {L"1:\\a", PathForm::Relative},            {L"\\a", PathForm::Relative},
      {L"", PathForm::Relative},
  };
  for (const auto& [path, form] : forms) EXPECT_EQ(oxa::GetPathForm(path), form) << path;
  const Pair roots[] = {
      {L"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\"}, {L"\\\\?\\C:", L"\\\\?\\C:"},
      {L"\\\\?\\UNC\\srv\\share\\a", L"\\\\?\\UNC\\srv\\share"}, {L"\\\\?\\UNC\\srv", L"\\\\?\\UNC\\srv"},
      {L"\\\\?\\unc\\srv\\share", L"\\\\?\\unc"},  // only "UNC" itself introduces a server and share
      {L"\\\\?\\Volume{1}\\a", L"\\\\?\\Volume{1}"}, {L"\\\\.\\pipe\\x", L"\\\\.\\pipe"},
      {L"\\\\srv\\share\\a", L"\\\\srv\\share"}, {L"C:/a", L"C:/"}, {L"C:a", L"C:"}, {L"\\a", L"\\"}, {L"a\\b", L""},
  };
  for (const Pair& row : roots) EXPECT_EQ(oxa::GetPathRoot(row.input), row.expected) << row.input;
}

TEST(NormalizePath, DotsSeparatorsAndTheRoot) {
  const Pair cases[] = {
      {L"\\\\?\\C:\\a\\.\\b\\..\\c\\\\d", L"\\\\?\\C:\\a\\c\\d"},
      // ".." stops at the root: neither the drive nor the prefix can be removed.
      {L"\\\\?\\C:\\..\\..\\x", L"\\\\?\\C:\\x"}, {L"\\\\?\\C:\\a\\..", L"\\\\?\\C:\\"}, {L"C:\\..\\a", L"C:\\a"},
      {L"C:/a/b/", L"C:\\a\\b"}, {L"C:\\", L"C:\\"}, {L"\\\\.\\pipe\\x\\..\\y", L"\\\\.\\pipe\\y"},
      // UNC keeps server and share.
      {L"\\\\?\\UNC\\srv\\share\\a\\..\\..\\b", L"\\\\?\\UNC\\srv\\share\\b"},
      {L"\\\\?\\UNC/srv/share/a", L"\\\\?\\UNC\\srv\\share\\a"}, {L"\\\\srv\\share\\..\\x\\.\\", L"\\\\srv\\share\\x"},
      {L"//srv/share/a", L"\\\\srv\\share\\a"},
      // Relative paths keep the ".." they cannot resolve.
      {L"a\\..", L"."}, {L"", L"."}, {L".\\.\\", L"."}, {L"..\\a", L"..\\a"}, {L"a\\..\\..\\b", L"..\\b"},
      {L"..\\..\\a\\..\\b", L"..\\..\\b"}, {L"a//b/./c", L"a\\b\\c"}, {L"X:", L"X:"}, {L"X:a\\..\\..\\b", L"X:..\\b"},
      {L"X:a\\..", L"X:"},
      // Relative to the drive's root: ".." cannot climb above it.
      {L"\\a\\..\\..\\b", L"\\b"}, {L"/", L"\\"},
  };
  for (const Pair& row : cases) {
    std::wstring path = row.input;
    oxa::NormalizePath(path);
    EXPECT_EQ(path, row.expected) << row.input;
  }
}

TEST(ToLongPath, RelativeToTheCurrentDirectoryAndAsGiven) {
  const Pair cases[] = {
      {L"a\\..\\b\\.\\c", L"\\\\?\\C:\\work\\dir\\b\\c"}, {L"..\\..\\..\\x", L"\\\\?\\C:\\x"},
      {L"", L"\\\\?\\C:\\work\\dir"}, {L"\\a\\b", L"\\\\?\\C:\\a\\b"}, {L"c:x", L"\\\\?\\C:\\work\\dir\\x"},
      {L"D:x\\..\\y", L"\\\\?\\D:\\y"}, {L"C:\\a\\..\\b", L"\\\\?\\C:\\b"}, {L"c:/a/./b", L"\\\\?\\c:\\a\\b"},
      // UNC, long and device paths are taken as they are.
      {L"\\\\srv\\share\\..\\a", L"\\\\srv\\share\\..\\a"}, {L"\\\\?\\C:\\a\\..", L"\\\\?\\C:\\a\\.."},
      {L"\\\\.\\pipe\\p", L"\\\\.\\pipe\\p"},
  };
  for (const Pair& row : cases) EXPECT_EQ(oxa::ToLongPath(row.input, L"C:\\work\\dir"), row.expected) << row.input;
  EXPECT_EQ(oxa::ToLongPath(L"a", L"C:\\"), L"\\\\?\\C:\\a");
  EXPECT_EQ(oxa::ToLongPath(L"a", L"\\\\?\\D:\\x"), L"\\\\?\\D:\\x\\a");
  EXPECT_EQ(oxa::ToLongPath(L"..\\..\\a", L"\\\\srv\\share\\d"), L"\\\\?\\UNC\\srv\\share\\a");
  EXPECT_EQ(oxa::ToLongPath(L"\\a", L"\\\\srv\\share\\d"), L"\\\\?\\UNC\\srv\\share\\a");
}

TEST(SplitAndJoin, KeepTheRoot) {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\a\\b.txt", L"C:\\a", L"b.txt"}, {L"C:\\b.txt", L"C:\\", L"b.txt"},
      {L"\\\\?\\C:\\b.txt", L"\\\\?\\C:\\", L"b.txt"}, {L"\\\\?\\UNC\\srv\\share\\b", L"\\\\?\\UNC\\srv\\share", L"b"},
      {L"X:b.txt", L"X:", L"b.txt"}, {L"b.txt", L"", L"b.txt"}, {L"a/b", L"a", L"b"}, {L"\\b", L"\\", L"b"},
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
