#include "platform/util/reg_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/oxa/exception/exception.h"
#include "tests/unit/win/registry/test_registry_key.h"

namespace qvr {
namespace {

using test::TestRegistryKey;
using namespace std::string_literals;

TEST(RegKey, OpenRemembersRootAndPath) {
  TestRegistryKey testKey;
  RegKey key;
  EXPECT_EQ(key.OpenForRead(HKEY_CURRENT_USER, testKey.PathOf(L"Missing")), oxa::rc::FileNotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.Path(), testKey.PathOf(L"Missing"));
  EXPECT_EQ(key.Root(), HKEY_CURRENT_USER);
  std::wstring text;
  EXPECT_EQ(key.QueryValue(L"value", text), oxa::rc::InvalidHandle);
  EXPECT_EQ(key.EnumSubKeys([](auto&&...) { return oxa::rc::Ok; }), oxa::rc::InvalidArgument);

  ASSERT_EQ(key.OpenForRead(HKEY_CURRENT_USER, testKey.Path()), oxa::rc::Ok);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.Path(), testKey.Path());

  // An empty path opens the root itself.
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, L"", KEY_READ), oxa::rc::Ok);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.Root(), HKEY_LOCAL_MACHINE);
  RegKey software;
  ASSERT_EQ(software.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_READ), oxa::rc::Ok);
  HKEY viaRoot = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key.Get(), L"SOFTWARE", 0, KEY_READ, &viaRoot), ERROR_SUCCESS);
  RegCloseKey(viaRoot);

  // Extra access bits come on top of KEY_READ.
  const DWORD number = 1;
  ASSERT_EQ(key.OpenForRead(HKEY_CURRENT_USER, testKey.Path()), oxa::rc::Ok);
  EXPECT_EQ(RegSetValueExW(key.Get(), L"n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number)),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(key.OpenForRead(HKEY_CURRENT_USER, testKey.Path(), KEY_SET_VALUE), oxa::rc::Ok);
  EXPECT_EQ(RegSetValueExW(key.Get(), L"n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number)),
            ERROR_SUCCESS);
}

TEST(RegKey, CurrentUserOfTheThread) {
  TestRegistryKey testKey;
  testKey.SetString(L"value", L"per user");
  RegKey key;
  ASSERT_EQ(key.OpenForRead(HKEY_CURRENT_USER, testKey.Path(), 0, true), oxa::rc::Ok);
  std::wstring text;
  EXPECT_EQ(key.QueryValue(L"value", text), oxa::rc::Ok);
  EXPECT_EQ(text, L"per user");
  EXPECT_EQ(key.Root(), HKEY_CURRENT_USER);
}

TEST(RegKey, ClassesRootOfTheThreadUserNeedsImpersonation) {
  RegKey key;
  try {
    key.OpenForRead(HKEY_CLASSES_ROOT, L"", 0, true);
    ADD_FAILURE() << "no exception";
  } catch (const oxa::CheckResultFailedException& error) {
    EXPECT_EQ(oxa::GetExceptionResultCode(error), oxa::rc::NotFound);
    EXPECT_STREQ(error.GetFile(), "platform/util/reg_utils");
    EXPECT_EQ(error.GetLine(), 468);
  }
  EXPECT_FALSE(key.IsOpen());
  // Without the flag the classes root is used as it is.
  EXPECT_EQ(key.OpenForRead(HKEY_CLASSES_ROOT, L""), oxa::rc::Ok);

  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  const oxa::ResultCode result = key.OpenForRead(HKEY_CLASSES_ROOT, L"", 0, true);
  RevertToSelf();
  EXPECT_EQ(result, oxa::rc::Ok);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.Root(), HKEY_CLASSES_ROOT);
}

class QueryValueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(key_.OpenForRead(HKEY_CURRENT_USER, testKey_.Path()), oxa::rc::Ok); }

  oxa::ResultCode Query(const wchar_t* name, std::wstring& text, bool expand = false) {
    text = L"stale";
    return key_.QueryValue(name, text, expand);
  }

  TestRegistryKey testKey_;
  RegKey key_;
};

TEST_F(QueryValueTest, RejectsWrongTypesAndEmptyData) {
  const DWORD number = 7;
  testKey_.SetValue(L"number", REG_DWORD, &number, sizeof(number));
  testKey_.SetValue(L"empty", REG_SZ, L"", 0);
  testKey_.SetValue(L"multi", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
  std::wstring text;
  EXPECT_EQ(Query(L"number", text), oxa::rc::InvalidType);
  EXPECT_EQ(Query(L"empty", text), oxa::rc::InvalidSize);
  EXPECT_EQ(Query(L"multi", text), oxa::rc::InvalidType);
  EXPECT_EQ(Query(L"missing", text), oxa::rc::FileNotFound);
}

TEST_F(QueryValueTest, ReadsUpToTheFirstNul) {
  testKey_.SetString(L"plain", L"C:\\Program Files\\Product");
  testKey_.SetString(nullptr, L"default text");
  const std::wstring embedded = L"before\0after"s;
  testKey_.SetValue(L"embedded", REG_SZ, embedded.data(), static_cast<DWORD>(embedded.size() * sizeof(wchar_t)));
  // The registry would add the missing terminator if the next character were a NUL.
  testKey_.SetValue(L"unterminated", REG_SZ, L"abcde", 4 * sizeof(wchar_t));
  testKey_.SetValue(L"odd", REG_SZ, L"abc", 5);
  const std::wstring longText(3000, L'q');
  testKey_.SetString(L"long", longText);

  std::wstring text;
  EXPECT_EQ(Query(L"plain", text), oxa::rc::Ok);
  EXPECT_EQ(text, L"C:\\Program Files\\Product");
  EXPECT_EQ(Query(L"", text), oxa::rc::Ok);
  EXPECT_EQ(text, L"default text");
  EXPECT_EQ(Query(nullptr, text), oxa::rc::Ok);
  EXPECT_EQ(text, L"default text");
  EXPECT_EQ(Query(L"embedded", text), oxa::rc::Ok);
  EXPECT_EQ(text, L"before");
  EXPECT_EQ(Query(L"unterminated", text), oxa::rc::Ok);
  EXPECT_EQ(text, L"abcd");
  EXPECT_EQ(Query(L"odd", text), oxa::rc::Ok);
  EXPECT_EQ(text, L"abc");
  EXPECT_EQ(Query(L"long", text), oxa::rc::Ok);
  EXPECT_EQ(text, longText);
}

TEST_F(QueryValueTest, ExpandsEnvironmentReferencesOnRequest) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"QVR_TEST_FOLDER", L"C:\\qvr test"));
  testKey_.SetString(L"expand", L"%QVR_TEST_FOLDER%\\bin", REG_EXPAND_SZ);
  testKey_.SetString(L"plain", L"%QVR_TEST_FOLDER%", REG_SZ);
  testKey_.SetString(L"unset", L"%QVR_TEST_UNSET%\\x", REG_EXPAND_SZ);

  std::wstring text;
  EXPECT_EQ(Query(L"expand", text), oxa::rc::Ok);
  EXPECT_EQ(text, L"%QVR_TEST_FOLDER%\\bin");
  EXPECT_EQ(Query(L"expand", text, true), oxa::rc::Ok);
  EXPECT_EQ(text, L"C:\\qvr test\\bin");
  EXPECT_EQ(Query(L"plain", text, true), oxa::rc::Ok);
  EXPECT_EQ(text, L"C:\\qvr test");
  EXPECT_EQ(Query(L"unset", text, true), oxa::rc::Ok);
  EXPECT_EQ(text, L"%QVR_TEST_UNSET%\\x");
  SetEnvironmentVariableW(L"QVR_TEST_FOLDER", nullptr);
}

struct Visit {
  std::wstring name;
  std::wstring parentPath;
  HKEY root;
  bool operator==(const Visit&) const = default;
};

class EnumSubKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* subkey : {L"A", L"A\\A1", L"B"}) ASSERT_EQ(testKey_.CreateSubKey(subkey), ERROR_SUCCESS);
    ASSERT_EQ(key_.OpenForRead(HKEY_CURRENT_USER, testKey_.Path()), oxa::rc::Ok);
  }

  // Records every visit; `decide` may clear the descend flag or end the walk.
  template <typename Decide>
  oxa::ResultCode Walk(const RegKey& key, Decide decide) {
    return key.EnumSubKeys([&](const std::wstring& name, bool& descend, const std::wstring& parentPath, HKEY root) {
      visits_.push_back({name, parentPath, root});
      return decide(name, descend, parentPath);
    });
  }

  TestRegistryKey testKey_;
  RegKey key_;
  std::vector<Visit> visits_;
};

TEST_F(EnumSubKeysTest, DepthFirstAndSkipsOverlongNames) {
  // Windows refuses names over 255 characters; Wine stores them, and the walk
  // must step over them.
  const std::wstring overlong(256, L'L');
  testKey_.CreateSubKey(overlong);
  const std::wstring longest(255, L'M');
  ASSERT_EQ(testKey_.CreateSubKey(longest), ERROR_SUCCESS);

  EXPECT_EQ(Walk(key_, [](auto&&...) { return oxa::rc::Ok; }), oxa::rc::Ok);
  const std::vector<Visit> expected = {
      {L"A", testKey_.Path(), HKEY_CURRENT_USER},
      {L"A1", testKey_.PathOf(L"A"), HKEY_CURRENT_USER},
      {L"B", testKey_.Path(), HKEY_CURRENT_USER},
      {longest, testKey_.Path(), HKEY_CURRENT_USER},
  };
  EXPECT_EQ(visits_, expected);
}

TEST_F(EnumSubKeysTest, VisitorControlsTheWalk) {
  EXPECT_EQ(Walk(key_, [](const std::wstring&, bool& descend, auto&&) {
              descend = false;
              return oxa::rc::Ok;
            }),
            oxa::rc::Ok);
  EXPECT_EQ(visits_.size(), 2u);
  EXPECT_EQ(visits_[0].name, L"A");
  EXPECT_EQ(visits_[1].name, L"B");

  // Any non-zero result ends the walk, a success code like 1 too, also inside a subkey.
  for (const oxa::ResultCode stop : {oxa::rc::False, oxa::rc::NotMatched}) {
    visits_.clear();
    EXPECT_EQ(Walk(key_, [&](const std::wstring& name, auto&&...) { return name == L"A1" ? stop : oxa::rc::Ok; }),
              stop);
    ASSERT_EQ(visits_.size(), 2u);
    EXPECT_EQ(visits_[1].name, L"A1");
  }
}

TEST_F(EnumSubKeysTest, WalkFromTheRootItself) {
  // Only the branch down to the test key is followed; child paths of the
  // root's own subkeys carry no leading backslash.
  RegKey root;
  ASSERT_EQ(root.OpenForRead(HKEY_CURRENT_USER, L""), oxa::rc::Ok);
  const std::wstring testName = testKey_.Path().substr(std::wstring(TestRegistryKey::kParent).size() + 1);
  const oxa::ResultCode result = Walk(root, [&](const std::wstring& name, bool& descend, const std::wstring& parent) {
    descend = (parent.empty() && _wcsicmp(name.c_str(), L"Software") == 0) ||
              (_wcsicmp(parent.c_str(), L"Software") == 0 && name == L"QvrTest") ||
              (parent == TestRegistryKey::kParent && name == testName) ||
              parent.starts_with(testKey_.Path());
    return oxa::rc::Ok;
  });
  EXPECT_EQ(result, oxa::rc::Ok);
  std::vector<std::wstring> below;
  for (const Visit& visit : visits_) {
    if (visit.parentPath.starts_with(testKey_.Path())) below.push_back(visit.parentPath + L"|" + visit.name);
  }
  const std::vector<std::wstring> expected = {testKey_.Path() + L"|A", testKey_.PathOf(L"A") + L"|A1",
                                              testKey_.Path() + L"|B"};
  EXPECT_EQ(below, expected);
}

TEST_F(EnumSubKeysTest, SubkeyThatCannotBeOpenedEndsTheWalk) {
  // The visitor removes the subkey before the walk descends into it.
  const oxa::ResultCode result = Walk(key_, [&](const std::wstring& name, bool&, const std::wstring& parent) {
    if (name == L"B") RegDeleteKeyW(HKEY_CURRENT_USER, (parent + L"\\B").c_str());
    return oxa::rc::Ok;
  });
  EXPECT_EQ(result, oxa::rc::FileNotFound);
  EXPECT_EQ(visits_.back().name, L"B");
}

}  // namespace
}  // namespace qvr
