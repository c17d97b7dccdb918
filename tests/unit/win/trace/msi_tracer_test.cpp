// The session tracer in a real installer session: installed into the slot, each record one time-stamped line, and
// handed out by the module's GetTracer export. This program's allocation function can be told to fail once.
#include "log/msi_tracer.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "component/oxa/system/unique_handle.h"
#include "component/oxa/trace/tracer.h"
#include "log/installer_log.h"
#include "tests/support/msi_session.h"

static std::atomic<bool> g_failNextAllocation{false};

void* operator new(std::size_t size) {
  if (g_failNextAllocation.exchange(false)) throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
// Not inlined: GCC would pair the free with the allocating `new` expressions it sees and warn of a mismatch.
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { ::operator delete(block); }

namespace {

using qvrtest::FullMatch;
using qvrtest::kLinePrefix;
using qvrtest::MsiSession;

TEST(MsiTracer, EachRecordArrivesAsOnePrefixedLineAsItWasTraced) {
  MsiSession session;
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  // A code page 1252 name, then wide text.
  OXA_TRACE(oxa::kTraceNotice) << "Failed to lookup account sid, err: "
                               << "J\xF6rg " << L"C:\\p\u00e9";
  // Grown across appends to more than the log writer's buffer: converted into it, cut there.
  OXA_TRACE(oxa::kTraceDetail) << std::string(1000, 'k') << std::string(10000, 'z');
  oxa::ReplaceCurrentTracer(nullptr);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 2u);
  // Text that is not UTF-8 has U+FFFD for each invalid sequence.
  EXPECT_TRUE(FullMatch(lines[0], (std::string(kLinePrefix) + "Failed to lookup account sid, err: .*").c_str()));
  EXPECT_EQ(lines[0].substr(lines[0].size() - 10), L"J\uFFFDrg C:\\p\u00e9");
  EXPECT_TRUE(FullMatch(lines[1], (std::string(kLinePrefix) + "k{1000}z+").c_str()));
  EXPECT_EQ(lines[1].size(), static_cast<std::size_t>(qvr::kLogLineChars - 1 - 6));
}

// A null handle, and a tracer that cannot be created (with a line), leave the slot as it was.
TEST(InstallSessionTracer, FailuresKeepTheCurrentTracer) {
  MsiSession session;
  const std::int32_t liveBefore = oxa::GetLiveTracerCount();
  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  oxa::ITracer* installed = oxa::GetCurrentTracer();
  EXPECT_EQ(oxa::InstallSessionTracer(0), oxa::rc::InvalidArgument);
  g_failNextAllocation = true;
  EXPECT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::UnspecifiedError);
  EXPECT_EQ(oxa::GetCurrentTracer(), installed);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);
  oxa::ReplaceCurrentTracer(nullptr);
  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string failed = std::string(kLinePrefix) + "Create of tracer instance has failed, err std::bad_alloc";
  EXPECT_TRUE(FullMatch(lines[0], failed.c_str())) << testing::PrintToString(lines[0]);
}

// After an action, the module's session tracer; the module's slot holds it, GetTracer adds no reference.
TEST(GetTracerExport, TheSessionTracerOfTheLastAction) {
  const oxa::ModuleHandle module(LoadLibraryW(qvrtest::BuildPath(L"bin/qvrinst.dll").c_str()));
  ASSERT_TRUE(module) << "qvrinst.dll is not built";
  const auto address = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module.Get(), name)); };
  const auto getTracer = reinterpret_cast<oxa::ITracer* (*)()>(address("GetTracer"));
  const auto rollback = reinterpret_cast<UINT(__stdcall*)(MSIHANDLE)>(address("MsiProductRbActivate"));
  ASSERT_TRUE(getTracer && rollback);
  MsiSession session;                         // gone before the module unloads and releases the tracer
  EXPECT_EQ(rollback(session.Handle()), 0u);  // without a stored product type it has nothing to do
  oxa::ITracer* tracer = getTracer();
  ASSERT_NE(tracer, nullptr);
  EXPECT_EQ(static_cast<oxa::MsiTracer*>(tracer)->Session(), session.Handle());
  EXPECT_EQ(tracer->AddRef(), 2u);
  EXPECT_EQ(tracer->Release(), 1u);
}

}  // namespace
