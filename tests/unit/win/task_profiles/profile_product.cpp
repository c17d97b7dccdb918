#include "tests/unit/win/task_profiles/profile_product.h"

#include "tests/support/test_files.h"

#include "tests/support/msi_session.h"

#include <gtest/gtest.h>

#include <vector>

namespace task_profiles_test {

const char kTaskProfilesXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<profiles version=\"1\">\n"
    "  <node name=\"tasks\">\n"
    "    <node name=\"Scan\">\n"
    "      <node name=\"def\"><value name=\"enabled\" type=\"dword\">1</value></node>\n"
    "    </node>\n"
    "    <node name=\"Update\"/>\n"
    "    <node name=\"Old\"><value name=\"installed\" type=\"dword\">1</value></node>\n"
    "    <node name=\"Never\"/>\n"
    "  </node>\n"
    "</profiles>\n";

ProfileProduct::ProfileProduct(const std::wstring& name, bool rootEndsInBackslash, const std::string& profilesXml)
    : product_(name) {
  EXPECT_TRUE(CopyFileW(qvrtest::BuildPath(L"bin/vtcore.dll").c_str(), (Folder() + L"\\vtcore.dll").c_str(), FALSE))
      << "vtcore.dll is not built";
  WriteProductFile(L"profiles.xml", profilesXml);
  product_.SetString(L"environment", L"ProductRoot", rootEndsInBackslash ? Folder() + L"\\" : Folder());
  product_.SetString(L"environment", L"ProfilesXmlPath", L"%ProductRoot%\\profiles.xml");
  // Every declaration key that Initialize reads, so that it gets through.
  for (const wchar_t* key : {L"profiles", L"features", L"ProtoHandlers", L"shortcuts", L"registry", L"drivers",
                             L"Selfregs", L"Selfunregs", L"environment"}) {
    product_.CreateKey(std::wstring(L"Installer\\") + key);
  }
}

void ProfileProduct::WriteProductFile(const std::wstring& name, const std::string& bytes) {
  qvrtest::WriteAll(Folder() + L"\\" + name, bytes);
}

void ProfileProduct::DeclareProfile(const std::wstring& name, const std::wstring& path, DWORD type) {
  product_.SetString(L"Installer\\profiles", name.c_str(), path, type);
}

void ProfileProduct::AddFeature(const std::wstring& name, const std::wstring& productTypes,
                                const std::wstring& profiles, const std::wstring& disabledTypes, bool installed) {
  product_.AddFeature(name, productTypes, installed);
  product_.SetString(L"Installer\\features\\" + name, L"Profiles", profiles);
  if (!disabledTypes.empty()) {
    product_.SetString(L"Installer\\features\\" + name, L"DisabledProductTypes", disabledTypes);
  }
}

vtcore::SettingsNode ProfileProduct::StoredTree() const {
  vtcore::SettingsNode tree;
  if (GetFileAttributesW(StorePath().c_str()) == INVALID_FILE_ATTRIBUTES) return tree;
  const std::string text = qvrtest::ReadAll(StorePath());
  vtcore::ParseError error;
  EXPECT_EQ(vtcore::ParseStoreFile(text, tree, &error), oxa::rc::Ok) << error.Text();
  return tree;
}

std::optional<std::uint32_t> ProfileProduct::StoredDword(const std::string& node, const std::string& value) const {
  const vtcore::SettingsNode tree = StoredTree();
  std::vector<std::string> names;
  if (OXA_FAILED(vtcore::SplitNodePath(node, names))) return std::nullopt;
  const vtcore::SettingsNode* current = &tree;
  for (const auto& name : names) {
    const auto child = current->children.find(name);
    if (child == current->children.end()) return std::nullopt;
    current = child->second.get();
  }
  const auto found = current->values.find(value);
  if (found == current->values.end() || found->second.type != vtcore::kDwordValue || found->second.data.size() != 4) {
    return std::nullopt;
  }
  std::uint32_t data = 0;
  for (int i = 3; i >= 0; --i) data = (data << 8) | static_cast<unsigned char>(found->second.data[i]);
  return data;
}

ScopedVariable::ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  if (length > 0 && length < 4096) previous_ = std::wstring(buffer, length);
  SetEnvironmentVariableW(name, value);
}

ScopedVariable::~ScopedVariable() {
  SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

}  // namespace task_profiles_test
