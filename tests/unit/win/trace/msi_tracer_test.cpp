#include <gtest/gtest.h>

#include <string>

#include "log/msi_tracer.h"
#include "component/oxa/trace/tracer.h"
#include "tests/support/msi_session.h"

namespace {

using qvrtest::MsiSession;

// The log writer's prefix, as the engine renders it.
const std::string kLinePrefix = "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: ";

// Every test leaves the slot empty: its tracer is bound to a session that ends.
class MsiTracerTest : public testing::Test {
 protected:
  void TearDown() override { oxa::ReplaceCurrentTracer(nullptr); }
};

TEST_F(MsiTracerTest, SlotIsEmptyUntilInstalledAndANullHandleLeavesItAsItWas) {
  EXPECT_EQ(oxa::GetCurrentTracer(), nullptr);
  OXA_TRACE(oxa::kTraceError) << "nowhere";
  EXPECT_EQ(oxa::InstallSessionTracer(0), oxa::rc::InvalidArgument);
  EXPECT_EQ(oxa::GetCurrentTracer(), nullptr);

  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  oxa::ITracer* installed = oxa::GetCurrentTracer();
  ASSERT_NE(installed, nullptr);
  EXPECT_EQ(oxa::InstallSessionTracer(0), oxa::rc::InvalidArgument);
  EXPECT_EQ(oxa::GetCurrentTracer(), installed);
  EXPECT_EQ(static_cast<oxa::MsiTracer*>(installed)->Session(), session.Handle());
  EXPECT_TRUE(session.Lines().empty());
}

TEST_F(MsiTracerTest, RecordArrivesAsOnePrefixedLine) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  OXA_TRACE(oxa::kTraceInfo) << "Need to check and load new product info from '" << L"C:\\p\u00e9\\x.dll" << "' "
                             << oxa::hex << oxa::showbase << 255 << " [section] " << oxa::TraceResultWithText(5)
                             << " {{hidden}} [ProductName] {a[b]} [~] x]y [z";
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 1u);
  // Brackets and braces come out as they are, not as the engine's template
  // expressions; the wide text as it was.
  EXPECT_TRUE(qvrtest::FullMatch(lines[0], (kLinePrefix + "Need to check and load new product info from "
                                            "'C:\\\\p.\\\\x\\.dll' 0xff \\[section\\] 0x00000005 "
                                            "\\(Unknown result code\\) \\{\\{hidden\\}\\} \\[ProductName\\] "
                                            "\\{a\\[b\\]\\} \\[~\\] x\\]y \\[z")
                                               .c_str()))
      << testing::PrintToString(lines[0]);
  EXPECT_NE(lines[0].find(L"C:\\p\u00e9\\x.dll"), std::wstring::npos);
}

TEST_F(MsiTracerTest, LongRecordsArriveWholeUpToTheLineLimit) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  const std::string text(3000, 'k');
  OXA_TRACE(oxa::kTraceDetail) << text.substr(0, 1000) << text.substr(1000);
  OXA_TRACE(oxa::kTraceDetail) << std::string(10000, 'z');
  // Each bracket takes four characters of the buffer as an escape.
  OXA_TRACE(oxa::kTraceDetail) << std::string(2000, '[');
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(qvrtest::FullMatch(lines[0], (kLinePrefix + "k{3000}").c_str()));
  // Cut by the writer's buffer, whose prefix escapes take 6 characters more
  // than they show.
  EXPECT_EQ(lines[1].size(), static_cast<std::size_t>(4096 - 1 - 6));
  EXPECT_EQ(lines[1].back(), L'z');
  // Cut before the escape that no longer fits, never inside one.
  EXPECT_TRUE(qvrtest::FullMatch(lines[2], (kLinePrefix + "\\[{1014}").c_str())) << lines[2].size();
}

TEST_F(MsiTracerTest, InvalidUtf8IsWrittenWithReplacementCharacters) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  OXA_TRACE(oxa::kTraceNotice) << "Failed to lookup account sid, err: " << "J\xF6rg";  // a code page 1252 name
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(qvrtest::FullMatch(lines[0], (kLinePrefix + "Failed to lookup account sid, err: J.rg").c_str()))
      << testing::PrintToString(lines[0]);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 4), L"J\uFFFDrg");
}

TEST_F(MsiTracerTest, PrefixedTracerWritesLevel1000AndRefuses1001) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  oxa::TracerRef prefixed = oxa::CreatePrefixedTracer(oxa::GetCurrentTracer(), "[priv_adjust]", 13);
  ASSERT_TRUE(prefixed);
  OXA_TRACE_TO(prefixed.get(), 1000) << "Enable privilege " << "SeBackupPrivilege";
  OXA_TRACE_TO(prefixed.get(), 1001) << "never";
  char* buffer = nullptr;
  EXPECT_EQ(prefixed->AllocateBuffer(1001, &buffer, 512), oxa::rc::NotMatched);
  EXPECT_EQ(buffer, nullptr);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(qvrtest::FullMatch(lines[0], (kLinePrefix + "\\[priv_adjust\\]\tEnable privilege SeBackupPrivilege").c_str()))
      << testing::PrintToString(lines[0]);
}

TEST_F(MsiTracerTest, InterfaceIdsReferenceCountsAndLiveObjects) {
  const std::int32_t liveBefore = oxa::GetLiveTracerCount();
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);
  oxa::ITracer* tracer = oxa::GetCurrentTracer();

  // The slot holds the only reference.
  EXPECT_EQ(tracer->AddRef(), 2u);
  EXPECT_EQ(tracer->Release(), 1u);
  void* out = nullptr;
  EXPECT_EQ(tracer->QueryInterface(oxa::kTraceLevelInterfaceId, &out), oxa::rc::InterfaceNotSupported);
  EXPECT_EQ(tracer->QueryInterface(0x12345678, &out), oxa::rc::InterfaceNotSupported);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tracer->QueryInterface(0, &out), oxa::rc::Ok);
  EXPECT_EQ(out, tracer);
  EXPECT_EQ(tracer->QueryInterface(oxa::kTracerInterfaceId, &out), oxa::rc::Ok);
  EXPECT_EQ(tracer->Release(), 2u);
  EXPECT_EQ(tracer->Release(), 1u);

  {
    oxa::TracerRef prefixed = oxa::CreatePrefixedTracer(tracer, "[usr_hives]");
    EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 2);
    EXPECT_EQ(tracer->AddRef(), 3u);  // slot and prefixed tracer
    tracer->Release();
  }
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);

  // A second install releases the first tracer.
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  EXPECT_NE(oxa::GetCurrentTracer(), nullptr);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);
  oxa::ReplaceCurrentTracer(nullptr);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore);
}

oxa::ResultCode OpenSettings(oxa::ResultCode outcome, int& line) {
  line = __LINE__ + 1;
  OXA_CHECK_SUCCEEDED_RETURN(outcome, "cannot open settings");
  return oxa::rc::Ok;
}

TEST_F(MsiTracerTest, FailedCheckRecordReadsFileLineExpressionAndResult) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  int line = 0;
  EXPECT_EQ(OpenSettings(oxa::rc::FileNotFound, line), oxa::rc::FileNotFound);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string expected = std::string(__FILE__) + ":" + std::to_string(line) +
                               "(outcome),(OXA_SUCCEEDED(_result)) failed: result = 0x80010102 (File not found)"
                               "cannot open settings";
  const std::wstring text = lines[0].substr(lines[0].find(L"]: ") + 3);
  EXPECT_EQ(text, std::wstring(expected.begin(), expected.end()));
}

}  // namespace
