// The interface the product's setup host drives, handed out by the exported
// factory GetVersionedQVRInstaller. Its slot order is fixed: hosts built
// against earlier versions call it by position.
#pragma once

#include <cstdint>

namespace qvr {

class LogSink;
// What the host may hand in for the plugin launcher (service_locator.h).
class ServiceLocator;

// Framework object built from profiles.xml by the component framework; the
// installer object only passes it on to the profile writer.
struct ProfileStore;

// List of wide strings handed across the interface by the cleaner operations.
class StringList {
 public:
  virtual void Release() = 0;
  virtual std::uint32_t Count() = 0;
  virtual const wchar_t* Get(std::uint32_t index) = 0;

 protected:
  ~StringList() = default;
};

// Bits of ActivateProduct's mode.
using ActivationMode = std::uint32_t;
enum : ActivationMode {
  kActivatePlugins = 1,
  kActivateRegistry = 2,  // registry values and the environment
  kActivateShortcuts = 4,
  kActivateProtocolHandlers = 8,
  kActivateProfiles = 16,
  kActivateEnvironmentOnly = 32,
};

class VersionedInstaller {
 public:
  virtual bool Initialize(LogSink* sink, const wchar_t* productType, ProfileStore* profileStore) = 0;  // 0
  virtual void Release() = 0;                                                                         // 1
  virtual bool SwitchProductType() = 0;                                                               // 2
  virtual bool CheckForApplicationsToRemove(std::uint32_t filter, StringList** detected) = 0;         // 3
  virtual bool RemoveApplications(std::uint32_t unused, StringList** applications) = 0;               // 4
  virtual bool ActivateProduct(ActivationMode mode) = 0;                                              // 5
  virtual bool ChangeProductIcons(const wchar_t* variant) = 0;                                        // 6
  virtual bool AlwaysSucceeds() = 0;                                                                  // 7
  virtual bool RemoveProductShortcuts() = 0;                                                          // 8
  virtual bool DeactivateCurrentType() = 0;                                                           // 9
  virtual void SetServiceLocator(ServiceLocator* serviceLocator) = 0;                                 // 10

 protected:
  ~VersionedInstaller() = default;
};

// The factory's signature, for hosts that look it up with GetProcAddress.
using GetVersionedQVRInstallerFn = std::int32_t (*)(std::uint32_t version, VersionedInstaller** out);

// What the 32-bit module and its hosts hand each other: the interfaces are a
// vtable pointer and nothing else, results are one-byte booleans, strings
// UTF-16.
static_assert(sizeof(void*) != 4 || sizeof(VersionedInstaller) == 4);
static_assert(sizeof(void*) != 4 || sizeof(VersionedInstaller*) == 4);
static_assert(sizeof(void*) != 4 || sizeof(StringList) == 4);
static_assert(sizeof(void*) != 4 || sizeof(GetVersionedQVRInstallerFn) == 4);
static_assert(sizeof(void*) != 4 || sizeof(bool) == 1);
static_assert(sizeof(void*) != 4 || sizeof(wchar_t) == 2);
static_assert(sizeof(ActivationMode) == 4);

}  // namespace qvr
