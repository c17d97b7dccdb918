// The parsers of vtcore.dll's settings tree at their edges: profiles.xml and
// the store file. The profile tests reach the common forms through the
// stored state; the fuzzers check round trips.
#include "companions/vtcore/settings_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vtcore::SettingsNode;
using vtcore::SettingsValue;

std::string Dword(std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }
std::string Profiles(const std::string& body) { return "<profiles>" + body + "</profiles>"; }
std::string Value(const std::string& attributes, const std::string& content) {
  return Profiles("<node name=\"n\"><value " + attributes + ">" + content + "</value></node>");
}

// The parse's message ("" when it succeeded); a rejected file leaves no tree.
std::string XmlParse(const std::string& text, SettingsNode& root) {
  vtcore::ParseError error;
  const oxa::ResultCode result = vtcore::ParseProfilesXml(text, root, &error);
  if (result == oxa::rc::Ok) return "";
  EXPECT_EQ(result, oxa::rc::SyntaxError) << text;
  EXPECT_TRUE(root == SettingsNode()) << text;
  EXPECT_NE(error.Text(), "") << text;
  return error.Text();
}

TEST(ProfilesXml, TypedValuesEntitiesAndWhatSurroundsTheRoot) {
  SettingsNode root;
  ASSERT_EQ(XmlParse("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- tasks -->\n<profiles version='1'>"
                     "<node name=\"Scan\">"
                     "<value name=\"installed\" type=\"dword\"> 1 </value>"
                     "<value name=\"mask\" type=\"dword\">0xFFFFFFFF</value>"
                     "<value name=\"big\" type=\"qword\">18446744073709551615</value>"
                     "<value name=\"title\" type=\"string\"> Full &amp; quick &#x263A;&#65;</value>"
                     "<value name=\"blob\" type=\"binary\">0a 0B\n ff</value><value name=\"none\" type=\"binary\"/>"
                     "<node name=\"def\"/></node><node name=\"a &lt;b&gt;\"></node></profiles>\n<!-- end -->\n",
                     root),
            "");
  EXPECT_EQ(root.children.count("a <b>"), 1u);
  const SettingsNode& scan = *root.children.at("Scan");
  EXPECT_EQ(scan.values.at("installed"), (SettingsValue{vtcore::kDwordValue, Dword(1)}));
  EXPECT_EQ(scan.values.at("mask"), (SettingsValue{vtcore::kDwordValue, Dword(0xFFFFFFFFu)}));
  EXPECT_EQ(scan.values.at("big"), (SettingsValue{vtcore::kQwordValue, std::string(8, '\xFF')}));
  EXPECT_EQ(scan.values.at("title"),
            (SettingsValue{vtcore::kStringValue, std::string(" Full & quick \xE2\x98\xBA" "A\0", 19)}));
  EXPECT_EQ(scan.values.at("blob"), (SettingsValue{vtcore::kBinaryValue, "\x0a\x0b\xff"}));
  EXPECT_EQ(scan.values.at("none"), (SettingsValue{vtcore::kBinaryValue, ""}));

  // Nesting up to the depth limit is taken.
  std::string limit;
  for (std::size_t i = 0; i < vtcore::kMaxDepth; ++i) limit += "<node name=\"n\">";
  for (std::size_t i = 0; i < vtcore::kMaxDepth; ++i) limit += "</node>";
  SettingsNode deep;
  EXPECT_EQ(XmlParse(Profiles(limit), deep), "");
}

TEST(ProfilesXml, RejectsWhatTheFormatDoesNotHold) {
  std::string tooDeep;
  for (int i = 0; i < 100000; ++i) tooDeep += "<node name=\"n\">";
  const std::string rejected[] = {
      "", "<profiles>", "<profiles></profile>", "<settings/>", "<profiles/><profiles/>", "<profiles/>text",
      "<!DOCTYPE x><profiles/>", Profiles("<![CDATA[x]]>"), Profiles("<?pi x?>"), Profiles("<!-- open"),
      "<profiles version=\"2\"/>", "<profiles owner=\"x\"/>", Profiles("stray text"), Profiles(tooDeep),
      Profiles("<value name=\"v\" type=\"dword\">1</value>"),  // values only inside nodes
      Profiles("<node/>"), Profiles("<node name=a/>"), Profiles("<node name=\"a\"name=\"b\"/>"),
      Profiles("<node name=\"a\" name=\"b\"/>"), Profiles("<node name=\"a\" id=\"1\"/>"),
      Profiles("<node name=\"&bogus;\"/>"), Profiles("<node name=\"&#0;\"/>"), Profiles("<node name=\"&#xD800;\"/>"),
      Profiles("<node name=\"&#x110000;\"/>"), Profiles("<node name=\"&#12\"/>"), Profiles("<node name=\"\"/>"),
      Profiles("<node name=\"a\\b\"/>"), Profiles("<node name=\"" + std::string(256, 'n') + "\"/>"),
      Profiles("<node name=\"a\"/><node name=\"a\"/>"), Value("name=\"v\"", "1"),
      Value("name=\"v\" type=\"float\"", "1"), Value("name=\"v\" type=\"dword\"", ""),
      Value("name=\"v\" type=\"dword\"", "4294967296"), Value("name=\"v\" type=\"dword\"", "-1"),
      Value("name=\"v\" type=\"dword\"", "0x"), Value("name=\"v\" type=\"dword\"", "1 2"),
      Value("name=\"v\" type=\"qword\"", "18446744073709551616"), Value("name=\"v\" type=\"binary\"", "abc"),
      Value("name=\"v\" type=\"binary\"", "zz"), Value("name=\"v\" type=\"string\"", "<b/>"),
      Profiles("<node name=\"n\"><value name=\"v\" type=\"dword\">1</value><value name=\"v\" type=\"dword\">2</value>"
               "</node>"),
  };
  for (const std::string& text : rejected) {
    SettingsNode root;
    EXPECT_NE(XmlParse(text, root), "") << "accepted: " << text;
  }
  SettingsNode root;
  EXPECT_EQ(XmlParse("<profiles>\n<node name=\"a\">\n<value name=\"v\" type=\"dword\">x</value>\n</node></profiles>", root),
            "line 3: invalid dword \"x\"");
}

TEST(StoreFile, EscapedNamesLineEndsAndMalformedFiles) {
  SettingsNode root;
  ASSERT_EQ(XmlParse(Profiles("<node name=\"Scan now\"><value name=\"50%\" type=\"string\">x</value>"
                              "<value name=\"empty\" type=\"binary\"/></node><node name=\"\xC3\xA9\"/>"),
                     root),
            "");
  // Read back by the fuzzers (store_file_fuzz, profiles_xml_fuzz).
  EXPECT_EQ(vtcore::SerializeStoreFile(root),
            "vtstore 1\nnode Scan%20now\nvalue 50%25 1 7800\nvalue empty 3 -\nnode %C3%A9\n");
  // CRLF line ends and a missing last line end are taken.
  SettingsNode crlf;
  ASSERT_EQ(vtcore::ParseStoreFile("vtstore 1\r\nnode a\r\nvalue v 4 02000000", crlf), oxa::rc::Ok);
  EXPECT_EQ(crlf.children.at("a")->values.at("v").data, Dword(2));

  std::string tooDeep = "vtstore 1\nnode n";
  for (std::size_t i = 0; i < vtcore::kMaxDepth; ++i) tooDeep += "\\n";
  for (const std::string& body :
       {std::string("node\n"), std::string("node a b\n"), std::string("node a\\\\b\n"), std::string("node a%0Ab\n"),
        std::string("node a%4\n"), std::string("node a\nnode a\n"), std::string("value v 4 01000000\nvalue v 4 01000000\n"),
        std::string("value v 4 010000\n"), std::string("value v 1 -\n"), std::string("value v 7 00\n"),
        std::string("value v 0x4 01000000\n"), std::string("value v 4  01000000\n"), std::string("value v 3\n"),
        std::string("\n"), std::string("something\n"), tooDeep.substr(10) + "\n"}) {
    SettingsNode state;
    EXPECT_EQ(vtcore::ParseStoreFile("vtstore 1\n" + body, state), oxa::rc::SyntaxError) << body;
    EXPECT_TRUE(state == SettingsNode()) << body;
  }
  SettingsNode state;
  EXPECT_EQ(vtcore::ParseStoreFile("", state), oxa::rc::SyntaxError);
  EXPECT_EQ(vtcore::ParseStoreFile("vtstore 2\n", state), static_cast<oxa::ResultCode>(0x8000005Bu));
}

// A node the store holds keeps its stored values; declared nodes it lacks
// come with their declared values and children.
TEST(SettingsTree, StoredStateWinsAndDeclaredNodesAreAdded) {
  SettingsNode state, declared;
  ASSERT_EQ(XmlParse(Profiles("<node name=\"Scan\"><node name=\"def\"><value name=\"enabled\" type=\"dword\">0</value>"
                              "</node></node>"),
                     state),
            "");
  ASSERT_EQ(XmlParse(Profiles("<node name=\"Scan\"><value name=\"installed\" type=\"dword\">1</value></node>"
                              "<node name=\"Update\"><value name=\"installed\" type=\"dword\">1</value>"
                              "<node name=\"def\"/></node>"),
                     declared),
            "");
  vtcore::AddMissingNodes(state, declared);
  EXPECT_TRUE(state.children.at("Scan")->values.empty());
  EXPECT_EQ(state.children.at("Scan")->children.at("def")->values.at("enabled").data, Dword(0));
  EXPECT_EQ(state.children.at("Update")->values.at("installed").data, Dword(1));
  EXPECT_EQ(state.children.at("Update")->children.count("def"), 1u);
}

// Good paths: the profile tests' stored nodes.
TEST(SettingsTree, BadNodePaths) {
  std::vector<std::string> names{"old"};
  for (const char* bad : {"\\a", "a\\", "a\\\\b", "a\x01"}) {
    EXPECT_EQ(vtcore::SplitNodePath(bad, names), oxa::rc::InvalidArgument) << bad;
    EXPECT_TRUE(names.empty());
  }
}

}  // namespace
