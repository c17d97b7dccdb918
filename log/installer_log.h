// The writer of the Windows Installer session log. Every line the module
// writes there goes through it: the action records, the time-stamped lines,
// the lines of the installer-log sink and the framework's trace records. The
// engine reads each record as a template, so the writer escapes brackets and
// braces, once, and the line reaches the log as it was written.
#pragma once

#include <windows.h>
#include <msi.h>

#include <cstdarg>
#include <string_view>

#include "log/log_sink.h"

namespace qvr {

// Size of every log line, terminator included, before and after escaping.
constexpr int kLogLineChars = 4096;

class InstallerLog {
 public:
  explicit InstallerLog(MSIHANDLE install) : install_(install) {}

  // "Action start hh:mm:ss: <action>."
  void ActionStart(const wchar_t* action) const;
  // "Action ended hh:mm:ss: <action>. Return value 1." (3 for a failure).
  void ActionEnd(const wchar_t* action, UINT result) const;
  // A line behind the prefix "MSI (X) (XX:XX) [hh:mm:ss:mmm]: ".
  void Line(const wchar_t* format, ...) const;
  void LineV(const wchar_t* format, va_list args) const;
  // A line without prefix.
  void PlainV(const wchar_t* format, va_list args) const;

  MSIHANDLE Session() const { return install_; }

 private:
  // Escapes `text`, cut where the escaped form no longer fits, never inside
  // an escape or a surrogate pair, and sends it as one information record.
  void Send(std::wstring_view text) const;

  MSIHANDLE install_;
};

// The module's own sink: every line becomes one line of the session log,
// without prefix; the level is not shown.
class InstallerLogSink final : public LogSink {
 public:
  explicit InstallerLogSink(MSIHANDLE install) : log_(install) {}
  bool IsEnabled() override { return true; }
  void Write(int level, const wchar_t* format, ...) override;

 private:
  InstallerLog log_;
};

// Formats into a buffer of `chars` characters, cutting the text to fit and
// always terminating it. Returns the length written.
int FormatTruncated(wchar_t* buffer, int chars, const wchar_t* format, va_list args);

}  // namespace qvr
