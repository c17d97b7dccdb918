#include "Custom_Actions/qvrinst/feature_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using qvr::FeatureRecord;
using qvr::SplitDeclarationList;
using testing::ElementsAre;

// The empty list as one empty entry: InstallerCore.FeatureDeclarations.
TEST(DeclarationList, SplitsAtEverySingleSpace) {
  EXPECT_THAT(SplitDeclarationList(L"vmobpc  vmobfs"), ElementsAre(L"vmobpc", L"", L"vmobfs"));
  EXPECT_THAT(SplitDeclarationList(L"vmobpc\tvmobfs"), ElementsAre(L"vmobpc\tvmobfs"));
}

// Installation, case and the empty type: see the plans (resource_plans_test).
TEST(Qualification, WholeEntriesOnly) {
  FeatureRecord feature;
  feature.productTypes = SplitDeclarationList(L"vmobpc kis");
  EXPECT_TRUE(qvr::Qualifies(feature, L"vmobpc"));
  EXPECT_FALSE(qvr::Qualifies(feature, L"vmob"));
}

TEST(SmallOffice, VersionAtMost62) {
  auto version = [](unsigned major, unsigned minor) {
    return (static_cast<std::uint64_t>(major) << 48) | (static_cast<std::uint64_t>(minor) << 40) | 0x12345678u;
  };
  EXPECT_TRUE(qvr::IsSmallOfficeVersionAtMost62(version(6, 2)));
  EXPECT_FALSE(qvr::IsSmallOfficeVersionAtMost62(version(6, 3)));
  EXPECT_TRUE(qvr::IsSmallOfficeVersionAtMost62(version(5, 99)));
  EXPECT_FALSE(qvr::IsSmallOfficeVersionAtMost62(version(7, 0)));
  // Only bytes 6 and 5 count.
  EXPECT_TRUE(qvr::IsSmallOfficeVersionAtMost62(0xFF06020000000000ull));
}

}  // namespace
