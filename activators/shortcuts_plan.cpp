// The pure side of the shortcuts: which names an operation takes, and which
// names and paths it may act on.
#include <string_view>

#include "activators/shortcuts.h"
#include "component/oxa/system/file/path.h"

namespace qvr {
namespace {

bool EqualIgnoringAsciiCase(std::wstring_view left, std::wstring_view right) {
  if (left.size() != right.size()) return false;
  auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  for (std::size_t i = 0; i < left.size(); ++i)
    if (lower(left[i]) != lower(right[i])) return false;
  return true;
}

// No component of `path` is "." or "..", and no ':' follows its drive.
bool SpelledPlainly(std::wstring_view path) {
  if (path.find(L':', 2) != std::wstring_view::npos) return false;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = begin;
    while (end < path.size() && !oxa::IsPathSeparator(path[end])) ++end;
    const std::wstring_view component = path.substr(begin, end - begin);
    if (component == L"." || component == L"..") return false;
    begin = end + 1;
  }
  return true;
}

}  // namespace

StringVector ProductShortcuts::DesktopNames(const FeatureMap& features) {
  StringVector names{L"LaunchShortcutName"};
  const auto payGuard = features.find(L"PayGuardFeature");
  if (payGuard != features.end() && payGuard->second.installed) names.push_back(L"PayGuardShortcutName");
  return names;
}

StringVector ProductShortcuts::StartMenuNames() { return {L"LaunchShortcutName"}; }

bool ProductShortcuts::IsPlainFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name)
    if (c < L' ' || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
  return true;
}

bool ProductShortcuts::IsShortcutBelow(const std::wstring& path, const std::wstring& folder) {
  constexpr std::wstring_view kExtension = L".lnk";
  if (oxa::GetPathForm(path) != oxa::PathForm::DriveAbsolute ||
      oxa::GetPathForm(folder) != oxa::PathForm::DriveAbsolute)
    return false;
  if (!SpelledPlainly(path) || !SpelledPlainly(folder)) return false;
  std::wstring_view base = folder;
  while (!base.empty() && oxa::IsPathSeparator(base.back())) base.remove_suffix(1);
  const std::wstring_view candidate = path;
  return candidate.size() > base.size() + 1 + kExtension.size() &&
         EqualIgnoringAsciiCase(candidate.substr(0, base.size()), base) &&
         oxa::IsPathSeparator(candidate[base.size()]) && !oxa::IsPathSeparator(candidate.back()) &&
         EqualIgnoringAsciiCase(candidate.substr(candidate.size() - kExtension.size()), kExtension);
}

}  // namespace qvr
