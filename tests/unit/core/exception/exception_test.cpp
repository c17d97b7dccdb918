#include "component/oxa/exception/exception.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "component/oxa/exception/call_stack.h"
#include "component/oxa/exception/exception_details.h"

namespace {

using oxa::ExceptionProperty;
using oxa::ResultCode;

ResultCode Code(std::uint32_t value) { return static_cast<ResultCode>(value); }

TEST(ExceptionText, WithoutDetailsBlock) {
  const oxa::Exception plain("src/a.cpp", 3, L"message");
  EXPECT_STREQ(plain.what(), "Unknown exception");
  EXPECT_EQ(plain.GetDetails(), nullptr);
  EXPECT_EQ(plain.GetDescription(), L"message");
  EXPECT_EQ(oxa::GetExceptionResultCode(plain), Code(0x80000151));
  EXPECT_EQ(oxa::GetExceptionLogText(plain), L"message. At src/a.cpp(3) ");
}

TEST(ExceptionText, ResultCodeDescriptionAndLogForm) {
  const oxa::ResultCodeException withMessage(Code(0x80000046), "src/b.cpp", 42, L"abc");
  EXPECT_EQ(withMessage.GetDescription(), L"abc: 0x80000046 (Invalid argument)");
  EXPECT_EQ(oxa::GetExceptionLogText(withMessage), L"abc: 0x80000046 (Invalid argument). At src/b.cpp(42) ");
  const oxa::ResultCodeException bare(Code(0x80010102), "src/b.cpp", -1);
  EXPECT_EQ(bare.GetDescription(), L"0x80010102 (File not found)");
  EXPECT_EQ(oxa::GetExceptionLogText(bare), L"0x80010102 (File not found). At src/b.cpp(-1) ");
  const oxa::ResultCodeException unknown(Code(0x80070005), "f", 1, L"x");
  EXPECT_EQ(unknown.GetDescription(), L"x: 0x80070005 (Unknown result code)");
  // The description goes through the virtual slot.
  const oxa::Exception& base = withMessage;
  EXPECT_EQ(base.GetDescription(), L"abc: 0x80000046 (Invalid argument)");
}

TEST(ExceptionText, WhatWithAndWithoutProperties) {
  const oxa::ResultCodeException coded(Code(0x80000046), "src/c.cpp", 7);
  EXPECT_STREQ(coded.what(), "src/c.cpp(7): . Properties:\noxa.result=0x80000046\nCall stack:\n");
  // Exactly one blank between the message's period and the call stack.
  const oxa::Exception narrow("src/c.cpp", 12, "disk gone", 9);
  EXPECT_STREQ(narrow.what(), "src/c.cpp(12): disk gone. Call stack:\n");
  EXPECT_EQ(narrow.GetMessageText(), L"");
}

TEST(ExceptionProperties, ValueTextsAndReplacement) {
  oxa::Exception error("p.cpp", 1, "m", 1);
  error.SetProperty(ExceptionProperty::FromWindowsError("os.result", 5));
  error.SetProperty(ExceptionProperty::FromInt64("signed", -1));
  error.SetProperty(ExceptionProperty::FromUInt64("unsigned", 0x1234));
  error.SetProperty(ExceptionProperty::FromString("narrow", "caf\xC3\xA9"));
  error.SetProperty(ExceptionProperty::FromWideString("wide", L"caf\u00e9 \xD83D\xDE00 \xD800!"));
  error.SetProperty(ExceptionProperty::FromOther("other", 77, 1));
  EXPECT_STREQ(error.what(),
               "p.cpp(1): m. Properties:\n"
               "os.result=0x00000005\n"
               "signed=0xffffffffffffffff\n"
               "unsigned=0x0000000000001234\n"
               "narrow=caf\xC3\xA9\n"
               "wide=caf\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD!\n"
               "other=<typeid=77>\n"
               "Call stack:\n");
  // Setting a present name replaces its value in place; the cached text follows.
  error.SetProperty(ExceptionProperty::FromString("signed", "now a string"));
  const auto& properties = error.GetDetails()->GetProperties();
  ASSERT_EQ(properties.size(), 6u);
  EXPECT_EQ(properties[1].GetName(), "signed");
  EXPECT_EQ(properties[1].GetString(), "now a string");
  EXPECT_NE(std::string(error.what()).find("\nsigned=now a string\nunsigned="), std::string::npos);
  EXPECT_EQ(error.FindProperty("missing"), nullptr);

  EXPECT_NO_THROW(ExceptionProperty::FromInt64(std::string(31, 'n'), 0));
  EXPECT_THROW(ExceptionProperty::FromInt64(std::string(32, 'n'), 0), std::invalid_argument);
}

TEST(ExceptionProperties, ResultCodeOfAnException) {
  oxa::Exception windowsOnly("r.cpp", 1, L"");
  windowsOnly.SetProperty(ExceptionProperty::FromWindowsError(oxa::kWindowsErrorProperty, 5));
  EXPECT_EQ(oxa::GetExceptionResultCode(windowsOnly), Code(0x80000045));

  // A property of the right name but the wrong kind does not count.
  oxa::Exception wrongKinds("r.cpp", 2, L"");
  wrongKinds.SetProperty(ExceptionProperty::FromUInt64(oxa::kResultProperty, 0x80000046));
  wrongKinds.SetProperty(ExceptionProperty::FromInt64(oxa::kWindowsErrorProperty, 5));
  EXPECT_EQ(oxa::GetExceptionResultCode(wrongKinds), Code(0x80000151));

  oxa::ResultCodeException both(Code(0x8000004C), "r.cpp", 3);
  both.SetProperty(ExceptionProperty::FromWindowsError(oxa::kWindowsErrorProperty, 5));
  EXPECT_EQ(oxa::GetExceptionResultCode(both), Code(0x8000004C));
  EXPECT_EQ(both.GetResultCode(), Code(0x8000004C));
  // A failed code is kept as it is, also a success code.
  const oxa::ResultCodeException success(0, "r.cpp", 4);
  EXPECT_EQ(oxa::GetExceptionResultCode(success), 0);
}

TEST(ExceptionCopies, ShareTheDetailsBlock) {
  auto* original = new oxa::ResultCodeException(Code(0x80000041), "s.cpp", 9, L"first");
  oxa::ResultCodeException copy(*original);
  EXPECT_EQ(copy.GetDetails(), original->GetDetails());
  copy.SetProperty(ExceptionProperty::FromUInt64("added", 1));
  EXPECT_NE(original->FindProperty("added"), nullptr);
  delete original;  // the copy keeps the block alive
  EXPECT_EQ(copy.GetResultCode(), Code(0x80000041));
  EXPECT_EQ(copy.GetMessageText(), L"first");

  oxa::ResultCodeException other(Code(0x80000042), "s.cpp", 10);
  other = copy;
  EXPECT_EQ(other.GetDetails(), copy.GetDetails());
  EXPECT_EQ(other.GetLine(), 9);
  const oxa::ResultCodeException& self = other;
  other = self;
  EXPECT_EQ(other.GetResultCode(), Code(0x80000041));
}

int g_evaluations = 0;
ResultCode Evaluate(ResultCode code) {
  ++g_evaluations;
  return code;
}

TEST(ThrowHelpers, TypesPositionsAndMessages) {
  try {
    oxa::ThrowCheckResultFailed(Code(0x8000005E), "t.cpp", 5, L"range");
  } catch (const oxa::CheckResultFailedException& error) {
    EXPECT_EQ(error.GetResultCode(), Code(0x8000005E));
    EXPECT_EQ(error.GetDescription(), L"range: 0x8000005e (Out of range)");
    EXPECT_STREQ(error.GetFile(), "t.cpp");
    EXPECT_EQ(error.GetLine(), 5);
    EXPECT_TRUE(error.GetDetails()->GetCallStack().empty());
  }
  try {
    oxa::ThrowCheckFailed("t.cpp", 6);
  } catch (const oxa::Exception& error) {
    EXPECT_NE(dynamic_cast<const oxa::CheckFailedException*>(&error), nullptr);
    EXPECT_EQ(error.GetDescription(), L"");
    EXPECT_EQ(error.GetLine(), 6);
  }
  try {
    oxa::ThrowResultWithStack(Code(0x80010103), "t.cpp", 7);
  } catch (const oxa::CheckResultFailedException&) {
    ADD_FAILURE() << "not a failed check";
  } catch (const oxa::ResultCodeException& error) {
    EXPECT_STREQ(error.what(), "t.cpp(7): OXA_THROW_IF_FAIL. Properties:\noxa.result=0x80010103\nCall stack:\n");
  }
  const oxa::SystemException system(Code(0x80000040), "t.cpp", 8, L"CoInitialize return error code");
  const oxa::ResultCodeException& asResult = system;
  EXPECT_EQ(asResult.GetDescription(), L"CoInitialize return error code: 0x80000040 (Unexpected)");
}

TEST(ThrowHelpers, MacrosEvaluateOnceAndThrowAtTheirLine) {
  g_evaluations = 0;
  OXA_THROW_IF_FAIL(Evaluate(0));
  OXA_THROW_IF_FAIL(Evaluate(1));
  OXA_CHECK_RESULT(Evaluate(1));
  OXA_CHECK_BOOL(Evaluate(1) == 1);
  EXPECT_EQ(g_evaluations, 4);

  int line = 0;
  try {
    line = __LINE__ + 1;
    OXA_THROW_IF_FAIL(Evaluate(Code(0x80000045)));
  } catch (const oxa::ResultCodeException& error) {
    EXPECT_EQ(error.GetLine(), line);
    EXPECT_STREQ(error.GetFile(), __FILE__);
    EXPECT_EQ(error.GetResultCode(), Code(0x80000045));
  }
  EXPECT_EQ(g_evaluations, 5);
  // Source positions are relative to the repository.
  EXPECT_EQ(std::string(__FILE__).rfind("tests/unit/core/exception/", 0), 0u);

  EXPECT_THROW(OXA_CHECK_RESULT(Evaluate(Code(0x80000046))), oxa::CheckResultFailedException);
  EXPECT_THROW(OXA_CHECK_BOOL(Evaluate(0) == 1), oxa::CheckFailedException);
  EXPECT_EQ(g_evaluations, 7);
}

// A stack of made-up addresses over two made-up modules.
class FakeSource final : public oxa::CallStackSource {
 public:
  std::size_t CaptureFrames(std::uint64_t* frames, std::size_t capacity) noexcept override {
    std::size_t count = 0;
    for (const auto frame : stack) {
      if (count == capacity) break;
      frames[count++] = frame;
    }
    return count;
  }
  oxa::ResultCode ReadModule(std::uint64_t address, oxa::ExceptionModule& module) override {
    reads.push_back(address);
    for (const auto& [base, entry] : modules) {
      if (address >= base && address < base + entry.size) {
        module.path = entry.path;
        module.identity = entry.identity;
        module.base = base;
        module.size = entry.size;
        return oxa::rc::Ok;
      }
    }
    return Code(0x8000005A);
  }
  struct Entry {
    const char* path;
    const char* identity;
    std::uint64_t size;
  };
  std::vector<std::uint64_t> stack;
  std::map<std::uint64_t, Entry> modules;
  std::vector<std::uint64_t> reads;
};

class ScopedSource {
 public:
  explicit ScopedSource(oxa::CallStackSource* source) { oxa::SetCallStackSource(source); }
  ~ScopedSource() { oxa::SetCallStackSource(nullptr); }
};

TEST(CallStack, LinesModuleTableAndFrameLimit) {
  FakeSource source;
  source.modules = {{0x7ff000001000, {"C:\\bin\\b.dll", "B0B2", 0x100}},
                    {0x1000, {"C:\\bin\\a.exe", "A0A1", 0x100}}};
  source.stack = {0x7ff000001004, 0, 0x1010, 0x5000, 0x1020, 0x7ff0000010ff};
  for (int i = 0; i < 70; ++i) source.stack.push_back(0x9000 + i);
  ScopedSource scope(&source);

  const oxa::Exception error("cs.cpp", 1, "stack", 5);
  const oxa::ExceptionDetails& details = *error.GetDetails();
  // Null frames dropped, at most 62 asked for.
  EXPECT_EQ(details.GetCallStack().size(), 61u);
  // Covered addresses are not read again; the table is sorted by load address.
  EXPECT_EQ(source.reads.size(), 2u + 1u + 56u);
  ASSERT_EQ(details.GetModules().size(), 2u);
  EXPECT_EQ(details.GetModules()[0].base, 0x1000u);
  EXPECT_EQ(details.GetModules()[1].base, 0x7ff000001000u);

  const std::string what = error.what();
  const std::string head =
      "cs.cpp(1): stack. Call stack:\n"
      " 0# C:\\bin\\b.dll!B0B2!4\n"
      " 1# C:\\bin\\a.exe!A0A1!10\n"
      " 2# 5000\n"
      " 3# C:\\bin\\a.exe!A0A1!20\n"
      " 4# C:\\bin\\b.dll!B0B2!ff\n"
      " 5# 9000\n";
  EXPECT_EQ(what.substr(0, head.size()), head);
  EXPECT_NE(what.find("\n 9# 9004\n10# 9005\n"), std::string::npos);
  EXPECT_EQ(what.substr(what.size() - 9), "60# 9037\n");

  // Exceptions without a narrow message capture nothing.
  const oxa::ResultCodeException coded(Code(0x80000041), "cs.cpp", 2);
  EXPECT_TRUE(coded.GetDetails()->GetCallStack().empty());
}

}  // namespace
