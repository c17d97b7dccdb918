// The built qvrinst.dll loaded into the test process, as a host or the
// installer engine sees it, and a LogSink that keeps what it is given.
#pragma once

#include "Custom_Actions/qvrinst/msi_log.h"
#include "Custom_Actions/qvrinst/versioned_installer.h"

#include <windows.h>
#include <msi.h>

#include <ostream>
#include <string>
#include <vector>

namespace installer_test {

class QvrinstModule {
 public:
  QvrinstModule();  // loads $QVR_BUILD_DIR/bin/qvrinst.dll
  ~QvrinstModule();
  QvrinstModule(const QvrinstModule&) = delete;
  QvrinstModule& operator=(const QvrinstModule&) = delete;

  qvr::GetVersionedQVRInstallerFn Factory() const;
  using CustomAction = UINT(__stdcall*)(MSIHANDLE);
  CustomAction Action(const char* name) const;

 private:
  void* Export(const char* name) const;

  HMODULE module_ = nullptr;
};

struct LogRecord {
  int level;
  std::wstring text;
  bool operator==(const LogRecord&) const = default;
};
void PrintTo(const LogRecord& record, std::ostream* out);

class RecordingSink final : public qvr::LogSink {
 public:
  bool IsEnabled() override { return true; }
  void Write(int level, const wchar_t* format, ...) override;

  std::vector<LogRecord> records;
};

}  // namespace installer_test
