#include "cleaner/dir_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "component/oxa/system/file/detail/filesystem_impl.h"
#include "component/oxa/system/unique_handle.h"
#include "tests/support/test_files.h"
#include "tests/support/unix_links.h"
#include "tests/unit/win/filesystem/pending_renames.h"

namespace {

using qvrtest::Exists;
using qvrtest::ReadAll;
using qvrtest::TestFolder;
using qvrtest::WriteAll;

TEST(DirEnsureExists, CreatesNestedLevelsButNoDirectoryOverAFile) {
  TestFolder folder(L"fs");
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"a\\b\\c"), 0u);
  EXPECT_EQ(oxa::IsDirectory(folder / L"a\\b\\c"), 0);
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"a\\b\\c"), 0u);
  WriteAll(folder / L"file", "x");
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"file"), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(qvr::DirEnsureExists(folder / L"file\\sub"), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadAll(folder / L"file"), "x");
  // Bare names, in the current directory.
  const qvrtest::CurrentDirectoryScope current(folder.Path());
  EXPECT_EQ(qvr::DirEnsureExists(L"bad<name>"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(qvr::DirEnsureExists(L""), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(qvr::DirEnsureExists(L"bare"), 0u);
  EXPECT_EQ(oxa::IsDirectory(folder / L"bare"), 0);
}

// A file in use without delete sharing is left to the restart, and so is the
// directory that holds it, with the removal's error.
TEST(RecursiveDelete, DeletesProtectedEntriesAndLeavesWhatIsInUseToTheRestart) {
  TestFolder folder(L"fs");
  const fs_test::PendingRenamesGuard pending;
  WriteAll(folder / L"file", "x");
  EXPECT_EQ(qvr::RecursiveDelete(folder / L"file"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(Exists(folder / L"file"));
  EXPECT_EQ(qvr::RecursiveDelete(folder / L"missing"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  const std::wstring tree = folder / L"tree";
  ASSERT_EQ(qvr::DirEnsureExists(tree + L"\\a\\b"), 0u);
  WriteAll(tree + L"\\readonly.txt", "r");
  WriteAll(tree + L"\\a\\hidden.txt", "h");
  WriteAll(tree + L"\\a\\b\\plain.txt", "p");
  WriteAll(tree + L"\\busy.txt", "busy");
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\a\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesW((tree + L"\\a\\b").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW(tree.c_str(), FILE_ATTRIBUTE_READONLY));
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

// Links whose removal through Win32 would reach their targets under Wine 8.
struct LinkCase {
  const char* what;
  bool toDirectory;  // else to a file
  bool targetHeld;   // open without delete sharing: the link cannot be deleted
  bool targetReadOnly;
};

constexpr LinkCase kLinkCases[] = {
    {"file link", false, false, false},
    {"file link whose target is in use", false, true, false},
    {"file link to a read-only file", false, false, true},
    {"link to a directory", true, false, false},
};

TEST(RecursiveDelete, LeavesTargetsOfLinksAsTheyWereAndNeverSchedulesALink) {
  TestFolder folder(L"fs");
  const fs_test::PendingRenamesGuard pending;
  for (std::size_t index = 0; index < std::size(kLinkCases); ++index) {
    const LinkCase& row = kLinkCases[index];
    SCOPED_TRACE(row.what);
    const std::wstring tree = folder / (L"tree" + std::to_wstring(index));
    const std::wstring target = folder / (L"target" + std::to_wstring(index));
    const std::wstring link = tree + L"\\link";
    ASSERT_EQ(qvr::DirEnsureExists(tree), 0u);
    WriteAll(tree + L"\\own.txt", "own");
    if (row.toDirectory) {
      ASSERT_EQ(qvr::DirEnsureExists(target + L"\\sub"), 0u);
      WriteAll(target + L"\\sub\\deep.txt", "deep");
    } else {
      WriteAll(target, "target");
    }
    if (row.targetReadOnly) {
      ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const DWORD targetAttributes = GetFileAttributesW(target.c_str());
    ASSERT_TRUE(folder.Link(target, link));
    const oxa::FileHandle holder(row.targetHeld ? CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                              OPEN_EXISTING, 0, nullptr)
                                                : INVALID_HANDLE_VALUE);
    ASSERT_EQ(static_cast<bool>(holder), row.targetHeld);

    const DWORD result = qvr::RecursiveDelete(tree);

    EXPECT_EQ(GetFileAttributesW(target.c_str()), targetAttributes);
    EXPECT_EQ(ReadAll(row.toDirectory ? target + L"\\sub\\deep.txt" : target), row.toDirectory ? "deep" : "target");
    if (row.toDirectory) {
      // Wine 8 cannot remove a Unix symbolic link through Win32 (its calls reach the target): the link stays,
      // and its directory is left to the restart with the removal's error.
      const bool removed = result == ERROR_SUCCESS;
      EXPECT_EQ(result, removed ? 0u : static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
      EXPECT_EQ(fs_test::PendingDeletionsIn(tree), removed ? std::vector<std::wstring>{} : std::vector{tree});
    }
    EXPECT_FALSE(Exists(tree + L"\\own.txt"));
    // Removed (Windows), or left pointing where it did (Wine).
    const std::string pointsTo = qvrtest::ReadUnixSymlink(link);
    EXPECT_TRUE(pointsTo.empty() || pointsTo == qvrtest::UnixPath(target)) << pointsTo;
    const std::vector<std::wstring> scheduled = fs_test::PendingDeletionsIn(folder.Path());
    EXPECT_EQ(std::count(scheduled.begin(), scheduled.end(), link), 0);
    EXPECT_EQ(std::count(scheduled.begin(), scheduled.end(), target), 0);
  }
  // Called on a link, only the link is at stake.
  const std::wstring target = folder / (L"target" + std::to_wstring(std::size(kLinkCases) - 1));
  ASSERT_TRUE(folder.Link(target, folder / L"top_link"));
  const DWORD result = qvr::RecursiveDelete(folder / L"top_link");
  EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_NOT_SUPPORTED) << result;
  EXPECT_EQ(ReadAll(target + L"\\sub\\deep.txt"), "deep");
}

constexpr std::size_t kStackLeft = 128 * 1024;

// Runs `work` on a thread of 1 MiB stack with only kStackLeft bytes of it left.
void RunWithLittleStackLeft(const std::function<void()>& work) {
  const auto run = [](void* parameter) -> DWORD {
    MEMORY_BASIC_INFORMATION stack = {};
    VirtualQuery(&stack, &stack, sizeof stack);
    const auto here = reinterpret_cast<std::uintptr_t>(&stack);
    const auto bottom = reinterpret_cast<std::uintptr_t>(stack.AllocationBase);
    volatile char* taken = static_cast<volatile char*>(__builtin_alloca(here - bottom - kStackLeft));
    taken[0] = 0;
    (*static_cast<const std::function<void()>*>(parameter))();
    return 0;
  };
  const oxa::KernelHandle thread(CreateThread(nullptr, 1024 * 1024, run, const_cast<std::function<void()>*>(&work),
                                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_TRUE(thread);
  WaitForSingleObject(thread.Get(), INFINITE);
}

// A walk taking a stack frame (some 800 bytes) per level runs out at 300 levels with 128 KiB left.
TEST(RecursiveDelete, DeletesADeepTreeWithLittleStackLeft) {
  TestFolder folder(L"fs");
  const std::wstring tree = folder / L"deep";
  std::wstring deepest = tree;
  for (int level = 0; level < 300; ++level) deepest += L"\\d";
  ASSERT_EQ(oxa::CreateDirectories(deepest), 0);
  const std::wstring leaf = L"\\\\?\\" + deepest + L"\\leaf.txt";
  WriteAll(leaf, "leaf");
  ASSERT_EQ(ReadAll(leaf), "leaf");
  ASSERT_GT(leaf.size(), static_cast<std::size_t>(MAX_PATH));

  DWORD result = 0xFFFFFFFF;
  RunWithLittleStackLeft([&] { result = qvr::RecursiveDelete(tree); });
  EXPECT_EQ(result, 0u);
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(fs_test::PendingDeletionsIn(folder.Path()).empty());
}

}  // namespace
