// What the plugin tests share: command lines of the probe program with a
// record file of their own, and a host's service locator that records the
// waivers it is asked for.
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
  std::vector<ProbeRun> Runs() const;
  // The arguments of the runs, in run order.
  std::vector<std::wstring> Arguments() const;
  bool HasRun(DWORD processId) const;

 private:
  std::wstring path_;
};

// What the locator saw of one grant.
struct Grant {
  DWORD processId = 0;
  bool suspended = false;     // every thread of the process was suspended
  bool alreadyRan = false;    // the process had recorded its run before
  bool endedAtRelease = false;
};

// A host's service locator whose waiver service records each grant and the
// state of the process at that moment. It checks the process without
// changing it: each thread is suspended and resumed again, which tells its
// suspend count.
class RecordingLocator final : public qvr::ServiceLocator, private qvr::WaiverService {
 public:
  explicit RecordingLocator(const ProbeRecord* record) : record_(record) {}

  std::int32_t GetWaiverService(qvr::WaiverService** service) override;

  // GetWaiverService fails with this result when it is negative.
  std::int32_t serviceResult = 0;
  // GetWaiverService reports success without handing out a service.
  bool withoutService = false;
  // What GrantWaiver returns.
  std::int32_t grantResult = 0;

  std::vector<Grant> grants;
  int servicesHandedOut = 0;
  int releases = 0;

 private:
  std::int32_t GrantWaiver(std::uint32_t processId) override;
  void Release() override;

  const ProbeRecord* record_;
};

// Where the callbacks of a ThrowingLocator throw, and what.
enum class ThrowAt { kGetWaiverService, kGrantWaiver, kRelease };

// A host's service locator whose callback at one point throws: a
// std::runtime_error naming the callback, or an int when `standard` is
// false. Before throwing, it opens the probe processes this process has
// started, so that the test can tell what became of them; any still running
// at the end is killed.
class ThrowingLocator final : public qvr::ServiceLocator, private qvr::WaiverService {
 public:
  ThrowingLocator(ThrowAt at, bool standard) : at_(at), standard_(standard) {}
  ~ThrowingLocator();
  ThrowingLocator(const ThrowingLocator&) = delete;
  ThrowingLocator& operator=(const ThrowingLocator&) = delete;

  std::int32_t GetWaiverService(qvr::WaiverService** service) override;

  // The probe processes seen at the throw.
  std::vector<HANDLE> probes;
  int releases = 0;

 private:
  std::int32_t GrantWaiver(std::uint32_t processId) override;
  void Release() override;
  void ThrowIfAt(ThrowAt at, const char* callback);

  ThrowAt at_;
  bool standard_;
};

// Whether the process still runs, and its end, for a process the test left
// behind on purpose.
bool IsRunning(DWORD processId);
void Kill(DWORD processId);

}  // namespace plugintest
