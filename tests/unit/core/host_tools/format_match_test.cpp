#include "tools/qvrhost/format_match.h"

#include <gtest/gtest.h>

#include "tools/qvrhost/error_formats.h"

namespace {

struct Case {
  const wchar_t* format;
  const wchar_t* text;
  bool matches;
};

// Text conversions take any text, numbers only their digits; the rest of a
// format is literal, regular-expression characters included.
TEST(FormatMatch, Table) {
  const Case cases[] = {
      {L"ReadProfiles: value %ls is empty", L"ReadProfiles: value Broken is empty", true},
      {L"ReadProfiles: value %ls is empty", L"ReadProfiles: value  is empty", true},
      {L"ReadProfiles: value %ls is empty", L"ReadProfiles: value Broken is empty!", false},
      {L"%ls: unexpected exception: %hs", L"ActivateProduct: unexpected exception: a: b", true},
      {L"can't open key: 0x%08x", L"can't open key: 0x0000065d", true},
      {L"can't open key: 0x%08x", L"can't open key: 0x0000065g", false},
      {L"can't open key: 0x%08x", L"can't open key: 0x", false},
      {L"Return value %01d.", L"Return value 3.", true},
      {L"Return value %01d.", L"Return value -3.", true},
      {L"Return value %u.", L"Return value -3.", false},
      {L"opened %d", L"opened  12", true},
      {L"100%% done", L"100% done", true},
      {L"100%% done", L"100%% done", false},
      {L"a.*b (%ls)", L"a.*b (x)", true},
      {L"a.*b (%ls)", L"aXXb (x)", false},
      {L"trailing %", L"trailing %", true},
      {L"%ls=%ls", L"a=b=c", true},
      {L"", L"", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(qvrhost::MatchesFormat(c.format, c.text), c.matches) << c.format << " / " << c.text;
}

// Many text conversions over a long text that almost matches: a matcher
// that backtracks would not end.
TEST(FormatMatch, NoBacktracking) {
  EXPECT_FALSE(qvrhost::MatchesFormat(L"%ls %ls %ls %ls %ls %ls %ls %ls!", std::wstring(4095, L' ')));
}

// The catalog is made from the module's sources: a reader's error line is in
// it, its entry lines are not.
TEST(FormatMatch, ErrorFormatsFromTheSources) {
  const auto& formats = qvrhost::ModuleErrorFormats();
  auto has = [&](std::wstring_view format) {
    return std::find(formats.begin(), formats.end(), format) != formats.end();
  };
  EXPECT_TRUE(has(L"ReadProfiles: value %ls is empty"));               // a member of a table of lines
  EXPECT_TRUE(has(L"ReadFeatures: can't enum features key: 0x%08x"));  // a parameter of the subkey reader
  EXPECT_TRUE(has(L"WriteRegistry: can't create key %ls: 0x%08x"));    // a failure check
  EXPECT_TRUE(has(L"%ls: unexpected exception: %hs"));                 // LogLine at kLogError
  EXPECT_FALSE(has(L"ReadProfiles: profile %ls = %ls"));               // level 1
  EXPECT_FALSE(has(L"WriteRegistry: setting value %ls to %ls"));       // level 1
}

}  // namespace
