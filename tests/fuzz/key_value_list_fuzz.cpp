#include "Custom_Actions/qvrinst/key_value_list.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Every input parses or fails without fault; a successful parse stores no
// key that is empty or holds a '=', and no value that holds a '|' (a key may
// hold one: "a|b=c" is the key "a|b").
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  qvr::KeyValueList list;
  if (list.Parse(text)) {
    for (const auto& [key, value] : list.Pairs()) {
      if (key.empty() || key.find(L'=') != std::wstring::npos) __builtin_trap();
      if (value.find(L'|') != std::wstring::npos) __builtin_trap();
    }
  }
  return 0;
}
