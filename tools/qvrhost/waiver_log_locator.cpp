#include "tools/qvrhost/waiver_log_locator.h"

#include <windows.h>

#include "component/oxa/system/unique_handle.h"

#include <string>

namespace qvrhost {

std::int32_t WaiverLogLocator::GetWaiverService(qvr::WaiverService** service) {
  *service = this;
  return 0;
}

std::int32_t WaiverLogLocator::GrantWaiver(std::uint32_t processId) {
  const std::string line = "grant " + std::to_string(processId) + "\n";
  // Appending only: the processes granted here may write to the same file.
  const oxa::FileHandle file(CreateFileW(logPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return HRESULT_FROM_WIN32(GetLastError());
  DWORD written = 0;
  const bool ok = WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                  written == line.size();
  return HRESULT_FROM_WIN32(ok ? ERROR_SUCCESS : GetLastError());
}

}  // namespace qvrhost
