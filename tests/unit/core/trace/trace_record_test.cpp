#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "component/oxa/trace/tracer.h"
#include "tests/unit/core/trace/memory_tracer.h"

namespace {

using oxa::TraceRecord;
using qvrtest::MemoryTracer;
using testing::ElementsAre;

// The text one statement produces on a fresh record.
template <typename Build>
std::string Traced(Build build) {
  MemoryTracer tracer;
  {
    TraceRecord record(&tracer, oxa::kTraceInfo);
    build(record);
  }
  EXPECT_EQ(tracer.records.size(), 1u);
  return tracer.records.empty() ? std::string() : tracer.records.front();
}

TEST(TraceRecord, NumbersInEveryBaseAndAdjustment) {
  EXPECT_EQ(Traced([](TraceRecord& r) { r << 0 << ' ' << 42 << ' ' << -42 << ' ' << 7u; }), "0 42 -42 7");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << INT64_MIN << ' ' << UINT64_MAX; }),
            "-9223372036854775808 18446744073709551615");
  // Hexadecimal and octal show the bits of the type; lower-case digits.
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::hex << 255 << ' ' << -1 << ' ' << std::int16_t{-2}; }),
            "ff ffffffff fffe");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::hex << oxa::showbase << 0xABCu << ' ' << 0; }), "0xabc 0x0");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::oct << 8 << ' ' << oxa::showbase << 8 << oxa::dec << ' ' << 8; }),
            "10 10 8");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << static_cast<unsigned char>(200) << static_cast<signed char>(-5); }),
            "200-5");

  // Right adjustment is the default; the width is used up by one item.
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::setw(6) << -42 << '|' << 1; }), "   -42|1");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::left << oxa::setw(6) << -42 << '|'; }), "-42   |");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::internal << oxa::setfill('0') << oxa::setw(6) << -42; }),
            "-00042");
  EXPECT_EQ(Traced([](TraceRecord& r) {
              r << oxa::internal << oxa::hex << oxa::showbase << oxa::setfill('0') << oxa::setw(10) << 0x1fu;
            }),
            "0x0000001f");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::right << oxa::setfill('*') << oxa::setw(5) << "ab" << "cd"; }),
            "***abcd");
  // A width below the item's length leaves it whole.
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::setw(2) << 12345; }), "12345");

  EXPECT_EQ(Traced([](TraceRecord& r) { r << 1.0 / 3 << ' ' << 1e20 << ' ' << -2.5 << ' ' << true; }),
            "0.333333 1e+20 -2.5 true");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::setprecision(3) << 3.14159; }), "3.14");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << reinterpret_cast<const void*>(std::uintptr_t{0x1234}); }), "0x1234");
}

TEST(TraceRecord, TextResultCodesAndNullText) {
  const char* nullText = nullptr;
  const wchar_t* nullWide = nullptr;
  EXPECT_EQ(Traced([&](TraceRecord& r) { r << nullText << ',' << nullWide; }), "(null),(null)");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::TraceResultWithText(oxa::rc::InvalidArgument); }),
            "0x80000046 (Invalid argument)");
  EXPECT_EQ(Traced([](TraceRecord& r) { r << oxa::TraceResult(oxa::rc::InvalidArgument) << ' '
                                          << oxa::TraceResultWithText(0); }),
            "0x80000046 0x00000000 (No error)");
  // Wide text (UTF-16 units) arrives as UTF-8; a lone surrogate as U+FFFD.
  const std::wstring pair{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  const std::wstring lone{static_cast<wchar_t>(0xD800), L'!'};
  EXPECT_EQ(Traced([&](TraceRecord& r) { r << L"p\u00e9" << pair << std::wstring_view(lone); }),
            "p\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD!");
  // Embedded NULs are kept; the commit carries no terminator.
  EXPECT_EQ(Traced([](TraceRecord& r) { r << std::string_view("a\0b", 3); }), std::string("a\0b", 3));
}

TEST(TraceRecord, GrowsByDoublingAcross512Bytes) {
  MemoryTracer tracer;
  const std::string chunk(300, 'x');
  {
    TraceRecord record(&tracer, oxa::kTraceDetail);
    ASSERT_TRUE(record);
    record << chunk;
    EXPECT_EQ(record.Capacity(), 512u);
    record << chunk;  // 600 bytes: twice the capacity
    EXPECT_EQ(record.Capacity(), 1024u);
    record << std::string(3000, 'y');  // more than twice: the length needed
    EXPECT_EQ(record.Capacity(), 3600u);
  }
  EXPECT_THAT(tracer.requests, ElementsAre(MemoryTracer::Request{oxa::kTraceDetail, 512, false},
                                           MemoryTracer::Request{oxa::kTraceLevelAll, 1024, true},
                                           MemoryTracer::Request{oxa::kTraceLevelAll, 3600, true}));
  ASSERT_EQ(tracer.records.size(), 1u);
  EXPECT_EQ(tracer.records[0], chunk + chunk + std::string(3000, 'y'));
}

TEST(TraceRecord, FailedGrowthEmptiesTheRecordAndLaterAppendsTryAgain) {
  MemoryTracer tracer;
  tracer.failRequest = 1;
  {
    TraceRecord record(&tracer, oxa::kTraceInfo);
    record << "lost ";
    record << std::string(600, 'x');  // does not fit; the growth fails
    EXPECT_EQ(record.Text(), "");
    EXPECT_EQ(record.Capacity(), 0u);
    record << "kept";
    EXPECT_EQ(record.Capacity(), 4u);
    record << oxa::setw(8) << 5;
  }
  EXPECT_THAT(tracer.requests, ElementsAre(MemoryTracer::Request{oxa::kTraceInfo, 512, false},
                                           MemoryTracer::Request{oxa::kTraceLevelAll, 1024, true},
                                           MemoryTracer::Request{oxa::kTraceLevelAll, 4, false},
                                           MemoryTracer::Request{oxa::kTraceLevelAll, 12, true}));
  EXPECT_THAT(tracer.records, ElementsAre("kept       5"));
}

TEST(TraceRecord, RefusedRecordsCostNothing) {
  MemoryTracer tracer;
  tracer.maxLevel = oxa::kTraceInfo;
  int evaluated = 0;
  auto operand = [&] { return ++evaluated; };
  OXA_TRACE_TO(&tracer, oxa::kTraceDetail) << "never " << operand();
  OXA_TRACE_TO(static_cast<oxa::ITracer*>(nullptr), oxa::kTraceError) << operand();
  EXPECT_EQ(evaluated, 0);
  EXPECT_TRUE(tracer.records.empty());

  OXA_TRACE_TO(&tracer, oxa::kTraceInfo) << "granted " << operand();
  EXPECT_EQ(evaluated, 1);
  EXPECT_THAT(tracer.records, ElementsAre("granted 1"));

  // A record appended to after it ended gains nothing.
  TraceRecord record(&tracer, oxa::kTraceError);
  record << "a";
  record.End();
  record << "b";
  EXPECT_FALSE(record);
  EXPECT_THAT(tracer.records, ElementsAre("granted 1", "a"));
  // The record held a reference while it was open.
  EXPECT_EQ(tracer.References(), 0u);
}

// Failed checks, each on a line of its own so the records can be predicted.
oxa::ResultCode CheckResult(oxa::ITracer* tracer, oxa::ResultCode code, int& line) {
  line = __LINE__ + 1;
  OXA_CHECK_SUCCEEDED_RETURN_TO(tracer, code, " while opening " << 7);
  return 42;
}

oxa::ResultCode CheckTrue(oxa::ITracer* tracer, bool condition, int& line) {
  line = __LINE__ + 1;
  OXA_CHECK_TRUE_RETURN_TO(tracer, condition && true, oxa::rc::NotFound, "no entry");
  return 42;
}

TEST(TraceChecks, FailedChecksTraceTheirExpressionAndReturnTheCode) {
  MemoryTracer tracer;
  int line = 0;
  EXPECT_EQ(CheckResult(&tracer, oxa::rc::False, line), 42);
  EXPECT_EQ(CheckTrue(&tracer, true, line), 42);
  EXPECT_TRUE(tracer.records.empty());

  EXPECT_EQ(CheckResult(&tracer, oxa::rc::InvalidArgument, line), oxa::rc::InvalidArgument);
  ASSERT_EQ(tracer.records.size(), 1u);
  EXPECT_EQ(tracer.records[0], std::string(__FILE__) + ":" + std::to_string(line) +
                                   "(code),(OXA_SUCCEEDED(_result)) failed: result = 0x80000046 (Invalid argument)"
                                   " while opening 7");
  EXPECT_EQ(tracer.requests.back().level, oxa::kTraceError);

  EXPECT_EQ(CheckTrue(&tracer, false, line), oxa::rc::NotFound);
  ASSERT_EQ(tracer.records.size(), 2u);
  EXPECT_EQ(tracer.records[1],
            std::string(__FILE__) + ":" + std::to_string(line) + "(condition && true),(bool) failed: result = falseno entry");
}

TEST(PrefixedTracer, TagsRecordsAndRefusesLevelsAboveTheInnerMaximum) {
  MemoryTracer inner;
  const std::int32_t liveBefore = oxa::GetLiveTracerCount();
  {
    oxa::TracerRef prefixed = oxa::CreatePrefixedTracer(&inner, "[priv_adjust]");
    ASSERT_TRUE(prefixed);
    EXPECT_NE(prefixed.get(), &inner);
    EXPECT_EQ(inner.References(), 1u);
    EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore + 1);

    OXA_TRACE_TO(prefixed.get(), 1000) << "Enable privilege " << std::string(700, 'p');
    ASSERT_EQ(inner.records.size(), 1u);
    EXPECT_EQ(inner.records[0], "[priv_adjust]\tEnable privilege " + std::string(700, 'p'));
    // The tag's room is part of every request, growth included.
    EXPECT_THAT(inner.requests, ElementsAre(MemoryTracer::Request{1000, 512 + 14, false},
                                            MemoryTracer::Request{oxa::kTraceLevelAll, 1024 + 14, true}));

    char* buffer = nullptr;
    EXPECT_EQ(prefixed->AllocateBuffer(1001, &buffer, 512), oxa::rc::NotMatched);
    EXPECT_EQ(buffer, nullptr);
    OXA_TRACE_TO(prefixed.get(), 1001) << "refused";
    EXPECT_EQ(inner.records.size(), 1u);

    void* out = nullptr;
    EXPECT_EQ(prefixed->QueryInterface(0x12345678, &out), oxa::rc::InterfaceNotSupported);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(prefixed->QueryInterface(0, &out), oxa::rc::Ok);
    EXPECT_EQ(out, prefixed.get());
    EXPECT_EQ(prefixed->QueryInterface(oxa::kTracerInterfaceId, &out), oxa::rc::Ok);
    EXPECT_EQ(prefixed->Release(), 2u);
    EXPECT_EQ(prefixed->Release(), 1u);
  }
  EXPECT_EQ(inner.References(), 0u);
  EXPECT_EQ(oxa::GetLiveTracerCount(), liveBefore);

  // The inner tracer's own maximum, read through its level interface, is
  // looked up again while the prefixed tracer lives.
  inner.offersLevelInterface = true;
  inner.maxLevel = oxa::kTraceNotice;
  {
    oxa::TracerRef prefixed = oxa::CreatePrefixedTracer(&inner, "[usr_hives]", 11);
    EXPECT_EQ(inner.References(), 1u);
    OXA_TRACE_TO(prefixed.get(), oxa::kTraceInfo) << "refused";
    OXA_TRACE_TO(prefixed.get(), oxa::kTraceNotice) << "Skip not user profile " << "S-1-5-18";
    inner.maxLevel = oxa::kTraceInfo;
    OXA_TRACE_TO(prefixed.get(), oxa::kTraceInfo) << "now granted";
  }
  EXPECT_THAT(inner.records, testing::ElementsAre(testing::_, "[usr_hives]\tSkip not user profile S-1-5-18",
                                                  "[usr_hives]\tnow granted"));
}

TEST(PrefixedTracer, EmptyPrefixGivesTheInnerTracer) {
  MemoryTracer inner;
  {
    oxa::TracerRef same = oxa::CreatePrefixedTracer(&inner, "", 0);
    EXPECT_EQ(same.get(), &inner);
    EXPECT_EQ(inner.References(), 1u);
    oxa::TracerRef copy = same;
    EXPECT_EQ(inner.References(), 2u);
  }
  EXPECT_EQ(inner.References(), 0u);
  EXPECT_FALSE(oxa::CreatePrefixedTracer(nullptr, "[x]"));
}

TEST(CurrentTracer, HoldsOneReferenceAndReleasesTheOneItReplaces) {
  EXPECT_EQ(oxa::GetCurrentTracer(), nullptr);
  OXA_TRACE(oxa::kTraceError) << "nowhere";

  MemoryTracer first;
  MemoryTracer second;
  oxa::ReplaceCurrentTracer(&first);
  EXPECT_EQ(oxa::GetCurrentTracer(), &first);
  EXPECT_EQ(first.References(), 1u);
  OXA_TRACE(oxa::kTraceInfo) << "to the first";

  oxa::ReplaceCurrentTracer(&second);
  EXPECT_EQ(first.References(), 0u);
  EXPECT_EQ(second.References(), 1u);
  OXA_TRACE(oxa::kTraceInfo) << "to the second";

  oxa::ReplaceCurrentTracer(nullptr);
  EXPECT_EQ(second.References(), 0u);
  EXPECT_THAT(first.records, ElementsAre("to the first"));
  EXPECT_THAT(second.records, ElementsAre("to the second"));
}

}  // namespace
