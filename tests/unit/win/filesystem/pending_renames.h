// The restart-time deletions that file system tests schedule, read from and
// removed again from PendingFileRenameOperations.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fs_test {

// The sources of the restart-time deletions that lie in `folder`, in the
// order scheduled, as "C:\..." paths.
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
