// What the plugin launcher asks of the service locator that the product's
// setup host may hand in with SetServiceLocator: the self-protection's waiver
// service, which lets a registration process change protected state. Hosts
// implement both interfaces; the module only calls them.
#pragma once

#include <cstdint>

namespace qvr {

class WaiverService {
 public:
  // Lets the process `processId` act despite self-protection. A result that is
  // not negative is success.
  virtual std::int32_t GrantWaiver(std::uint32_t processId) = 0;
  // Ends the caller's use of the service.
  virtual void Release() = 0;

 protected:
  ~WaiverService() = default;
};

class ServiceLocator {
 public:
  // On success (a result that is not negative) stores a service the caller
  // releases; otherwise stores nothing.
  virtual std::int32_t GetWaiverService(WaiverService** service) = 0;

 protected:
  ~ServiceLocator() = default;
};

// Both cross into the 32-bit module as a vtable pointer and nothing else.
static_assert(sizeof(void*) != 4 || sizeof(WaiverService) == 4);
static_assert(sizeof(void*) != 4 || sizeof(ServiceLocator) == 4);

}  // namespace qvr
