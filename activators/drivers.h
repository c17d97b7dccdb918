// Driver services of the product's features: the start type each declared
// driver gets when it is enabled, the pure plan of which drivers the
// features qualifying for a product type name, and the services brought
// into that state through the service control manager; the WFP objects of
// the network-filtering driver vxwfp are its parameters.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"

namespace qvr {

class LogSink;

// Driver (service) name to the start type it gets when enabled.
using DriverTable = std::map<std::wstring, std::uint32_t>;

class DriverServices {
 public:
  // ReadDrivers: every named REG_DWORD value of `keyPath`; any other value
  // costs a level-3 line and nothing else.
  void Read(LogSink* sink, const std::wstring& keyPath);

  // The drivers of the features qualifying for `type`, once per naming.
  static Requests Plan(const DriverTable& drivers, const FeatureMap& features, const std::wstring& type);

  // EnableDrivers / DisableDrivers of the plan; failures are lines only.
  // `wfpObjectsWanted`: whether vxwfp's WFP objects are set and removed (not
  // for small-office versions up to 6.2).
  void Enable(LogSink* sink, const Requests& plan, bool wfpObjectsWanted) const;
  void Disable(LogSink* sink, const Requests& plan, bool wfpObjectsWanted) const;

  const DriverTable& Table() const { return drivers_; }

 private:
  DriverTable drivers_;
};

// The start type of service `name` changed; false with the Windows error in
// `error` (level-3 lines, but a service manager that cannot be opened is a
// detail line).
bool ChangeDriverConfig(const std::wstring& name, std::uint32_t startType, LogSink* sink, std::uint32_t& error);
// The service started; an already running one is a failure.
bool StartDriver(LogSink* sink, const std::wstring& name);
// Sets (or removes) the parameters of a driver: only vxwfp has any, its WFP
// objects. False only when those could not be set or removed.
bool SetDriverParameters(LogSink* sink, const std::wstring& name, bool set, bool wfpObjectsWanted);
// The WFP objects registered (removed), retrying once after a removal.
bool SetVxwfpParameters(LogSink* sink);
bool RemoveVxwfpParameters(LogSink* sink);

}  // namespace qvr
