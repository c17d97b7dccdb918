// Runs one plugin registration command line: the process is created
// suspended, the self-protection is asked to let it act, and only then does
// it start; the launcher waits for it up to a time limit.
#pragma once

#include <cstdint>
#include <string>

namespace qvr {

class LogSink;
class ServiceLocator;

enum class LaunchResult : int {
  kCompleted = 0,       // the process ran to its end
  kCreationFailed = 1,  // the process could not be created, or not started (it was terminated)
  kTimedOut = 2,        // still running at the time limit; left running
  kWaitFailed = 3,      // started, but its end or its exit code could not be learnt; left as it is
};

class ProcessLauncher {
 public:
  static constexpr std::uint32_t kTimeLimitMs = 60000;

  // `locator` (may be null) and `sink` are not owned. Tests shorten
  // `timeLimitMs`.
  ProcessLauncher(ServiceLocator* locator, LogSink* sink, std::uint32_t timeLimitMs = kTimeLimitMs)
      : locator_(locator), sink_(sink), timeLimitMs_(timeLimitMs) {}
  virtual ~ProcessLauncher() = default;

  // Runs `commandLine` (program path and arguments) in the caller's
  // environment and current directory. `exitCode` is set to 0 and, when the
  // process ended within the limit, to its exit code. An exception of the
  // host's callbacks goes on to the caller's edge, after the process was
  // terminated: a process created suspended is never left behind.
  LaunchResult Run(const std::wstring& commandLine, std::uint32_t& exitCode);

 protected:
  // The waiting of Run, as WaitForSingleObject and GetExitCodeProcess do it
  // (failures leave their error as the last error); tests make them fail.
  virtual std::uint32_t WaitForProcess(void* process, std::uint32_t milliseconds);
  virtual bool ReadExitCode(void* process, std::uint32_t& exitCode);

 private:
  ServiceLocator* locator_;
  LogSink* sink_;
  std::uint32_t timeLimitMs_;
};

}  // namespace qvr
