// Where a file stored in a cabinet may be written: a stored name as a path
// inside the destination folder. No Win32 here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// `name` as a path relative to the destination folder, without its root and
// empty components, "\"-separated. None when nothing is left or a component
// could lead out of the folder or off the file: one made only of dots and
// blanks (Win32 trims trailing ones, so "..." and ". ." can act as ".."), or
// one with a ":" (a drive or an alternate data stream).
std::optional<std::wstring> PathInsideFolder(std::wstring_view name);

}  // namespace qvr
