#include "tests/support/recording_sink.h"

#include "log/installer_log.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <stdexcept>

namespace qvrtest {

void PrintTo(const SinkLine& line, std::ostream* out) {
  *out << "[" << line.level << "] " << testing::PrintToString(line.text);
}

void RecordingSink::Write(int level, const wchar_t* format, ...) {
  if (failingWrites > 0) {
    --failingWrites;
    throw std::runtime_error("the host's sink failed");
  }
  wchar_t text[qvr::kLogLineChars];
  va_list args;
  va_start(args, format);
  qvr::FormatTruncated(text, qvr::kLogLineChars, format, args);
  va_end(args);
  lines.push_back({level, text});
}

std::vector<std::wstring> RecordingSink::Texts() const {
  std::vector<std::wstring> texts;
  for (const auto& line : lines) texts.push_back(line.text);
  return texts;
}

std::vector<std::wstring> RecordingSink::Texts(int level) const {
  std::vector<std::wstring> texts;
  for (const auto& line : lines)
    if (line.level == level) texts.push_back(line.text);
  return texts;
}

bool RecordingSink::Has(const std::wstring& part) const {
  for (const auto& line : lines)
    if (line.text.find(part) != std::wstring::npos) return true;
  return false;
}

}  // namespace qvrtest
