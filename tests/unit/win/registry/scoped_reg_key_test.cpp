#include "platform/util/scoped_reg_key.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/win/registry/test_registry_key.h"

namespace qvr {
namespace {

using test::TestRegistryKey;
using namespace std::string_literals;

TEST(ScopedRegKey, PlainOpenCreateAndClose) {
  TestRegistryKey testKey;
  ScopedRegKey key;
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, testKey.PathOf(L"Missing").c_str(), KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.IsOpen());

  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, testKey.PathOf(L"New").c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_TRUE(testKey.Exists(L"New"));
  EXPECT_EQ(key.ViewBits(), 0u);

  // The view bits come from the access of the latest open; a failed open keeps
  // the key and its bits.
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ | KEY_WOW64_64KEY), ERROR_SUCCESS);
  EXPECT_EQ(key.ViewBits(), static_cast<REGSAM>(KEY_WOW64_64KEY));
  const HKEY opened = key.Get();
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, testKey.PathOf(L"Missing").c_str(), KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.Get(), opened);
  EXPECT_EQ(key.ViewBits(), static_cast<REGSAM>(KEY_WOW64_64KEY));

  ScopedRegKey moved(std::move(key));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(moved.Get(), opened);
  EXPECT_EQ(moved.ViewBits(), static_cast<REGSAM>(KEY_WOW64_64KEY));

  moved.Close();
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_EQ(moved.ViewBits(), 0u);
}

TEST(ScopedRegKey, TransactionWithoutHandleUsesPlainAccessOnlyWhenAllowed) {
  TestRegistryKey testKey;
  RegTransaction transaction{nullptr, true};
  ScopedRegKey key(&transaction);
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ), ERROR_SUCCESS);
  const HKEY opened = key.Get();

  transaction.allowPlainAccess = false;
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, L"Software", KEY_READ), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(key.Get(), opened);
  EXPECT_EQ(key.Create(HKEY_CURRENT_USER, testKey.PathOf(L"Refused").c_str(), KEY_ALL_ACCESS), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(key.Get(), opened);
  EXPECT_FALSE(testKey.Exists(L"Refused"));

  // The previous handle is still a working key.
  DWORD subKeys = 99;
  EXPECT_EQ(RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
}

using CreateTransactionFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPGUID, DWORD, DWORD, DWORD, DWORD, LPWSTR);

// Wine 8, where the tests run, has half of the transacted registry functions:
// advapi32 does not export RegOpenKeyTransactedW, and it exports
// RegCreateKeyTransactedW, which creates nothing and answers
// ERROR_CALL_NOT_IMPLEMENTED. Plain access would succeed in both cases, so
// each answer shows that the key went through the transacted function (or
// its absence) and never fell back to plain access.
TEST(ScopedRegKey, TransactedAccessGoesThroughTheTransactedFunctions) {
  const HMODULE advapi = GetModuleHandleW(L"Advapi32.dll");
  ASSERT_NE(advapi, nullptr);
  ASSERT_EQ(GetProcAddress(advapi, "RegOpenKeyTransactedW"), nullptr) << "this test knows Wine 8's advapi32 only";
  ASSERT_NE(GetProcAddress(advapi, "RegCreateKeyTransactedW"), nullptr) << "this test knows Wine 8's advapi32 only";

  TestRegistryKey testKey;
  const HMODULE ktm = LoadLibraryW(L"ktmw32.dll");
  ASSERT_NE(ktm, nullptr);
  const auto createTransaction =
      reinterpret_cast<CreateTransactionFn>(reinterpret_cast<void*>(GetProcAddress(ktm, "CreateTransaction")));
  ASSERT_NE(createTransaction, nullptr);

  RegTransaction transaction{nullptr, true};
  ScopedRegKey key(&transaction);
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ), ERROR_SUCCESS);
  const HKEY opened = key.Get();
  transaction.handle = createTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
  ASSERT_NE(transaction.handle, nullptr);
  ASSERT_NE(transaction.handle, INVALID_HANDLE_VALUE);

  // No transacted open: the open fails and the key stays the one it was.
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(key.Get(), opened);

  // The transacted create's answer is passed on; no key is made or kept.
  EXPECT_EQ(key.Create(HKEY_CURRENT_USER, testKey.PathOf(L"Transacted").c_str(), KEY_ALL_ACCESS),
            ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(key.Get(), opened);
  EXPECT_FALSE(testKey.Exists(L"Transacted"));

  CloseHandle(transaction.handle);
  FreeLibrary(ktm);
}

class QueryStringTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(key_.Open(HKEY_CURRENT_USER, testKey_.Path().c_str(), KEY_READ), ERROR_SUCCESS); }

  // Stores `bytes` bytes of `data` as a REG_SZ value and reads it back.
  std::wstring StoreAndQuery(const std::wstring& data, DWORD bytes, LONG expected = ERROR_SUCCESS) {
    testKey_.SetValue(L"value", REG_SZ, data.c_str(), bytes);
    std::wstring text = L"stale";
    EXPECT_EQ(key_.QueryString(L"value", text), expected);
    return text;
  }

  TestRegistryKey testKey_;
  ScopedRegKey key_;
};

TEST_F(QueryStringTest, RejectsOtherTypesAndMissingValues) {
  testKey_.SetString(L"expand", L"%SystemRoot%", REG_EXPAND_SZ);
  const DWORD number = 5;
  testKey_.SetValue(L"number", REG_DWORD, &number, sizeof(number));
  std::wstring text = L"stale";
  EXPECT_EQ(key_.QueryString(L"expand", text), ERROR_DATATYPE_MISMATCH);
  EXPECT_TRUE(text.empty());
  text = L"stale";
  EXPECT_EQ(key_.QueryString(L"number", text), ERROR_DATATYPE_MISMATCH);
  EXPECT_TRUE(text.empty());
  text = L"stale";
  EXPECT_EQ(key_.QueryString(L"missing", text), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(text.empty());

  ScopedRegKey closed;
  EXPECT_EQ(closed.QueryString(L"value", text), ERROR_INVALID_HANDLE);
}

TEST_F(QueryStringTest, ReadsWholeValuesOfEveryLength) {
  // Around the 64-character first read and well above it, into a string that
  // brings no buffer and into one whose own buffer is large enough.
  for (const std::size_t length : {0u, 1u, 62u, 63u, 64u, 65u, 1000u, 5000u}) {
    std::wstring value;
    for (std::size_t i = 0; i < length; ++i) value += static_cast<wchar_t>(L'a' + i % 26);
    testKey_.SetString(L"value", value);
    for (const std::size_t reserved : {0u, 64u, 200u, 6000u}) {
      std::wstring text = L"stale";
      text.reserve(reserved);
      ASSERT_EQ(key_.QueryString(L"value", text), ERROR_SUCCESS) << length << " " << reserved;
      EXPECT_EQ(text, value) << length << " " << reserved;
    }
  }
}

TEST_F(QueryStringTest, EmptyValueWithoutData) {
  EXPECT_EQ(StoreAndQuery(L"", 0), L"");
}

TEST_F(QueryStringTest, KeepsEmbeddedNulsAndDropsOneTerminator) {
  EXPECT_EQ(StoreAndQuery(L"a\0b"s, 4 * sizeof(wchar_t)), L"a\0b"s);
  EXPECT_EQ(StoreAndQuery(L"ab\0\0"s, 4 * sizeof(wchar_t)), L"ab\0"s);
  EXPECT_EQ(StoreAndQuery(L"\0"s, sizeof(wchar_t)), L"");
}

// The registry adds a terminator the writer forgot when the next character in
// its memory is a NUL, so the data below never has one there.
TEST_F(QueryStringTest, MissingTerminatorAndOddSizes) {
  EXPECT_EQ(StoreAndQuery(L"abcd", 3 * sizeof(wchar_t)), L"abc");
  // Half a code unit at the end is completed, not dropped.
  EXPECT_EQ(StoreAndQuery(L"abc", 5), L"abc");
  EXPECT_EQ(StoreAndQuery(L"\x4142", 1), L"\x0042");
  // The same through the regrowth path.
  const std::wstring longValue(300, L'x');
  EXPECT_EQ(StoreAndQuery(longValue, 599), longValue);
}

}  // namespace
}  // namespace qvr
