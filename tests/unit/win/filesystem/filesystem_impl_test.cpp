#include "component/oxa/system/file/detail/filesystem_impl.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/pending_renames.h"
#include "tests/support/test_files.h"

namespace {

using qvrtest::Exists;
using qvrtest::ListNames;
using qvrtest::ReadAll;
using qvrtest::TestFolder;
using qvrtest::WriteAll;

constexpr oxa::ResultCode Code(std::uint32_t value) { return static_cast<oxa::ResultCode>(value); }

// IsDirectory tells what CreateDirectories made from files, links and missing paths.
TEST(CreateDirectories, CreatesMissingLevelsThroughLinksAndStopsAtFiles) {
  TestFolder folder(L"fs");
  EXPECT_EQ(oxa::CreateDirectories(L""), Code(0x80000046));
  EXPECT_EQ(oxa::CreateDirectories(folder / L"a\\b/c\\"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"a\\b\\c"), 0);

  WriteAll(folder / L"file", "x");
  EXPECT_EQ(oxa::IsDirectory(folder / L"file"), 1);
  EXPECT_EQ(oxa::CreateDirectories(folder / L"file\\b\\c"), Code(0x80010109));
  EXPECT_FALSE(Exists(folder / L"file\\b"));

  ASSERT_TRUE(CreateDirectoryW((folder / L"target").c_str(), nullptr));
  ASSERT_TRUE(folder.Link(folder / L"target", folder / L"link"));
  EXPECT_EQ(oxa::IsDirectory(folder / L"link"), 1);
  EXPECT_EQ(oxa::CreateDirectories(folder / L"link\\b\\c"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"target\\b\\c"), 0);
}

class RecordingCloseHandler : public oxa::FileCloseHandler {
 public:
  void CloseFile(HANDLE handle) override {
    closed.push_back(handle);
    CloseHandle(handle);
  }
  std::vector<HANDLE> closed;
};

// The opener's handler closes the handle; a failed open hands it nothing and keeps no reference to it.
TEST(FileSystem, OpenFileDispositionsSharingTransfersAndClosing) {
  TestFolder folder(L"fs");
  oxa::FileSystem file_system;
  std::unique_ptr<oxa::File> file;
  EXPECT_EQ(file_system.OpenFile(folder / L"x", GENERIC_READ, OPEN_EXISTING, nullptr, nullptr),
            static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
  WriteAll(folder / L"plain", "plain");
  auto handler = std::make_shared<RecordingCloseHandler>();
  const struct {
    const wchar_t* path;
    DWORD disposition;
    DWORD result;
  } opens[] = {
      {L"missing", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      // A parent that cannot be made comes back as its result code with bit 29.
      {L"plain\\sub\\f.bin", CREATE_ALWAYS, 0x80010109u | 0x20000000u},
      {L"plain", CREATE_NEW, ERROR_FILE_EXISTS},  // never overwrites
  };
  for (const auto& open : opens) {
    EXPECT_EQ(file_system.OpenFile(folder / open.path, GENERIC_WRITE, open.disposition, handler, &file), open.result)
        << testing::PrintToString(open.path);
    EXPECT_FALSE(file);
  }
  EXPECT_EQ(ReadAll(folder / L"plain"), "plain");
  EXPECT_TRUE(handler->closed.empty());

  // Creation makes the missing parents; files share reading only.
  const std::wstring path = folder / L"new\\dir\\rw.bin";
  const auto writerRefused = [&path] {
    const oxa::FileHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    return !writer && GetLastError() == ERROR_SHARING_VIOLATION;
  };
  ASSERT_EQ(file_system.OpenFile(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, handler, &file), 0u);
  EXPECT_TRUE(writerRefused());
  DWORD done = 99, position = 99;
  EXPECT_EQ(file->Write("hello world", 11, done), 0u);
  EXPECT_EQ(done, 11u);
  EXPECT_EQ(file->Seek(6, FILE_BEGIN, position), 0u);
  EXPECT_EQ(position, 6u);
  char buffer[16];
  EXPECT_EQ(file->Read(buffer, sizeof buffer, done), 0u);
  EXPECT_EQ(std::string(buffer, done), "world");
  EXPECT_EQ(file->Seek(-100, FILE_CURRENT, position), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  const HANDLE handle = file->GetHandle();
  file.reset();
  EXPECT_EQ(handler->closed, std::vector<HANDLE>{handle});
  EXPECT_EQ(handler.use_count(), 1);

  // A failed transfer reports nothing done.
  ASSERT_EQ(file_system.OpenFile(path, GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
  EXPECT_EQ(ReadAll(path), "hello world");
  done = 99;
  EXPECT_EQ(file->Write("x", 1, done), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(done, 0u);
}

// The plain form of a path drops a folder name's final dot (and fails over MAX_PATH); the long form keeps it.
TEST(FileSystem, OpenFileGoesThroughTheLongFormOfThePath) {
  TestFolder folder(L"fs");
  oxa::FileSystem file_system;
  for (const DWORD disposition : {CREATE_NEW, CREATE_ALWAYS}) {
    const std::wstring path = folder / (L"dotted.\\file" + std::to_wstring(disposition) + L".bin");
    std::unique_ptr<oxa::File> file;
    ASSERT_EQ(file_system.OpenFile(path, GENERIC_WRITE, disposition, nullptr, &file), 0u);
    DWORD done = 0;
    EXPECT_EQ(file->Write("written", 7, done), 0u);
    file.reset();
    ASSERT_EQ(file_system.OpenFile(path, GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
    std::wstring long_path;
    ASSERT_EQ(oxa::MakeLongPath(path, long_path), 0);
    EXPECT_EQ(ReadAll(long_path), "written");  // in the folder as it was made
  }
}

TEST(FileSystem, CreateAlwaysMovesAFileInUseAside) {
  TestFolder folder(L"fs");
  const fs_test::PendingRenamesGuard pending;
  const std::wstring path = folder / L"in_use.dll";
  WriteAll(path, "old");
  // Read and delete sharing, as a loaded image has it: it can be renamed.
  const oxa::FileHandle holder(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);

  oxa::FileSystem file_system;
  std::unique_ptr<oxa::File> file;
  ASSERT_EQ(file_system.OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file), 0u);
  DWORD done = 0;
  EXPECT_EQ(file->Write("new", 3, done), 0u);
  file.reset();
  EXPECT_EQ(ReadAll(path), "new");
  // The old file lives on under a temporary name beside it until the restart.
  const std::vector<std::wstring> names = ListNames(folder.Path());
  ASSERT_EQ(names.size(), 2u);
  const std::wstring temporary = folder / (names[0] == L"in_use.dll" ? names[1] : names[0]);
  EXPECT_EQ(ReadAll(temporary), "old");
  const std::vector<std::wstring> scheduled = fs_test::PendingDeletionsIn(folder.Path());
  ASSERT_EQ(scheduled.size(), 1u);
  EXPECT_EQ(CompareStringOrdinal(scheduled[0].c_str(), -1, temporary.c_str(), -1, TRUE), CSTR_EQUAL) << scheduled[0];

  // Without delete sharing it can be neither replaced nor renamed: the open fails and leaves nothing behind.
  oxa::FileHandle locked(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locked);
  EXPECT_EQ(file_system.OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(file);
  locked.Reset();
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(ListNames(folder.Path()).size(), 2u);
  EXPECT_EQ(fs_test::PendingDeletionsIn(folder.Path()).size(), 1u);
}

}  // namespace
