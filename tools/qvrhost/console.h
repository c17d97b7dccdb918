// Text output of qvrhost: UTF-8 to a redirected stream, wide text to a
// console window, and the LogSink that prints the installer object's lines.
#pragma once

#include "Custom_Actions/qvrinst/msi_log.h"

#include <string_view>

namespace qvrhost {

enum class Stream { Out, Err };

void WriteText(Stream stream, std::wstring_view text);

// One line per record: "[LEVEL] text", formatted in the manner of the
// Windows wide functions (%s and %ls wide, %hs and %S narrow), cut at 4095
// characters.
class ConsoleLogSink final : public qvr::LogSink {
 public:
  bool IsEnabled() override { return true; }
  void Write(int level, const wchar_t* format, ...) override;
};

}  // namespace qvrhost
