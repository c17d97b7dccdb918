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

// what() is what the module logs for an exception it caught; the description what the profile context logs.
TEST(ExceptionText, WhatAndDescription) {
  const oxa::Exception plain("src/a.cpp", 3, L"message");
  EXPECT_STREQ(plain.what(), "Unknown exception");  // no details block
  EXPECT_EQ(plain.GetDescription(), L"message");

  const oxa::ResultCodeException withMessage(Code(0x80000046), "src/b.cpp", 42, L"abc");
  const oxa::Exception& base = withMessage;  // through the virtual slot
  EXPECT_EQ(base.GetDescription(), L"abc: 0x80000046 (Invalid argument)");
  EXPECT_EQ(oxa::ResultCodeException(Code(0x8000005E), "b", 1).GetDescription(), L"0x8000005e (Out of range)");
  EXPECT_STREQ(withMessage.what(), "src/b.cpp(42): . Properties:\noxa.result=0x80000046\nCall stack:\n");
  // Exactly one blank between the message's period and the call stack.
  EXPECT_STREQ(oxa::Exception("src/c.cpp", 12, "disk gone", 9).what(), "src/c.cpp(12): disk gone. Call stack:\n");
}

TEST(ExceptionProperties, WindowsErrorsResultCodesAndReplacement) {
  oxa::Exception error("p.cpp", 1, "m", 1);
  error.SetProperty(ExceptionProperty::FromWindowsError(oxa::kWindowsErrorProperty, 5));
  EXPECT_STREQ(error.what(), "p.cpp(1): m. Properties:\nos.result=0x00000005\nCall stack:\n");
  // A present name is replaced in place; the text built before follows.
  error.SetProperty(ExceptionProperty::FromWindowsError(oxa::kWindowsErrorProperty, 2));
  EXPECT_STREQ(error.what(), "p.cpp(1): m. Properties:\nos.result=0x00000002\nCall stack:\n");

  // A property of the right name but the wrong kind does not count.
  oxa::Exception wrongKinds("r.cpp", 2, L"");
  wrongKinds.SetProperty(ExceptionProperty::FromUInt64(oxa::kResultProperty, 0x80000046));
  wrongKinds.SetProperty(ExceptionProperty::FromInt64(oxa::kWindowsErrorProperty, 5));
  EXPECT_EQ(oxa::GetExceptionResultCode(wrongKinds), Code(0x80000151));
  // The result code wins over a Windows error; a success code is kept too.
  oxa::ResultCodeException both(Code(0x8000004C), "r.cpp", 3);
  both.SetProperty(ExceptionProperty::FromWindowsError(oxa::kWindowsErrorProperty, 5));
  EXPECT_EQ(oxa::GetExceptionResultCode(both), Code(0x8000004C));
  EXPECT_EQ(oxa::GetExceptionResultCode(oxa::ResultCodeException(0, "r.cpp", 4)), 0);
  EXPECT_THROW(ExceptionProperty::FromInt64(std::string(32, 'n'), 0), std::invalid_argument);
  EXPECT_NO_THROW(ExceptionProperty::FromInt64(std::string(31, 'n'), 0));
}

TEST(ExceptionCopies, ShareTheDetailsBlock) {
  auto* original = new oxa::ResultCodeException(Code(0x80000041), "s.cpp", 9, L"first");
  oxa::ResultCodeException copy(*original);
  copy.SetProperty(ExceptionProperty::FromWindowsError("added", 1));
  EXPECT_NE(original->FindProperty("added"), nullptr);
  delete original;  // the copy keeps the block alive
  oxa::ResultCodeException other(Code(0x80000042), "s.cpp", 10);
  other = copy;
  const oxa::ResultCodeException& self = other;
  other = self;
  EXPECT_EQ(other.GetResultCode(), Code(0x80000041));
  EXPECT_EQ(other.GetMessageText(), L"first");
}

TEST(ThrowHelpers, TypesAndTexts) {
  try {
    oxa::ThrowResultWithStack(Code(0x80010103), "t.cpp", 7);
  } catch (const oxa::CheckResultFailedException&) {
    ADD_FAILURE() << "not a failed check";
  } catch (const oxa::ResultCodeException& error) {
    EXPECT_STREQ(error.what(), "t.cpp(7): OXA_THROW_IF_FAIL. Properties:\noxa.result=0x80010103\nCall stack:\n");
  }
}

// A stack of made-up addresses over two made-up modules.
class FakeSource final : public oxa::CallStackSource {
 public:
  struct Entry {
    const char* path;
    const char* identity;
    std::uint64_t size;
  };
  std::size_t CaptureFrames(std::uint64_t* frames, std::size_t capacity) noexcept override {
    std::size_t count = 0;
    for (; count < capacity && count < stack.size(); ++count) frames[count] = stack[count];
    return count;
  }
  oxa::ResultCode ReadModule(std::uint64_t address, oxa::ExceptionModule& module) override {
    reads.push_back(address);
    for (const auto& [base, entry] : modules) {
      if (address < base || address >= base + entry.size) continue;
      module.path = entry.path;
      module.identity = entry.identity;
      module.base = base;
      module.size = entry.size;
      return oxa::rc::Ok;
    }
    return Code(0x8000005A);
  }
  std::vector<std::uint64_t> stack;
  std::map<std::uint64_t, Entry> modules;
  std::vector<std::uint64_t> reads;
};

TEST(CallStack, LinesModuleTableAndFrameLimit) {
  FakeSource source;
  source.modules = {{0x7ff000001000, {"C:\\bin\\b.dll", "B0B2", 0x100}}, {0x1000, {"C:\\bin\\a.exe", "A0A1", 0x100}}};
  source.stack = {0x7ff000001004, 0, 0x1010, 0x5000, 0x1020, 0x7ff0000010ff};
  for (int i = 0; i < 70; ++i) source.stack.push_back(0x9000 + i);
  oxa::SetCallStackSource(&source);
  const oxa::Exception error("cs.cpp", 1, "stack", 5);
  const oxa::ResultCodeException coded(Code(0x80000041), "cs.cpp", 2);
  oxa::SetCallStackSource(nullptr);

  // Covered addresses are not read again. The frames find their modules only in a table sorted by load address.
  EXPECT_EQ(source.reads.size(), 2u + 1u + 56u);
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
  // Null frames dropped, at most 62 asked for.
  EXPECT_EQ(what.substr(what.size() - 9), "60# 9037\n");
  // Exceptions without a narrow message capture nothing.
  EXPECT_TRUE(coded.GetDetails()->GetCallStack().empty());
}

}  // namespace
