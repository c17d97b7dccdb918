// The module's exported GetTracer, seen from another module of the process.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "component/oxa/trace/tracer.h"
#include "tests/support/msi_session.h"

namespace {

TEST(GetTracerExport, NullBeforeAnyCustomActionThenTheSessionTracer) {
  const std::wstring path = qvrtest::BuildPath(L"bin/qvrinst.dll");
  HMODULE module = LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr) << "qvrinst.dll is not built";
  using GetTracerFunction = oxa::ITracer* (*)();
  using CustomAction = UINT(__stdcall*)(MSIHANDLE);
  auto getTracer = reinterpret_cast<GetTracerFunction>(reinterpret_cast<void*>(GetProcAddress(module, "GetTracer")));
  auto rollback = reinterpret_cast<CustomAction>(reinterpret_cast<void*>(GetProcAddress(module, "MsiProductRbActivate")));
  ASSERT_NE(getTracer, nullptr);
  ASSERT_NE(rollback, nullptr);
  EXPECT_EQ(getTracer(), nullptr);

  {
    qvrtest::MsiSession session;
    // Without a stored product type the rollback has nothing to do.
    EXPECT_EQ(rollback(session.Handle()), 0u);
    oxa::ITracer* tracer = getTracer();
    ASSERT_NE(tracer, nullptr);
    // Only the module's slot holds it; GetTracer added nothing.
    EXPECT_EQ(tracer->AddRef(), 2u);
    EXPECT_EQ(tracer->Release(), 1u);
    session.ClearLines();
    OXA_TRACE_TO(tracer, oxa::kTraceInfo) << "signcheck\t" << "from another module";
    const auto lines = session.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(qvrtest::FullMatch(lines[0], "MSI \\(X\\) .*\\]: signcheck\tfrom another module"));
  }
  // Unloading releases the tracer, whose session is gone by now.
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
