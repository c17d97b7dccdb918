#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "component/oxa/trace/tracer.h"
#include "tests/unit/core/trace/memory_tracer.h"

namespace {

using oxa::TraceRecord;
using qvrtest::MemoryTracer;
using Request = MemoryTracer::Request;
using testing::ElementsAre;

// The texts the module's trace statements are made of: names, paths (wide), numbers and result codes.
TEST(TraceRecord, TextsNumbersAndResultCodes) {
  MemoryTracer tracer;
  const char* nullText = nullptr;
  const wchar_t* nullWide = nullptr;
  // Wide text (UTF-16 units) arrives as UTF-8; a lone surrogate as U+FFFD.
  const std::wstring pair{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  const std::wstring lone{static_cast<wchar_t>(0xD800), L'!'};
  OXA_TRACE_TO(&tracer, oxa::kTraceInfo) << 0 << ' ' << -42 << ' ' << 4294967295u << ' ' << INT64_MIN << ' ' << oxa::hex
                                         << oxa::showbase << 255;
  OXA_TRACE_TO(&tracer, oxa::kTraceInfo) << nullText << ',' << nullWide;
  OXA_TRACE_TO(&tracer, oxa::kTraceInfo) << oxa::TraceResultWithText(oxa::rc::InvalidArgument) << ' '
                                         << oxa::TraceResult(oxa::rc::InvalidArgument) << ' '
                                         << oxa::TraceResultWithText(0);
  OXA_TRACE_TO(&tracer, oxa::kTraceInfo) << L"p\u00e9" << pair << std::wstring_view(lone);
  // Embedded NULs are kept; the commit carries no terminator.
  OXA_TRACE_TO(&tracer, oxa::kTraceInfo) << std::string_view("a\0b", 3);
  EXPECT_THAT(tracer.Texts(), ElementsAre("0 -42 4294967295 -9223372036854775808 0xff", "(null),(null)",
                                          "0x80000046 (Invalid argument) 0x80000046 0x00000000 (No error)",
                                          "p\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD!", std::string("a\0b", 3)));
}

TEST(TraceRecord, GrowsByDoublingFrom512AndAFailedGrowthStartsOver) {
  MemoryTracer tracer;
  const std::string chunk(300, 'x');
  {
    TraceRecord record(&tracer, oxa::kTraceDetail);
    // 600 bytes: twice the capacity; then more than twice: the length needed.
    record << chunk << chunk << std::string(3000, 'y');
  }
  EXPECT_THAT(tracer.requests,
              ElementsAre(Request{oxa::kTraceDetail, 512, false}, Request{oxa::kTraceLevelAll, 1024, true},
                          Request{oxa::kTraceLevelAll, 3600, true}));
  EXPECT_THAT(tracer.records,
              ElementsAre(MemoryTracer::Record{oxa::kTraceDetail, chunk + chunk + std::string(3000, 'y')}));

  MemoryTracer failing;
  failing.failRequest = 1;
  {
    TraceRecord record(&failing, oxa::kTraceInfo);
    // The growth fails: the record is emptied, and a later append asks again.
    record << "lost " << std::string(600, 'x') << "kept" << 12345678;
  }
  EXPECT_THAT(failing.requests,
              ElementsAre(Request{oxa::kTraceInfo, 512, false}, Request{oxa::kTraceLevelAll, 1024, true},
                          Request{oxa::kTraceLevelAll, 4, false}, Request{oxa::kTraceLevelAll, 12, true}));
  EXPECT_THAT(failing.Texts(), ElementsAre("kept12345678"));
}

TEST(TraceRecord, RefusedRecordsEvaluateNothing) {
  MemoryTracer tracer;
  tracer.maxLevel = oxa::kTraceInfo;
  int evaluated = 0;
  auto operand = [&] { return ++evaluated; };
  OXA_TRACE_TO(&tracer, oxa::kTraceDetail) << "never " << operand();
  OXA_TRACE_TO(static_cast<oxa::ITracer*>(nullptr), oxa::kTraceError) << operand();
  EXPECT_EQ(evaluated, 0);
  OXA_TRACE_TO(&tracer, oxa::kTraceInfo) << "granted " << operand();
  EXPECT_EQ(evaluated, 1);

  // A record appended to after it ended gains nothing.
  TraceRecord record(&tracer, oxa::kTraceError);
  record << "a";
  record.End();
  record << "b";
  EXPECT_FALSE(record);
  EXPECT_THAT(tracer.Texts(), ElementsAre("granted 1", "a"));
}

TEST(PrefixedTracer, TagsRecordsAndRefusesLevelsAboveTheInnerMaximum) {
  MemoryTracer inner;
  const std::int32_t liveBefore = oxa::GetLiveTracerCount();
  {
    oxa::TracerRef prefixed = oxa::CreatePrefixedTracer(&inner, "[priv_adjust]");
    EXPECT_EQ(inner.References(), 1u);
    EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);
    OXA_TRACE_TO(prefixed.get(), 1000) << "Enable privilege " << std::string(700, 'p');
    OXA_TRACE_TO(prefixed.get(), 1001) << "refused";
    EXPECT_THAT(inner.Texts(), ElementsAre("[priv_adjust]\tEnable privilege " + std::string(700, 'p')));
    // The tag's room is part of every request, growth included.
    EXPECT_THAT(inner.requests,
                ElementsAre(Request{1000, 512 + 14, false}, Request{oxa::kTraceLevelAll, 1024 + 14, true}));
  }
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore);

  // An empty prefix gives the inner tracer itself.
  EXPECT_EQ(oxa::CreatePrefixedTracer(&inner, "", 0).get(), &inner);
}

}  // namespace
