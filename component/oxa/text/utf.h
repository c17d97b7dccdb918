// Conversion between UTF-8 and UTF-16 text. Wide characters are UTF-16 code
// units (where wchar_t is wider, a unit above 0xFFFF is invalid).
//
// Result forms return rc::InvalidArgument for text that is not valid (lone or
// reversed surrogates, overlong or truncated UTF-8, surrogates and values
// above U+10FFFF encoded in UTF-8) and rc::OutOfMemory when the output cannot
// be allocated. The throwing forms turn rc::OutOfMemory into std::bad_alloc
// and any other failure into std::bad_cast.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "component/oxa/result_code.h"

namespace oxa {

enum class InvalidText {
  Reject,   // the conversion fails
  Replace,  // each invalid sequence (maximal ill-formed part) becomes U+FFFD
};

// Sets `length` to the number of units of the converted text. With `out` not
// null the text is written there; rc::BufferTooSmall when `capacity` is less
// than `length` (`out` then holds the first `capacity` units).
ResultCode Utf8ToUtf16(std::string_view utf8, wchar_t* out, std::size_t capacity, std::size_t& length,
                       InvalidText invalid = InvalidText::Reject) noexcept;
ResultCode Utf16ToUtf8(std::wstring_view utf16, char* out, std::size_t capacity, std::size_t& length,
                       InvalidText invalid = InvalidText::Reject) noexcept;

// One conversion into any string with resize() and data(): counted first,
// then written. `out` is unchanged when the input is rejected.
template <typename Input, typename Output, typename Convert>
ResultCode ConvertInto(Input input, Output& out, InvalidText invalid, Convert convert) noexcept {
  std::size_t length = 0;
  const ResultCode counted = convert(input, nullptr, 0, length, invalid);
  if (OXA_FAILED(counted)) return counted;
  try {
    out.resize(length);
  } catch (const std::exception&) {  // bad_alloc, or a length beyond the string's maximum
    return rc::OutOfMemory;
  }
  return convert(input, out.data(), length, length, invalid);
}

// Into std::basic_string or oxa::basic_string_t.
template <typename WideString>
ResultCode Utf8ToUtf16(std::string_view utf8, WideString& out, InvalidText invalid = InvalidText::Reject) noexcept {
  return ConvertInto(utf8, out, invalid,
                     [](auto&&... args) noexcept { return Utf8ToUtf16(std::forward<decltype(args)>(args)...); });
}

template <typename NarrowString>
ResultCode Utf16ToUtf8(std::wstring_view utf16, NarrowString& out, InvalidText invalid = InvalidText::Reject) noexcept {
  return ConvertInto(utf16, out, invalid,
                     [](auto&&... args) noexcept { return Utf16ToUtf8(std::forward<decltype(args)>(args)...); });
}

// std::bad_alloc for rc::OutOfMemory, std::bad_cast for anything else.
[[noreturn]] void ThrowConversionFailure(ResultCode code);

template <typename WideString = std::wstring>
WideString ToUtf16(std::string_view utf8) {
  WideString out;
  const ResultCode result = Utf8ToUtf16(utf8, out);
  if (OXA_FAILED(result)) ThrowConversionFailure(result);
  return out;
}

template <typename NarrowString = std::string>
NarrowString ToUtf8(std::wstring_view utf16) {
  NarrowString out;
  const ResultCode result = Utf16ToUtf8(utf16, out);
  if (OXA_FAILED(result)) ThrowConversionFailure(result);
  return out;
}

}  // namespace oxa
