#include "activators/file_removal.h"

namespace qvr {
namespace {

// Windows errors, without windows.h.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kSharingViolation = 32;

}  // namespace

RemovalOutcome RemoveFile(FileOperations& files, const std::wstring& path, const RemovalPolicy& policy) {
  RemovalOutcome outcome;
  for (int attempt = 1;; ++attempt) {
    outcome.deleteError = files.Delete(path);
    if (outcome.deleteError == 0 || outcome.deleteError == kFileNotFound || outcome.deleteError == kPathNotFound)
      return outcome;
    const bool inUse = outcome.deleteError == kSharingViolation || outcome.deleteError == kAccessDenied;
    if (!inUse || attempt >= policy.attempts) break;
    files.WaitBeforeRetry();
  }
  outcome.scheduleError = files.ScheduleDeletionAtRestart(path, policy.moveFlags);
  return outcome;
}

}  // namespace qvr
