// UTF-8 and UTF-16 conversion: valid text round-trips, replaced text is
// always valid, and no input crashes either direction.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "component/oxa/text/utf.h"

namespace {

using oxa::InvalidText;

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckUtf8(std::string_view input) {
  std::wstring strict;
  const oxa::ResultCode result = oxa::Utf8ToUtf16(input, strict);
  std::wstring replaced;
  Require(oxa::Utf8ToUtf16(input, replaced, InvalidText::Replace) == oxa::rc::Ok);
  std::string back;
  Require(oxa::Utf16ToUtf8(replaced, back) == oxa::rc::Ok);  // replacement leaves valid text
  if (result == oxa::rc::Ok) {
    Require(replaced == strict);
    Require(back == input);
  } else {
    Require(result == oxa::rc::InvalidArgument);
  }
}

void CheckUtf16(std::wstring_view input) {
  std::string strict;
  const oxa::ResultCode result = oxa::Utf16ToUtf8(input, strict);
  std::string replaced;
  Require(oxa::Utf16ToUtf8(input, replaced, InvalidText::Replace) == oxa::rc::Ok);
  std::wstring back;
  Require(oxa::Utf8ToUtf16(replaced, back) == oxa::rc::Ok);
  if (result == oxa::rc::Ok) {
    Require(replaced == strict);
    Require(back == input);
  } else {
    Require(result == oxa::rc::InvalidArgument);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  // The same bytes as little-endian UTF-16 units.
  std::wstring units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  CheckUtf16(units);
  return 0;
}
