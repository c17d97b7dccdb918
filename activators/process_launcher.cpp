#include "activators/process_launcher.h"

#include "Custom_Actions/qvrinst/log_sink.h"
#include "Custom_Actions/qvrinst/service_locator.h"
#include "platform/util/scoped_handle.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace qvr {
namespace {

// The structure's size is part of the CreateProcessW contract.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);

// A locator that answers success without a service has none to give.
constexpr std::int32_t kNoService = static_cast<std::int32_t>(0x80004003u);  // E_POINTER

struct WaiverRelease {
  void operator()(WaiverService* service) const { service->Release(); }
};
using WaiverServicePtr = std::unique_ptr<WaiverService, WaiverRelease>;

// Asks the self-protection to let process `processId` act; the service, when
// one was obtained, is kept until the process has ended or was given up on.
WaiverServicePtr GrantWaiver(ServiceLocator* locator, LogSink* sink, DWORD processId) {
  if (!locator) {
    LogLine(sink, kLogInfo, L"m_sl = null");
    return nullptr;
  }
  WaiverService* service = nullptr;
  std::int32_t result = locator->GetWaiverService(&service);
  if (result >= 0 && !service) result = kNoService;
  if (result < 0) {
    LogLine(sink, kLogInfo, L"Failed to get waiver: 0x%08x", static_cast<unsigned>(result));
    return nullptr;
  }
  WaiverServicePtr owned(service);
  const std::int32_t granted = owned->GrantWaiver(static_cast<std::uint32_t>(processId));
  LogLine(sink, kLogInfo, L"Set waiver result: 0x%08X", static_cast<unsigned>(granted));
  return owned;
}

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

  // Declared first so that it is released after the handles are closed.
  WaiverServicePtr waiver;
  const ScopedHandle process(created.hProcess);
  const ScopedHandle thread(created.hThread);
  waiver = GrantWaiver(locator_, sink_, created.dwProcessId);

  if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
    // A process that can never start would only be waited for and left behind.
    TerminateProcess(process.Get(), ERROR_PROCESS_ABORTED);
    return LaunchResult::kCreationFailed;
  }
  if (WaitForProcess(process.Get(), timeLimitMs_) == WAIT_TIMEOUT) return LaunchResult::kTimedOut;
  std::uint32_t ended = 0;
  if (ReadExitCode(process.Get(), ended)) exitCode = ended;
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
