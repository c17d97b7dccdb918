// The bridge to the cleaner library, with packs made by gcab
// (testdata/cleaner) and the built cleanapi.dll.
#include "cleaner/cleaner.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"
#include "tests/support/unix_links.h"

namespace {

using qvrtest::Exists;
using qvrtest::ListNames;
using qvrtest::TestFolder;
using testing::ElementsAre;
using testing::IsEmpty;

std::wstring Pack(const std::wstring& name) { return qvrtest::BuildPath(L"testdata/cleaner/" + name); }

// A cleaner whose lines are kept, working in a scratch folder of its own
// below a test folder.
struct TestCleaner {
  TestFolder folder{L"cleaner"};
  std::wstring scratch = folder / L"{SCRATCH}";
  std::vector<std::wstring> lines;
  qvr::Cleaner cleaner{[this](const std::wstring& line) { lines.push_back(line); }};
};

TEST(Cleaner, APackThatCannotServeFailsAndLeavesNothing) {
  const std::wstring missing = Pack(L"missing.pack");
  const std::wstring folder = Pack(L"noini");
  const std::wstring notACabinet = Pack(L"notacab.pack");
  const struct {
    std::wstring pack;
    std::uint32_t code;
    std::vector<std::wstring> lines;
  } cases[] = {
      {missing, 3, {L"Sweeper pack file not found: " + missing}},
      {folder, 3, {L"Sweeper pack file not found: " + folder}},
      {notACabinet, 13,
       {L"Cleaner: failed extract data from " + notACabinet +
        L", Cabinet error - native code: 0, FDI code: 2(Not a cabinet)"}},
      {Pack(L"noini.pack"), 13,
       {L"Cleaner: failed to enumerate sections in cleanapi.ini. Error: File not found.", L"FiltrateIniFiles error 13"}},
      {Pack(L"badini.pack"), 13,
       {L"Cleaner: failed to enumerate sections in cleanapi.ini. Error: Bad section.", L"FiltrateIniFiles error 13"}},
      {Pack(L"keyfirst.pack"), 13,
       {L"Cleaner: failed to enumerate sections in cleanapi.ini. Error: Used a key without section.",
        L"FiltrateIniFiles error 13"}},
  };
  for (const auto& c : cases) {
    TestCleaner test;
    EXPECT_EQ(test.cleaner.InitializeProductTypes(c.pack, {L"Antivirus"}, test.scratch), c.code) << c.pack;
    EXPECT_EQ(test.lines, c.lines) << c.pack;
    test.cleaner.Shutdown();
    EXPECT_THAT(ListNames(test.folder.Path()), IsEmpty()) << c.pack;
  }
}

TEST(Cleaner, NeverUsesAScratchFolderThatExistsAlready) {
  TestCleaner test;
  ASSERT_TRUE(CreateDirectoryW(test.scratch.c_str(), nullptr));
  qvrtest::WriteAll(test.scratch + L"\\theirs.txt", "theirs");
  EXPECT_EQ(test.cleaner.InitializeProductTypes(Pack(L"noini.pack"), {}, test.scratch), ERROR_ALREADY_EXISTS);
  EXPECT_THAT(test.lines, ElementsAre(L"Scratch folder " + test.scratch + L" exists already: not used"));
  test.cleaner.Shutdown();
  EXPECT_THAT(ListNames(test.scratch), ElementsAre(L"theirs.txt"));
}

}  // namespace
