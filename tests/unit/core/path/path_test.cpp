#include "component/oxa/system/file/path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using oxa::PathForm;

std::wstring Normalized(std::wstring path) {
  oxa::NormalizePath(path);
  return path;
}

TEST(PathForm, Recognition) {
  EXPECT_EQ(oxa::GetPathForm(L"\\\\?\\C:\\a"), PathForm::LongOrDevice);
  EXPECT_EQ(oxa::GetPathForm(L"\\\\.\\pipe\\x"), PathForm::LongOrDevice);
  EXPECT_EQ(oxa::GetPathForm(L"\\\\server\\share"), PathForm::Unc);
  EXPECT_EQ(oxa::GetPathForm(L"//server/share"), PathForm::Unc);
  // The long prefix is backslashes only; anything else after two separators is UNC.
  EXPECT_EQ(oxa::GetPathForm(L"\\\\?/C:"), PathForm::Unc);
  EXPECT_EQ(oxa::GetPathForm(L"C:\\a"), PathForm::DriveAbsolute);
  EXPECT_EQ(oxa::GetPathForm(L"c:/"), PathForm::DriveAbsolute);
  EXPECT_EQ(oxa::GetPathForm(L"C:"), PathForm::Relative);
  EXPECT_EQ(oxa::GetPathForm(L"C:a"), PathForm::Relative);
  EXPECT_EQ(oxa::GetPathForm(L"1:\\a"), PathForm::Relative);
  EXPECT_EQ(oxa::GetPathForm(L"\\a"), PathForm::Relative);
  EXPECT_EQ(oxa::GetPathForm(L""), PathForm::Relative);
}

TEST(PathRoot, EachForm) {
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\?\\C:\\a\\b"), L"\\\\?\\C:\\");
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\?\\C:"), L"\\\\?\\C:");
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\?\\UNC\\srv\\share\\a"), L"\\\\?\\UNC\\srv\\share");
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\?\\UNC\\srv"), L"\\\\?\\UNC\\srv");
  // Only "UNC" itself introduces a server and share.
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\?\\unc\\srv\\share"), L"\\\\?\\unc");
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\?\\Volume{1}\\a"), L"\\\\?\\Volume{1}");
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\.\\pipe\\x"), L"\\\\.\\pipe");
  EXPECT_EQ(oxa::GetPathRoot(L"\\\\srv\\share\\a"), L"\\\\srv\\share");
  EXPECT_EQ(oxa::GetPathRoot(L"C:/a"), L"C:/");
  EXPECT_EQ(oxa::GetPathRoot(L"C:a"), L"C:");
  EXPECT_EQ(oxa::GetPathRoot(L"\\a"), L"\\");
  EXPECT_EQ(oxa::GetPathRoot(L"a\\b"), L"");
}

TEST(NormalizePath, LongAndDrivePaths) {
  EXPECT_EQ(Normalized(L"\\\\?\\C:\\a\\.\\b\\..\\c\\\\d"), L"\\\\?\\C:\\a\\c\\d");
  // ".." stops at the root: neither the drive nor the prefix can be removed.
  EXPECT_EQ(Normalized(L"\\\\?\\C:\\..\\..\\x"), L"\\\\?\\C:\\x");
  EXPECT_EQ(Normalized(L"\\\\?\\C:\\a\\.."), L"\\\\?\\C:\\");
  EXPECT_EQ(Normalized(L"C:/a/b/"), L"C:\\a\\b");
  EXPECT_EQ(Normalized(L"C:\\..\\a"), L"C:\\a");
  EXPECT_EQ(Normalized(L"C:\\"), L"C:\\");
  EXPECT_EQ(Normalized(L"\\\\.\\pipe\\x\\..\\y"), L"\\\\.\\pipe\\y");
}

TEST(NormalizePath, UncKeepsServerAndShare) {
  EXPECT_EQ(Normalized(L"\\\\?\\UNC\\srv\\share\\a\\..\\..\\b"), L"\\\\?\\UNC\\srv\\share\\b");
  EXPECT_EQ(Normalized(L"\\\\?\\UNC/srv/share/a"), L"\\\\?\\UNC\\srv\\share\\a");
  EXPECT_EQ(Normalized(L"\\\\srv\\share\\..\\x\\.\\"), L"\\\\srv\\share\\x");
  EXPECT_EQ(Normalized(L"//srv/share/a"), L"\\\\srv\\share\\a");
}

TEST(NormalizePath, RelativePaths) {
  EXPECT_EQ(Normalized(L"a\\.."), L".");
  EXPECT_EQ(Normalized(L""), L".");
  EXPECT_EQ(Normalized(L".\\.\\"), L".");
  EXPECT_EQ(Normalized(L"..\\a"), L"..\\a");
  EXPECT_EQ(Normalized(L"a\\..\\..\\b"), L"..\\b");
  EXPECT_EQ(Normalized(L"..\\..\\a\\..\\b"), L"..\\..\\b");
  EXPECT_EQ(Normalized(L"a//b/./c"), L"a\\b\\c");
  EXPECT_EQ(Normalized(L"X:"), L"X:");
  EXPECT_EQ(Normalized(L"X:a\\..\\..\\b"), L"X:..\\b");
  EXPECT_EQ(Normalized(L"X:a\\.."), L"X:");
  // Relative to the drive's root: ".." cannot climb above it.
  EXPECT_EQ(Normalized(L"\\a\\..\\..\\b"), L"\\b");
  EXPECT_EQ(Normalized(L"/"), L"\\");
}

TEST(ToLongPath, EachForm) {
  const std::wstring cwd = L"C:\\work\\dir";
  EXPECT_EQ(oxa::ToLongPath(L"a\\..\\b\\.\\c", cwd), L"\\\\?\\C:\\work\\dir\\b\\c");
  EXPECT_EQ(oxa::ToLongPath(L"..\\..\\..\\x", cwd), L"\\\\?\\C:\\x");
  EXPECT_EQ(oxa::ToLongPath(L"", cwd), L"\\\\?\\C:\\work\\dir");
  EXPECT_EQ(oxa::ToLongPath(L"a", L"C:\\"), L"\\\\?\\C:\\a");
  EXPECT_EQ(oxa::ToLongPath(L"a", L"\\\\?\\D:\\x"), L"\\\\?\\D:\\x\\a");
  EXPECT_EQ(oxa::ToLongPath(L"a", L"\\\\srv\\share\\d"), L"\\\\?\\UNC\\srv\\share\\d\\a");
  EXPECT_EQ(oxa::ToLongPath(L"..\\..\\a", L"\\\\srv\\share\\d"), L"\\\\?\\UNC\\srv\\share\\a");
  EXPECT_EQ(oxa::ToLongPath(L"\\a\\b", cwd), L"\\\\?\\C:\\a\\b");
  EXPECT_EQ(oxa::ToLongPath(L"\\a", L"\\\\srv\\share\\d"), L"\\\\?\\UNC\\srv\\share\\a");
  EXPECT_EQ(oxa::ToLongPath(L"c:x", cwd), L"\\\\?\\C:\\work\\dir\\x");
  EXPECT_EQ(oxa::ToLongPath(L"D:x\\..\\y", cwd), L"\\\\?\\D:\\y");

  EXPECT_EQ(oxa::ToLongPath(L"C:\\a\\..\\b", cwd), L"\\\\?\\C:\\b");
  EXPECT_EQ(oxa::ToLongPath(L"c:/a/./b", cwd), L"\\\\?\\c:\\a\\b");
  // UNC, long and device paths are taken as they are.
  EXPECT_EQ(oxa::ToLongPath(L"\\\\srv\\share\\..\\a", cwd), L"\\\\srv\\share\\..\\a");
  EXPECT_EQ(oxa::ToLongPath(L"\\\\?\\C:\\a\\..", cwd), L"\\\\?\\C:\\a\\..");
  EXPECT_EQ(oxa::ToLongPath(L"\\\\.\\pipe\\p", cwd), L"\\\\.\\pipe\\p");
}

TEST(SplitAndJoin, KeepTheRoot) {
  struct Case {
    const wchar_t* path;
    const wchar_t* directory;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"C:\\a\\b.txt", L"C:\\a", L"b.txt"},
      {L"C:\\b.txt", L"C:\\", L"b.txt"},
      {L"\\\\?\\C:\\b.txt", L"\\\\?\\C:\\", L"b.txt"},
      {L"\\\\?\\UNC\\srv\\share\\b", L"\\\\?\\UNC\\srv\\share", L"b"},
      {L"X:b.txt", L"X:", L"b.txt"},
      {L"b.txt", L"", L"b.txt"},
      {L"a/b", L"a", L"b"},
      {L"\\b", L"\\", L"b"},
  };
  for (const Case& c : cases) {
    const oxa::PathSplit split = oxa::SplitAtLastSeparator(c.path);
    EXPECT_EQ(split.directory, c.directory) << c.path;
    EXPECT_EQ(split.name, c.name) << c.path;
  }
  EXPECT_EQ(oxa::JoinPath(L"C:\\a", L"b"), L"C:\\a\\b");
  EXPECT_EQ(oxa::JoinPath(L"C:\\", L"b"), L"C:\\b");
  EXPECT_EQ(oxa::JoinPath(L"X:", L"b"), L"X:b");
  EXPECT_EQ(oxa::JoinPath(L"", L"b"), L"b");
}

}  // namespace
