// The built qvrinst.dll loaded into the test process, as a host or the
// installer engine sees it.
#pragma once

#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "component/oxa/system/unique_handle.h"

#include <windows.h>
#include <msi.h>

namespace installer_test {

class QvrinstModule {
 public:
  QvrinstModule();  // loads $QVR_BUILD_DIR/bin/qvrinst.dll

  qvr::GetVersionedQVRInstallerFn Factory() const;
  using CustomAction = UINT(__stdcall*)(MSIHANDLE);
  CustomAction Action(const char* name) const;

 private:
  void* Export(const char* name) const;

  oxa::ModuleHandle module_;
};

}  // namespace installer_test
