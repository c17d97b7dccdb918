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

// `To` converts the input's form into the other, `Back` the other way.
template <typename Input, typename Output, typename To, typename Back>
void Check(Input input, To to, Back back) {
  Output strict;
  const oxa::ResultCode result = to(input, strict, InvalidText::Reject);
  Output replaced;
  Require(to(input, replaced, InvalidText::Replace) == oxa::rc::Ok);
  std::basic_string<typename Input::value_type> again;
  Require(back(replaced, again, InvalidText::Reject) == oxa::rc::Ok);  // replacement leaves valid text
  if (result == oxa::rc::Ok) {
    Require(replaced == strict);
    Require(again == input);
  } else {
    Require(result == oxa::rc::InvalidArgument);
  }
}

oxa::ResultCode ToWide(std::string_view in, std::wstring& out, InvalidText how) { return oxa::Utf8ToUtf16(in, out, how); }
oxa::ResultCode ToNarrow(std::wstring_view in, std::string& out, InvalidText how) { return oxa::Utf16ToUtf8(in, out, how); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check<std::string_view, std::wstring>(std::string_view(reinterpret_cast<const char*>(data), size), ToWide, ToNarrow);
  // The same bytes as little-endian UTF-16 units.
  std::wstring units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  Check<std::wstring_view, std::string>(units, ToNarrow, ToWide);
  return 0;
}
