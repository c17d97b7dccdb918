#include "cabinet/stored_name.h"

#include <algorithm>

#include "component/oxa/system/file/path.h"

namespace qvr {

std::optional<std::wstring> PathInsideFolder(std::wstring_view name) {
  name.remove_prefix(oxa::GetPathRoot(name).size());
  std::wstring relative;
  while (!name.empty()) {
    const std::size_t length = std::find_if(name.begin(), name.end(), oxa::IsPathSeparator) - name.begin();
    const std::wstring_view component = name.substr(0, length);
    name.remove_prefix(std::min(length + 1, name.size()));
    if (component.empty()) continue;
    if (component.find(L':') != component.npos || component.find_first_not_of(L". ") == component.npos)
      return std::nullopt;
    if (!relative.empty()) relative += L'\\';
    relative += component;
  }
  if (relative.empty()) return std::nullopt;
  return relative;
}

}  // namespace qvr
