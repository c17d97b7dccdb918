// URL protocol handlers: reading, registration, removal, and the failures that stop each.
#include "Custom_Actions/qvrinst/installer.h"
#include "platform/util/scoped_reg_key.h"

#include "tests/support/msi_session.h"
#include "tests/support/recording_sink.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <tuple>
#include <vector>

namespace {

using qvrtest::KeyExists;
using qvrtest::ReadSz;
using qvrtest::RecordingSink;
using qvrtest::ScopedKeyLock;
using qvrtest::TestName;
using qvrtest::TestProduct;
using testing::ElementsAre;
using testing::IsEmpty;

// A scheme of this process only, padded with 'x' to `length` characters.
std::wstring Scheme(const std::wstring& tag, std::size_t length = 0) {
  std::wstring scheme = L"qvrt" + std::to_wstring(GetCurrentProcessId()) + tag;
  scheme.resize(std::max(length, scheme.size()), L'x');
  return scheme;
}

// "description|URL Protocol|command" of a scheme, "-" for each missing one.
std::wstring Registered(const std::wstring& scheme) {
  const std::pair<std::wstring, const wchar_t*> values[] = {
      {scheme, L""}, {scheme, L"URL Protocol"}, {scheme + L"\\shell\\open\\command", L""}};
  std::wstring text;
  for (const auto& [key, name] : values) text += ReadSz(HKEY_CLASSES_ROOT, key, name).value_or(L"-") + L"|";
  text.pop_back();
  return text;
}

// A product declaring protocol handlers, whose schemes go when the test ends.
class ProtoProduct {
 public:
  ProtoProduct() : product(TestName()) {
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
  }

  std::wstring Declare(const std::wstring& scheme, const wchar_t* command = nullptr) {
    guards_.emplace_back(HKEY_CLASSES_ROOT, scheme);
    product.CreateKey(Declaration(scheme));
    if (command) Set(scheme, L"Command", command);
    return scheme;
  }
  std::wstring Declaration(const std::wstring& scheme) const { return L"Installer\\ProtoHandlers\\" + scheme; }
  void Set(const std::wstring& scheme, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    product.SetString(Declaration(scheme), name, text, type);
  }

  TestProduct product;

 private:
  std::list<qvrtest::ScopedKeyTree> guards_;
};

TEST(ProtoHandlers, RegisterAndRemove) {
  ProtoProduct p;
  const std::wstring b = p.Declare(Scheme(L"b"));
  const std::wstring longest = p.Declare(Scheme(L"c", 24), L"qvr.exe");  // the longest that fits
  // An expandable text is taken as stored, without its terminating NUL.
  p.Set(b, L"Command", L"%ProgramFiles%\\QVR\\qvr.exe %1", REG_EXPAND_SZ);
  p.Set(longest, L"Descr", L"%SystemRoot%");

  RecordingSink sink;
  qvr::Installer installer;
  // Protocol handlers need no feature and no product type.
  ASSERT_TRUE(installer.Initialize(&sink, L"", nullptr));
  // The missing Descr of b is the one line.
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"GetStringValue: can't query buffer size, err: 0x00000002"));

  sink.lines.clear();
  ASSERT_TRUE(installer.RegisterProtoHandlers());
  // Unexpanded, written as REG_SZ; a missing description is an empty one.
  EXPECT_EQ(Registered(b), L"||%ProgramFiles%\\QVR\\qvr.exe %1");
  EXPECT_EQ(Registered(longest), L"%SystemRoot%||qvr.exe");

  // Removal takes the whole tree; a missing scheme key is no failure.
  ASSERT_TRUE(installer.UnRegisterProtoHandlers());
  for (const auto& scheme : {b, longest}) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, scheme)) << scheme;
  EXPECT_TRUE(installer.UnRegisterProtoHandlers());
  EXPECT_THAT(sink.lines, IsEmpty());
}

// A bad declaration ends the reading before the registry values; a scheme
// read before it stays read.
TEST(ProtoHandlers, ReaderFailures) {
  const std::wstring noCommand = L"ReadProtoHandlers: protocol handler " + Scheme(L"b") + L" has no command";
  const struct {
    std::size_t length;  // of the scheme; 25 does not fit the name buffer
    DWORD type;          // of its command, ""
    std::vector<std::wstring> lines;
  } cases[] = {
      {0, REG_DWORD, {L"GetStringValue: can't query buffer size, err: 0x0000000d", noCommand}},
      {0, REG_SZ, {noCommand}},
      {25, REG_SZ, {L"ReadProtoHandlers: can't enum protocol handlers root key, err: 0x000000ea"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.back());
    ProtoProduct p;
    const std::wstring a = p.Declare(Scheme(L"a"), L"a.exe");
    p.Set(a, L"Descr", L"a");
    const std::wstring bad = p.Declare(Scheme(L"b", c.length), L"");
    p.Set(bad, L"Descr", L"b");
    if (c.type == REG_DWORD) p.product.SetDword(p.Declaration(bad), L"Command", 1);
    p.product.SetString(L"Installer\\registry", L"Flag", L"Key=k|Name=n");
    RecordingSink sink;
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&sink, L"kis", nullptr));
    EXPECT_EQ(sink.Texts(qvr::kLogError), c.lines);
    EXPECT_EQ(installer.ProtoHandlers().ProtoHandlers().count(a), 1u);
    EXPECT_EQ(installer.ProtoHandlers().ProtoHandlers().count(bad), 0u);
    EXPECT_THAT(installer.Registry().Table(), IsEmpty());
  }
}

// The value writer's failure (its writes are read back above).
TEST(ProtoHandlers, SetStringValueIntoAKeyOpenedForReading) {
  TestProduct product(TestName());
  product.CreateKey(L"v");
  RecordingSink sink;
  qvr::ScopedRegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, product.KeyOf(L"v").c_str(), KEY_READ), ERROR_SUCCESS);
  EXPECT_FALSE(qvr::SetStringValue(&sink, key, L"Name", L"value"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"SetStringValue: failed to set param Name with value value, err: 0x5"));
}

// A key that cannot be created or a tree that cannot be deleted stops the
// operation at that scheme: those before it are done, those after it not.
TEST(ProtoHandlers, WriteFailuresStopAtTheFailingScheme) {
  ProtoProduct p;
  const std::wstring a = p.Declare(Scheme(L"a"), L"a.exe");
  const std::wstring b = p.Declare(Scheme(L"b"), L"b.exe");
  const std::wstring c = p.Declare(Scheme(L"c"), L"c.exe");
  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  const std::tuple<bool, std::wstring, const wchar_t*> cases[] = {
      {true, b, L"RegisterProtoHandlers: can't create proto handler root key, err: 0x00000005"},
      {true, b + L"\\shell\\open\\command",
       L"RegisterProtoHandlers: can't create proto handler command key, err: 0x00000005"},
      // The tree of b holds a key that cannot be opened.
      {false, b + L"\\shell", L"UnRegisterProtoHandlers: can't delete proto handler root key, err: 0x00000005"},
  };
  for (const auto& [registering, locked, line] : cases) {
    ASSERT_TRUE(registering || installer.RegisterProtoHandlers());
    const ScopedKeyLock lock(HKEY_CLASSES_ROOT, locked);
    ASSERT_TRUE(lock.Locked());
    sink.lines.clear();
    EXPECT_FALSE(registering ? installer.RegisterProtoHandlers() : installer.UnRegisterProtoHandlers());
    EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(line));
    EXPECT_EQ(Registered(a), registering ? L"||a.exe" : L"-|-|-");
    EXPECT_TRUE(registering || KeyExists(HKEY_CLASSES_ROOT, b));
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, c), !registering);
  }
}

}  // namespace
