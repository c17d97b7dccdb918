// Text output of qvrhost: UTF-8 to a redirected stream, wide text to a
// console window, and the LogSink that prints the installer object's lines.
#pragma once

#include "log/installer_log.h"

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace qvrhost {

enum class Stream { Out, Err };

void WriteText(Stream stream, std::wstring_view text);

// "[LEVEL] text" and a line break; a text of several lines (an exception's
// details) continues on lines indented by four blanks.
std::wstring RecordLines(int level, std::wstring_view text);

// A record's text, formatted in the manner of the Windows wide functions
// (%s and %ls wide, %hs and %S narrow) and cut at 4095 characters.
std::wstring FormatRecord(const wchar_t* format, va_list args);

// Prints each record, formatted in the manner of the Windows wide functions
// (%s and %ls wide, %hs and %S narrow) and cut at 4095 characters.
class ConsoleLogSink final : public qvr::LogSink {
 public:
  bool IsEnabled() override { return true; }
  void Write(int level, const wchar_t* format, ...) override;
};

// Keeps the texts of the level-3 records and prints nothing: lint and plan
// show their own results, and the readers' errors only where they matter.
class ErrorCollectingSink final : public qvr::LogSink {
 public:
  bool IsEnabled() override { return true; }
  void Write(int level, const wchar_t* format, ...) override;
  const std::vector<std::wstring>& Errors() const { return errors_; }

 private:
  std::vector<std::wstring> errors_;
};

}  // namespace qvrhost
