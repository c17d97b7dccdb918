// The 13 registry key paths of the product below its product key.
#include "platform/product_info/common_reg_keys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

TEST(CommonRegKeys, DerivedFromTheProductKey) {
  const qvr::CommonRegKeys keys = qvr::DeriveCommonRegKeys(L"Software\\X\\Y");
  EXPECT_THAT(keys, testing::ElementsAre(L"Software\\X\\Y",                             //
                                         L"Software\\X\\Y\\environment",                //
                                         L"Software\\X\\Y\\data",                       //
                                         L"Software\\X\\Y\\Installer",                  //
                                         L"Software\\X\\Y\\Installer\\features\\",      //
                                         L"Software\\X\\Y\\Installer\\profiles\\",      //
                                         L"Software\\X\\Y\\Installer\\ProtoHandlers",   //
                                         L"Software\\X\\Y\\Installer\\shortcuts",       //
                                         L"Software\\X\\Y\\Installer\\registry",        //
                                         L"Software\\X\\Y\\Installer\\drivers",         //
                                         L"Software\\X\\Y\\Installer\\Selfregs",        //
                                         L"Software\\X\\Y\\Installer\\Selfunregs",      //
                                         L"Software\\X\\Y\\Installer\\environment"));
  EXPECT_EQ(keys[qvr::kFeaturesKey], L"Software\\X\\Y\\Installer\\features\\");
  EXPECT_EQ(keys[qvr::kInstallerEnvironmentKey], L"Software\\X\\Y\\Installer\\environment");
  // A feature's subkey is appended directly.
  EXPECT_EQ(keys[qvr::kFeaturesKey] + L"Core", L"Software\\X\\Y\\Installer\\features\\Core");
}

TEST(CommonRegKeys, ProductKeyIsTakenAsItIs) {
  // An empty key still gives the relative subkey names; nothing is trimmed.
  const qvr::CommonRegKeys empty = qvr::DeriveCommonRegKeys(L"");
  EXPECT_EQ(empty[qvr::kProductKey], L"");
  EXPECT_EQ(empty[qvr::kProductEnvironmentKey], L"\\environment");
  EXPECT_EQ(empty[qvr::kSelfunregsKey], L"\\Installer\\Selfunregs");
  const qvr::CommonRegKeys spaced = qvr::DeriveCommonRegKeys(L" Software\\Vendor Lab\\Product 1 ");
  EXPECT_EQ(spaced[qvr::kProductDataKey], L" Software\\Vendor Lab\\Product 1 \\data");
  EXPECT_EQ(spaced[qvr::kProfilesKey], L" Software\\Vendor Lab\\Product 1 \\Installer\\profiles\\");
}

}  // namespace
