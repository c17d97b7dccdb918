// Expansion of "%Name%" references from the product's environment values.
#include "Custom_Actions/COMMON/product_variables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// Stored values and system variables from maps; every question is recorded.
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

TEST(ProductVariables, Expansion) {
  MapVariables variables;
  variables.stored = {{L"ProductRoot", L"C:\\P\\"},
                      {L"ProfilesXmlPath", L"%ProductRoot%\\profiles.xml"},
                      {L"Sub", L"\\sub\\"},
                      {L"A", L"stored"},
                      {L"Self", L"x%Self%"}};
  variables.system = {{L"A", L"system"}, {L"TEMP", L"C:\\temp"}, {L"ProductRoot", L"system"}};
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      // A backslash beside the reference takes the value's own one there.
      {L"%ProfilesXmlPath%", L"C:\\P\\profiles.xml"},
      {L"C:\\%Sub%\\file", L"C:\\sub\\file"},
      {L"C:%Sub%file", L"C:\\sub\\file"},
      {L"%A%|%TEMP%|%NONE%|%%", L"stored|C:\\temp||"},
      // Percent signs pair up as they come: "% %" is a reference to " ".
      {L"100% %A%", L"100A%"},
      // A text without reference is taken as a name of a stored value.
      {L"ProductRoot", L"C:\\P\\"},
  };
  for (const auto& [text, expanded] : cases) EXPECT_EQ(qvr::ExpandProductVariables(text, variables), expanded) << text;
  EXPECT_THAT(variables.systemAsked, testing::ElementsAre(L"%TEMP%", L"%NONE%", L"%%", L"% %"));

  variables.storedAsked.clear();
  EXPECT_EQ(qvr::ExpandProductVariables(L"%Self%", variables), L"");
  EXPECT_EQ(variables.storedAsked.size(), 14u) << "the fourteenth reference is expanded, the fifteenth not";
}

}  // namespace
