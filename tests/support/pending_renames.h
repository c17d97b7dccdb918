// The restart-time deletions that file system tests schedule (PendingFileRenameOperations), and the guard that puts
// the value back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "component/oxa/system/unique_handle.h"

namespace fs_test {

// The sources of the restart-time deletions in `folder`, in the order scheduled, as "C:\..." paths.
std::vector<std::wstring> PendingDeletionsIn(const std::wstring& folder);

// Test processes of the prefix take turns (a named mutex); the value is put back as it was when the guard ends.
class PendingRenamesGuard {
 public:
  PendingRenamesGuard();
  ~PendingRenamesGuard();
  PendingRenamesGuard(const PendingRenamesGuard&) = delete;
  PendingRenamesGuard& operator=(const PendingRenamesGuard&) = delete;

 private:
  oxa::KernelHandle mutex_;
  std::optional<std::wstring> saved_;  // nothing: there was no value
};

}  // namespace fs_test
