#include "component/oxa/system/file/detail/filesystem_impl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/support/test_files.h"
#include "tests/unit/win/filesystem/pending_renames.h"

namespace {

using qvrtest::Exists;
using qvrtest::ListNames;
using qvrtest::ReadAll;
using qvrtest::TestFolder;
using qvrtest::WriteAll;

constexpr oxa::ResultCode Code(std::uint32_t value) { return static_cast<oxa::ResultCode>(value); }
constexpr DWORD kNotFound = ERROR_FILE_NOT_FOUND;

std::wstring LongPathOf(std::wstring_view path) {
  std::wstring long_path;
  EXPECT_EQ(oxa::MakeLongPath(path, long_path), 0) << std::wstring(path);
  return long_path;
}

std::string ReadThrough(oxa::File& file) {
  char buffer[16] = {};
  DWORD done = 0;
  EXPECT_EQ(file.Read(buffer, sizeof buffer, done), 0u);
  return std::string(buffer, done);
}

// IsDirectory tells what CreateDirectories made from files, links and missing paths.
TEST(CreateDirectories, CreatesMissingLevelsThroughLinksAndStopsAtFiles) {
  TestFolder folder(L"fs");
  EXPECT_EQ(oxa::CreateDirectories(L""), Code(0x80000046));
  EXPECT_EQ(oxa::CreateDirectories(folder / L"a\\b/c\\"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"a\\b\\c"), 0);
  EXPECT_EQ(oxa::CreateDirectories(folder / L"a\\b\\c"), 0);
  EXPECT_EQ(oxa::CreateDirectories(LongPathOf(folder / L"a\\long")), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"a\\long"), 0);

  WriteAll(folder / L"file", "x");
  EXPECT_EQ(oxa::IsDirectory(folder / L"file"), 1);
  EXPECT_EQ(oxa::IsDirectory(folder / L"missing"), Code(0x80010102));
  EXPECT_EQ(oxa::IsDirectory(folder / L"missing\\deeper"), Code(0x80010103));
  EXPECT_EQ(oxa::CreateDirectories(folder / L"file\\b\\c"), Code(0x80010109));
  EXPECT_FALSE(Exists(folder / L"file\\b"));
  EXPECT_EQ(oxa::CreateDirectories(folder / L"file"), Code(0x80010109));

  ASSERT_TRUE(CreateDirectoryW((folder / L"target").c_str(), nullptr));
  ASSERT_TRUE(folder.Link(folder / L"target", folder / L"link"));
  EXPECT_EQ(oxa::IsDirectory(folder / L"link"), 1);
  EXPECT_EQ(oxa::CreateDirectories(folder / L"link\\b\\c"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"target\\b\\c"), 0);

  // ".." is resolved before anything is made.
  const qvrtest::CurrentDirectoryScope current(folder.Path());
  EXPECT_EQ(oxa::CreateDirectories(L"rel\\skipped\\..\\made"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"rel\\made"), 0);
  EXPECT_FALSE(Exists(folder / L"rel\\skipped"));
}

TEST(CreateDirectories, ConcurrentCreatorsOfOneTreeBothSucceed) {
  TestFolder folder(L"fs");
  for (int round = 0; round < 20; ++round) {
    const std::wstring path = folder / (L"round" + std::to_wstring(round) + L"\\a\\b\\c\\d\\e");
    // A Win32 event releases both at once (std::latch can miss its wake-up
    // with mingw-w64's winpthreads).
    const oxa::KernelHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    oxa::ResultCode results[2] = {-1, -1};
    std::vector<std::thread> creators;
    for (oxa::ResultCode& result : results)
      creators.emplace_back([&start, &path, &result] {
        WaitForSingleObject(start.Get(), INFINITE);
        result = oxa::CreateDirectories(path);
      });
    SetEvent(start.Get());
    for (std::thread& creator : creators) creator.join();
    EXPECT_EQ(results[0], 0) << round;
    EXPECT_EQ(results[1], 0) << round;
  }
}

TEST(FileSystem, OpenFileDispositionsSharingAndTransfers) {
  TestFolder folder(L"fs");
  oxa::FileSystem file_system;
  std::unique_ptr<oxa::File> file;
  EXPECT_EQ(file_system.OpenFile(folder / L"x", GENERIC_READ, OPEN_EXISTING, nullptr, nullptr),
            static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
  WriteAll(folder / L"plain", "plain");
  const struct {
    const wchar_t* path;
    DWORD disposition;
    DWORD result;
  } opens[] = {
      {L"missing", OPEN_EXISTING, kNotFound},
      // Creation makes the missing parents; a parent that cannot be made
      // comes back as its result code with bit 29.
      {L"new\\dir\\f.bin", CREATE_ALWAYS, 0},
      {L"plain\\sub\\f.bin", CREATE_ALWAYS, 0x80010109u | 0x20000000u},
      {L"plain", CREATE_NEW, ERROR_FILE_EXISTS},  // never overwrites
  };
  for (const auto& open : opens) {
    file.reset();  // a failed open leaves what it is given alone
    EXPECT_EQ(file_system.OpenFile(folder / open.path, GENERIC_WRITE, open.disposition, nullptr, &file), open.result)
        << testing::PrintToString(open.path);
    EXPECT_EQ(static_cast<bool>(file), open.result == 0);
  }
  EXPECT_EQ(ReadAll(folder / L"plain"), "plain");

  // Files share reading only.
  const auto writerRefused = [&folder] {
    const oxa::FileHandle writer(CreateFileW((folder / L"rw.bin").c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    return !writer && GetLastError() == ERROR_SHARING_VIOLATION;
  };
  ASSERT_EQ(file_system.OpenFile(folder / L"rw.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW, nullptr, &file), 0u);
  EXPECT_TRUE(writerRefused());
  EXPECT_EQ(ReadAll(folder / L"rw.bin"), "");
  DWORD done = 99, position = 99;
  EXPECT_EQ(file->Write("hello world", 11, done), 0u);
  EXPECT_EQ(done, 11u);
  EXPECT_EQ(file->Seek(6, FILE_BEGIN, position), 0u);
  EXPECT_EQ(position, 6u);
  EXPECT_EQ(ReadThrough(*file), "world");
  EXPECT_EQ(file->Seek(-5, FILE_END, position), 0u);
  EXPECT_EQ(position, 6u);
  EXPECT_EQ(file->Seek(-100, FILE_CURRENT, position), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  // A failed transfer reports nothing done.
  file.reset();
  ASSERT_EQ(file_system.OpenFile(folder / L"rw.bin", GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
  EXPECT_TRUE(writerRefused());
  EXPECT_EQ(ReadAll(folder / L"rw.bin"), "hello world");
  done = 99;
  EXPECT_EQ(file->Write("x", 1, done), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(done, 0u);
  file.reset();
  ASSERT_EQ(file_system.OpenFile(folder / L"rw.bin", GENERIC_WRITE, OPEN_EXISTING, nullptr, &file), 0u);
  char buffer[4];
  done = 99;
  EXPECT_EQ(file->Read(buffer, 4, done), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(done, 0u);
}

TEST(FileSystem, OpenFileGoesThroughTheLongFormOfThePath) {
  TestFolder folder(L"fs");
  std::wstring deep = L"deep";
  for (wchar_t letter = L'a'; letter < L'f'; ++letter) deep += L"\\" + std::wstring(60, letter);
  ASSERT_GT((folder / deep).size(), static_cast<std::size_t>(MAX_PATH));
  oxa::FileSystem file_system;
  // Over MAX_PATH only the long form opens; the plain form drops a folder name's final dot, the long form keeps it.
  for (const std::wstring& below : {deep, std::wstring(L"dotted.")}) {
    for (const DWORD disposition : {CREATE_NEW, CREATE_ALWAYS}) {
      const std::wstring path = folder / (below + L"\\file" + std::to_wstring(disposition) + L".bin");
      std::unique_ptr<oxa::File> file;
      ASSERT_EQ(file_system.OpenFile(path, GENERIC_WRITE, disposition, nullptr, &file), 0u);
      DWORD done = 0;
      EXPECT_EQ(file->Write("written", 7, done), 0u);
      file.reset();
      ASSERT_EQ(file_system.OpenFile(path, GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
      EXPECT_EQ(ReadThrough(*file), "written");
      file.reset();
      EXPECT_EQ(ReadAll(LongPathOf(path)), "written");  // in the folder as it was made
    }
  }
  EXPECT_EQ(ListNames(LongPathOf(folder.Path())).size(), 2u);
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
TEST(FileSystem, ClosingGoesToTheOpenersHandler) {
  TestFolder folder(L"fs");
  oxa::FileSystem file_system;
  const std::wstring path = folder / L"handled.bin";
  auto handler = std::make_shared<RecordingCloseHandler>();
  std::unique_ptr<oxa::File> file;
  ASSERT_EQ(file_system.OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS, handler, &file), 0u);
  const HANDLE handle = file->GetHandle();
  file.reset();
  EXPECT_EQ(handler->closed, std::vector<HANDLE>{handle});
  EXPECT_EQ(file_system.OpenFile(folder / L"missing", GENERIC_READ, OPEN_EXISTING, handler, &file), kNotFound);
  EXPECT_EQ(handler->closed.size(), 1u);
  EXPECT_EQ(handler.use_count(), 1);
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
  ASSERT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);

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
