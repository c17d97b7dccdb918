// What the plugin tests share: command lines of the probe program with a
// record file of their own, and a host's service locator that records the
// waivers it is asked for, or throws from one of its callbacks.
#pragma once

#include "Custom_Actions/qvrinst/service_locator.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace plugintest {

// One run of the probe, as it recorded itself.
struct ProbeRun {
  DWORD processId = 0;
  std::wstring arguments;  // the words after the record file
};

// A record file in the temporary folder, removed at the end.
class ProbeRecord {
 public:
  ProbeRecord();
  ~ProbeRecord();
  ProbeRecord(const ProbeRecord&) = delete;
  ProbeRecord& operator=(const ProbeRecord&) = delete;

  // `"<probe>" "<record>" arguments`: a run that records itself here.
  std::wstring Command(const std::wstring& arguments) const;
  // In run order; each run's command line must be one of Command's.
  std::vector<ProbeRun> Runs() const;
  std::vector<std::wstring> Arguments() const;

 private:
  std::wstring path_;
};

// What the locator saw of one grant.
struct Grant {
  DWORD processId = 0;
  bool suspended = false;  // every thread of the process was suspended
  bool endedAtRelease = false;
};

enum class ThrowAt { kNowhere, kGetWaiverService, kGrantWaiver, kRelease };

// A host's service locator whose waiver service records each grant and the
// state of the process at that moment (each thread is suspended and resumed
// again, which tells its suspend count). At `throwAt` the callback throws a
// std::runtime_error "<callback> failed", or an int when `standard` is
// false; before that it opens the probe processes this process started, so
// that the test can tell what became of them (any still running at the end
// is killed).
class TestLocator final : public qvr::ServiceLocator, private qvr::WaiverService {
 public:
  explicit TestLocator(ThrowAt throwAt = ThrowAt::kNowhere, bool standard = true)
      : throwAt_(throwAt), standard_(standard) {}
  ~TestLocator();
  TestLocator(const TestLocator&) = delete;
  TestLocator& operator=(const TestLocator&) = delete;

  std::int32_t GetWaiverService(qvr::WaiverService** service) override;

  std::int32_t serviceResult = 0;  // negative: GetWaiverService fails with it
  bool withoutService = false;     // GetWaiverService succeeds without a service
  std::int32_t grantResult = 0;    // what GrantWaiver returns

  std::vector<Grant> grants;
  int servicesHandedOut = 0;
  int releases = 0;
  std::vector<HANDLE> probes;  // seen at the throw

 private:
  std::int32_t GrantWaiver(std::uint32_t processId) override;
  void Release() override;
  void ThrowIfAt(ThrowAt at, const char* callback);

  ThrowAt throwAt_;
  bool standard_;
};

bool IsRunning(DWORD processId);
// Ends a process the launcher left running on purpose.
void Kill(DWORD processId);

}  // namespace plugintest
