#include "activators/process_launcher.h"

#include "Custom_Actions/qvrinst/exception_boundary.h"
#include "log/log_sink.h"
#include "Custom_Actions/qvrinst/service_locator.h"
#include "component/oxa/system/unique_handle.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace qvr {
namespace {

// The structure's size is part of the CreateProcessW contract.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);

// A locator that answers success without a service has none to give.
constexpr std::int32_t kNoService = static_cast<std::int32_t>(0x80004003u);  // E_POINTER

// TerminateProcess only begins the end of a process: it is waited for, so
// that the caller never meets it again, but not for ever.
constexpr DWORD kTerminationWaitMs = 10000;

// Releases a waiver service. It runs in a destructor, where nothing may be
// thrown: a release that throws costs a line (the sink is the host's too,
// and may throw as well).
struct WaiverRelease {
  LogSink* sink;
  void operator()(WaiverService* service) const noexcept {
    try {
      service->Release();
    } catch (...) {
      try {
        LogLine(sink, kLogError, L"Waiver release failed: %hs", DescribeCurrentException());
      } catch (...) {
      }
    }
  }
};
using WaiverServicePtr = std::unique_ptr<WaiverService, WaiverRelease>;

// Asks the self-protection to let process `processId` act; the service, when
// one was obtained, is kept until the process has ended or was given up on.
WaiverServicePtr GrantWaiver(ServiceLocator* locator, LogSink* sink, DWORD processId) {
  if (!locator) {
    LogLine(sink, kLogInfo, L"m_sl = null");
    return WaiverServicePtr(nullptr, WaiverRelease{sink});
  }
  WaiverService* service = nullptr;
  std::int32_t result = locator->GetWaiverService(&service);
  if (result >= 0 && !service) result = kNoService;
  if (result < 0) {
    LogLine(sink, kLogInfo, L"Failed to get waiver: 0x%08x", static_cast<unsigned>(result));
    return WaiverServicePtr(nullptr, WaiverRelease{sink});
  }
  WaiverServicePtr owned(service, WaiverRelease{sink});
  const std::int32_t granted = owned->GrantWaiver(static_cast<std::uint32_t>(processId));
  LogLine(sink, kLogInfo, L"Set waiver result: 0x%08X", static_cast<unsigned>(granted));
  return owned;
}

// A process created suspended, with its handles. Unless it was started, it
// is terminated when the scope ends, whatever ended the scope: a process
// that never starts would only be left behind.
class SuspendedProcess {
 public:
  explicit SuspendedProcess(const PROCESS_INFORMATION& created)
      : process_(created.hProcess), thread_(created.hThread) {}
  ~SuspendedProcess() {
    if (started_) return;
    TerminateProcess(process_.Get(), ERROR_PROCESS_ABORTED);
    WaitForSingleObject(process_.Get(), kTerminationWaitMs);
  }
  SuspendedProcess(const SuspendedProcess&) = delete;
  SuspendedProcess& operator=(const SuspendedProcess&) = delete;

  bool Start() {
    started_ = ResumeThread(thread_.Get()) != static_cast<DWORD>(-1);
    return started_;
  }
  HANDLE Process() const { return process_.Get(); }

 private:
  oxa::KernelHandle process_;
  oxa::KernelHandle thread_;
  bool started_ = false;
};

}  // namespace

LaunchResult ProcessLauncher::Run(const std::wstring& commandLine, std::uint32_t& exitCode) {
  exitCode = 0;
  // CreateProcessW may write into the command line.
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &created))
    return LaunchResult::kCreationFailed;

  // Declared first so that it is released after the process was ended or
  // started and its handles are closed.
  WaiverServicePtr waiver(nullptr, WaiverRelease{sink_});
  SuspendedProcess process(created);
  waiver = GrantWaiver(locator_, sink_, created.dwProcessId);
  if (!process.Start()) return LaunchResult::kCreationFailed;

  const std::uint32_t waited = WaitForProcess(process.Process(), timeLimitMs_);
  if (waited == WAIT_TIMEOUT) return LaunchResult::kTimedOut;
  if (waited != WAIT_OBJECT_0) {
    const DWORD error = GetLastError();
    LogLine(sink_, kLogError, L"Failed to wait for process %u: result 0x%08X, error %u",
            static_cast<unsigned>(created.dwProcessId), static_cast<unsigned>(waited), static_cast<unsigned>(error));
    return LaunchResult::kWaitFailed;
  }
  std::uint32_t ended = 0;
  if (!ReadExitCode(process.Process(), ended)) {
    const DWORD error = GetLastError();
    LogLine(sink_, kLogError, L"Failed to read the exit code of process %u: %u",
            static_cast<unsigned>(created.dwProcessId), static_cast<unsigned>(error));
    return LaunchResult::kWaitFailed;
  }
  exitCode = ended;
  return LaunchResult::kCompleted;
}

std::uint32_t ProcessLauncher::WaitForProcess(void* process, std::uint32_t milliseconds) {
  return WaitForSingleObject(process, milliseconds);
}

bool ProcessLauncher::ReadExitCode(void* process, std::uint32_t& exitCode) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return false;
  exitCode = code;
  return true;
}

}  // namespace qvr
