#include "tools/qvrhost/declaration_lint.h"

#include <gtest/gtest.h>

namespace {

using qvrhost::DeclarationSnapshot;
using qvrhost::LintFinding;
using qvrhost::StoredKey;
using qvrhost::StoredValue;

StoredValue Text(std::wstring name, std::wstring text) {
  return {std::move(name), qvrhost::kRegSz, static_cast<std::uint32_t>(2 * text.size() + 2), text};
}
StoredValue Dword(std::wstring name) { return {std::move(name), qvrhost::kRegDword, 4, {}}; }

DeclarationSnapshot Present() {
  DeclarationSnapshot snapshot;
  for (StoredKey* key : {&snapshot.profiles, &snapshot.features, &snapshot.protoHandlers, &snapshot.registry})
    key->present = true;
  return snapshot;
}

// Only the readers' own rules count: the default value is passed over, an
// empty self-registration is skipped, a number is a driver's right type,
// and an empty entry of a feature's list names nothing.
TEST(DeclarationLint, CleanDeclarations) {
  DeclarationSnapshot snapshot = Present();
  snapshot.profiles.values = {Text(L"", L""), Text(L"Scan", L"tasks\\Scan")};
  snapshot.registry.values = {Text(L"A", L"Key=Software\\X|Name=A")};
  snapshot.drivers.values = {Dword(L"drv")};
  snapshot.environments.subKeys = {L"vmob", L"kis"};
  qvr::FeatureMap features;
  features[L"Av"].productTypes = {L"kis", L"vmobpc"};
  features[L"Av"].profiles = {L"Scan", L""};
  features[L"Av"].registry = {L"A"};
  features[L"Av"].drivers = {L"drv"};
  EXPECT_EQ(qvrhost::LintDeclarations(snapshot, features, {L"kis", L""}), std::vector<LintFinding>{});
}

TEST(DeclarationLint, MissingKeysAndWrongTypes) {
  DeclarationSnapshot snapshot;
  snapshot.profiles.present = snapshot.features.present = snapshot.protoHandlers.present = true;
  snapshot.selfunregs.values = {Text(L"u", L""), {L"v", qvrhost::kRegExpandSz, 4, L"x"}};
  snapshot.drivers.values = {{L"d", qvrhost::kRegDword, 8, {}}, {L"e", qvrhost::kRegQword, 8, {}}};
  EXPECT_EQ(qvrhost::LintDeclarations(snapshot, {}, {}),
            (std::vector<LintFinding>{
                {L"Installer\\registry", L"is missing: Initialize fails"},
                {L"Installer\\Selfunregs\\u", L"is empty: skipped"},
                {L"Installer\\Selfunregs\\v", L"is REG_EXPAND_SZ, not REG_SZ: skipped"},
                {L"Installer\\drivers\\d", L"is REG_DWORD of 8 bytes, not a REG_DWORD: skipped"},
                {L"Installer\\drivers\\e", L"is REG_QWORD of 8 bytes, not a REG_DWORD: skipped"},
            }));
}

// Overlong names: a feature's ends the features' walk, a scheme may have 24
// characters.
TEST(DeclarationLint, Names) {
  DeclarationSnapshot snapshot = Present();
  snapshot.features.subKeys = {std::wstring(256, L'f'), std::wstring(255, L'g')};
  snapshot.protoHandlers.subKeys = {std::wstring(24, L'a'), std::wstring(25, L'b')};
  snapshot.protoHandlerKeys[std::wstring(24, L'a')].values = {Text(L"Command", L"x"), Text(L"Descr", L"d")};
  EXPECT_EQ(qvrhost::LintDeclarations(snapshot, {}, {}),
            (std::vector<LintFinding>{
                {L"Installer\\features\\" + std::wstring(32, L'f') + L"...",
                 L"its name has 256 characters, more than 255: Initialize fails"},
                {L"Installer\\ProtoHandlers\\" + std::wstring(25, L'b'),
                 L"its name has 25 characters, more than 24: Initialize fails"},
            }));
}

// Names of each kind of declaration that nothing stores; the small-office
// types share "vmob".
TEST(DeclarationLint, ReferencesAndTypes) {
  DeclarationSnapshot snapshot = Present();
  snapshot.environments.subKeys = {L"vmob", L"gone"};
  qvr::FeatureMap features;
  qvr::FeatureRecord& f = features[L"F"];
  f.productTypes = {L"kis"};
  f.profiles = {L"p"};
  f.registry = {L"r"};
  f.selfregs = {L"s"};
  f.selfUnregs = {L"u"};
  f.drivers = {L"d"};
  auto names = [](const wchar_t* value, const wchar_t* kind, const wchar_t* name) {
    return LintFinding{std::wstring(L"Installer\\features\\F\\") + value,
                       std::wstring(L"names ") + kind + L" '" + name + L"', which is not declared: left out"};
  };
  EXPECT_EQ(qvrhost::LintDeclarations(snapshot, features, {L"kis", L"vmobpc"}),
            (std::vector<LintFinding>{
                names(L"Profiles", L"profile", L"p"),
                names(L"Registry", L"registry flag", L"r"),
                names(L"Selfregs", L"self-registration", L"s"),
                names(L"SelfUnregs", L"self-unregistration", L"u"),
                names(L"Drivers", L"driver", L"d"),
                {L"product type 'vmobpc'", L"no feature declares it: nothing feature-driven is activated"},
                {L"Installer\\environment\\vmob", L"environment of a product type that no feature declares"},
                {L"Installer\\environment\\gone", L"environment of a product type that no feature declares"},
            }));
}

}  // namespace
