// The prefix of a line is shown by the session tracer's test, the action
// records by the custom actions' tests and the end-to-end runs.
#include "log/installer_log.h"

#include "tests/support/msi_session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A sink's line has no prefix, and the engine's template characters come out
// as written: unescaped, "[~]" would end the line and "{{...}}" vanish.
TEST(InstallerLog, TemplateCharactersReachTheLogAsWritten) {
  qvrtest::MsiSession session;
  qvr::InstallerLogSink(session.Handle()).Write(qvr::kLogError, L"{{%ls}} [~] [\\[]", L"[ProductName]");
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], L"{{[ProductName]}} [~] [\\[]");
}

TEST(InstallerLog, LongLinesAreCutOutsideEscapes) {
  qvrtest::MsiSession session;
  // Escaped, 4 characters each: the line is cut at a whole escape.
  const std::wstring brackets = std::wstring(qvr::kLogLineChars - 3, L'x') + L"[[[";
  qvr::InstallerLogSink sink(session.Handle());
  sink.Write(qvr::kLogInfo, L"%ls", std::wstring(10000, L'x').c_str());
  sink.Write(qvr::kLogInfo, L"%ls", brackets.c_str());
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::wstring(qvr::kLogLineChars - 1, L'x'));
  EXPECT_EQ(lines[1], std::wstring(qvr::kLogLineChars - 3, L'x'));
}

}  // namespace
