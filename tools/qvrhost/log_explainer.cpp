#include "tools/qvrhost/log_explainer.h"

#include "tools/qvrhost/format_match.h"

namespace qvrhost {
namespace {

constexpr std::wstring_view kFailedCheckFormat = L"%hs:%d(%hs),(OXA_SUCCEEDED(_result)) failed: result = %hs";

bool IsErrorLine(std::wstring_view text, const std::vector<PrintfFormat>& errorFormats) {
  for (const PrintfFormat& format : errorFormats)
    if (format.Matches(text)) return true;
  return false;
}

std::wstring Outcome(const ModuleAction& action) {
  if (!action.returnValue) return L"did not end (no end record)";
  const std::wstring value = L"return value " + std::to_wstring(*action.returnValue);
  return *action.returnValue == 1 ? L"succeeded (" + value + L")" : L"failed (" + value + L")";
}

}  // namespace

bool IsFailedCheckRecord(std::wstring_view text) {
  static const PrintfFormat kFailedCheck(kFailedCheckFormat);
  return kFailedCheck.Matches(text);
}

Explanation ExplainActions(const std::vector<ModuleAction>& actions,
                           const std::vector<std::wstring_view>& errorFormats) {
  const std::vector<PrintfFormat> formats(errorFormats.begin(), errorFormats.end());
  Explanation explanation;
  if (actions.empty()) explanation.text = L"no action of the module in this log\n";
  for (const ModuleAction& action : actions) {
    explanation.text += action.name + L" (line " + std::to_wstring(action.startLine) + L"): " + Outcome(action) + L"\n";
    if (action.returnValue == 1) continue;
    explanation.anyFailed = true;
    for (const ActionLine& line : action.lines) {
      const wchar_t* kind = nullptr;
      if (line.prefixed && IsFailedCheckRecord(line.text))
        kind = L"failed check";
      else if (IsErrorLine(line.text, formats))
        kind = L"error";
      if (kind)
        explanation.text += L"  line " + std::to_wstring(line.number) + L", " + kind + L": " + line.text + L"\n";
    }
  }
  return explanation;
}

}  // namespace qvrhost
