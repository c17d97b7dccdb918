// A log sink that keeps every line with its level, as a host's sink would.
#pragma once

#include "log/log_sink.h"

#include <ostream>
#include <string>
#include <vector>

namespace qvrtest {

struct SinkLine {
  int level;
  std::wstring text;
  bool operator==(const SinkLine&) const = default;
};
void PrintTo(const SinkLine& line, std::ostream* out);

class RecordingSink final : public qvr::LogSink {
 public:
  bool IsEnabled() override { return enabled; }
  void Write(int level, const wchar_t* format, ...) override;

  // The texts, and the texts of one level.
  std::vector<std::wstring> Texts() const;
  std::vector<std::wstring> Texts(int level) const;
  // Whether some line's text contains `part`.
  bool Has(const std::wstring& part) const;

  bool enabled = true;
  // The next writes that throw std::runtime_error instead of keeping a line.
  int failingWrites = 0;
  std::vector<SinkLine> lines;
};

}  // namespace qvrtest
