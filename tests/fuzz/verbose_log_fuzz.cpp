#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/qvrhost/error_formats.h"
#include "tools/qvrhost/log_explainer.h"
#include "tools/qvrhost/verbose_log.h"

// Any bytes are read as a log without fault; every action starts at a line
// of the log, and its lines come after its start, in order.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = qvrhost::DecodeLogText(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::vector<qvrhost::ModuleAction> actions = qvrhost::ReadModuleActions(text);
  for (const qvrhost::ModuleAction& action : actions) {
    std::size_t previous = action.startLine;
    for (const qvrhost::ActionLine& line : action.lines) {
      if (line.number <= previous) __builtin_trap();
      previous = line.number;
    }
  }
  qvrhost::ExplainActions(actions, qvrhost::ModuleErrorFormats());
  return 0;
}
