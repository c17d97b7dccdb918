#include "platform/util/scoped_reg_key.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "component/oxa/exception/exception.h"
#include "tests/support/registry_guards.h"

namespace qvr {
namespace {

using qvrtest::TestRegistryKey;

TEST(ScopedRegKey, PlainOpenCreateAndClose) {
  TestRegistryKey testKey;
  ScopedRegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, testKey.PathOf(L"New").c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_EQ(key.ViewBits(), 0u);

  // The view bits come from the access of the latest open; a failed open keeps the key and its bits.
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ | KEY_WOW64_64KEY), ERROR_SUCCESS);
  EXPECT_EQ(key.ViewBits(), static_cast<REGSAM>(KEY_WOW64_64KEY));
  const HKEY opened = key.Get();
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, testKey.PathOf(L"Missing").c_str(), KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.Get(), opened);
  EXPECT_EQ(key.ViewBits(), static_cast<REGSAM>(KEY_WOW64_64KEY));

  key.Close();
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.ViewBits(), 0u);
}

// Wine 8 lacks RegOpenKeyTransactedW: plain access would succeed, so each answer shows no fallback to it.
TEST(ScopedRegKey, TransactionsRefusePlainAccessUnlessAllowed) {
  TestRegistryKey testKey;
  RegTransaction transaction{nullptr, true};
  ScopedRegKey key(&transaction);
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ), ERROR_SUCCESS);
  const HKEY opened = key.Get();
  transaction.allowPlainAccess = false;
  EXPECT_EQ(key.Create(HKEY_CURRENT_USER, testKey.PathOf(L"Refused").c_str(), KEY_ALL_ACCESS), ERROR_INVALID_FUNCTION);
  EXPECT_FALSE(testKey.Exists(L"Refused"));
  transaction.handle = GetCurrentProcess();  // any handle: the open is never made
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(key.Get(), opened);
}

class ReadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(key_.Open(HKEY_CURRENT_USER, testKey_.Path().c_str(), KEY_READ), ERROR_SUCCESS); }

  TestRegistryKey testKey_;
  ScopedRegKey key_;
};

TEST_F(ReadTest, StringPolicies) {
  using P = StringPolicy;
  const std::wstring data(L"ab\0cd\0", 6);
  struct Row {
    DWORD type;
    DWORD bytes;
    P policy;
    LONG result;
    std::wstring text;
  } rows[] = {
      // One terminator dropped, embedded NULs kept.
      {REG_SZ, 12, P::kSzOnly, ERROR_SUCCESS, std::wstring(L"ab\0cd", 5)},
      {REG_SZ, 10, P::kSzOnly, ERROR_SUCCESS, std::wstring(L"ab\0cd", 5)},
      // An odd size completes the last unit with a zero byte.
      {REG_SZ, 9, P::kSzOnly, ERROR_SUCCESS, std::wstring(L"ab\0c", 4) + L'd'},
      {REG_EXPAND_SZ, 12, P::kSzOnly, ERROR_DATATYPE_MISMATCH, L""},
      {REG_EXPAND_SZ, 12, P::kSzOrExpandSz, ERROR_SUCCESS, std::wstring(L"ab\0cd", 5)},
      {REG_BINARY, 12, P::kSzOrExpandSz, ERROR_DATATYPE_MISMATCH, L""},
      // (Wine terminates an even-sized REG_SZ as it reads it: an odd size shows the missing terminator.)
      {REG_SZ, 11, P::kTerminatedSzOrExpandSz, ERROR_INVALID_DATA, L""},
      {REG_SZ, 0, P::kTerminatedSzOrExpandSz, ERROR_SUCCESS, L""},
      {REG_SZ, 2, P::kTerminatedSzOrExpandSz, ERROR_INVALID_DATA, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "type " << row.type << ", " << row.bytes << " bytes, policy "
                                    << static_cast<int>(row.policy));
    testKey_.SetValue(L"value", row.type, data.c_str(), row.bytes);
    std::wstring text = L"stale";
    EXPECT_EQ(key_.ReadString(L"value", row.policy, text), row.result);
    EXPECT_EQ(text, row.text);
  }
}

TEST_F(ReadTest, WholeStringsOfEveryLength) {
  // Around the 64-character first read and well above it, into strings with no buffer and with one large enough.
  for (const std::size_t length : {0u, 63u, 64u, 65u, 5000u}) {
    std::wstring value;
    for (std::size_t i = 0; i < length; ++i) value += static_cast<wchar_t>(L'a' + i % 26);
    testKey_.SetString(L"value", value);
    for (const std::size_t reserved : {0u, 64u, 6000u}) {
      std::wstring text = L"stale";
      text.reserve(reserved);
      ASSERT_EQ(key_.ReadString(L"value", StringPolicy::kSzOnly, text), ERROR_SUCCESS);
      EXPECT_EQ(text, value) << length << " characters, " << reserved << " reserved";
    }
  }
}

TEST_F(ReadTest, NumbersOfTheirOwnTypeAndSize) {
  const std::uint64_t wide = 0x0006000200000000ull;
  const DWORD narrow = 7;
  testKey_.SetValue(L"qword", REG_QWORD, &wide, sizeof(wide));
  testKey_.SetValue(L"dword", REG_DWORD, &narrow, sizeof(narrow));
  testKey_.SetValue(L"short", REG_DWORD, &narrow, 2);
  DWORD dword = 99;
  std::uint64_t qword = 99;
  EXPECT_EQ(key_.ReadDword(L"dword", dword), ERROR_SUCCESS);
  EXPECT_EQ(dword, 7u);
  EXPECT_EQ(key_.ReadQword(L"qword", qword), ERROR_SUCCESS);
  EXPECT_EQ(qword, wide);
  EXPECT_EQ(key_.ReadDword(L"qword", dword), ERROR_DATATYPE_MISMATCH);
  EXPECT_EQ(key_.ReadDword(L"short", dword), ERROR_DATATYPE_MISMATCH);
  EXPECT_EQ(key_.ReadDword(L"missing", dword), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(dword, 7u);
}

TEST_F(ReadTest, VisitorsSeeNamesInIndexOrderAndDecideOnErrors) {
  testKey_.SetString(L"first", L"1");
  testKey_.SetString(std::wstring(30, L'h').c_str(), L"long");  // Wine keeps values sorted by name
  testKey_.SetString(L"last", L"2");
  std::vector<std::wstring> names;
  auto collect = [&](const std::wstring& name) { return names.push_back(name), true; };
  // A name longer than the buffer is stepped over, or ends the walk with its error.
  EXPECT_EQ(key_.VisitValueNames(16, collect, [](LONG error) { return error == ERROR_MORE_DATA; }), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"first", L"last"}));
  names.clear();
  EXPECT_EQ(key_.VisitValueNames(16, collect, StopAtEnumError), ERROR_MORE_DATA);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"first"}));
  // A visitor's false ends the walk.
  names.clear();
  auto collectOne = [&](const std::wstring& name) { return !collect(name); };
  EXPECT_EQ(key_.VisitValueNames(256, collectOne, StopAtEnumError), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"first"}));
}

// The classes root of the thread's user needs the thread's own token.
TEST(ScopedRegKey, HivesOfTheThreadUser) {
  TestRegistryKey testKey;
  ScopedRegKey key;
  ASSERT_EQ(key.OpenForThreadUser(HKEY_CURRENT_USER, testKey.Path().c_str(), KEY_READ), ERROR_SUCCESS);
  try {
    key.OpenForThreadUser(HKEY_CLASSES_ROOT, L"", KEY_READ);
    ADD_FAILURE() << "no exception";
  } catch (const oxa::CheckResultFailedException& error) {
    EXPECT_EQ(oxa::GetExceptionResultCode(error), oxa::rc::NotFound);
    EXPECT_STREQ(error.GetFile(), "platform/util/reg_utils");
    EXPECT_EQ(error.GetLine(), 468);
  }
  EXPECT_TRUE(key.IsOpen());
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  const LONG result = key.OpenForThreadUser(HKEY_CLASSES_ROOT, L"", KEY_READ);
  RevertToSelf();
  EXPECT_EQ(result, ERROR_SUCCESS);
}

}  // namespace
}  // namespace qvr
