#include "component/oxa/string/string.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

void ExpectLengthError(const std::function<void()>& operation, const char* message) {
  try {
    operation();
    ADD_FAILURE() << "no length_error, expected " << message;
  } catch (const std::length_error& error) {
    EXPECT_STREQ(error.what(), message);
  }
}

// The wide form crosses module boundaries: its text stays inline up to 7 characters and is always terminated.
TEST(WideString, InlineBufferGrowthAndShrinking) {
  oxa::wstring_t text;
  const auto isInline = [&text] {
    const auto* object = reinterpret_cast<const char*>(&text);
    const auto* data = reinterpret_cast<const char*>(text.data());
    return data >= object && data < object + sizeof text;
  };
  text.append(L"1234567");
  EXPECT_TRUE(isInline());
  text.push_back(L'8');
  EXPECT_FALSE(isInline());
  text.append(std::wstring(60, L'x'));
  EXPECT_EQ(text.size(), 68u);
  EXPECT_EQ(text.c_str()[68], L'\0');
}

TEST(String, LengthErrorsNameTheOperation) {
  const auto all = static_cast<oxa::string_t::size_type>(-1);
  ExpectLengthError([&] { oxa::wstring_t text(L"ab", all); }, "oxa::basic_string_t constructor");
  ExpectLengthError([] { oxa::string_t().reserve(oxa::string_t::max_size() + 1); },
                    "oxa::basic_string_t::reserve_extra()");
  ExpectLengthError([&] { oxa::wstring_t().assign(L"ab", all); }, "oxa::basic_string_t::replace");
  // Appending what would just fit alone overflows a non-empty string.
  ExpectLengthError([] { oxa::string_t("ab").append("ab", oxa::string_t::max_size()); },
                    "oxa::basic_string_t::append()");
  ExpectLengthError([] { oxa::wstring_t(L"a").append(oxa::wstring_t::max_size(), L'x'); },
                    "oxa::basic_string_t::append()");
}

TEST(String, SourcesInsideTheStringSurviveGrowth) {
  oxa::wstring_t wide(L"abcdef");
  wide.append(wide.data(), wide.size());  // grows: the source moves with the buffer
  wide.append(wide.data() + 2, 4);
  EXPECT_EQ(wide, L"abcdefabcdefcdef");
  wide.assign(wide.data() + 12, 4);
  EXPECT_EQ(wide, L"cdef");
}

}  // namespace
