// Forms of UTF-16 paths and their normalisation, free of Win32 so that they
// build and run natively too. A separator is "\" or "/".
#pragma once

#include <string>
#include <string_view>

namespace oxa {

constexpr bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

enum class PathForm {
  LongOrDevice,   // "\\?\..." or "\\.\..."
  Unc,            // "\\server\share..." (two separators of either kind)
  DriveAbsolute,  // "X:\..."
  Relative,       // everything else, including "X:name" and "\name"
};

PathForm GetPathForm(std::wstring_view path);

// The root of a path as written, which normalisation keeps and ".." never
// climbs above:
// - long or device form: the prefix and the volume or device component that
//   follows it ("\\?\C:\" with its separator), or after "UNC" and a separator
//   the server and share;
// - UNC form: the two separators, the server and the share;
// - drive-absolute: "X:" and one separator; drive-relative: "X:";
// - relative to the current drive's root: the single leading separator;
// - relative: empty.
std::wstring_view GetPathRoot(std::wstring_view path);

// Normalises in place: the root is kept (its separators written as "\"), the
// rest is split at separators, empty components and "." are dropped, ".."
// removes the component before it (and is kept at the start of a relative
// path, dropped at the root of an absolute one), and the components are
// joined with "\". A relative path that reduces to nothing becomes ".".
void NormalizePath(std::wstring& path);

// The absolute, normalised long form of `path`. A relative path is resolved
// against `currentDirectory` (read only for relative paths; it may itself be
// in any absolute form). UNC, long and device paths are returned unchanged.
std::wstring ToLongPath(std::wstring_view path, std::wstring_view currentDirectory);

struct PathSplit {
  std::wstring_view directory;  // never shorter than the root: "C:\", "X:", "\\srv\share"
  std::wstring_view name;
};

// Splits at the last separator after the root.
PathSplit SplitAtLastSeparator(std::wstring_view path);

// `name` appended to `directory` with a "\" where one is needed: none after
// an empty directory, a trailing separator or a bare "X:".
std::wstring JoinPath(std::wstring_view directory, std::wstring_view name);

}  // namespace oxa
