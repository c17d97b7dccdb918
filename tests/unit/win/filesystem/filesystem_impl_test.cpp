#include "component/oxa/system/file/detail/filesystem_impl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/unit/win/filesystem/test_folder.h"

namespace {

using fs_test::Exists;
using fs_test::ReadAll;
using fs_test::TestFolder;
using fs_test::WriteAll;

constexpr oxa::ResultCode Code(std::uint32_t value) { return static_cast<oxa::ResultCode>(value); }

std::wstring LongPathOf(std::wstring_view path) {
  std::wstring long_path;
  EXPECT_EQ(oxa::MakeLongPath(path, long_path), 0) << std::wstring(path);
  return long_path;
}

// The names in `folder` other than "." and "..".
std::vector<std::wstring> ListNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") names.emplace_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

bool CanOpenExclusively(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

TEST(MakeLongPath, RelativeDriveAndUncPaths) {
  TestFolder folder;
  const fs_test::CurrentDirectoryScope current(folder.Path());
  const std::wstring long_folder = L"\\\\?\\" + folder.Path();
  EXPECT_EQ(LongPathOf(L"a\\..\\b\\.\\c"), long_folder + L"\\b\\c");
  EXPECT_EQ(LongPathOf(L""), long_folder);
  EXPECT_EQ(LongPathOf(L"..\\x"), long_folder.substr(0, long_folder.rfind(L'\\')) + L"\\x");
  EXPECT_EQ(LongPathOf(L"\\top"), L"\\\\?\\C:\\top");

  EXPECT_EQ(LongPathOf(L"C:\\a\\..\\b\\\\c"), L"\\\\?\\C:\\b\\c");
  EXPECT_EQ(LongPathOf(L"\\\\server\\share\\a\\..\\b"), L"\\\\server\\share\\a\\..\\b");
  EXPECT_EQ(LongPathOf(L"\\\\?\\C:\\a\\..\\b"), L"\\\\?\\C:\\a\\..\\b");

  // The long form names the same file.
  WriteAll(folder / L"same.txt", "same");
  EXPECT_EQ(ReadAll(LongPathOf(L"same.txt")), "same");
}

TEST(IsDirectory, DirectoriesFilesLinksAndMissingPaths) {
  TestFolder folder;
  WriteAll(folder / L"file", "x");
  ASSERT_TRUE(folder.Link(folder.Path(), folder / L"link"));
  EXPECT_EQ(oxa::IsDirectory(folder.Path()), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"file"), 1);
  EXPECT_EQ(oxa::IsDirectory(folder / L"link"), 1);
  EXPECT_EQ(oxa::IsDirectory(folder / L"missing"), Code(0x80010102));
  EXPECT_EQ(oxa::IsDirectory(folder / L"missing\\deeper"), Code(0x80010103));
}

TEST(CreateDirectories, CreatesMissingLevelsAndStopsAtFiles) {
  TestFolder folder;
  EXPECT_EQ(oxa::CreateDirectories(L""), Code(0x80000046));

  EXPECT_EQ(oxa::CreateDirectories(folder / L"a\\b/c\\"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"a\\b\\c"), 0);
  EXPECT_EQ(oxa::CreateDirectories(folder / L"a\\b\\c"), 0);
  EXPECT_EQ(oxa::CreateDirectories(LongPathOf(folder / L"a\\long")), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"a\\long"), 0);

  WriteAll(folder / L"file", "x");
  EXPECT_EQ(oxa::CreateDirectories(folder / L"file\\b\\c"), Code(0x80010109));
  EXPECT_FALSE(Exists(folder / L"file\\b"));
  EXPECT_EQ(oxa::CreateDirectories(folder / L"file"), Code(0x80010109));

  // Relative paths start at the current directory; ".." is resolved first.
  const fs_test::CurrentDirectoryScope current(folder.Path());
  EXPECT_EQ(oxa::CreateDirectories(L"rel\\skipped\\..\\made"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"rel\\made"), 0);
  EXPECT_FALSE(Exists(folder / L"rel\\skipped"));
}

TEST(CreateDirectories, WalksThroughADirectoryLink) {
  TestFolder folder;
  ASSERT_TRUE(CreateDirectoryW((folder / L"target").c_str(), nullptr));
  ASSERT_TRUE(folder.Link(folder / L"target", folder / L"link"));
  EXPECT_EQ(oxa::CreateDirectories(folder / L"link\\b\\c"), 0);
  EXPECT_EQ(oxa::IsDirectory(folder / L"target\\b\\c"), 0);
}

TEST(CreateDirectories, ConcurrentCreatorsOfOneTreeBothSucceed) {
  TestFolder folder;
  for (int round = 0; round < 20; ++round) {
    const std::wstring path = folder / (L"round" + std::to_wstring(round) + L"\\a\\b\\c\\d\\e");
    // A Win32 event releases both at once (std::latch can miss its wake-up
    // with mingw-w64's winpthreads).
    const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(start, nullptr);
    oxa::ResultCode results[2] = {-1, -1};
    std::vector<std::thread> creators;
    for (oxa::ResultCode& result : results)
      creators.emplace_back([start, &path, &result] {
        WaitForSingleObject(start, INFINITE);
        result = oxa::CreateDirectories(path);
      });
    SetEvent(start);
    for (std::thread& creator : creators) creator.join();
    CloseHandle(start);
    EXPECT_EQ(results[0], 0) << round;
    EXPECT_EQ(results[1], 0) << round;
    EXPECT_EQ(oxa::IsDirectory(path), 0);
  }
}

TEST(FileSystem, OpenFileArgumentsAndDispositions) {
  TestFolder folder;
  oxa::FileSystem file_system;
  std::unique_ptr<oxa::File> file;
  EXPECT_EQ(file_system.OpenFile(folder / L"x", GENERIC_READ, OPEN_EXISTING, nullptr, nullptr),
            static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
  EXPECT_EQ(file_system.OpenFile(folder / L"missing", GENERIC_READ, OPEN_EXISTING, nullptr, &file),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(file);

  // Creation makes the missing parents.
  EXPECT_EQ(file_system.OpenFile(folder / L"new\\dir\\f.bin", GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file), 0u);
  ASSERT_TRUE(file);
  file.reset();
  EXPECT_EQ(oxa::IsDirectory(folder / L"new\\dir"), 0);

  // A parent that cannot be made comes back as its result code with bit 29.
  WriteAll(folder / L"plain", "plain");
  EXPECT_EQ(file_system.OpenFile(folder / L"plain\\sub\\f.bin", GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file),
            0x80010109u | 0x20000000u);
  EXPECT_FALSE(file);

  // CREATE_NEW never overwrites.
  EXPECT_EQ(file_system.OpenFile(folder / L"plain", GENERIC_WRITE, CREATE_NEW, nullptr, &file),
            static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadAll(folder / L"plain"), "plain");
  EXPECT_EQ(file_system.OpenFile(folder / L"fresh", GENERIC_WRITE, CREATE_NEW, nullptr, &file), 0u);
  file.reset();
  EXPECT_TRUE(Exists(folder / L"fresh"));

  // Other dispositions share reading only.
  EXPECT_EQ(file_system.OpenFile(folder / L"plain", GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
  const HANDLE reader = CreateFileW((folder / L"plain").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  EXPECT_EQ(CreateFileW((folder / L"plain").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(FileSystem, ReadWriteAndSeek) {
  TestFolder folder;
  oxa::FileSystem file_system;
  std::unique_ptr<oxa::File> file;
  ASSERT_EQ(file_system.OpenFile(folder / L"rw.bin", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file),
            0u);
  DWORD done = 99;
  EXPECT_EQ(file->Write("hello world", 11, done), 0u);
  EXPECT_EQ(done, 11u);
  DWORD position = 99;
  EXPECT_EQ(file->Seek(6, FILE_BEGIN, position), 0u);
  EXPECT_EQ(position, 6u);
  char buffer[16] = {};
  EXPECT_EQ(file->Read(buffer, 5, done), 0u);
  EXPECT_EQ(std::string(buffer, done), "world");
  EXPECT_EQ(file->Read(buffer, sizeof buffer, done), 0u);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file->Seek(-5, FILE_END, position), 0u);
  EXPECT_EQ(position, 6u);
  EXPECT_EQ(file->Seek(-100, FILE_CURRENT, position), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(file->Seek(0, 7, position), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  file.reset();

  // A failed transfer reports nothing done.
  ASSERT_EQ(file_system.OpenFile(folder / L"rw.bin", GENERIC_WRITE, OPEN_EXISTING, nullptr, &file), 0u);
  done = 99;
  EXPECT_EQ(file->Read(buffer, 4, done), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(done, 0u);
  file.reset();
  ASSERT_EQ(file_system.OpenFile(folder / L"rw.bin", GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
  done = 99;
  EXPECT_EQ(file->Write("x", 1, done), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(ReadAll(folder / L"rw.bin"), "hello world");
}

TEST(FileSystem, OpenFileGoesThroughTheLongFormOfThePath) {
  TestFolder folder;
  std::wstring deep = L"deep";
  for (wchar_t letter = L'a'; letter < L'f'; ++letter) deep += L"\\" + std::wstring(60, letter);
  struct Case {
    const char* what;
    std::wstring folder;  // below the test folder
  };
  const Case cases[] = {
      // Windows opens a drive path over MAX_PATH in its long form only.
      {"over MAX_PATH", deep},
      // The plain form drops the dot that ends a folder name, the long form
      // (in which the folder is made) keeps it.
      {"folder name ending in a dot", L"dotted."},
  };
  oxa::FileSystem file_system;
  for (const Case& row : cases) {
    for (const DWORD disposition : {CREATE_NEW, CREATE_ALWAYS}) {
      SCOPED_TRACE(testing::Message() << row.what << ", disposition " << disposition);
      const std::wstring path = folder / (row.folder + L"\\file" + std::to_wstring(disposition) + L".bin");
      std::unique_ptr<oxa::File> file;
      ASSERT_EQ(file_system.OpenFile(path, GENERIC_WRITE, disposition, nullptr, &file), 0u);
      DWORD done = 0;
      EXPECT_EQ(file->Write("written", 7, done), 0u);
      file.reset();
      ASSERT_EQ(file_system.OpenFile(path, GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
      char buffer[16] = {};
      EXPECT_EQ(file->Read(buffer, sizeof buffer, done), 0u);
      EXPECT_EQ(std::string(buffer, done), "written");
      file.reset();
      // In the folder as it was made.
      EXPECT_EQ(ReadAll(LongPathOf(path)), "written");
    }
  }
  EXPECT_GT((folder / deep).size(), static_cast<std::size_t>(MAX_PATH));
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

TEST(FileSystem, ClosingGoesToTheOpenersHandler) {
  TestFolder folder;
  oxa::FileSystem file_system;
  const std::wstring path = folder / L"handled.bin";
  auto handler = std::make_shared<RecordingCloseHandler>();
  std::unique_ptr<oxa::File> file;
  ASSERT_EQ(file_system.OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS, handler, &file), 0u);
  const HANDLE handle = file->GetHandle();
  EXPECT_EQ(handler.use_count(), 2);
  file.reset();
  EXPECT_EQ(handler->closed, std::vector<HANDLE>{handle});
  EXPECT_EQ(handler.use_count(), 1);
  EXPECT_TRUE(CanOpenExclusively(path));

  // A failed open hands nothing to the handler and keeps no reference.
  EXPECT_EQ(file_system.OpenFile(folder / L"missing", GENERIC_READ, OPEN_EXISTING, handler, &file),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(handler->closed.size(), 1u);
  EXPECT_EQ(handler.use_count(), 1);

  // Without a handler the file closes its handle itself.
  ASSERT_EQ(file_system.OpenFile(path, GENERIC_READ, OPEN_EXISTING, nullptr, &file), 0u);
  EXPECT_FALSE(CanOpenExclusively(path));
  file.reset();
  EXPECT_TRUE(CanOpenExclusively(path));
}

// A suspended child process that inherited the only handle to a file.
class HoldingProcess {
 public:
  HoldingProcess(const std::wstring& path, DWORD share) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, share, &inheritable, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t command[] = L"cmd.exe /c exit 0";
    started_ = CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                              &process_) != FALSE;
    CloseHandle(file);
  }
  ~HoldingProcess() {
    if (!started_) return;
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, INFINITE);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  HoldingProcess(const HoldingProcess&) = delete;
  HoldingProcess& operator=(const HoldingProcess&) = delete;

  bool Started() const { return started_; }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

TEST(FileSystem, CreateAlwaysMovesAFileInUseAside) {
  TestFolder folder;
  const fs_test::PendingRenamesGuard pending(folder.Path());
  const std::wstring path = folder / L"in_use.dll";
  WriteAll(path, "old");
  // Read and delete sharing, as a loaded image has it: it can be renamed.
  const HoldingProcess holder(path, FILE_SHARE_READ | FILE_SHARE_DELETE);
  ASSERT_TRUE(holder.Started());
  ASSERT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  oxa::FileSystem file_system;
  std::unique_ptr<oxa::File> file;
  ASSERT_EQ(file_system.OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file), 0u);
  DWORD done = 0;
  EXPECT_EQ(file->Write("new", 3, done), 0u);
  file.reset();
  EXPECT_EQ(ReadAll(path), "new");

  // The old file lives on under a temporary name beside it until the restart.
  std::vector<std::wstring> names = ListNames(folder.Path());
  ASSERT_EQ(names.size(), 2u);
  const std::wstring temporary = folder / (names[0] == L"in_use.dll" ? names[1] : names[0]);
  EXPECT_EQ(ReadAll(temporary), "old");
  const std::vector<std::wstring> scheduled = fs_test::PendingDeletionsIn(folder.Path());
  ASSERT_EQ(scheduled.size(), 1u);
  EXPECT_EQ(CompareStringOrdinal(scheduled[0].c_str(), -1, temporary.c_str(), -1, TRUE), CSTR_EQUAL)
      << scheduled[0] << L" vs " << temporary;
}

TEST(FileSystem, CreateAlwaysFailsCleanlyWhenTheFileCannotBeMovedAside) {
  TestFolder folder;
  const fs_test::PendingRenamesGuard pending(folder.Path());
  const std::wstring path = folder / L"locked.bin";
  WriteAll(path, "old");
  // Without delete sharing the file can be neither replaced nor renamed.
  const HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  oxa::FileSystem file_system;
  std::unique_ptr<oxa::File> file;
  EXPECT_EQ(file_system.OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS, nullptr, &file),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(file);
  CloseHandle(holder);
  EXPECT_EQ(ReadAll(path), "old");
  // No temporary file is left behind, nothing is scheduled.
  EXPECT_EQ(ListNames(folder.Path()), std::vector<std::wstring>{L"locked.bin"});
  EXPECT_TRUE(fs_test::PendingDeletionsIn(folder.Path()).empty());
}

TEST(CreateFileReplacingInUse, JoinsDirectoryAndName) {
  TestFolder folder;
  HANDLE handle = nullptr;
  ASSERT_EQ(oxa::CreateFileReplacingInUse(folder.Path(), L"joined.txt", GENERIC_WRITE, handle), 0u);
  CloseHandle(handle);
  EXPECT_TRUE(Exists(folder / L"joined.txt"));
  EXPECT_EQ(oxa::CreateFileReplacingInUse(folder / L"missing", L"x.txt", GENERIC_WRITE, handle),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
}

}  // namespace
