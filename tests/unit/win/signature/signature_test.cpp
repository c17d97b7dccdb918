// The product signature of module files: both schemes and the executable's embedded signature over the built signed
// files (testdata/signature, bin/product_info.dll) and bad copies of them, the key resources, and the loader, which
// loads a file only when its signature is valid.
#include "Custom_Actions/COMMON/signature.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Custom_Actions/COMMON/product_info_checked.h"
#include "component/oxa/exception/exception.h"
#include "component/oxa/text/utf.h"
#include "tests/support/msi_session.h"
#include "tests/support/test_files.h"
#include "tests/unit/core/trace/memory_tracer.h"

namespace {

using qvrtest::MemoryTracer;
using testing::HasSubstr;

std::string Built(const std::wstring& relative) { return qvrtest::ReadAll(qvrtest::BuildPath(relative)); }

// The DOS stub's message, which no loader reads: a changed byte there leaves a library that still loads.
constexpr std::size_t kDosStubText = 0x50;
std::string Changed(std::string bytes, std::size_t at = kDosStubText) {
  bytes[at] ^= 0x20;
  return bytes;
}

// The trailer's signature length field (signcheck_lib/signature_trailer.h).
std::uint32_t TrailerLength(const std::string& bytes) {
  std::uint32_t length;
  bytes.copy(reinterpret_cast<char*>(&length), 4, bytes.size() - 12);
  return length;
}
std::string WithTrailerLength(std::string bytes, std::uint32_t length) {
  bytes.replace(bytes.size() - 12, 4, reinterpret_cast<const char*>(&length), 4);
  return bytes;
}
// The signature's last `cut` bytes gone, the length fixed.
std::string Truncated(std::string bytes, std::uint32_t cut) {
  const std::uint32_t length = TrailerLength(bytes);
  bytes.erase(bytes.size() - 12 - cut, cut);
  return WithTrailerLength(std::move(bytes), length - cut);
}

std::string QsigRecord(int line, const std::string& expression, const std::string& message) {
  return "signcheck_lib/check_qsig_signature:" + std::to_string(line) + "(" + expression +
         "),(bool) failed: result = falsesigncheck\t" + message;
}
const std::string kQsigCorrupted = QsigRecord(207, "(!((qsigResult)^0xe9ba5770U))", "Qsig check result: 0xe9ba5771");
const std::string kQsigBadSignature = QsigRecord(207, "(!((qsigResult)^0xe9ba5770U))", "Qsig check result: 0xe9ba5779");
const std::string kPxsNotFound = "PXS check result: -2147483572, result flags: 0x0";

struct CheckedCopy {
  std::wstring path;
  oxa::FileHandle file;
};

// `content` as `name` in `folder`, open as the loader opens a file to check.
CheckedCopy Place(const qvrtest::TestFolder& folder, const std::wstring& name, const std::string& content) {
  const std::wstring path = folder / name;
  qvrtest::WriteAll(path, content);
  return {path, oxa::FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr))};
}

TEST(IsSignatureValid, EachSchemeAcceptsItsSignatureAndEveryBadFileIsNotValid) {
  const std::string pxs = Built(L"bin/product_info.dll");
  const std::string qsig = Built(L"testdata/signature/qsig_a.dll");
  const std::string exe = Built(L"testdata/signature/signed.exe");
  const struct {
    const wchar_t* name;
    std::string content;
    bool valid;
    std::vector<std::string> records;  // among the records, in any order
  } cases[] = {
      {L"pxs.dll", pxs, true, {"PXS check result: 0, result flags: 0xd"}},
      {L"pxs_attrs.dll", Built(L"testdata/signature/pxs_attrs.dll"), true, {"PXS check result: 0, result flags: 0xf"}},
      {L"qsig_a.dll", qsig, true, {kPxsNotFound, "QSIG check result: succeeded"}},
      {L"qsig_b.dll", Built(L"testdata/signature/qsig_b.dll"), true, {"QSIG check result: succeeded"}},
      // Wine's crypt32 passes changed content under signed attributes: the digest comparison fails it (0x8000005a).
      {L"pxs_attrs_changed.dll",
       Changed(Built(L"testdata/signature/pxs_attrs.dll")),
       false,
       {"PXS check result: -2147483558, result flags: 0x7", kQsigCorrupted}},
      {L"pxs_changed.dll", Changed(pxs), false, {", result flags: 0x5", kQsigCorrupted}},
      {L"pxs_foreign.dll",
       Built(L"testdata/signature/pxs_foreign.dll"),
       false,
       {"PXS check result: -2147483386, result flags: 0x1"}},
      {L"pxs_truncated.dll", Truncated(pxs, 100), false, {", result flags: 0x0", kQsigCorrupted}},
      {L"qsig_changed.dll", Changed(qsig), false, {kPxsNotFound, kQsigBadSignature}},
      {L"qsig_foreign.dll", Built(L"testdata/signature/qsig_foreign.dll"), false, {kQsigBadSignature}},
      {L"qsig_outside.dll", WithTrailerLength(qsig, static_cast<std::uint32_t>(qsig.size())), false, {kQsigCorrupted}},
      {L"unsigned.dll", Built(L"unsigned/product_info.dll"), false, {kPxsNotFound, kQsigCorrupted}},
      {L"short.dll", "QSIG1", false, {kPxsNotFound, kQsigCorrupted}},
      {L"empty.dll",
       "",
       false,
       {kPxsNotFound, QsigRecord(118, "size > 0 && size <= std::numeric_limits<oxa::blob_t::size_type>::max()",
                                 "Invalid file size 0")}},
      // The executable's check comes first for any case of ".exe", and only for it.
      {L"signed.EXE", exe, true, {"PXS check result: 0, result flags: 0xd"}},
      {L"signed.dll", exe, false, {kPxsNotFound, kQsigCorrupted}},
      {L"signed_changed.exe", Changed(exe), false, {", result flags: 0x5", kQsigCorrupted}},
      {L"unmarked.exe", Built(L"testdata/signature/unmarked.exe"), false, {kPxsNotFound, kQsigCorrupted}},
  };
  qvrtest::TestFolder folder(L"signature");
  for (const auto& test : cases) {
    SCOPED_TRACE(oxa::ToUtf8(test.name));
    const CheckedCopy copy = Place(folder, test.name, test.content);
    ASSERT_TRUE(copy.file) << GetLastError();
    MemoryTracer tracer(true);
    EXPECT_EQ(qvr::IsSignatureValid({copy.path, copy.file.Get()}), test.valid);
    const std::vector<std::string> texts = tracer.Texts();
    std::vector<testing::Matcher<std::string>> expected;
    for (const std::string& record : test.records) expected.push_back(HasSubstr(record));
    EXPECT_THAT(texts, testing::IsSupersetOf(expected));
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& text) { return text.starts_with("return point. Signature is "); }),
              1);
    ASSERT_FALSE(tracer.records.empty());
    EXPECT_EQ(tracer.records.back(), (MemoryTracer::Record{300, test.valid ? "return point. Signature is valid"
                                                                           : "return point. Signature is not valid"}));
    // A .exe's successful check is final: the attached schemes never run.
    const bool attachedChecked = std::any_of(
        texts.begin(), texts.end(), [](const std::string& text) { return text.starts_with("Start pxs check on "); });
    EXPECT_EQ(attachedChecked, !(test.valid && std::wstring(test.name).ends_with(L".EXE")));
  }
}

TEST(LoadQsigKeysFromRes, AppendsTheKeysInOrderAndStopsAtAMissingOne) {
  MemoryTracer tracer(true);
  std::vector<qvr::KeyBlob> keys;
  EXPECT_TRUE(qvr::LoadQsigKeysFromRes({704, 700}, keys));
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].id, 704u);
  EXPECT_EQ(std::string(keys[0].data.begin(), keys[0].data.end()), Built(L"signing/pxs_product.cer"));
  EXPECT_EQ(std::string(keys[1].data.begin(), keys[1].data.end()), Built(L"signing/qsig_root_a.qsk"));
  EXPECT_TRUE(tracer.records.empty());

  EXPECT_FALSE(qvr::LoadQsigKeysFromRes({701, 702, 700}, keys));
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[2].id, 701u);
  EXPECT_THAT(tracer.Texts(), testing::ElementsAre("Custom_Actions/COMMON/signature:51(keyData.first && "
                                                   "keyData.second),(bool) failed: result = false"));
}

// The library records every load in PRODUCT_INFO_LOAD_LOG: a file that is not valid is never loaded, so its code
// never runs.
TEST(LoadLibraryAndCheckSignature, LoadsOnlyAValidFileAndTheOthersNeverRun) {
  qvrtest::TestFolder folder(L"signature-load");
  const std::wstring loadLog = folder / L"load.log";
  ASSERT_TRUE(SetEnvironmentVariableW(L"PRODUCT_INFO_LOAD_LOG", loadLog.c_str()));
  const std::string pxs = Built(L"bin/product_info.dll");
  const struct {
    const wchar_t* name;
    std::string content;
    bool valid;
  } cases[] = {
      {L"unsigned.dll", Built(L"unsigned/product_info.dll"), false},
      {L"changed.dll", Changed(pxs), false},
      {L"foreign.dll", Built(L"testdata/signature/qsig_foreign.dll"), false},
      {L"signed.dll", pxs, true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(oxa::ToUtf8(test.name));
    const std::wstring path = folder / test.name;
    qvrtest::WriteAll(path, test.content);
    oxa::ModuleHandle module;
    EXPECT_EQ(qvr::LoadLibraryAndCheckSignature(path, module), test.valid);
    EXPECT_EQ(static_cast<bool>(module), test.valid);
    EXPECT_EQ(qvrtest::ReadAll(loadLog), test.valid ? "DllMain\r\n" : "<cannot open>");
  }

  // The identity part fails an invalid file at its own position; a missing one is a failed load.
  try {
    qvr::LoadProductInfo(folder / L"unsigned.dll");
    ADD_FAILURE() << "an unsigned library was read";
  } catch (const oxa::CheckFailedException& error) {
    EXPECT_STREQ(error.GetFile(), "Custom_Actions/COMMON/product_info_checked");
    EXPECT_EQ(error.GetLine(), 29);
  }
  try {
    oxa::ModuleHandle module;
    qvr::LoadLibraryAndCheckSignature(folder / L"missing.dll", module);
    ADD_FAILURE() << "a missing library was loaded";
  } catch (const oxa::CheckResultFailedException& error) {
    EXPECT_STREQ(error.GetFile(), "Custom_Actions/COMMON/signature");
    EXPECT_EQ(error.GetLine(), 206);
    EXPECT_EQ(oxa::GetExceptionResultCode(error), oxa::rc::FileNotFound);
  }
  EXPECT_EQ(qvrtest::ReadAll(loadLog), "DllMain\r\n");
}

}  // namespace
