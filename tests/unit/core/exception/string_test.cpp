#include "component/oxa/string/string.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

template <typename StringT>
bool IsInline(const StringT& text) {
  const auto* object = reinterpret_cast<const char*>(&text);
  const auto* data = reinterpret_cast<const char*>(text.data());
  return data >= object && data < object + sizeof text;
}

void ExpectLengthError(const std::function<void()>& operation, const char* message) {
  try {
    operation();
    ADD_FAILURE() << "no length_error, expected " << message;
  } catch (const std::length_error& error) {
    EXPECT_STREQ(error.what(), message);
  }
}

TEST(WideString, InlineBufferAndGrowthRule) {
  oxa::wstring_t text;
  EXPECT_EQ(text.capacity(), 7u);
  EXPECT_STREQ(text.c_str(), L"");
  text.append(L"1234567");
  EXPECT_EQ(text.capacity(), 7u);
  EXPECT_TRUE(IsInline(text));
  // Twice the old capacity when that is enough ...
  text.push_back(L'8');
  EXPECT_EQ(text.capacity(), 14u);
  EXPECT_FALSE(IsInline(text));
  text.append(std::wstring(20, L'x'));
  EXPECT_EQ(text.capacity(), 28u);
  // ... else what is needed.
  text.append(std::wstring(40, L'y'));
  EXPECT_EQ(text.size(), 68u);
  EXPECT_EQ(text.capacity(), 68u);
  EXPECT_EQ(text.view().substr(0, 9), L"12345678x");
  EXPECT_EQ(text.c_str()[68], L'\0');
  // Shrinking keeps the buffer.
  text.resize(3);
  EXPECT_EQ(text, L"123");
  EXPECT_EQ(text.capacity(), 68u);
  text.resize(5, L'z');
  EXPECT_EQ(text, L"123zz");
}

TEST(NarrowString, ElevenCharactersInlineWithLengthInTheLastByte) {
  oxa::string_t text("abcd");
  const auto lastByte = [&text] { return reinterpret_cast<const unsigned char*>(&text)[sizeof text - 1]; };
  EXPECT_EQ(text.capacity(), 11u);
  EXPECT_TRUE(IsInline(text));
  EXPECT_EQ(lastByte(), 11 - 4);
  text.append("efghijk");
  EXPECT_EQ(text.size(), 11u);
  EXPECT_TRUE(IsInline(text));
  // The last byte is now the terminator.
  EXPECT_EQ(lastByte(), 0);
  EXPECT_STREQ(text.c_str(), "abcdefghijk");
  text.push_back('l');
  EXPECT_FALSE(IsInline(text));
  EXPECT_EQ(text.capacity(), 22u);
  EXPECT_STREQ(text.c_str(), "abcdefghijkl");
  text.clear();
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(text.capacity(), 22u);
}

TEST(String, LengthErrorsNameTheOperation) {
  const oxa::string_t::size_type all = static_cast<oxa::string_t::size_type>(-1);
  const char* narrow = "ab";
  const wchar_t* wide = L"ab";
  ExpectLengthError([&] { oxa::string_t text(narrow, all); }, "oxa::basic_string_t constructor");
  ExpectLengthError([&] { oxa::wstring_t text(wide, all); }, "oxa::basic_string_t constructor");
  ExpectLengthError([&] { oxa::string_t text(all, 'x'); }, "oxa::basic_string_t fill constructor");
  ExpectLengthError([&] { oxa::wstring_t text(all, L'x'); }, "oxa::basic_string_t fill constructor");
  ExpectLengthError([] { oxa::string_t().reserve(oxa::string_t::max_size() + 1); },
                    "oxa::basic_string_t::reserve_extra()");
  ExpectLengthError([] { oxa::wstring_t().resize(oxa::wstring_t::max_size() + 1); },
                    "oxa::basic_string_t::resize_extra_at");
  ExpectLengthError([] { oxa::string_t().resize(oxa::string_t::max_size() + 1, 'x'); },
                    "oxa::basic_string_t::resize_extra_at");
  ExpectLengthError([&] { oxa::wstring_t().assign(wide, all); }, "oxa::basic_string_t::replace");
  // Appending what would just fit alone overflows a non-empty string.
  ExpectLengthError([&] { oxa::string_t(narrow).append(narrow, oxa::string_t::max_size()); },
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

  oxa::string_t narrow("0123456789");
  narrow.append(narrow.data() + 5, 5);
  narrow.append(narrow.view());
  EXPECT_EQ(narrow, "012345678956789012345678956789");
}

TEST(String, CopyMoveAndAssignment) {
  oxa::wstring_t longText(L"a text longer than the buffer");
  oxa::wstring_t copy(longText);
  copy[0] = L'A';
  EXPECT_EQ(longText, L"a text longer than the buffer");
  EXPECT_EQ(copy, L"A text longer than the buffer");

  const wchar_t* buffer = longText.data();
  oxa::wstring_t moved(std::move(longText));
  EXPECT_EQ(moved.data(), buffer);
  EXPECT_TRUE(longText.empty());
  EXPECT_STREQ(longText.c_str(), L"");

  oxa::string_t shortText("short");
  oxa::string_t movedShort(std::move(shortText));
  EXPECT_EQ(movedShort, "short");
  EXPECT_TRUE(shortText.empty());

  oxa::string_t target("a narrow text on the heap");
  target = std::move(movedShort);
  EXPECT_EQ(target, "short");
  const oxa::string_t& self = target;
  target = self;
  EXPECT_EQ(target, "short");
  target = "assigned";
  EXPECT_EQ(target, "assigned");
  target = std::string("from std::string, long");
  EXPECT_EQ(target, "from std::string, long");
  copy = moved;
  EXPECT_EQ(copy, moved);
}

TEST(String, ComparisonAndConversion) {
  const std::wstring source = L"value";
  const oxa::wstring_t text(source);
  EXPECT_TRUE(text == source);
  EXPECT_TRUE(source == text);
  EXPECT_TRUE(text == L"value");
  EXPECT_FALSE(text == L"valu");
  EXPECT_TRUE(text < L"values");
  EXPECT_TRUE(text > oxa::wstring_t(L"val"));
  EXPECT_EQ(text.str(), source);
  const std::wstring_view view = text;
  EXPECT_EQ(view, L"value");
  EXPECT_EQ(oxa::string_t(3, 'x'), "xxx");
  const oxa::string_t range("range");
  EXPECT_EQ(std::string(range.begin(), range.end()), "range");
}

class CountingAllocator final : public oxa::IAllocator {
 public:
  void* Allocate(std::size_t bytes) override {
    ++allocations;
    return oxa::ProcessHeapAllocate(bytes);
  }
  void Free(void* block) noexcept override {
    ++frees;
    oxa::ProcessHeapFree(block);
  }
  int allocations = 0;
  int frees = 0;
};

TEST(WideString, AllocatorServesEveryBuffer) {
  CountingAllocator allocator;
  {
    oxa::wstring_t text(&allocator);
    text.append(L"short");
    EXPECT_EQ(allocator.allocations, 0);
    text.append(L" and now long");
    text.append(L" and longer still, to grow twice");
    EXPECT_EQ(allocator.allocations, 2);
    EXPECT_EQ(allocator.frees, 1);
    // A copy keeps the allocator; a moved-into string takes it over.
    oxa::wstring_t copy(text);
    EXPECT_EQ(allocator.allocations, 3);
    oxa::wstring_t plain(L"process heap text, long enough");
    plain = std::move(copy);
    EXPECT_EQ(allocator.frees, 1);
  }
  EXPECT_EQ(allocator.frees, allocator.allocations);
}

}  // namespace
