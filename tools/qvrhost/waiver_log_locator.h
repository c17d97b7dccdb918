// The service locator qvrhost hands in with --waiver-log: a stand-in for the
// product's self-protection that grants every waiver and writes down each
// grant, so that a test can see which processes were let act and when.
#pragma once

#include "Custom_Actions/qvrinst/service_locator.h"

#include <string>

namespace qvrhost {

class WaiverLogLocator final : public qvr::ServiceLocator, private qvr::WaiverService {
 public:
  explicit WaiverLogLocator(std::wstring logPath) : logPath_(std::move(logPath)) {}

  // Hands out the one waiver service of this locator.
  std::int32_t GetWaiverService(qvr::WaiverService** service) override;

 private:
  // Appends "grant <process id>" to the log; a failure to write is the
  // grant's failure (the Windows error as an HRESULT).
  std::int32_t GrantWaiver(std::uint32_t processId) override;
  // The service lives as long as the locator.
  void Release() override {}

  std::wstring logPath_;
};

}  // namespace qvrhost
