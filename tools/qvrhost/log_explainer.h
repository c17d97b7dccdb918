// qvrhost explain: each of the module's actions in a verbose installer log
// with its result and, for one that failed, its level-3 lines and the
// framework's failed-check records, in the order of the log.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/qvrhost/verbose_log.h"

namespace qvrhost {

struct Explanation {
  std::wstring text;
  bool anyFailed = false;  // an action failed or has no end record
};

// `errorFormats`: the formats of the module's level-3 lines.
Explanation ExplainActions(const std::vector<ModuleAction>& actions,
                           const std::vector<std::wstring_view>& errorFormats);

// Whether a line is a record of a failed framework check: "<file>:<line>(
// <expression>),(OXA_SUCCEEDED(_result)) failed: result = ...", maybe
// behind its component's tag.
bool IsFailedCheckRecord(std::wstring_view text);

}  // namespace qvrhost
