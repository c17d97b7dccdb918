// The session tracer in a real installer session: installed into the slot,
// each record one time-stamped line of the log written as it was traced,
// and its references.
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

TEST_F(MsiTracerTest, EachRecordArrivesAsOnePrefixedLineAsItWasTraced) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  OXA_TRACE(oxa::kTraceInfo) << "Need to check and load new product info from '" << L"C:\\p\u00e9\\x.dll" << "' "
                             << oxa::hex << oxa::showbase << 255 << " {{hidden}} [ProductName] {a[b]} [~] x]y [z";
  // Grown across appends to more than a buffer's first size.
  OXA_TRACE(oxa::kTraceDetail) << std::string(1000, 'k') << std::string(2000, 'k');
  // Cut by the writer's buffer, whose prefix escapes take 6 characters more
  // than they show.
  OXA_TRACE(oxa::kTraceDetail) << std::string(10000, 'z');
  OXA_TRACE(oxa::kTraceNotice) << "Failed to lookup account sid, err: " << "J\xF6rg";  // a code page 1252 name
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 4u);
  // Brackets and braces come out as they are, not as the engine's template
  // expressions; the wide text as it was.
  EXPECT_TRUE(qvrtest::FullMatch(lines[0], (kLinePrefix + "Need to check and load new product info from "
                                            "'C:\\\\p.\\\\x\\.dll' 0xff \\{\\{hidden\\}\\} \\[ProductName\\] "
                                            "\\{a\\[b\\]\\} \\[~\\] x\\]y \\[z")
                                               .c_str()))
      << testing::PrintToString(lines[0]);
  EXPECT_NE(lines[0].find(L"C:\\p\u00e9\\x.dll"), std::wstring::npos);
  EXPECT_TRUE(qvrtest::FullMatch(lines[1], (kLinePrefix + "k{3000}").c_str()));
  EXPECT_EQ(lines[2].size(), static_cast<std::size_t>(4096 - 1 - 6));
  EXPECT_EQ(lines[2].back(), L'z');
  // Text that is not UTF-8 has U+FFFD for each invalid sequence.
  EXPECT_TRUE(qvrtest::FullMatch(lines[3], (kLinePrefix + "Failed to lookup account sid, err: J.rg").c_str()));
  EXPECT_EQ(lines[3].substr(lines[3].size() - 4), L"J\uFFFDrg");
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
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tracer->QueryInterface(0, nullptr), oxa::rc::InvalidArgument);
  EXPECT_EQ(tracer->QueryInterface(0, &out), oxa::rc::Ok);
  EXPECT_EQ(out, tracer);
  EXPECT_EQ(tracer->QueryInterface(oxa::kTracerInterfaceId, &out), oxa::rc::Ok);
  EXPECT_EQ(tracer->Release(), 2u);
  EXPECT_EQ(tracer->Release(), 1u);

  // A second install releases the first tracer.
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  EXPECT_NE(oxa::GetCurrentTracer(), nullptr);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);
  oxa::ReplaceCurrentTracer(nullptr);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore);
}

}  // namespace
