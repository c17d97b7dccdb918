#include "cleaner/dir_utils.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/win/filesystem/test_folder.h"

namespace {

using fs_test::Exists;
using fs_test::ReadAll;
using fs_test::TestFolder;
using fs_test::WriteAll;

bool IsPlainDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

TEST(DirEnsureExists, CreatesNestedLevels) {
  TestFolder folder;
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"a\\b\\c"), 0u);
  EXPECT_TRUE(IsPlainDirectory(folder / L"a\\b\\c"));
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"a\\b\\c"), 0u);
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"a"), 0u);

  // A file of the name is no directory.
  WriteAll(folder / L"file", "x");
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"file"), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"file\\sub"), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadAll(folder / L"file"), "x");
}

TEST(DirEnsureExists, BareNameThatCannotBeCreated) {
  TestFolder folder;
  const fs_test::CurrentDirectoryScope current(folder.Path());
  EXPECT_EQ(qvr::DirEnsureExists(L"bad<name>"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(qvr::DirEnsureExists(L""), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A bare name that can be created is.
  EXPECT_EQ(qvr::DirEnsureExists(L"bare"), 0u);
  EXPECT_TRUE(IsPlainDirectory(folder / L"bare"));
}

TEST(RecursiveDelete, RejectsFilesAndMissingPaths) {
  TestFolder folder;
  WriteAll(folder / L"file", "x");
  EXPECT_EQ(qvr::RecursiveDelete(folder / L"file"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(Exists(folder / L"file"));
  EXPECT_EQ(qvr::RecursiveDelete(folder / L"missing"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(RecursiveDelete, DeletesProtectedFilesAndDirectories) {
  TestFolder folder;
  const std::wstring tree = folder / L"tree";
  ASSERT_EQ(qvr::DirEnsureExists(tree + L"\\a\\b"), 0u);
  WriteAll(tree + L"\\readonly.txt", "r");
  WriteAll(tree + L"\\a\\hidden.txt", "h");
  WriteAll(tree + L"\\a\\b\\plain.txt", "p");
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\a\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\a\\b").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW(tree.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(qvr::RecursiveDelete(tree), 0u);
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(fs_test::PendingDeletionsIn(folder.Path()).empty());
}

TEST(RecursiveDelete, RemovesLinksWithoutTouchingTheirTargets) {
  TestFolder folder;
  const fs_test::PendingRenamesGuard pending(folder.Path());
  const std::wstring outside = folder / L"outside";
  ASSERT_EQ(qvr::DirEnsureExists(outside + L"\\sub"), 0u);
  WriteAll(outside + L"\\keep.txt", "keep");
  WriteAll(outside + L"\\sub\\deep.txt", "deep");
  const std::wstring tree = folder / L"tree";
  ASSERT_EQ(qvr::DirEnsureExists(tree + L"\\own"), 0u);
  WriteAll(tree + L"\\own\\own.txt", "own");
  ASSERT_TRUE(folder.Link(outside, tree + L"\\link"));
  ASSERT_TRUE(folder.Link(outside, folder / L"top_link"));

  // Called on a link, only the link is at stake.
  const DWORD top_result = qvr::RecursiveDelete(folder / L"top_link");
  const DWORD tree_result = qvr::RecursiveDelete(tree);

  EXPECT_EQ(ReadAll(outside + L"\\keep.txt"), "keep");
  EXPECT_EQ(ReadAll(outside + L"\\sub\\deep.txt"), "deep");
  EXPECT_FALSE(Exists(tree + L"\\own"));
  // Windows removes a directory link with RemoveDirectoryW. Wine 8 cannot
  // remove a Unix symbolic link through Win32 at all (145 while its target
  // is not empty): the link stays, so its directory cannot go either and is
  // left to the restart, with the removal's error.
  const bool links_removable = top_result == ERROR_SUCCESS;
  if (links_removable) {
    EXPECT_EQ(tree_result, 0u);
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(fs_test::PendingDeletionsIn(folder.Path()).empty());
  } else {
    EXPECT_EQ(top_result, static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(tree_result, static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(Exists(tree + L"\\link"));
    // The links themselves are never scheduled: a restart might resolve them.
    EXPECT_EQ(fs_test::PendingDeletionsIn(folder.Path()), std::vector<std::wstring>{tree});
  }
}

TEST(RecursiveDelete, LeavesWhatIsInUseToTheRestart) {
  TestFolder folder;
  const fs_test::PendingRenamesGuard pending(folder.Path());
  const std::wstring tree = folder / L"tree";
  ASSERT_EQ(qvr::DirEnsureExists(tree + L"\\sub"), 0u);
  WriteAll(tree + L"\\busy.txt", "busy");
  WriteAll(tree + L"\\free.txt", "free");
  WriteAll(tree + L"\\sub\\x.txt", "x");
  // No delete sharing: the file cannot be deleted while this is open.
  const HANDLE holder =
      CreateFileW((tree + L"\\busy.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  EXPECT_EQ(qvr::RecursiveDelete(tree), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  CloseHandle(holder);
  EXPECT_FALSE(Exists(tree + L"\\free.txt"));
  EXPECT_FALSE(Exists(tree + L"\\sub"));
  EXPECT_EQ(ReadAll(tree + L"\\busy.txt"), "busy");
  // The file first, then the directory that holds it.
  EXPECT_EQ(fs_test::PendingDeletionsIn(folder.Path()), (std::vector<std::wstring>{tree + L"\\busy.txt", tree}));
}

}  // namespace
