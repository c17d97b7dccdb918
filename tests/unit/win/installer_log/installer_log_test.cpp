// The prefix of a line is shown by the session tracer's test, the action
// records by the custom actions' tests and the end-to-end runs.
#include "log/installer_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/msi_session.h"

namespace {

// A sink's line has no prefix, and the engine's template characters come out as written: unescaped, "[~]" would end
// the line and "{{...}}" vanish. Long lines are cut, at a whole escape (4 characters each).
TEST(InstallerLog, TemplateCharactersReachTheLogAsWrittenAndLongLinesAreCutOutsideEscapes) {
  qvrtest::MsiSession session;
  qvr::InstallerLogSink sink(session.Handle());
  sink.Write(qvr::kLogError, L"{{%ls}} [~] [\\[]", L"[ProductName]");
  sink.Write(qvr::kLogInfo, L"%ls", std::wstring(10000, L'x').c_str());
  sink.Write(qvr::kLogInfo, L"%ls", (std::wstring(qvr::kLogLineChars - 3, L'x') + L"[[[").c_str());
  EXPECT_EQ(session.Lines(),
            (std::vector<std::wstring>{L"{{[ProductName]}} [~] [\\[]", std::wstring(qvr::kLogLineChars - 1, L'x'),
                                       std::wstring(qvr::kLogLineChars - 3, L'x')}));
}

}  // namespace
