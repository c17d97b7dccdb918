// The cleaner's index: parsing cleanapi.ini, the choice of database files,
// and the filter names of the product's features.
#include "cleaner/cleaner_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "activators/incompatible_software.h"

namespace {

using qvr::IniSections;
using qvr::ParseCleanerIni;

TEST(CleanerIni, ParsesLinesAsTheyStand) {
  const IniSections sections =
      ParseCleanerIni("; comment\n\n[b]\r\nfile=db\\b.db\r\na=b=c\n key =v \nbare\n[a]\nx=1\n[b]\nlate=2\nx=1\nx=2");
  const IniSections expected{
      {"a", {{"x", "1"}}},
      {"b", {{"file", "db\\b.db"}, {"a", "b=c"}, {" key ", "v "}, {"bare", ""}, {"late", "2"}, {"x", "2"}}}};
  EXPECT_EQ(sections, expected);
  EXPECT_TRUE(ParseCleanerIni("").empty());
}

TEST(CleanerIni, MalformedIndexes) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {{"[a]\n[b\n", "Bad section."}, {"[", "Bad section."}, {"key=1\n[a]\n", "Used a key without section."}};
  for (const auto& c : cases) {
    try {
      ParseCleanerIni(c.text);
      ADD_FAILURE() << c.text;
    } catch (const qvr::IniParseError& error) {
      EXPECT_STREQ(error.what(), c.message) << c.text;
    }
  }
}

TEST(CleanerIni, SelectsTheFilesOfTheFamilyAndTheFilterNames) {
  const IniSections sections = ParseCleanerIni(
      "[1family]\nfile=f1\nProduct=ABC, TRXMOR ,XYZ\nAntivirus=YES\n"
      "[2prefix]\nfile=f2\nProduct=TRXMORE\nAntivirus=1\n"
      "[3nofile]\nAntivirus=1\n"
      "[4false]\nfile=f4\nAntivirus=true\nFirewall=0\n"
      "[5second]\nfile=f5\nOnlyDetectAV=Enabled\n"
      "[6alone]\nfile=f6\nProduct=TRXMOR\nFirewall=on\n");
  using Files = std::vector<std::string>;
  EXPECT_EQ(qvr::SelectDatabaseFiles(sections, {L"Firewall", L"Antivirus", L"OnlyDetectAV"}),
            (Files{"f1", "f5", "f6"}));
  EXPECT_EQ(qvr::SelectDatabaseFiles(sections, {}), Files{});
  for (const char* value : {"1", "on", "YES", "Enable", "enabled"}) EXPECT_TRUE(qvr::IsTrueIniValue(value)) << value;
  for (const char* value : {"", "0", "true", "yes ", "enabledx"}) EXPECT_FALSE(qvr::IsTrueIniValue(value)) << value;
}

TEST(CleanerFilterNames, AreTheQualifyingFeaturesNamesInTheFixedOrder) {
  qvr::FeatureRecord pc;
  pc.productTypes = {L"pc"};
  qvr::FeatureRecord off = pc;
  off.installed = false;
  using Names = qvr::StringVector;
  const auto names = [&](qvr::FeatureMap features) { return qvr::IncompatibleSoftware::FilterNames(features, L"pc"); };
  EXPECT_EQ(names({{L"FileShieldFeature", pc}, {L"PacketWallFeature", pc}}),
            (Names{L"Antivirus", L"Firewall", L"Network", L"OnlyDetectAV", L"OnlyDetectFW", L"OnlyDetectNet"}));
  EXPECT_EQ(names({{L"ScanCoreFeature", pc}, {L"HostGuardFeature", off}, {L"Other", pc}}),
            (Names{L"ODS", L"OnlyDetectODS"}));
  EXPECT_EQ(names({{L"filesShieldFeature", pc}}), Names{});
}

}  // namespace
