// The built qvrinst.dll loaded into the test process, as a host or the
// installer engine sees it, and a LogSink that keeps what it is given.
#pragma once

#include "Custom_Actions/qvrinst/versioned_installer.h"
#include "component/oxa/system/unique_handle.h"
#include "tests/support/recording_sink.h"

#include <windows.h>
#include <msi.h>

#include <ostream>
#include <string>
#include <vector>

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

// Sink lines as the shared recorder keeps them.
using LogRecord = qvrtest::SinkLine;
using RecordingSink = qvrtest::RecordingSink;

}  // namespace installer_test
