#include "tools/qvrhost/log_explainer.h"

#include <gtest/gtest.h>

#include "tools/qvrhost/verbose_log.h"

namespace {

const std::vector<std::wstring_view> kFormats{L"ReadProfiles: value %ls is empty", L"Step: failed: 0x%08x"};

std::wstring Explain(std::wstring_view log) {
  return qvrhost::ExplainActions(qvrhost::ReadModuleActions(log), kFormats).text;
}

// A failed action with its error lines and the failed-check record before
// them; a succeeding one with none; the engine's own records of an action
// (unpadded hour, its Id) are not the module's.
TEST(LogExplainer, FailedAndSucceededActions) {
  const std::wstring log =
      L"Action start 9:36:30: QvrAct.\r\n"
      L"Action start 09:36:30: MsiProductActivate.\r\n"
      L"MSI (X) (XX:XX) [09:36:30:101]: MsiProductActivate: ProductType=kis, mode=16\r\n"
      L"MSI (X) (XX:XX) [09:36:30:102]: [usr_hives]\tCustom_Actions/COMMON/reg_users_action:94(RegOpenKeyExW),"
      L"(OXA_SUCCEEDED(_result)) failed: result = 0x80070005 (Access is denied.)Failed to open\r\n"
      L"ReadProfiles: profile Scan = tasks\\Scan\r\n"
      L"ReadProfiles: value Broken is empty\r\n"
      L"Action ended 09:36:30: MsiProductActivate. Return value 3.\r\n"
      L"Step: failed: 0x00000005\r\n"
      L"Action start 09:36:31: MsiProductDeactivate.\n"
      L"Step: failed: 0x00000005\n"
      L"Action ended 09:36:31: MsiProductDeactivate. Return value 1.\n"
      L"Action start 09:36:32: MsiProductRbActivate.\n";
  EXPECT_EQ(Explain(log),
            L"MsiProductActivate (line 2): failed (return value 3)\n"
            L"  line 4, failed check: [usr_hives]\tCustom_Actions/COMMON/reg_users_action:94(RegOpenKeyExW),"
            L"(OXA_SUCCEEDED(_result)) failed: result = 0x80070005 (Access is denied.)Failed to open\n"
            L"  line 6, error: ReadProfiles: value Broken is empty\n"
            L"MsiProductDeactivate (line 9): succeeded (return value 1)\n"
            L"MsiProductRbActivate (line 12): did not end (no end record)\n");
  EXPECT_TRUE(qvrhost::ExplainActions(qvrhost::ReadModuleActions(log), kFormats).anyFailed);
}

TEST(LogExplainer, NoModuleAction) {
  EXPECT_EQ(Explain(L"Action start 09:36:30: Other.\nAction ended 09:36:30: Other. Return value 3.\n"),
            L"no action of the module in this log\n");
}

// A failed-check record is one only behind the module's prefix.
TEST(LogExplainer, FailedCheckRecordNeedsThePrefix) {
  const std::wstring record = L"a.cpp:12(x),(OXA_SUCCEEDED(_result)) failed: result = 0x1";
  EXPECT_TRUE(qvrhost::IsFailedCheckRecord(record));
  EXPECT_FALSE(qvrhost::IsFailedCheckRecord(L"a.cpp:x(x),(OXA_SUCCEEDED(_result)) failed: result = 0x1"));
  EXPECT_EQ(Explain(L"Action start 09:36:30: MsiProductActivate.\n" + record +
                    L"\nAction ended 09:36:30: MsiProductActivate. Return value 3.\n"),
            L"MsiProductActivate (line 1): failed (return value 3)\n");
}

TEST(LogExplainer, DecodesUtf16AndUtf8) {
  EXPECT_EQ(qvrhost::DecodeLogText(std::string("\xFF\xFE"
                                               "a\0\xE9\0",
                                               6)),
            L"a\u00e9");
  EXPECT_EQ(qvrhost::DecodeLogText("\xEF\xBB\xBF"
                                   "a\xC3\xA9"),
            L"a\u00e9");
  EXPECT_EQ(qvrhost::DecodeLogText("a\xFF"), L"a\uFFFD");
}

}  // namespace
