#include "tests/unit/win/task_profiles/profile_product.h"

#include "companions/vtcore/settings_tree.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace task_profiles_test {

ProfileProduct::ProfileProduct(const std::wstring& name) : product_(name) {
  EXPECT_TRUE(CopyFileW(qvrtest::BuildPath(L"bin/vtcore.dll").c_str(), (Folder() + L"\\vtcore.dll").c_str(), FALSE))
      << "vtcore.dll is not built";
  qvrtest::WriteAll(XmlPath(),
                    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<profiles version=\"1\"><node name=\"tasks\">\n"
                    "  <node name=\"Scan\"><node name=\"def\"><value name=\"enabled\" type=\"dword\">1</value></node>"
                    "</node>\n"
                    "  <node name=\"Update\"/>\n"
                    "  <node name=\"Old\"><value name=\"installed\" type=\"dword\">1</value></node>\n"
                    "  <node name=\"Never\"/>\n"
                    "</node></profiles>\n");
  product_.SetString(L"environment", L"ProductRoot", Folder());
  product_.SetString(L"environment", L"ProfilesXmlPath", L"%ProductRoot%\\profiles.xml");
  product_.CreateDeclarationKeys();
  product_.CreateKey(L"Installer\\environment");
}

std::optional<std::uint32_t> ProfileProduct::StoredDword(const std::string& node, const std::string& value) const {
  const std::wstring store = XmlPath() + L".store";
  vtcore::SettingsNode tree;
  std::vector<std::string> names;
  if (!qvrtest::Exists(store) || OXA_FAILED(vtcore::SplitNodePath(node, names))) return std::nullopt;
  vtcore::ParseError error;
  EXPECT_EQ(vtcore::ParseStoreFile(qvrtest::ReadAll(store), tree, &error), oxa::rc::Ok) << error.Text();
  const vtcore::SettingsNode* current = &tree;
  for (const auto& name : names) {
    const auto child = current->children.find(name);
    if (child == current->children.end()) return std::nullopt;
    current = child->second.get();
  }
  const auto found = current->values.find(value);
  if (found == current->values.end() || found->second.type != vtcore::kDwordValue || found->second.data.size() != 4)
    return std::nullopt;
  std::uint32_t data = 0;
  std::memcpy(&data, found->second.data.data(), 4);  // little endian
  return data;
}

}  // namespace task_profiles_test
