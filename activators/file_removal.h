// Removing a file that another process may hold open: retried while the
// system answers that it is in use, then scheduled for deletion at the next
// restart. The order of the attempts is decided here without Win32; the
// platform's side is behind FileOperations.
#pragma once

#include <cstdint>
#include <string>

namespace qvr {

class FileOperations {
 public:
  // Windows errors, 0 for success.
  virtual std::uint32_t Delete(const std::wstring& path) = 0;
  virtual std::uint32_t ScheduleDeletionAtRestart(const std::wstring& path, std::uint32_t moveFlags) = 0;
  virtual void WaitBeforeRetry() = 0;

 protected:
  ~FileOperations() = default;
};

struct RemovalPolicy {
  int attempts;             // deletions tried in all, at least 1
  std::uint32_t moveFlags;  // of the restart-time deletion (MoveFileExW)
};
// Six attempts a wait apart, then MOVEFILE_DELAY_UNTIL_REBOOT.
inline constexpr RemovalPolicy kRetriedRemoval{6, 4};
// One attempt, then MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT.
inline constexpr RemovalPolicy kSingleRemoval{1, 5};

// The deletion's last error (0: deleted) and the scheduling's (0: scheduled
// or not needed). A file that is not there (errors 2 and 3) is not
// scheduled: a shortcut made later under its name would go at the restart.
struct RemovalOutcome {
  std::uint32_t deleteError = 0;
  std::uint32_t scheduleError = 0;
  bool Gone() const { return deleteError == 0 || scheduleError == 0; }
  bool operator==(const RemovalOutcome&) const = default;
};

// Deletes `path`; another attempt follows a wait only after a sharing
// violation (32) or a refused access (5); what is still there afterwards is
// scheduled.
RemovalOutcome RemoveFile(FileOperations& files, const std::wstring& path, const RemovalPolicy& policy);

}  // namespace qvr
