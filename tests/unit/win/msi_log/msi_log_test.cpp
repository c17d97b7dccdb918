#include "Custom_Actions/qvrinst/msi_log.h"

#include "tests/support/msi_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using qvrtest::MsiSession;
using testing::ElementsAre;

TEST(MsiLog, ActionRecords) {
  MsiSession session;
  qvr::WriteActionStart(session.Handle(), L"MsiProductActivate");
  qvr::WriteActionEnd(session.Handle(), L"MsiProductActivate", 0);
  qvr::WriteActionEnd(session.Handle(), L"MsiProductActivate", 1603);
  qvr::WriteActionEnd(session.Handle(), L"MsiProductActivate", 5);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(qvrtest::FullMatch(lines[0], "Action start [0-9]{2}:[0-9]{2}:[0-9]{2}: MsiProductActivate\\."));
  EXPECT_TRUE(qvrtest::FullMatch(lines[1], "Action ended [0-9:]{8}: MsiProductActivate\\. Return value 1\\."));
  EXPECT_TRUE(qvrtest::FullMatch(lines[2], ".*Return value 3\\."));
  EXPECT_TRUE(qvrtest::FullMatch(lines[3], ".*Return value 3\\."));
}

TEST(MsiLog, PrefixedLineShowsLiteralBrackets) {
  MsiSession session;
  qvr::WriteLogLine(session.Handle(), L"value %ls, narrow %hs, number %i, hex 0x%08x", L"wide", "narrow", -3, 0x1fu);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(qvrtest::FullMatch(lines[0],
              "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: "
                           "value wide, narrow narrow, number -3, hex 0x0000001f"));
}

TEST(MsiLog, LongLinesAreCutToTheBufferAndStillSent) {
  MsiSession session;
  const std::wstring longText(10000, L'x');
  qvr::WriteLogLine(session.Handle(), L"%ls", longText.c_str());
  qvr::MsiLogSink sink(session.Handle());
  sink.Write(qvr::kLogInfo, L"%ls", longText.c_str());
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 2u);
  // The prefix's escapes take 6 characters more in the buffer than in the log.
  const std::wstring prefixed = lines[0];
  EXPECT_EQ(prefixed.size(), static_cast<size_t>(qvr::kLogLineChars - 1 - 6));
  EXPECT_EQ(prefixed.back(), L'x');
  EXPECT_EQ(lines[1], std::wstring(qvr::kLogLineChars - 1, L'x'));
}

TEST(MsiLog, SinkIgnoresTheLevel) {
  MsiSession session;
  qvr::MsiLogSink sink(session.Handle());
  EXPECT_TRUE(sink.IsEnabled());
  sink.Write(qvr::kLogError, L"ReadProfiles: profile %ls = %ls", L"a", L"b");
  sink.Write(qvr::kLogInfo, L"ReadProfiles: profile %ls = %ls", L"a", L"b");
  EXPECT_THAT(session.Lines(), ElementsAre(L"ReadProfiles: profile a = b", L"ReadProfiles: profile a = b"));
}

TEST(MsiLog, ZeroHandleFailsSilently) {
  qvr::WriteActionStart(0, L"X");
  qvr::WriteLogLine(0, L"%ls", L"nothing");
  qvr::MsiLogSink(0).Write(qvr::kLogError, L"nothing");
}

}  // namespace
