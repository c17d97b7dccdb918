#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cabinet/stored_name.h"
#include "component/oxa/system/file/path.h"

// A stored name that is accepted becomes a relative path whose components
// are never empty, never made only of dots and blanks, and never hold a ":"
// or a "/": nothing that could lead out of the destination folder.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring name;
  for (std::size_t i = 0; i + 1 < size; i += 2) name.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  const std::optional<std::wstring> relative = qvr::PathInsideFolder(name);
  if (!relative) return 0;
  if (relative->empty() || !oxa::GetPathRoot(*relative).empty()) __builtin_trap();
  std::size_t start = 0;
  while (start <= relative->size()) {
    std::size_t end = relative->find(L'\\', start);
    if (end == std::wstring::npos) end = relative->size();
    const std::wstring component = relative->substr(start, end - start);
    if (component.empty() || component.find_first_not_of(L". ") == std::wstring::npos ||
        component.find_first_of(L":/") != std::wstring::npos)
      __builtin_trap();
    start = end + 1;
  }
  return 0;
}
