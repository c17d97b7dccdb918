// The settings tree of vtcore.dll: profiles.xml, the store file and how the
// two meet.
#include "companions/vtcore/settings_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vtcore::ParseError;
using vtcore::SettingsNode;
using vtcore::SettingsValue;

constexpr oxa::ResultCode kSyntaxError = oxa::rc::SyntaxError;

std::string Dword(std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

SettingsNode ParseXml(const std::string& text) {
  SettingsNode root;
  ParseError error;
  EXPECT_EQ(vtcore::ParseProfilesXml(text, root, &error), oxa::rc::Ok) << error.Text();
  return root;
}

// A failed parse, with its message for the reader of the test.
std::string XmlError(const std::string& text) {
  SettingsNode root;
  ParseError error;
  const oxa::ResultCode result = vtcore::ParseProfilesXml(text, root, &error);
  EXPECT_EQ(result, kSyntaxError) << text;
  EXPECT_TRUE(root == SettingsNode()) << "a rejected file leaves no tree";
  return error.Text();
}

std::string Profiles(const std::string& body) { return "<profiles>" + body + "</profiles>"; }

TEST(ProfilesXml, DeclaresNodesAndTypedValues) {
  const SettingsNode root = ParseXml(
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!-- the product's tasks -->\n"
      "<profiles version='1'>\n"
      "  <node name=\"tasks\">\n"
      "    <node name=\"Scan\">\n"
      "      <value name=\"installed\" type=\"dword\"> 1 </value>\n"
      "      <value name=\"mask\" type=\"dword\">0xFFFFFFFF</value>\n"
      "      <value name=\"big\" type=\"qword\">18446744073709551615</value>\n"
      "      <value name=\"title\" type=\"string\"> Full &amp; quick &#x263A;&#65;</value>\n"
      "      <value name=\"blob\" type=\"binary\">0a 0B\n ff</value>\n"
      "      <value name=\"none\" type=\"binary\"/>\n"
      "      <node name=\"def\"/>\n"
      "    </node>\n"
      "    <node name=\"a &lt;b&gt;\"></node>\n"
      "  </node>\n"
      "</profiles>\n<!-- end -->\n");
  ASSERT_EQ(root.children.count("tasks"), 1u);
  const SettingsNode& tasks = *root.children.at("tasks");
  ASSERT_EQ(tasks.children.size(), 2u);
  EXPECT_EQ(tasks.children.count("a <b>"), 1u);
  const SettingsNode& scan = *tasks.children.at("Scan");
  EXPECT_EQ(scan.values.at("installed"), (SettingsValue{vtcore::kDwordValue, Dword(1)}));
  EXPECT_EQ(scan.values.at("mask"), (SettingsValue{vtcore::kDwordValue, Dword(0xFFFFFFFFu)}));
  EXPECT_EQ(scan.values.at("big"), (SettingsValue{vtcore::kQwordValue, std::string(8, '\xFF')}));
  EXPECT_EQ(scan.values.at("title"),
            (SettingsValue{vtcore::kStringValue, std::string(" Full & quick \xE2\x98\xBA" "A\0", 19)}));
  EXPECT_EQ(scan.values.at("blob"), (SettingsValue{vtcore::kBinaryValue, "\x0a\x0b\xff"}));
  EXPECT_EQ(scan.values.at("none"), (SettingsValue{vtcore::kBinaryValue, ""}));
  EXPECT_TRUE(scan.children.at("def")->values.empty());

  EXPECT_TRUE(ParseXml("<profiles/>") == SettingsNode());
}

TEST(ProfilesXml, RejectsWhatTheFormatDoesNotHold) {
  // Structure.
  EXPECT_NE(XmlError(""), "");
  EXPECT_NE(XmlError("<profiles>"), "");
  EXPECT_NE(XmlError("<profiles></profile>"), "");
  EXPECT_NE(XmlError("<settings/>"), "");
  EXPECT_NE(XmlError("<profiles/><profiles/>"), "");
  EXPECT_NE(XmlError("<profiles/>text"), "");
  EXPECT_NE(XmlError("<!DOCTYPE x><profiles/>"), "");
  EXPECT_NE(XmlError(Profiles("<![CDATA[x]]>")), "");
  EXPECT_NE(XmlError(Profiles("<?pi x?>")), "");
  EXPECT_NE(XmlError(Profiles("<!-- open")), "");
  EXPECT_NE(XmlError("<profiles version=\"2\"/>"), "");
  EXPECT_NE(XmlError("<profiles owner=\"x\"/>"), "");
  EXPECT_NE(XmlError("<x:profiles/>"), "");
  EXPECT_NE(XmlError(Profiles("stray text")), "");
  EXPECT_NE(XmlError(Profiles("<value name=\"v\" type=\"dword\">1</value>")), "") << "values only inside nodes";
  EXPECT_NE(XmlError(Profiles("<task name=\"a\"/>")), "");
  // Attributes.
  EXPECT_NE(XmlError(Profiles("<node/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=a/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"a\"name=\"b\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"a\" name=\"b\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"a<\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"a\" id=\"1\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"&bogus;\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"&#0;\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"&#xD800;\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"&#x110000;\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"&#;\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"&#12\"/>")), "");
  // Names.
  EXPECT_NE(XmlError(Profiles("<node name=\"\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"a\\b\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"a&#10;b\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"" + std::string(256, 'n') + "\"/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"a\"/><node name=\"a\"/>")), "");
  // Values.
  const auto value = [](const std::string& attributes, const std::string& content) {
    return Profiles("<node name=\"n\"><value " + attributes + ">" + content + "</value></node>");
  };
  EXPECT_NE(XmlError(value("name=\"v\"", "1")), "");
  EXPECT_NE(XmlError(value("type=\"dword\"", "1")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"float\"", "1")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"dword\"", "")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"dword\"", "4294967296")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"dword\"", "-1")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"dword\"", "0x")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"dword\"", "1 2")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"qword\"", "18446744073709551616")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"binary\"", "abc")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"binary\"", "a bc")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"binary\"", "zz")), "");
  EXPECT_NE(XmlError(value("name=\"v\" type=\"string\"", "<b/>")), "");
  EXPECT_NE(XmlError(Profiles("<node name=\"n\"><value name=\"v\" type=\"dword\">1</value>"
                              "<value name=\"v\" type=\"dword\">2</value></node>")),
            "");

  // Nesting beyond the depth limit is refused, not followed.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<node name=\"n\">";
  EXPECT_NE(XmlError(Profiles(deep)), "");
  std::string limit;
  for (std::size_t i = 0; i < vtcore::kMaxDepth; ++i) limit += "<node name=\"n\">";
  for (std::size_t i = 0; i < vtcore::kMaxDepth; ++i) limit += "</node>";
  ParseXml(Profiles(limit));

  // The message names the line.
  EXPECT_EQ(XmlError("<profiles>\n<node name=\"a\">\n<value name=\"v\" type=\"dword\">x</value>\n</node></profiles>"),
            "line 3: invalid dword \"x\"");
}

TEST(StoreFile, RoundTripsEveryNodeAndValue) {
  SettingsNode root = ParseXml(Profiles(
      "<node name=\"tasks\"><node name=\"Scan now\"><value name=\"installed\" type=\"dword\">1</value>"
      "<value name=\"50%\" type=\"string\">x</value><value name=\"empty\" type=\"binary\"/>"
      "<node name=\"def\"><value name=\"enabled\" type=\"dword\">0</value></node></node>"
      "<node name=\"\xC3\xA9\"/></node>"));
  root.values["top"] = {vtcore::kQwordValue, std::string(8, '\1')};
  const std::string text = vtcore::SerializeStoreFile(root);
  EXPECT_EQ(text,
            "vtstore 1\n"
            "value top 11 0101010101010101\n"
            "node tasks\n"
            "node tasks\\Scan%20now\n"
            "value 50%25 1 7800\n"
            "value empty 3 -\n"
            "value installed 4 01000000\n"
            "node tasks\\Scan%20now\\def\n"
            "value enabled 4 00000000\n"
            "node tasks\\%C3%A9\n");
  SettingsNode back;
  ASSERT_EQ(vtcore::ParseStoreFile(text, back), oxa::rc::Ok);
  EXPECT_TRUE(back == root);

  // CRLF line ends and a missing last line end are taken.
  SettingsNode crlf;
  ASSERT_EQ(vtcore::ParseStoreFile("vtstore 1\r\nnode a\r\nvalue v 4 02000000", crlf), oxa::rc::Ok);
  EXPECT_EQ(crlf.children.at("a")->values.at("v").data, Dword(2));
}

TEST(StoreFile, RejectsMalformedFiles) {
  const auto error = [](const std::string& text) {
    SettingsNode root;
    const oxa::ResultCode result = vtcore::ParseStoreFile(text, root);
    EXPECT_TRUE(root == SettingsNode()) << text;
    return result;
  };
  EXPECT_EQ(error(""), kSyntaxError);
  EXPECT_EQ(error("<profiles/>"), kSyntaxError);
  EXPECT_EQ(error("vtstore 2\n"), static_cast<oxa::ResultCode>(0x8000005Bu));
  EXPECT_EQ(error("vtstore 1\n\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode \n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode a b\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode a\\\\b\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode a%0Ab\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode a%4\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode a%zz\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nnode a\nnode a\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nvalue v 4 01000000\nvalue v 4 01000000\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nvalue v 4 010000\n"), kSyntaxError) << "a dword has 4 bytes";
  EXPECT_EQ(error("vtstore 1\nvalue v 1 -\n"), kSyntaxError) << "a string has its terminator";
  EXPECT_EQ(error("vtstore 1\nvalue v 7 00\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nvalue v 0x4 01000000\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nvalue v 4 0100000\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nvalue v 4  01000000\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nvalue v 3\n"), kSyntaxError);
  EXPECT_EQ(error("vtstore 1\nsomething\n"), kSyntaxError);
  std::string deep = "vtstore 1\nnode n";
  for (std::size_t i = 0; i < vtcore::kMaxDepth; ++i) deep += "\\n";
  EXPECT_EQ(error(deep + "\n"), kSyntaxError);
}

TEST(SettingsTree, StoredStateWinsAndDeclaredNodesAreAdded) {
  SettingsNode state = ParseXml(Profiles(
      "<node name=\"tasks\"><node name=\"Scan\"><node name=\"def\">"
      "<value name=\"enabled\" type=\"dword\">0</value></node></node></node>"));
  const SettingsNode declared = ParseXml(Profiles(
      "<node name=\"tasks\"><node name=\"Scan\"><value name=\"installed\" type=\"dword\">1</value></node>"
      "<node name=\"Update\"><value name=\"installed\" type=\"dword\">1</value><node name=\"def\"/></node></node>"));
  vtcore::AddMissingNodes(state, declared);
  const SettingsNode& tasks = *state.children.at("tasks");
  // Scan is held by the state: its values stay those of the state.
  EXPECT_TRUE(tasks.children.at("Scan")->values.empty());
  EXPECT_EQ(tasks.children.at("Scan")->children.at("def")->values.at("enabled").data, Dword(0));
  // Update is new: it comes with its declared values and children.
  EXPECT_EQ(tasks.children.at("Update")->values.at("installed").data, Dword(1));
  EXPECT_EQ(tasks.children.at("Update")->children.count("def"), 1u);
}

TEST(SettingsTree, PathsNamesAndDescription) {
  std::vector<std::string> names;
  EXPECT_EQ(vtcore::SplitNodePath("tasks\\Scan\\def", names), oxa::rc::Ok);
  EXPECT_EQ(names, (std::vector<std::string>{"tasks", "Scan", "def"}));
  EXPECT_EQ(vtcore::SplitNodePath("", names), oxa::rc::Ok);
  EXPECT_TRUE(names.empty());
  for (const char* bad : {"\\a", "a\\", "a\\\\b", "a\x01"}) {
    EXPECT_EQ(vtcore::SplitNodePath(bad, names), oxa::rc::InvalidArgument) << bad;
    EXPECT_TRUE(names.empty());
  }
  EXPECT_TRUE(vtcore::IsValidValueName("with\\backslash"));
  EXPECT_FALSE(vtcore::IsValidValueName(""));
  EXPECT_FALSE(vtcore::IsValidValueData(vtcore::kDwordValue, 8));
  EXPECT_FALSE(vtcore::IsValidValueData(9, 0));

  SettingsNode root = ParseXml(Profiles(
      "<node name=\"tasks\"><node name=\"Scan\"><value name=\"installed\" type=\"dword\">1</value>"
      "<value name=\"size\" type=\"qword\">5000000000</value><value name=\"title\" type=\"string\">a\"b\\c&#9;</value>"
      "<value name=\"blob\" type=\"binary\">00ff</value><node name=\"def\"/></node></node>"));
  root.values["odd"] = {vtcore::kDwordValue, "\1"};
  EXPECT_EQ(vtcore::DescribeTree(root),
            "(root): odd = type 4 01\n"
            "tasks\n"
            "tasks\\Scan\n"
            "tasks\\Scan: blob = binary 00ff\n"
            "tasks\\Scan: installed = dword 1\n"
            "tasks\\Scan: size = qword 5000000000\n"
            "tasks\\Scan: title = string \"a\\\"b\\\\c\\x09\"\n"
            "tasks\\Scan\\def\n");
}

}  // namespace
