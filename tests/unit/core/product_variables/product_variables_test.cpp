// Expansion of "%Name%" references from the product's environment values.
#include "Custom_Actions/COMMON/product_variables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Stored values from a map; system variables from another; every question
// is recorded.
class MapVariables final : public qvr::ProductVariableSource {
 public:
  std::map<std::wstring, std::wstring> stored;
  std::map<std::wstring, std::wstring> system;
  std::vector<std::wstring> storedAsked;
  std::vector<std::wstring> systemAsked;

  std::wstring StoredValue(const std::wstring& name) override {
    storedAsked.push_back(name);
    const auto found = stored.find(name);
    return found == stored.end() ? std::wstring() : found->second;
  }
  std::wstring SystemExpansion(const std::wstring& reference) override {
    systemAsked.push_back(reference);
    const auto found = system.find(reference.substr(1, reference.size() - 2));
    return found == system.end() ? reference : found->second;
  }
};

std::wstring Expand(MapVariables& variables, const std::wstring& text) {
  return qvr::ExpandProductVariables(text, variables);
}

TEST(ProductVariables, ProfilesXmlPathHasOneBackslashWhateverProductRootEndsIn) {
  for (const wchar_t* root : {L"C:\\Program Files\\Product", L"C:\\Program Files\\Product\\"}) {
    MapVariables variables;
    variables.stored = {{L"ProductRoot", root}, {L"ProfilesXmlPath", L"%ProductRoot%\\profiles.xml"}};
    EXPECT_EQ(Expand(variables, L"%ProfilesXmlPath%"), L"C:\\Program Files\\Product\\profiles.xml") << root;
    EXPECT_EQ(Expand(variables, L"%ProductRoot%"), root);
  }
  // A backslash before the reference takes the value's leading one.
  MapVariables variables;
  variables.stored = {{L"Sub", L"\\sub\\"}, {L"Only", L"\\"}};
  EXPECT_EQ(Expand(variables, L"C:\\%Sub%\\file"), L"C:\\sub\\file");
  EXPECT_EQ(Expand(variables, L"C:%Sub%file"), L"C:\\sub\\file");
  EXPECT_EQ(Expand(variables, L"a\\%Only%\\b"), L"a\\\\b") << "the one character goes at the first rule";
}

TEST(ProductVariables, StoredValuesThenSystemVariables) {
  MapVariables variables;
  variables.stored = {{L"A", L"stored"}};
  variables.system = {{L"A", L"system"}, {L"TEMP", L"C:\\temp"}};
  EXPECT_EQ(Expand(variables, L"%A%|%TEMP%|%NONE%|%%"), L"stored|C:\\temp||");
  EXPECT_THAT(variables.systemAsked, testing::ElementsAre(L"%TEMP%", L"%NONE%", L"%%"));
  // Percent signs pair up as they come: "% %" is a reference to " ".
  EXPECT_EQ(Expand(variables, L"100% %A%"), L"100A%");
  EXPECT_EQ(Expand(variables, L"%A% 100%"), L"stored 100%");
}

TEST(ProductVariables, TheFifteenthReferenceEmptiesTheText) {
  MapVariables variables;
  variables.stored = {{L"Self", L"x%Self%"}};
  EXPECT_EQ(Expand(variables, L"%Self%"), L"");
  EXPECT_EQ(variables.storedAsked.size(), 14u) << "the fourteenth reference is expanded, the fifteenth not";
}

TEST(ProductVariables, TextWithoutReferenceIsTakenAsAName) {
  MapVariables variables;
  variables.stored = {{L"ProductRoot", L"C:\\P"}};
  variables.system = {{L"ProductRoot", L"system"}};
  EXPECT_EQ(Expand(variables, L"ProductRoot"), L"C:\\P");
  EXPECT_EQ(Expand(variables, L"C:\\plain"), L"");
  EXPECT_TRUE(variables.systemAsked.empty()) << "the name alone is looked up in the stored values only";
}

}  // namespace
