#include "component/oxa/text/utf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using oxa::InvalidText;

// UTF-16 units as wide characters (wchar_t is wider on some builds).
std::wstring Units(std::initializer_list<unsigned> units) {
  std::wstring text;
  for (unsigned unit : units) text.push_back(static_cast<wchar_t>(unit));
  return text;
}

TEST(Utf, ValidTextRoundTripsAtEveryLengthBoundary) {
  static constexpr char kUtf8[] = "a\0\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  const std::string utf8(kUtf8, sizeof(kUtf8) - 1);
  const std::wstring utf16 = Units({'a', 0, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF});
  std::wstring wide;
  ASSERT_EQ(oxa::Utf8ToUtf16(utf8, wide), oxa::rc::Ok);
  EXPECT_EQ(wide, utf16);
  std::string narrow;
  ASSERT_EQ(oxa::Utf16ToUtf8(utf16, narrow), oxa::rc::Ok);
  EXPECT_EQ(narrow, utf8);
}

TEST(Utf, InvalidTextIsRejectedAndLeavesTheOutputAlone) {
  for (const char* text : {
           "\x80",              // continuation without a lead
           "\xC0\xAF",          // overlong '/'
           "\xE0\x9F\xBF",      // overlong three-byte form
           "\xF0\x8F\xBF\xBF",  // overlong four-byte form
           "\xED\xA0\x80",      // an encoded surrogate
           "\xF4\x90\x80\x80",  // above U+10FFFF
           "\xF5\x80\x80\x80",  // no such lead
           "ab\xC3",            // cut short
           "\xC3(",             // lead not followed by a continuation
       }) {
    std::wstring out = L"unchanged";
    EXPECT_EQ(oxa::Utf8ToUtf16(text, out), oxa::rc::InvalidArgument) << text;
    EXPECT_EQ(out, L"unchanged");
  }
  for (const std::wstring& text : {Units({0xD800}), Units({0xDC00}), Units({'a', 0xDBFF, 'b'})}) {
    std::string out;
    EXPECT_EQ(oxa::Utf16ToUtf8(text, out), oxa::rc::InvalidArgument);
  }
  if constexpr (sizeof(wchar_t) > 2) {
    std::string out;
    EXPECT_EQ(oxa::Utf16ToUtf8(std::wstring(1, static_cast<wchar_t>(0x10000)), out), oxa::rc::InvalidArgument);
  }
}

// What the tracers do with text they are given.
TEST(Utf, ReplacementOfInvalidSequences) {
  std::wstring wide;
  // One U+FFFD per maximal ill-formed part: the cut three-byte form, the stray continuation, the bad lead.
  ASSERT_EQ(oxa::Utf8ToUtf16("a\xE2\x82\x62\x80\xFF", wide, InvalidText::Replace), oxa::rc::Ok);  // \x62: 'b'
  EXPECT_EQ(wide, Units({'a', 0xFFFD, 'b', 0xFFFD, 0xFFFD}));
  ASSERT_EQ(oxa::Utf8ToUtf16("\xED\xA0\x80", wide, InvalidText::Replace), oxa::rc::Ok);
  EXPECT_EQ(wide, Units({0xFFFD, 0xFFFD, 0xFFFD}));
  std::string narrow;
  ASSERT_EQ(oxa::Utf16ToUtf8(Units({0xDC00, 'x', 0xD800}), narrow, InvalidText::Replace), oxa::rc::Ok);
  EXPECT_EQ(narrow, "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

// The string forms count, then write; a short buffer is what the session tracer hands in.
TEST(Utf, ShortBufferGetsTheFirstUnitsAndTheLengthNeeded) {
  std::size_t length = 0;
  wchar_t small[3] = {L'-', L'-', L'-'};
  EXPECT_EQ(oxa::Utf8ToUtf16("\xF0\x9F\x98\x80z", small, 2, length), oxa::rc::BufferTooSmall);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::wstring(small, 3), Units({0xD83D, 0xDE00, '-'}));
}

}  // namespace
