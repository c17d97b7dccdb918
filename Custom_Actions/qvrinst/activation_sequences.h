// The orders in which the activators bring the machine from the current
// product type K to the target product type N. The sequences see the
// activators only through ActivationSteps, so their order can be observed.
#pragma once

#include <string>

#include "Custom_Actions/qvrinst/versioned_installer.h"

namespace qvr {

class LogSink;

class ActivationSteps {
 public:
  virtual bool WriteProductType(const std::wstring& type) = 0;
  virtual bool ActivateEnvironment(const std::wstring& type) = 0;
  virtual bool DeactivateCurrentType() = 0;
  virtual bool ActivateProfiles(const std::wstring& type) = 0;
  virtual bool DeactivateProfiles(const std::wstring& type) = 0;
  virtual bool RegisterPlugins(const std::wstring& type) = 0;
  virtual bool UnregisterPlugins(const std::wstring& type) = 0;
  virtual bool EnableDrivers(const std::wstring& type) = 0;
  virtual bool DisableDrivers(const std::wstring& type) = 0;
  virtual bool ActivateRegistry(const std::wstring& type) = 0;
  virtual bool DeactivateRegistry(const std::wstring& type) = 0;
  virtual bool RegisterProtoHandlers() = 0;
  virtual bool UnRegisterProtoHandlers() = 0;
  virtual bool ActivateStartMenu(const std::wstring& type) = 0;
  virtual bool CreateDesktopShortcuts() = 0;
  virtual bool RemoveProductShortcuts() = 0;

 protected:
  ~ActivationSteps() = default;
};

// ActivateProduct: the resource kinds of `mode` for N, after removing K's
// resources when the type changes.
bool RunActivateProduct(ActivationSteps& steps, LogSink* sink, const std::wstring& current, const std::wstring& target,
                        ActivationMode mode);

// SwitchProductType: every resource of K removed, every resource of N created.
bool RunSwitchProductType(ActivationSteps& steps, const std::wstring& current, const std::wstring& target);

// DeactivateCurrentType: K's shortcuts, plugins, protocol handlers and
// registry values removed; every step runs whatever the others return.
// (The shortcuts do not depend on the type.)
bool RunDeactivateCurrentType(ActivationSteps& steps, const std::wstring& current);

}  // namespace qvr
