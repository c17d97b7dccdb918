#include "Custom_Actions/qvrinst/key_value_list.h"

#include <gtest/gtest.h>

namespace {

using qvr::KeyValueList;

TEST(KeyValueList, ParsesCustomActionData) {
  KeyValueList list;
  ASSERT_TRUE(list.Parse(L"ProductType=vmobpc|Files=1|Registry=1|Plugins=1|ProtocolHandlers=1|Profiles=1"));
  EXPECT_EQ(list.GetValue(L"ProductType"), L"vmobpc");
  EXPECT_EQ(list.GetValue(L"Profiles"), L"1");
  EXPECT_EQ(list.Pairs().size(), 6u);
  EXPECT_EQ(list.GetValue(L"Missing"), L"");
  // Keys are case-sensitive.
  EXPECT_EQ(list.GetValue(L"producttype"), L"");
}

TEST(KeyValueList, BlanksSeparatorsAndDuplicates) {
  KeyValueList list;
  ASSERT_TRUE(list.Parse(L" ;ProductType=x|"));
  EXPECT_EQ(list.GetValue(L"ProductType"), L"x");

  ASSERT_TRUE(list.Parse(L"Files=1|Files=0"));
  EXPECT_EQ(list.GetValue(L"Files"), L"1");

  // Values keep every character; keys keep trailing blanks.
  ASSERT_TRUE(list.Parse(L"Registry=1 |Files =1|a=b=c;d"));
  EXPECT_EQ(list.GetValue(L"Registry"), L"1 ");
  EXPECT_EQ(list.GetValue(L"Files"), L"");
  EXPECT_EQ(list.GetValue(L"Files "), L"1");
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
