// The installer object against a product of its own: features, stored type, environment, small-office version.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/product_registry.h"
#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/test_product.h"

namespace {

using qvrtest::RecordingSink;
using qvrtest::TestName;
using qvrtest::TestProduct;
using testing::Contains;
using testing::ElementsAre;

// How lists split and features qualify: feature_model_test; "installed" of 1 and 0: activators_test.sh.
TEST(InstallerCore, FeatureDeclarations) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  product.CreateKey(L"environment");
  product.AddFeature(L"Off", L"vmobpc", false);
  product.SetString(L"Installer\\features\\Off", L"Profiles", L"p1 p2 p3");
  product.SetString(L"Installer\\features\\NoInstalled", L"ProductTypes", L"vmobpc");
  product.SetString(L"Installer\\features\\SzInstalled", L"installed", L"0");
  product.SetString(L"Installer\\features\\ExpandTypes", L"ProductTypes", L"vmobpc", REG_EXPAND_SZ);

  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"vmobpc", nullptr));
  const auto& features = installer.Features();
  ASSERT_EQ(features.size(), 4u);
  // A missing or mistyped "installed" counts as installed (other types and sizes: ScopedRegKey's ReadTest).
  EXPECT_TRUE(features.at(L"NoInstalled").installed);
  EXPECT_TRUE(features.at(L"SzInstalled").installed);
  // A list of another type than REG_SZ reads as one empty entry.
  EXPECT_THAT(features.at(L"ExpandTypes").productTypes, ElementsAre(L""));
  EXPECT_TRUE(
      sink.Has(L"ReadFeatues: feature Off = installed: 0, producttypes: 1, profiles: 3, selfregs: 1, "
               L"selfunregs: 1, drivers: 1"));
  EXPECT_THAT(sink.Texts(qvr::kLogInfo), Contains(L"ReadProductType: can't query ProductType value: 0x00000002"));
}

// The lines of a type read and stored, and the value stored: activators_test.sh.
TEST(InstallerCore, StoredProductType) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  RecordingSink sink;

  // No environment key at all.
  {
    qvr::Installer installer;
    EXPECT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
    EXPECT_TRUE(sink.Has(L"ReadProductType: can't open environment key: 0x00000002"));
    EXPECT_FALSE(installer.WriteProductType(L"kis"));
    EXPECT_TRUE(sink.Has(L"WriteProductType: can't open environment key: 0x00000002"));
  }
  // Present but empty: success without a type.
  product.SetString(L"environment", L"ProductType", L"");
  {
    qvr::Installer installer;
    sink.lines.clear();
    installer.Initialize(&sink, nullptr, nullptr);
    EXPECT_THAT(sink.Texts(qvr::kLogInfo), Contains(L"ReadProductType: current product type is not set"));
    EXPECT_EQ(installer.CurrentProductType(), L"");
    EXPECT_TRUE(installer.WriteProductType(L"vmobfs"));  // its line and value: activators_test.sh
  }
  // Without a type of its own the target is the stored one.
  {
    qvr::Installer installer;
    installer.Initialize(&sink, nullptr, nullptr);
    EXPECT_EQ(installer.CurrentProductType(), L"vmobfs");
    EXPECT_EQ(installer.TargetProductType(), L"vmobfs");
    sink.lines.clear();
    EXPECT_TRUE(installer.WriteProductType(L""));
    EXPECT_EQ(product.GetString(L"environment", L"ProductType"), std::nullopt);
    // Removing a value that is not there succeeds.
    EXPECT_TRUE(installer.WriteProductType(L""));
    EXPECT_THAT(sink.Texts(qvr::kLogDetail), ElementsAre(L"WriteProductType: remove ProductType value",
                                                         L"WriteProductType: remove ProductType value"));
  }
  // A reader that fails after it (its lines: declarations_test) keeps the type, for the rollback.
  product.SetString(L"environment", L"ProductType", L"kis");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, product.KeyOf(L"Installer\\features").c_str());
  {
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&sink, nullptr, nullptr));
    EXPECT_EQ(installer.CurrentProductType(), L"kis");
    EXPECT_EQ(installer.TargetProductType(), L"kis");
  }
}

// Which subkey a type reads is the plan's (resource_plans_test); a copied value's line and a declared type without
// values: the end-to-end runs.
TEST(InstallerCore, EnvironmentActivationAndSmallOfficeVersion) {
  TestProduct product(TestName());
  product.CreateDeclarationKeys();
  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, nullptr, nullptr));
  // Neither environment key yet: the product's is not created.
  EXPECT_FALSE(installer.ActivateEnvironment(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              Contains(L"ActivateEnvironment: can't open product environment key: 0x00000002"));
  EXPECT_FALSE(product.KeyExists(L"environment"));
  product.CreateKey(L"environment");
  EXPECT_FALSE(installer.ActivateEnvironment(L"kis"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              Contains(L"ActivateEnvironment: can't open installer environment key: 0x00000002"));

  product.SetString(L"environment", L"ProductRoot", L"C:\\Product");
  product.SetString(L"Installer\\environment\\vmob", L"Skin", L"small");
  product.SetDword(L"Installer\\environment\\bad", L"Number", 5);
  EXPECT_TRUE(installer.ActivateEnvironment(L"vmobfs"));
  EXPECT_EQ(product.GetString(L"environment", L"Skin"), L"small");
  EXPECT_EQ(product.GetString(L"environment", L"ProductRoot"), L"C:\\Product");  // undeclared: untouched

  EXPECT_FALSE(installer.ActivateEnvironment(L"kav"));
  EXPECT_THAT(
      sink.Texts(qvr::kLogError),
      Contains(L"ActivateEnvironment: can't open installer environment key for current type: 0x00000002, type = kav"));
  EXPECT_FALSE(installer.ActivateEnvironment(L"bad"));
  EXPECT_THAT(sink.Texts(qvr::kLogError), Contains(L"ActivateEnvironment: can't query value Number: 0x0000065d"));

  // The small-office version; its bytes: feature_model_test.
  EXPECT_TRUE(qvr::IsSmallOfficeVersion(installer.Keys()));  // no data key
  product.CreateKey(L"data");
  EXPECT_FALSE(qvr::IsSmallOfficeVersion(installer.Keys()));  // no value
  product.SetDword(L"data", L"inmobver", 0x06020000);
  EXPECT_FALSE(qvr::IsSmallOfficeVersion(installer.Keys()));
  product.SetQword(L"data", L"inmobver", 0x0006020000000000ull);
  EXPECT_TRUE(qvr::IsSmallOfficeVersion(installer.Keys()));
}

}  // namespace
