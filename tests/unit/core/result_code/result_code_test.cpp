#include "component/oxa/result_code.h"

#include <gtest/gtest.h>

namespace {

using oxa::ResultCode;

ResultCode Code(std::uint32_t value) { return static_cast<ResultCode>(value); }

TEST(ResultCodeText, TablesAndGaps) {
  EXPECT_EQ(oxa::GetResultCodeText(0), "No error");
  EXPECT_EQ(oxa::GetResultCodeText(Code(0x80000313)), "DateTime syntax error");
  EXPECT_EQ(oxa::GetResultCodeText(Code(0x80010118)), "System shutdown in progress");
  // Gaps between defined codes and codes beyond the last have no text.
  EXPECT_EQ(oxa::GetResultCodeText(Code(0x80000070)), "Unknown result code");
  EXPECT_EQ(oxa::GetResultCodeText(Code(0x80010119)), "Unknown result code");
}

TEST(ResultFromWin32Error, TableAndRules) {
  EXPECT_EQ(oxa::ResultFromWin32Error(0), 0);
  EXPECT_EQ(oxa::ResultFromWin32Error(2), Code(0x80010102));
  EXPECT_EQ(oxa::ResultFromWin32Error(14001), Code(0x80010108));
  // Not in the table.
  EXPECT_EQ(oxa::ResultFromWin32Error(9999), Code(0x8007270F));
  EXPECT_EQ(oxa::ResultFromWin32Error(0x12345), 0);
  // HRESULTs wrapping a Windows error convert what they carry.
  EXPECT_EQ(oxa::ResultFromWin32Error(0x80070002), Code(0x80010102));
  EXPECT_EQ(oxa::ResultFromWin32Error(0x8007FFFF), Code(0x8007FFFF));
  // Other failure codes are unspecified platform errors.
  EXPECT_EQ(oxa::ResultFromWin32Error(0x80004005), Code(0x80010100));
}

}  // namespace
