#include "companions/vtcore/settings_tree.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Every input parses or is rejected without fault; a tree that profiles.xml
// declares survives the store file's round trip unchanged.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vtcore::SettingsNode declared;
  if (OXA_FAILED(vtcore::ParseProfilesXml(text, declared))) {
    if (!(declared == vtcore::SettingsNode())) __builtin_trap();
    return 0;
  }
  vtcore::SettingsNode stored;
  if (OXA_FAILED(vtcore::ParseStoreFile(vtcore::SerializeStoreFile(declared), stored))) __builtin_trap();
  if (!(stored == declared)) __builtin_trap();
  vtcore::DescribeTree(declared);
  return 0;
}
