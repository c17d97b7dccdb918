#include "Custom_Actions/qvrinst/key_value_list.h"

#include <gtest/gtest.h>

namespace {

using qvr::KeyValueList;

// The sample CustomActionData, blanks in values and keys, and absent keys show
// in the action's parameter line (tests/unit/win/installer/installer_test,
// tests/e2e/msi/custom_action_data_test.sh).
TEST(KeyValueList, BlanksSeparatorsAndDuplicates) {
  KeyValueList list;
  ASSERT_TRUE(list.Parse(L"Files=1|Files=0"));
  EXPECT_EQ(list.GetValue(L"Files"), L"1");
  // Values keep every character.
  ASSERT_TRUE(list.Parse(L"a=b=c;d|\t b="));
  EXPECT_EQ(list.GetValue(L"a"), L"b=c;d");
  EXPECT_EQ(list.Pairs().size(), 2u);
}

TEST(KeyValueList, MalformedTextFails) {
  KeyValueList list;
  for (const wchar_t* text : {L"Files", L"=1", L"a=b|c"}) EXPECT_FALSE(list.Parse(text)) << text;
  // The map is emptied before each parse.
  ASSERT_TRUE(list.Parse(L"a=b|"));
  ASSERT_TRUE(list.Parse(L" ; \t"));
  EXPECT_EQ(list.GetValue(L"a"), L"");
}

}  // namespace
