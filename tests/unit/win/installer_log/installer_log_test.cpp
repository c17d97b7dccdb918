#include "log/installer_log.h"

#include "tests/support/msi_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using qvrtest::MsiSession;
using testing::ElementsAre;

TEST(InstallerLog, RecordsAndLinesReachTheLogAsWritten) {
  MsiSession session;
  const qvr::InstallerLog log(session.Handle());
  log.ActionStart(L"MsiProductActivate");
  log.Line(L"value %ls, narrow %hs, number %i, hex 0x%08x", L"[wide]", "{narrow}", -3, 0x1fu);
  qvr::InstallerLogSink sink(session.Handle());
  sink.Write(qvr::kLogError, L"ReadProductType: current product type is %ls", L"[vmobpc]");
  sink.Write(qvr::kLogInfo, L"{{%ls}} [~] [\\[]", L"[ProductName]");
  log.ActionEnd(L"MsiProductActivate", 0);
  log.ActionEnd(L"MsiProductActivate", 1603);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(qvrtest::FullMatch(lines[0], "Action start [0-9]{2}:[0-9]{2}:[0-9]{2}: MsiProductActivate\\."));
  EXPECT_TRUE(qvrtest::FullMatch(lines[1], "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: "
                                           "value \\[wide\\], narrow \\{narrow\\}, number -3, hex 0x0000001f"));
  // The sink's lines have no prefix, whatever the level.
  EXPECT_EQ(lines[2], L"ReadProductType: current product type is [vmobpc]");
  EXPECT_EQ(lines[3], L"{{[ProductName]}} [~] [\\[]");
  EXPECT_TRUE(qvrtest::FullMatch(lines[4], "Action ended [0-9:]{8}: MsiProductActivate\\. Return value 1\\."));
  EXPECT_TRUE(qvrtest::FullMatch(lines[5], ".*Return value 3\\."));
}

TEST(InstallerLog, LongLinesAreCutOutsideEscapes) {
  MsiSession session;
  const std::wstring plain(10000, L'x');
  // Escaped, 4 characters each: the line is cut at a whole escape.
  const std::wstring brackets = std::wstring(qvr::kLogLineChars - 3, L'x') + L"[[[";
  qvr::InstallerLogSink sink(session.Handle());
  sink.Write(qvr::kLogInfo, L"%ls", plain.c_str());
  sink.Write(qvr::kLogInfo, L"%ls", brackets.c_str());
  qvr::InstallerLog(session.Handle()).Line(L"%ls", plain.c_str());
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::wstring(qvr::kLogLineChars - 1, L'x'));
  EXPECT_EQ(lines[1], std::wstring(qvr::kLogLineChars - 3, L'x'));
  // The prefix's brackets are escaped within the same buffer.
  EXPECT_EQ(lines[2].size(), static_cast<size_t>(qvr::kLogLineChars - 1 - 6));
  EXPECT_EQ(lines[2].back(), L'x');
}

}  // namespace
