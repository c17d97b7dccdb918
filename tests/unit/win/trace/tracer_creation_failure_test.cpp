// The session tracer's creation when memory runs out. This program's
// allocation function can be told to fail once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "log/msi_tracer.h"
#include "tests/support/msi_session.h"

namespace {

std::atomic<bool> g_failNextAllocation{false};

}  // namespace

void* operator new(std::size_t size) {
  if (g_failNextAllocation.exchange(false)) throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
// Not inlined: GCC would pair the free with the allocating `new` expressions
// it sees and warn of a mismatch.
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { ::operator delete(block); }

namespace {

TEST(InstallSessionTracer, FailedCreationIsLoggedAndKeepsTheCurrentTracer) {
  qvrtest::MsiSession session;
  const std::int32_t liveBefore = oxa::GetLiveTracerCount();
  g_failNextAllocation = true;
  EXPECT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::UnspecifiedError);
  EXPECT_EQ(oxa::GetCurrentTracer(), nullptr);

  ASSERT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::Ok);
  oxa::ITracer* installed = oxa::GetCurrentTracer();
  g_failNextAllocation = true;
  EXPECT_EQ(oxa::InstallSessionTracer(session.Handle()), oxa::rc::UnspecifiedError);
  EXPECT_EQ(oxa::GetCurrentTracer(), installed);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);
  oxa::ReplaceCurrentTracer(nullptr);

  const auto lines = session.Lines();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::wstring& line : lines) {
    EXPECT_TRUE(qvrtest::FullMatch(line, "MSI \\(X\\) \\(XX:XX\\) \\[[0-9:]{12}\\]: "
                                         "Create of tracer instance has failed, err std::bad_alloc"))
        << testing::PrintToString(line);
  }
}

}  // namespace
