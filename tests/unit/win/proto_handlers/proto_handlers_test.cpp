// URL protocol handlers: declarations read at Initialize, registration under
// HKEY_CLASSES_ROOT and removal of the schemes' key trees, and the failures
// that stop each of them.
#include "Custom_Actions/qvrinst/installer.h"
#include "platform/util/scoped_reg_key.h"

#include "tests/support/recording_sink.h"
#include "tests/support/registry_guards.h"
#include "tests/support/test_product.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

using qvrtest::KeyExists;
using qvrtest::ReadRegValue;
using qvrtest::ReadSz;
using qvrtest::RecordingSink;
using qvrtest::ScopedKeyTree;
using qvrtest::TestProduct;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Optional;

std::wstring TestName() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return std::wstring(name.begin(), name.end());
}

// A scheme no other test program uses: "qvrt", the process id, `tag`, and
// 'x' up to `length` characters.
std::wstring Scheme(const std::wstring& tag, std::size_t length = 0) {
  wchar_t pid[16];
  std::swprintf(pid, 16, L"%lx", GetCurrentProcessId());
  std::wstring scheme = L"qvrt" + std::wstring(pid) + tag;
  if (scheme.size() < length) scheme.append(length - scheme.size(), L'x');
  return scheme;
}

// A product declaring protocol handlers (and nothing else), whose schemes are
// removed from HKEY_CLASSES_ROOT when the test ends.
class ProtoProduct {
 public:
  ProtoProduct() : product(TestName()) {
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
  }

  // Declares `scheme`; the guard removes its registration.
  const std::wstring& Declare(const std::wstring& scheme) {
    guards_.push_back(std::make_unique<ScopedKeyTree>(HKEY_CLASSES_ROOT, scheme));
    product.CreateKey(Declaration(scheme));
    return scheme;
  }
  std::wstring Declaration(const std::wstring& scheme) const { return L"Installer\\ProtoHandlers\\" + scheme; }
  void Set(const std::wstring& scheme, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    product.SetString(Declaration(scheme), name, text, type);
  }

  TestProduct product;

 private:
  std::vector<std::unique_ptr<ScopedKeyTree>> guards_;
};

TEST(ProtoHandlers, RegisterAndRemove) {
  ProtoProduct p;
  const std::wstring a = p.Declare(Scheme(L"a"));
  const std::wstring b = p.Declare(Scheme(L"b"));
  const std::wstring longest = p.Declare(Scheme(L"c", 24));
  ASSERT_EQ(longest.size(), 24u);
  p.Set(a, L"Descr", L"URL:QVR protocol");
  p.Set(a, L"Command", L"\"C:\\Program Files\\QVR\\qvr.exe\" \"%1\"");
  // Expandable texts are taken as stored, without their terminating NUL.
  p.Set(b, L"Command", L"%ProgramFiles%\\QVR\\qvr.exe %1", REG_EXPAND_SZ);
  p.Set(longest, L"Descr", L"%SystemRoot%", REG_EXPAND_SZ);
  p.Set(longest, L"Command", L"qvr.exe");
  // Whatever the scheme's key already holds stays through registration.
  HKEY existing = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (a + L"\\DefaultIcon").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &existing, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(existing);

  RecordingSink sink;
  qvr::Installer installer;
  // Protocol handlers need no feature and no product type.
  ASSERT_TRUE(installer.Initialize(&sink, L"", nullptr));
  const auto& table = installer.ProtoHandlers().ProtoHandlers();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table.at(a).name, a);
  EXPECT_EQ(table.at(a).descr, L"URL:QVR protocol");
  EXPECT_EQ(table.at(b).command, L"%ProgramFiles%\\QVR\\qvr.exe %1");
  EXPECT_EQ(table.at(b).descr, L"");
  EXPECT_EQ(table.at(longest).descr, L"%SystemRoot%");
  // The missing Descr of b is the one line.
  EXPECT_THAT(sink.Texts(qvr::kLogError), ElementsAre(L"GetStringValue: can't query buffer size, err: 0x00000002"));

  sink.lines.clear();
  ASSERT_TRUE(installer.RegisterProtoHandlers());
  ASSERT_TRUE(installer.RegisterProtoHandlers());  // again over its own keys
  EXPECT_THAT(sink.lines, IsEmpty());
  EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, a, L""), Optional(std::wstring(L"URL:QVR protocol")));
  EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, a, L"URL Protocol"), Optional(std::wstring()));
  EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, a + L"\\shell\\open\\command", L""),
              Optional(std::wstring(L"\"C:\\Program Files\\QVR\\qvr.exe\" \"%1\"")));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, a + L"\\DefaultIcon"));
  // Unexpanded, written as REG_SZ; an empty description is an empty REG_SZ.
  EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, b + L"\\shell\\open\\command", L""),
              Optional(std::wstring(L"%ProgramFiles%\\QVR\\qvr.exe %1")));
  EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, b, L""), Optional(std::wstring()));
  EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, longest, L""), Optional(std::wstring(L"%SystemRoot%")));
  EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, longest, L"URL Protocol"), Optional(std::wstring()));

  // Removal takes the whole tree, also what was there before.
  ASSERT_TRUE(installer.UnRegisterProtoHandlers());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, a));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, b));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, longest));
  // Schemes whose keys do not exist are removed without complaint.
  EXPECT_TRUE(installer.UnRegisterProtoHandlers());
  EXPECT_THAT(sink.lines, IsEmpty());
}

TEST(ProtoHandlers, NoDeclarations) {
  ProtoProduct p;
  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_THAT(installer.ProtoHandlers().ProtoHandlers(), IsEmpty());
  EXPECT_TRUE(installer.RegisterProtoHandlers());
  EXPECT_TRUE(installer.UnRegisterProtoHandlers());
  EXPECT_THAT(sink.Texts(qvr::kLogError), IsEmpty());
}

TEST(ProtoHandlers, ReaderFailures) {
  RecordingSink sink;
  {
    TestProduct product(TestName());
    product.CreateDeclarationKeys();
    product.CreateKey(L"environment");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, product.KeyOf(L"Installer\\ProtoHandlers").c_str());
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&sink, L"kis", nullptr));
    EXPECT_THAT(sink.Texts(qvr::kLogError),
                ElementsAre(L"ReadProtoHandlers: can't open protocol handlers key, err: 0x00000002"));
  }

  // Each bad declaration ends the reading before the registry values; the
  // scheme read before it stays read.
  struct Case {
    const char* what;
    void (*declare)(ProtoProduct& p, const std::wstring& scheme);
    std::vector<std::wstring> lines;
  };
  const std::wstring bad = Scheme(L"b");
  const std::wstring noCommand = L"ReadProtoHandlers: protocol handler " + bad + L" has no command";
  const std::vector<Case> cases = {
      {"REG_DWORD command", [](ProtoProduct& p, const std::wstring& s) { p.product.SetDword(p.Declaration(s), L"Command", 1); },
       {L"GetStringValue: can't query buffer size, err: 0x0000000d", noCommand}},
      {"missing command", [](ProtoProduct&, const std::wstring&) {},
       {L"GetStringValue: can't query buffer size, err: 0x00000002", noCommand}},
      {"empty command", [](ProtoProduct& p, const std::wstring& s) { p.Set(s, L"Command", L""); }, {noCommand}},
      {"no data", [](ProtoProduct& p, const std::wstring& s) { p.product.SetBinary(p.Declaration(s), L"Command", REG_SZ, "", 0); },
       {noCommand}},
      {"odd size", [](ProtoProduct& p, const std::wstring& s) { p.product.SetBinary(p.Declaration(s), L"Command", REG_SZ, "a\0\0", 3); },
       {L"GetStringValue: can't query value Command, err: 0x0000000d", noCommand}},
  };
  for (const auto& c : cases) {
    ProtoProduct p;
    const std::wstring a = p.Declare(Scheme(L"a"));
    p.Set(a, L"Descr", L"a");
    p.Set(a, L"Command", L"a.exe");
    p.Declare(bad);
    p.Set(bad, L"Descr", L"b");
    c.declare(p, bad);
    p.product.SetString(L"Installer\\registry", L"Flag", L"Key=k|Name=n");
    sink.lines.clear();
    qvr::Installer installer;
    EXPECT_FALSE(installer.Initialize(&sink, L"kis", nullptr)) << c.what;
    EXPECT_EQ(sink.Texts(qvr::kLogError), c.lines) << c.what;
    EXPECT_THAT(installer.ProtoHandlers().ProtoHandlers(), ElementsAre(testing::Key(a))) << c.what;
    EXPECT_THAT(installer.Registry().Table(), IsEmpty()) << c.what;
  }

  // A scheme of 25 characters does not fit the name buffer.
  ProtoProduct p;
  const std::wstring a = p.Declare(Scheme(L"a"));
  p.Set(a, L"Descr", L"a");
  p.Set(a, L"Command", L"a.exe");
  const std::wstring tooLong = p.Declare(Scheme(L"b", 25));
  p.Set(tooLong, L"Command", L"b.exe");
  sink.lines.clear();
  qvr::Installer installer;
  EXPECT_FALSE(installer.Initialize(&sink, L"kis", nullptr));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"ReadProtoHandlers: can't enum protocol handlers root key, err: 0x000000ea"));
  EXPECT_THAT(installer.ProtoHandlers().ProtoHandlers(), ElementsAre(testing::Key(a)));
}

TEST(ProtoHandlers, StringValues) {
  TestProduct product(TestName());
  product.SetString(L"v", L"Terminated", L"");
  product.SetString(L"v", L"Text", L"text");
  RecordingSink sink;
  qvr::Installer installer;
  installer.Initialize(&sink, nullptr, nullptr);
  sink.lines.clear();

  qvr::ScopedRegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, product.KeyOf(L"v").c_str(), KEY_READ), ERROR_SUCCESS);
  // Only the terminating NUL: the empty text, without a line.
  EXPECT_EQ(qvr::GetStringValue(&sink, key, L"Terminated"), L"");
  EXPECT_EQ(qvr::GetStringValue(&sink, key, L"Text"), L"text");
  EXPECT_THAT(sink.lines, IsEmpty());
  // A key opened for reading cannot take a value.
  EXPECT_FALSE(qvr::SetStringValue(&sink, key, L"Name", L"value"));
  EXPECT_THAT(sink.Texts(qvr::kLogError),
              ElementsAre(L"SetStringValue: failed to set param Name with value value, err: 0x5"));
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, product.KeyOf(L"v").c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_TRUE(qvr::SetStringValue(&sink, key, L"Name", L"value"));
  const auto written = ReadRegValue(HKEY_LOCAL_MACHINE, product.KeyOf(L"v"), L"Name");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(written->bytes, std::wstring(L"value", 6));  // with one terminating NUL
}

TEST(ProtoHandlers, WriteFailuresStopAtTheFailingScheme) {
  ProtoProduct p;
  const std::wstring a = p.Declare(Scheme(L"a"));
  const std::wstring b = p.Declare(Scheme(L"b"));
  const std::wstring c = p.Declare(Scheme(L"c"));
  for (const auto& scheme : {a, b, c}) p.Set(scheme, L"Command", scheme + L".exe");
  RecordingSink sink;
  qvr::Installer installer;
  ASSERT_TRUE(installer.Initialize(&sink, L"kis", nullptr));
  sink.lines.clear();

  {
    const qvrtest::ScopedKeyLock lock(HKEY_CLASSES_ROOT, b);
    ASSERT_TRUE(lock.Locked());
    EXPECT_FALSE(installer.RegisterProtoHandlers());
    EXPECT_THAT(sink.Texts(qvr::kLogError),
                ElementsAre(L"RegisterProtoHandlers: can't create proto handler root key, err: 0x00000005"));
    EXPECT_THAT(ReadSz(HKEY_CLASSES_ROOT, a + L"\\shell\\open\\command", L""), Optional(a + L".exe"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c));
  }
  {
    const qvrtest::ScopedKeyLock lock(HKEY_CLASSES_ROOT, b + L"\\shell\\open\\command");
    ASSERT_TRUE(lock.Locked());
    sink.lines.clear();
    EXPECT_FALSE(installer.RegisterProtoHandlers());
    EXPECT_THAT(sink.Texts(qvr::kLogError),
                ElementsAre(L"RegisterProtoHandlers: can't create proto handler command key, err: 0x00000005"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c));
  }

  ASSERT_TRUE(installer.RegisterProtoHandlers());
  {
    // The tree of b holds a key that cannot be opened.
    const qvrtest::ScopedKeyLock lock(HKEY_CLASSES_ROOT, b + L"\\shell");
    ASSERT_TRUE(lock.Locked());
    sink.lines.clear();
    EXPECT_FALSE(installer.UnRegisterProtoHandlers());
    EXPECT_THAT(sink.Texts(qvr::kLogError),
                ElementsAre(L"UnRegisterProtoHandlers: can't delete proto handler root key, err: 0x00000005"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, a));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, b));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, c));  // not visited
  }
  EXPECT_TRUE(installer.UnRegisterProtoHandlers());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c));
}

}  // namespace
