// Writers of the Windows Installer session log: action records, time-stamped
// lines and the LogSink through which the installer object reports.
#pragma once

#include <windows.h>
#include <msi.h>

#include "Custom_Actions/qvrinst/log_sink.h"

#include <cstdarg>

namespace qvr {

// Size of every formatted log line, terminator included.
constexpr int kLogLineChars = 4096;

// Sends one information record; the engine treats the text as a template.
void SendInfoMessage(MSIHANDLE install, const wchar_t* text);

// "Action start hh:mm:ss: <action>."
void WriteActionStart(MSIHANDLE install, const wchar_t* action);

// "Action ended hh:mm:ss: <action>. Return value 1." (3 for a failure).
void WriteActionEnd(MSIHANDLE install, const wchar_t* action, UINT result);

// A line behind the prefix "MSI (X) (XX:XX) [hh:mm:ss:mmm]: ", cut to fit.
void WriteLogLine(MSIHANDLE install, const wchar_t* format, ...);
void WriteLogLineV(MSIHANDLE install, const wchar_t* format, va_list args);

// The module's own sink: every line becomes an information record of the
// session, without prefix; the level is not shown.
class MsiLogSink final : public LogSink {
 public:
  explicit MsiLogSink(MSIHANDLE install) : install_(install) {}
  bool IsEnabled() override { return true; }
  void Write(int level, const wchar_t* format, ...) override;

 private:
  MSIHANDLE install_;
};

// Formats into a buffer of `chars` characters, cutting the text to fit and
// always terminating it. Returns the length written.
int FormatTruncated(wchar_t* buffer, int chars, const wchar_t* format, va_list args);

}  // namespace qvr
