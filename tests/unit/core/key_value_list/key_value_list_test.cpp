#include "Custom_Actions/qvrinst/key_value_list.h"

#include <gtest/gtest.h>

namespace {

using qvr::KeyValueList;

// The sample CustomActionData, blanks in values and keys, and absent keys show
// in the action's parameter line (tests/unit/win/installer/custom_actions_test).
TEST(KeyValueList, BlanksSeparatorsAndDuplicates) {
  KeyValueList list;
  ASSERT_TRUE(list.Parse(L" ;ProductType=x|"));
  EXPECT_EQ(list.GetValue(L"ProductType"), L"x");
  // Keys are case-sensitive.
  EXPECT_EQ(list.GetValue(L"producttype"), L"");

  ASSERT_TRUE(list.Parse(L"Files=1|Files=0"));
  EXPECT_EQ(list.GetValue(L"Files"), L"1");

  // Values keep every character.
  ASSERT_TRUE(list.Parse(L"a=b=c;d"));
  EXPECT_EQ(list.GetValue(L"a"), L"b=c;d");

  // A key with an empty value, and tabs before a key.
  ASSERT_TRUE(list.Parse(L"\ta=|\t b="));
  EXPECT_EQ(list.Pairs().size(), 2u);
  EXPECT_EQ(list.GetValue(L"b"), L"");
}

TEST(KeyValueList, MalformedTextFails) {
  KeyValueList list;
  for (const wchar_t* text : {L"Files", L"=1", L"a=b|c", L"a=b| =c", L"a=b|;;x"}) {
    EXPECT_FALSE(list.Parse(text)) << text;
    EXPECT_TRUE(list.ParseFailed());
  }
  // The flag is cleared by the next parse; the map is emptied before each.
  ASSERT_TRUE(list.Parse(L"a=b|"));
  EXPECT_FALSE(list.ParseFailed());
  ASSERT_TRUE(list.Parse(L""));
  EXPECT_TRUE(list.Pairs().empty());
  ASSERT_TRUE(list.Parse(L" ; \t"));
  EXPECT_TRUE(list.Pairs().empty());
}

}  // namespace
