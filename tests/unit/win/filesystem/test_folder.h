// Support for the file system tests: a test-owned folder in the prefix's
// temporary folder, links made from the Linux side, and the restart-time
// deletions that tests schedule.
#pragma once

#include <windows.h>

#include "tests/support/test_files.h"

#include <string>
#include <string_view>
#include <vector>

namespace fs_test {

bool Exists(const std::wstring& path);
using qvrtest::ReadAll;
using qvrtest::WriteAll;

// Makes `directory` the current directory for as long as it lives.
class CurrentDirectoryScope {
 public:
  explicit CurrentDirectoryScope(const std::wstring& directory);
  ~CurrentDirectoryScope();
  CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
  CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

 private:
  std::wstring previous_;
};

class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::wstring& Path() const { return path_; }
  std::wstring operator/(std::wstring_view relative) const { return path_ + L"\\" + std::wstring(relative); }

  // A link that is removed (from the Linux side) before the folder is.
  bool Link(const std::wstring& target, const std::wstring& link);

 private:
  std::wstring LongForm() const;

  std::wstring path_;
  std::vector<std::wstring> links_;
};

// The sources of the restart-time deletions in PendingFileRenameOperations
// that lie in `folder`, in the order scheduled, as "C:\..." paths.
std::vector<std::wstring> PendingDeletionsIn(const std::wstring& folder);

// Held by a test that schedules restart-time operations in `folder`: test
// processes of the prefix take turns (a named mutex) and on destruction the
// entries for `folder` are removed again, leaving the value as it was.
class PendingRenamesGuard {
 public:
  explicit PendingRenamesGuard(std::wstring folder);
  ~PendingRenamesGuard();
  PendingRenamesGuard(const PendingRenamesGuard&) = delete;
  PendingRenamesGuard& operator=(const PendingRenamesGuard&) = delete;

 private:
  std::wstring folder_;
  HANDLE mutex_;
};

}  // namespace fs_test
