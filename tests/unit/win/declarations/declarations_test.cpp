// The declaration readers of Initialize: each kind's lines, and whether a declaration it
// cannot read fails the initialisation (those read before stay) or costs only itself.
#include "Custom_Actions/qvrinst/installer.h"

#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/test_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using testing::ElementsAre;

// A missing key (no name) fails the initialisation, except the plugins'.
TEST(Declarations, EachReaderFailsOrSkipsByItsOwnRules) {
  const std::wstring overlong(256, L'n');
  const struct {
    const wchar_t* key;  // below Installer
    std::optional<std::wstring> name;
    const wchar_t* data;
    DWORD type;
    bool initialized;
    const wchar_t* line;
  } cases[] = {
      {L"profiles", L"Bad", L"tasks\\Scan", REG_EXPAND_SZ, false, L"ReadProfiles: can't query value Bad: 0x0000065d"},
      {L"profiles", overlong, L"tasks\\Scan", REG_SZ, false, L"ReadProfiles: can't enum profiles key: 0x000000ea"},
      {L"registry", L"Bad", L"", REG_SZ, false, L"ReadRegistry: can't query value Bad is empty"},
      {L"registry", L"Bad", L"Key=k", REG_MULTI_SZ, false, L"ReadRegistry: can't query value Bad: 0x0000065d"},
      {L"registry", overlong, L"Key=k", REG_SZ, false, L"ReadRegistry: can't enum registry key: 0x000000ea"},
      {L"Selfregs", L"Bad", L"", REG_SZ, true, L"ReadSelfregs: value Bad is empty"},
      {L"Selfregs", overlong, L"cmd", REG_SZ, true, L"ReadSelfregs: can't enum selfregs key: 0x000000ea"},
      {L"Selfunregs", L"Bad", L"", REG_SZ, true, L"ReadSelfUnregs: can't query value Bad is empty"},
      {L"Selfunregs", L"Bad", L"cmd", REG_EXPAND_SZ, true, L"ReadSelfUnregs: can't query value Bad: 0x0000065d"},
      {L"Selfunregs", overlong, L"cmd", REG_SZ, true, L"ReadSelfregs: can't enum selfunregs key: 0x000000ea"},
      {L"profiles", std::nullopt, nullptr, 0, false, L"ReadProfiles: can't open profiles key: 0x00000002"},
      {L"features", std::nullopt, nullptr, 0, false, L"ReadFeatures: can't open features key: 0x00000002"},
      {L"Selfregs", std::nullopt, nullptr, 0, true, L"ReadSelfregs: can't open selfreg key: 0x00000002"},
      {L"Selfunregs", std::nullopt, nullptr, 0, true, L"ReadSelfUnregs: can't open selfunreg key: 0x00000002"},
      {L"ProtoHandlers", std::nullopt, nullptr, 0, false,
       L"ReadProtoHandlers: can't open protocol handlers key, err: 0x00000002"},
      {L"registry", std::nullopt, nullptr, 0, false, L"ReadRegistry: can't open registry key: 0x00000002"},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    qvrtest::TestProduct product(qvrtest::TestName() + L"." + std::to_wstring(++number));
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
    const std::wstring key = std::wstring(L"Installer\\") + c.key;
    if (!c.name) RegDeleteKeyW(HKEY_LOCAL_MACHINE, product.KeyOf(key).c_str());
    // Good declarations before and after the bad one: a skip goes on to the next.
    const wchar_t* good = std::wstring(c.key) == L"registry" ? L"Key=k" : L"tasks\\A";
    if (c.name) {
      product.SetString(key, L"A", good);
      product.SetString(key, c.name->c_str(), c.data, c.type);
      product.SetString(key, L"Z", good);
    }
    qvrtest::RecordingSink sink;
    qvr::Installer installer;
    EXPECT_EQ(installer.Initialize(&sink, L"kis", nullptr), c.initialized);
    EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(c.line));
    // Each reader's entry line names what it read.
    EXPECT_EQ(sink.Has(L" A = "), c.name.has_value());
    EXPECT_EQ(sink.Has(L" Z = "), c.name && c.initialized);
  }
}

}  // namespace
