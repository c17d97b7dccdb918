// The session tracer in a real installer session: installed into the slot,
// each record one time-stamped line of the log written as it was traced.
#include <gtest/gtest.h>

#include <string>

#include "log/installer_log.h"
#include "log/msi_tracer.h"
#include "component/oxa/trace/tracer.h"
#include "tests/support/msi_session.h"

namespace {

using qvrtest::MsiSession;

// The log writer's prefix, as the engine renders it.
const std::string kLinePrefix = "MSI \\(X\\) \\(XX:XX\\) \\[[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}\\]: ";

// A null handle leaves the slot as it was.
TEST(MsiTracer, InstalledIntoTheSlotForItsSession) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  oxa::ITracer* installed = oxa::GetCurrentTracer();
  ASSERT_NE(installed, nullptr);
  EXPECT_EQ(static_cast<oxa::MsiTracer*>(installed)->Session(), session.Handle());
  EXPECT_EQ(oxa::InstallSessionTracer(0), oxa::rc::InvalidArgument);
  EXPECT_EQ(oxa::GetCurrentTracer(), installed);
  EXPECT_TRUE(session.Lines().empty());
  oxa::ReplaceCurrentTracer(nullptr);
}

TEST(MsiTracer, EachRecordArrivesAsOnePrefixedLineAsItWasTraced) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  OXA_TRACE(oxa::kTraceInfo) << "Need to check and load new product info from '" << L"C:\\p\u00e9\\x.dll" << "' "
                             << oxa::hex << oxa::showbase << 255 << " {a[b]}";
  // Grown across appends to more than a buffer's first size.
  OXA_TRACE(oxa::kTraceDetail) << std::string(1000, 'k') << std::string(2000, 'k');
  // Longer than the log writer's buffer: converted into it, cut there.
  OXA_TRACE(oxa::kTraceDetail) << std::string(10000, 'z');
  OXA_TRACE(oxa::kTraceNotice) << "Failed to lookup account sid, err: " << "J\xF6rg";  // a code page 1252 name
  oxa::ReplaceCurrentTracer(nullptr);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(qvrtest::FullMatch(
      lines[0], (kLinePrefix + "Need to check and load new product info from 'C:\\\\p.\\\\x\\.dll' 0xff \\{a\\[b\\]\\}")
                    .c_str()))
      << testing::PrintToString(lines[0]);
  EXPECT_NE(lines[0].find(L"C:\\p\u00e9\\x.dll"), std::wstring::npos);
  EXPECT_TRUE(qvrtest::FullMatch(lines[1], (kLinePrefix + "k{3000}").c_str()));
  EXPECT_TRUE(qvrtest::FullMatch(lines[2], (kLinePrefix + "z+").c_str()));
  EXPECT_EQ(lines[2].size(), static_cast<std::size_t>(qvr::kLogLineChars - 1 - 6));
  // Text that is not UTF-8 has U+FFFD for each invalid sequence.
  EXPECT_TRUE(qvrtest::FullMatch(lines[3], (kLinePrefix + "Failed to lookup account sid, err: J.rg").c_str()));
  EXPECT_EQ(lines[3].substr(lines[3].size() - 4), L"J\uFFFDrg");
}

}  // namespace
