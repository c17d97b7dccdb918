#include "tools/qvrhost/host_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qvrhost::HostCommand;
using qvrhost::Operation;
using qvrhost::ParsedCommandLine;
using Outcome = ParsedCommandLine::Outcome;

ParsedCommandLine Parse(std::vector<std::wstring> words) { return qvrhost::ParseHostCommandLine(words); }

HostCommand Command(std::vector<std::wstring> words) {
  const ParsedCommandLine parsed = Parse(std::move(words));
  EXPECT_EQ(parsed.outcome, Outcome::Run) << std::string(parsed.error.begin(), parsed.error.end());
  return parsed.command;
}

// Hex as in activate's argument below; decimal without octal.
TEST(HostCommandLine, Unsigned32) {
  std::uint32_t value = 7;
  EXPECT_TRUE(qvrhost::ParseUnsigned32(L"010", value));
  EXPECT_EQ(value, 10u);
  EXPECT_TRUE(qvrhost::ParseUnsigned32(L"4294967295", value));
  for (const wchar_t* bad : {L"", L"0x", L"4294967296", L"-1", L"1f"})
    EXPECT_FALSE(qvrhost::ParseUnsigned32(bad, value)) << bad;
  EXPECT_EQ(value, 0xFFFFFFFFu);  // failures leave it alone
}

// The commands that tests/e2e/qvrhost_test.sh does not run through the module, and the arguments.
TEST(HostCommandLine, SubcommandsAndTheirArguments) {
  EXPECT_EQ(Command({L"remove-shortcuts"}).operation, Operation::RemoveProductShortcuts);
  EXPECT_EQ(Command({L"always-succeeds"}).operation, Operation::AlwaysSucceeds);
  EXPECT_EQ(Command({L"activate", L"0x1f"}).number, 31u);
  const HostCommand icons = Command({L"icons", L"small office"});
  EXPECT_EQ(icons.operation, Operation::ChangeProductIcons);
  EXPECT_EQ(icons.text, L"small office");
  const HostCommand check = Command({L"check-apps", L"2"});
  EXPECT_EQ(check.operation, Operation::CheckForApplicationsToRemove);
  EXPECT_EQ(check.number, 2u);
  EXPECT_EQ(Command({L"remove-apps", L"AppA", L"App B"}).names, (std::vector<std::wstring>{L"AppA", L"App B"}));
}

// tests/e2e/qvrhost_test.sh runs the separate forms of the three options before the command, --help and two usage
// errors.
TEST(HostCommandLine, OptionsHelpAndUsageErrors) {
  EXPECT_EQ(Command({L"switch", L"--product-type=vmobpc"}).productType, L"vmobpc");
  // An empty type is a type (Initialize then targets none), not an absent one.
  EXPECT_EQ(Command({L"--product-type", L"", L"switch"}).productType, L"");
  // After "--" option-like words are names.
  EXPECT_EQ(Command({L"remove-apps", L"--", L"--product-type", L"-h"}).names,
            (std::vector<std::wstring>{L"--product-type", L"-h"}));
  EXPECT_EQ(Command({L"switch", L"--waiver-log=w.log"}).waiverLog, L"w.log");
  EXPECT_EQ(Parse({L"--waiver-log", L"a", L"--waiver-log=b", L"switch"}).error, L"--waiver-log given twice");
  EXPECT_EQ(Parse({L"switch", L"--waiver-log"}).error, L"--waiver-log needs a value");
  EXPECT_EQ(Parse({L"switch", L"--waiver-logs", L"a"}).error, L"unknown option '--waiver-logs'");
  EXPECT_EQ(Parse({L"switch", L"-h"}).outcome, Outcome::Help);
  EXPECT_EQ(Parse({L"/?"}).outcome, Outcome::Help);
  const std::vector<std::vector<std::wstring>> bad = {
      {L"frobnicate"},        {L"switch", L"extra"},          {L"activate"},
      {L"icons", L"a", L"b"}, {L"--product-type", L"vmobpc"}, {L"--", L"--help"}};
  for (const auto& words : bad) {
    const ParsedCommandLine parsed = Parse(words);
    EXPECT_EQ(parsed.outcome, Outcome::UsageError) << words.size();
    EXPECT_FALSE(parsed.error.empty());
  }
}

}  // namespace
