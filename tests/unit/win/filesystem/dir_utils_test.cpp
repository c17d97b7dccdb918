#include "cleaner/dir_utils.h"

#include <gtest/gtest.h>

#include <vector>

#include "component/oxa/system/file/detail/filesystem_impl.h"
#include "component/oxa/system/unique_handle.h"
#include "tests/support/pending_renames.h"
#include "tests/support/test_files.h"
#include "tests/support/unix_links.h"

namespace {

using qvrtest::Exists;
using qvrtest::ReadAll;
using qvrtest::TestFolder;
using qvrtest::WriteAll;

TEST(DirEnsureExists, CreatesNestedLevelsButNoDirectoryOverAFile) {
  TestFolder folder(L"fs");
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"a\\b\\c"), 0u);
  EXPECT_EQ(oxa::IsDirectory(folder / L"a\\b\\c"), 0);
  WriteAll(folder / L"file", "x");
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"file\\sub"), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // Bare names, in the current directory.
  const qvrtest::CurrentDirectoryScope current(folder.Path());
  EXPECT_EQ(qvr::DirEnsureExists(L""), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(qvr::DirEnsureExists(L"bare"), 0u);
  EXPECT_EQ(oxa::IsDirectory(folder / L"bare"), 0);
}

// A file in use without delete sharing is left to the restart, and so is the directory that holds it, with the
// removal's error. The rest goes, below MAX_PATH and beyond it (through the long form).
TEST(RecursiveDelete, DeletesProtectedEntriesAndLeavesWhatIsInUseToTheRestart) {
  TestFolder folder(L"fs");
  const fs_test::PendingRenamesGuard pending;
  WriteAll(folder / L"file", "x");
  EXPECT_EQ(qvr::RecursiveDelete(folder / L"file"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(Exists(folder / L"file"));

  const std::wstring tree = folder / L"tree";
  std::wstring deepest = tree + L"\\a\\b";
  for (int level = 0; level < 150; ++level) deepest += L"\\d";
  ASSERT_EQ(oxa::CreateDirectories(deepest), 0);
  WriteAll(L"\\\\?\\" + deepest + L"\\plain.txt", "p");
  ASSERT_TRUE(Exists(L"\\\\?\\" + deepest + L"\\plain.txt"));
  WriteAll(tree + L"\\readonly.txt", "r");
  WriteAll(tree + L"\\busy.txt", "busy");
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\a\\b").c_str(), FILE_ATTRIBUTE_READONLY));
  oxa::FileHandle holder(
      CreateFileW((tree + L"\\busy.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);

  EXPECT_EQ(qvr::RecursiveDelete(tree), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  holder.Reset();
  EXPECT_FALSE(Exists(tree + L"\\readonly.txt"));
  EXPECT_FALSE(Exists(tree + L"\\a"));
  EXPECT_EQ(ReadAll(tree + L"\\busy.txt"), "busy");
  // The file first, then the directory that holds it.
  EXPECT_EQ(fs_test::PendingDeletionsIn(folder.Path()), (std::vector<std::wstring>{tree + L"\\busy.txt", tree}));
}

// Under Wine 8, Win32 calls on a Unix link (to a file, to a directory) reach its target.
TEST(RecursiveDelete, LeavesTargetsOfLinksAsTheyWereAndNeverSchedulesALink) {
  TestFolder folder(L"fs");
  const fs_test::PendingRenamesGuard pending;
  for (const bool toDirectory : {false, true}) {
    SCOPED_TRACE(toDirectory ? "link to a directory" : "link to a file");
    const std::wstring tree = folder / (L"tree" + std::to_wstring(toDirectory));
    const std::wstring target = folder / (L"target" + std::to_wstring(toDirectory));
    const std::wstring link = tree + L"\\link";
    ASSERT_EQ(qvr::DirEnsureExists(tree), 0u);
    WriteAll(tree + L"\\own.txt", "own");
    if (toDirectory) {
      ASSERT_EQ(qvr::DirEnsureExists(target + L"\\sub"), 0u);
      WriteAll(target + L"\\sub\\deep.txt", "deep");
    } else {
      WriteAll(target, "target");
    }
    ASSERT_TRUE(folder.Link(target, link));

    const DWORD result = qvr::RecursiveDelete(tree);

    EXPECT_EQ(ReadAll(toDirectory ? target + L"\\sub\\deep.txt" : target), toDirectory ? "deep" : "target");
    // Where the link stays (Wine), its directory is left to the restart with the removal's error; the link never is.
    const bool removed = result == ERROR_SUCCESS;
    EXPECT_EQ(result, removed ? 0u : static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(fs_test::PendingDeletionsIn(tree), removed ? std::vector<std::wstring>{} : std::vector{tree});
    EXPECT_FALSE(Exists(tree + L"\\own.txt"));
    // Removed (Windows), or left pointing where it did (Wine).
    const std::string pointsTo = qvrtest::ReadUnixSymlink(link);
    EXPECT_TRUE(pointsTo.empty() || pointsTo == qvrtest::UnixPath(target)) << pointsTo;
  }
  // Called on a link, only the link is at stake.
  ASSERT_TRUE(folder.Link(folder / L"target1", folder / L"top_link"));
  const DWORD result = qvr::RecursiveDelete(folder / L"top_link");
  EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_NOT_SUPPORTED) << result;
  EXPECT_EQ(ReadAll(folder / L"target1\\sub\\deep.txt"), "deep");
}

}  // namespace
