// The formats of the module's level-3 lines, gathered from its sources when
// qvrhost is built (scripts/error_formats.pl): the installer log does not
// carry the sink's levels, so explain knows these lines by their formats.
#pragma once

#include <string_view>
#include <vector>

namespace qvrhost {

const std::vector<std::wstring_view>& ModuleErrorFormats();

}  // namespace qvrhost
