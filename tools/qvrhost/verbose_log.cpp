#include "tools/qvrhost/verbose_log.h"

#include <array>

#include "component/oxa/text/utf.h"
#include "tools/qvrhost/format_match.h"

namespace qvrhost {
namespace {

constexpr std::array<std::wstring_view, 3> kModuleActions{L"MsiProductActivate", L"MsiProductRbActivate",
                                                          L"MsiProductDeactivate"};
// The module's own records, as its log writer formats them.
constexpr std::wstring_view kStartFormat = L"Action start %02d:%02d:%02d: %ls.";
constexpr std::wstring_view kEndFormat = L"Action ended %02d:%02d:%02d: %ls. Return value %01d.";
constexpr std::wstring_view kPrefixStart = L"MSI (X) (XX:XX) [";
constexpr std::wstring_view kPrefixFormat = L"MSI (X) (XX:XX) [%02d:%02d:%02d:%03d]: ";
// "Action start hh:mm:ss: " and "Action ended hh:mm:ss: ".
constexpr std::size_t kRecordHead = 23;

bool Matches(std::wstring_view format, std::wstring_view text) {
  static const PrintfFormat kStart(kStartFormat), kEnd(kEndFormat), kPrefix(kPrefixFormat);
  return (format == kStartFormat ? kStart : format == kEndFormat ? kEnd : kPrefix).Matches(text);
}

bool IsModuleAction(std::wstring_view name) {
  for (const std::wstring_view action : kModuleActions)
    if (action == name) return true;
  return false;
}

// The action named by a start record of the module, or empty.
std::wstring_view StartedAction(std::wstring_view line) {
  if (line.size() <= kRecordHead + 1 || !Matches(kStartFormat, line)) return {};
  const std::wstring_view name = line.substr(kRecordHead, line.size() - kRecordHead - 1);
  return IsModuleAction(name) ? name : std::wstring_view();
}

// The return value of an end record of `action`, or none.
std::optional<int> EndedAction(std::wstring_view line, std::wstring_view action) {
  const std::wstring_view tail = L". Return value ";
  const std::size_t named = kRecordHead + action.size();
  if (line.size() != named + tail.size() + 2 || line.substr(kRecordHead, action.size()) != action ||
      !Matches(kEndFormat, line))
    return std::nullopt;
  return line[line.size() - 2] - L'0';
}

}  // namespace

std::wstring DecodeLogText(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring text;
    text.reserve((bytes.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(
          static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return text;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  std::wstring text;
  if (OXA_FAILED(oxa::Utf8ToUtf16(bytes, text, oxa::InvalidText::Replace))) text.clear();
  return text;
}

std::vector<ModuleAction> ReadModuleActions(std::wstring_view log) {
  std::vector<ModuleAction> actions;
  bool open = false;
  std::size_t number = 0;
  while (!log.empty()) {
    const std::size_t end = log.find(L'\n');
    std::wstring_view line = log.substr(0, end);
    log.remove_prefix(end == std::wstring_view::npos ? log.size() : end + 1);
    ++number;
    if (line.ends_with(L'\r')) line.remove_suffix(1);
    if (const std::wstring_view started = StartedAction(line); !started.empty()) {
      actions.push_back({std::wstring(started), number, std::nullopt, {}});
      open = true;
      continue;
    }
    if (!open) continue;
    ModuleAction& action = actions.back();
    if (const std::optional<int> result = EndedAction(line, action.name)) {
      action.returnValue = result;
      open = false;
      continue;
    }
    const std::size_t prefixEnd = line.starts_with(kPrefixStart) ? line.find(L"]: ") : std::wstring_view::npos;
    if (prefixEnd != std::wstring_view::npos && Matches(kPrefixFormat, line.substr(0, prefixEnd + 3)))
      action.lines.push_back({number, std::wstring(line.substr(prefixEnd + 3)), true});
    else
      action.lines.push_back({number, std::wstring(line), false});
  }
  return actions;
}

}  // namespace qvrhost
