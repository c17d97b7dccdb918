// qvrinst.dll loaded from qvrhost's own folder, and the installer objects
// that its factory hands out.
#pragma once

#include "Custom_Actions/qvrinst/versioned_installer.h"

#include <windows.h>

#include "component/oxa/system/unique_handle.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qvrhost {

struct ReleaseInstaller {
  void operator()(qvr::VersionedInstaller* installer) const { installer->Release(); }
};
using InstallerPtr = std::unique_ptr<qvr::VersionedInstaller, ReleaseInstaller>;

class InstallerModule {
 public:
  // Loads qvrinst.dll by its full path, beside this program.
  InstallerModule();
  InstallerModule(const InstallerModule&) = delete;
  InstallerModule& operator=(const InstallerModule&) = delete;

  const std::wstring& Path() const { return path_; }
  // Null with `error` describing why when the module or its factory is
  // missing, or the factory refuses `version`.
  InstallerPtr Create(std::uint32_t version, std::wstring& error) const;

 private:
  std::wstring path_;
  oxa::ModuleHandle module_;
  DWORD loadError_ = 0;
};

}  // namespace qvrhost
