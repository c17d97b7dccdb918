#include "component/oxa/system/file/path.h"

#include <algorithm>
#include <vector>

namespace oxa {
namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";

constexpr bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool StartsWithDrive(std::wstring_view path) { return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':'; }

bool IsBareDrive(std::wstring_view path) { return path.size() == 2 && StartsWithDrive(path); }

// Index of the first separator at or after `from`, or the length.
std::size_t ComponentEnd(std::wstring_view path, std::size_t from) {
  while (from < path.size() && !IsPathSeparator(path[from])) ++from;
  return from;
}

// Length of "server\share" starting at `from` (the server alone when no
// separator follows it).
std::size_t ServerShareEnd(std::wstring_view path, std::size_t from) {
  const std::size_t server_end = ComponentEnd(path, from);
  return server_end == path.size() ? server_end : ComponentEnd(path, server_end + 1);
}

// The long form of an absolute directory.
std::wstring LongFormOf(std::wstring_view directory) {
  switch (GetPathForm(directory)) {
    case PathForm::LongOrDevice:
      return std::wstring(directory);
    case PathForm::Unc:
      return std::wstring(kLongPrefix) + L"UNC\\" + std::wstring(directory.substr(2));
    default:
      return std::wstring(kLongPrefix) + std::wstring(directory);
  }
}

// The drive letter of a long drive path ("\\?\C:..."), or 0.
wchar_t DriveOfLongPath(std::wstring_view path) {
  if (path.size() < kLongPrefix.size() + 2 || !StartsWithDrive(path.substr(kLongPrefix.size()))) return 0;
  return path[kLongPrefix.size()];
}

constexpr wchar_t UpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

PathForm GetPathForm(std::wstring_view path) {
  if (path.size() >= 4 && path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
      path[3] == L'\\')
    return PathForm::LongOrDevice;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) return PathForm::Unc;
  if (path.size() >= 3 && StartsWithDrive(path) && IsPathSeparator(path[2])) return PathForm::DriveAbsolute;
  return PathForm::Relative;
}

std::wstring_view GetPathRoot(std::wstring_view path) {
  switch (GetPathForm(path)) {
    case PathForm::LongOrDevice: {
      const std::size_t volume = kLongPrefix.size();
      if (path.substr(volume, 3) == L"UNC" && path.size() > volume + 3 && IsPathSeparator(path[volume + 3]))
        return path.substr(0, ServerShareEnd(path, volume + 4));
      const std::size_t volume_end = ComponentEnd(path, volume);
      // The separator after a drive is part of the root: without it the path
      // names the volume, not its root directory.
      if (volume_end == volume + 2 && StartsWithDrive(path.substr(volume)) && volume_end < path.size())
        return path.substr(0, volume_end + 1);
      return path.substr(0, volume_end);
    }
    case PathForm::Unc:
      return path.substr(0, ServerShareEnd(path, 2));
    case PathForm::DriveAbsolute:
      return path.substr(0, 3);
    case PathForm::Relative:
      if (StartsWithDrive(path)) return path.substr(0, 2);
      if (!path.empty() && IsPathSeparator(path[0])) return path.substr(0, 1);
      return {};
  }
  return {};
}

void NormalizePath(std::wstring& path) {
  const std::wstring_view root = GetPathRoot(path);
  // Above the root of an absolute path there is nothing for ".." to name.
  const bool absolute = GetPathForm(path) != PathForm::Relative || root.size() == 1;

  std::vector<std::wstring_view> components;
  const std::wstring_view view = path;
  for (std::size_t begin = root.size(); begin <= view.size();) {
    const std::size_t end = ComponentEnd(view, begin);
    const std::wstring_view component = view.substr(begin, end - begin);
    begin = end + 1;
    if (component.empty() || component == L".") continue;
    if (component == L"..") {
      if (!components.empty() && components.back() != L"..")
        components.pop_back();
      else if (!absolute)
        components.push_back(component);
      continue;
    }
    components.push_back(component);
  }

  std::wstring result(root);
  std::replace(result.begin(), result.end(), L'/', L'\\');
  const bool root_needs_separator = !result.empty() && result.back() != L'\\' && !IsBareDrive(result);
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0 || root_needs_separator) result += L'\\';
    result += components[i];
  }
  if (result.empty()) result = L".";
  path = std::move(result);
}

std::wstring ToLongPath(std::wstring_view path, std::wstring_view currentDirectory) {
  switch (GetPathForm(path)) {
    case PathForm::LongOrDevice:
    case PathForm::Unc:
      return std::wstring(path);
    case PathForm::DriveAbsolute: {
      std::wstring result = std::wstring(kLongPrefix) + std::wstring(path);
      NormalizePath(result);
      return result;
    }
    case PathForm::Relative:
      break;
  }
  std::wstring base = LongFormOf(currentDirectory);
  std::wstring_view rest = path;
  const std::wstring_view root = GetPathRoot(path);
  if (root.size() == 2) {
    // "X:name": the current directory when it is on drive X, else X's root.
    if (UpperAscii(DriveOfLongPath(base)) != UpperAscii(path[0]))
      base = std::wstring(kLongPrefix) + std::wstring(root) + L'\\';
    rest.remove_prefix(2);
  } else if (root.size() == 1) {
    // "\name": the root of the current directory's volume.
    base = std::wstring(GetPathRoot(base));
    rest.remove_prefix(1);
  }
  std::wstring result = base + L'\\' + std::wstring(rest);
  NormalizePath(result);
  return result;
}

PathSplit SplitAtLastSeparator(std::wstring_view path) {
  const std::size_t root = GetPathRoot(path).size();
  std::size_t last = std::wstring_view::npos;
  for (std::size_t i = root; i < path.size(); ++i)
    if (IsPathSeparator(path[i])) last = i;
  if (last == std::wstring_view::npos) return {path.substr(0, root), path.substr(root)};
  return {path.substr(0, last), path.substr(last + 1)};
}

std::wstring JoinPath(std::wstring_view directory, std::wstring_view name) {
  std::wstring result(directory);
  if (!directory.empty() && !IsPathSeparator(directory.back()) && !IsBareDrive(directory)) result += L'\\';
  result += name;
  return result;
}

}  // namespace oxa
