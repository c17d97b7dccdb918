// The product identity record: its GUID text and copies that keep nothing of the buffers they were made from.
#include "platform/product_info/product_info_record.h"

#include <gtest/gtest.h>

#include <string>

#include "component/oxa/exception/exception.h"

namespace {

using qvr::ProductGuid;
using qvr::ProductInfo;

std::wstring Text(const oxa::wstring_t& text) { return text.str(); }

TEST(ProductGuidText, EitherCaseWithOrWithoutBracesElseAGuidSyntaxError) {
  const ProductGuid expected{0x0123ABCDu, 0xEF01, 0x2345, {0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}};
  EXPECT_EQ(qvr::ParseProductGuid(L"0123ABCD-EF01-2345-6789-ABCDEF012345"), expected);
  EXPECT_EQ(qvr::ParseProductGuid(L"{0123abcd-EF01-2345-6789-abcdef012345}"), expected);
  for (const wchar_t* text : {
           L"0123ABCD-EF01-2345-6789-ABCDEF01234",    // short
           L"0123ABCD-EF01-2345-6789-ABCDEF0123456",  // long
           L"0123ABCD+EF01-2345-6789-ABCDEF012345",   // separator
           L"0123ABCG-EF01-2345-6789-ABCDEF012345",   // not hex
           L"{0123ABCD-EF01-2345-6789-ABCDEF012345",  // one brace
       }) {
    try {
      qvr::ParseProductGuid(text);
      ADD_FAILURE() << "accepted " << testing::PrintToString(std::wstring(text));
    } catch (const oxa::ResultCodeException& error) {
      EXPECT_EQ(error.GetResultCode(), oxa::rc::GuidSyntaxError);
      EXPECT_NE(std::string(error.what()).find("): Bad guid syntax."), std::string::npos) << error.what();
    }
  }
}

class CountingAllocator final : public oxa::IAllocator {
 public:
  void* Allocate(std::size_t bytes) override {
    ++held;
    return ::operator new(bytes);
  }
  void Free(void* block) noexcept override {
    --held;
    ::operator delete(block);
  }
  int held = 0;
};

// The copy takes no block of the allocator the texts came from (the library's heap goes with the library); the 28
// blocks show that the table of text fields names 28 different ones.
TEST(ProductInfoRecord, ProcessHeapCopyOwnsItsTexts) {
  CountingAllocator allocator;
  ProductInfo filled;
  const auto textOf = [](const qvr::ProductInfoTextField& field) {
    return L"a text longer than the inline buffer: " + std::wstring(field.name.begin(), field.name.end());
  };
  for (const qvr::ProductInfoTextField& field : qvr::kProductInfoTextFields) {
    oxa::wstring_t text(&allocator);
    text.assign(textOf(field));
    filled.*field.member = std::move(text);
  }
  filled.Size = 77;
  filled.ApplicationId.Data1 = 5;
  filled.RegistryRoot = 0x80000001u;
  filled.MajorVersion = 22;
  filled.MinorVersion = 31;
  ASSERT_EQ(allocator.held, 28);
  const ProductInfo copy = qvr::CopyToProcessHeap(filled);
  EXPECT_EQ(allocator.held, 28);
  filled = ProductInfo();
  EXPECT_EQ(allocator.held, 0);
  for (const qvr::ProductInfoTextField& field : qvr::kProductInfoTextFields)
    EXPECT_EQ(Text(copy.*field.member), textOf(field));
  EXPECT_EQ(copy.Size, 77u);
  EXPECT_EQ(copy.ApplicationId.Data1, 5u);
  EXPECT_EQ(copy.RegistryRoot, 0x80000001u);
  EXPECT_EQ(copy.MajorVersion, 22u);
  EXPECT_EQ(copy.MinorVersion, 31u);
}

}  // namespace
