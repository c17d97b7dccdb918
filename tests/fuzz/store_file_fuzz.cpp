#include "companions/vtcore/settings_tree.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Every store file parses or is rejected without fault; what parses is
// written and read back as the same tree.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vtcore::SettingsNode state;
  if (OXA_FAILED(vtcore::ParseStoreFile(text, state))) return 0;
  vtcore::SettingsNode again;
  if (OXA_FAILED(vtcore::ParseStoreFile(vtcore::SerializeStoreFile(state), again))) __builtin_trap();
  if (!(again == state)) __builtin_trap();
  vtcore::AddMissingNodes(again, state);
  if (!(again == state)) __builtin_trap();
  return 0;
}
