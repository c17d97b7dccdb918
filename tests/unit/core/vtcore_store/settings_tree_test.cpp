// The settings tree of vtcore.dll where the profile writer relies on it
// beyond what the profile tests reach through the store: how the store and a
// newer profiles.xml meet. The fuzzers check round trips.
#include "companions/vtcore/settings_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vtcore::SettingsNode;

SettingsNode Xml(const std::string& body) {
  SettingsNode root;
  EXPECT_EQ(vtcore::ParseProfilesXml("<profiles>" + body + "</profiles>", root), oxa::rc::Ok) << body;
  return root;
}

// A node the store holds keeps its stored values; declared nodes it lacks
// come with their declared values and children.
TEST(SettingsTree, StoredStateWinsAndDeclaredNodesAreAdded) {
  SettingsNode state =
      Xml("<node name=\"Scan\"><node name=\"def\"><value name=\"enabled\" type=\"dword\">0</value>"
          "</node></node>");
  vtcore::AddMissingNodes(state, Xml("<node name=\"Scan\"><value name=\"installed\" type=\"dword\">1</value></node>"
                                     "<node name=\"Update\"><value name=\"installed\" type=\"dword\">1</value>"
                                     "<node name=\"def\"/></node>"));
  EXPECT_TRUE(state.children.at("Scan")->values.empty());
  EXPECT_EQ(state.children.at("Scan")->children.at("def")->values.at("enabled").data, std::string("\0\0\0\0", 4));
  EXPECT_EQ(state.children.at("Update")->values.at("installed").data, std::string("\1\0\0\0", 4));
  EXPECT_EQ(state.children.at("Update")->children.count("def"), 1u);
}

}  // namespace
