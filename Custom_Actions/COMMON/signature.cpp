#include "Custom_Actions/COMMON/signature.h"

#include <windows.h>
// wincrypt.h needs the Windows types.
#include <wincrypt.h>

#include <algorithm>
#include <cwctype>
#include <exception>
#include <string_view>

#include "component/oxa/exception/check_sites.h"
#include "component/oxa/system/file/path.h"
#include "component/oxa/trace/failed_check.h"
#include "component/oxa/trace/tracer.h"
#include "signcheck_lib/pxs_library.h"
#include "signcheck_lib/signature_trailer.h"
#include "signcheck_lib/verification_library.h"

namespace qvr {
namespace {

using oxa::CheckSite;

constexpr wchar_t kKeyResourceType[] = L"QSIG_KEY";
// The attribute of an executable's embedded signature that holds its PXS signature.
constexpr char kPxsMarkingAttribute[] = "1.3.6.1.4.1.64128.1973.11";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// A path long enough for any file name.
constexpr DWORD kLongestPath = 32768;

bool EndsWithExe(const std::wstring& path) {
  constexpr std::wstring_view kExe = L".exe";
  return path.size() >= kExe.size() && std::equal(kExe.begin(), kExe.end(), path.end() - kExe.size(),
                                                  [](wchar_t a, wchar_t b) { return a == std::towlower(b); });
}

std::wstring ResolveLibraryPath(const std::wstring& path) {
  if (path.find_first_of(L"\\/:") != std::wstring::npos) return path;
  std::wstring buffer(kLongestPath, L'\0');
  const DWORD directory = GetDllDirectoryW(kLongestPath, buffer.data());
  if (directory > 0 && directory < kLongestPath) {
    std::wstring candidate = oxa::JoinPath(std::wstring_view(buffer.data(), directory), path);
    if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
  }
  const DWORD found = SearchPathW(nullptr, path.c_str(), nullptr, kLongestPath, buffer.data(), nullptr);
  if (found > 0 && found < kLongestPath) return buffer.substr(0, found);
  return path;
}

[[noreturn]] void ThrowLoadFailed(DWORD error) {
  oxa::ThrowCheckResultFailed(oxa::ResultFromWin32Error(error), CheckSite::kProductInfoLoadFailed);
}

struct PxsFunctions {
  PxsInitializeLibraryFn initialize = nullptr;
  PxsUninitializeLibraryFn uninitialize = nullptr;
  PxsCreateContextFn createContext = nullptr;
  PxsDestroyContextFn destroyContext = nullptr;
  PxsCheckFileFn checkFile = nullptr;
  PxsCheckExecutableFn checkExecutable = nullptr;
};

// The PXS library of the process: loaded and initialised by the first check,
// torn down at process exit.
class PxsLibrary {
 public:
  static const PxsLibrary& Get() {
    static const PxsLibrary library;
    return library;
  }
  bool IsInitialized() const { return initialized_; }
  const PxsFunctions& Functions() const { return functions_; }

 private:
  PxsLibrary() : library_(LoadVerificationLibrary(kPxsLibraryName)) {
    if (!library_) return;
    PxsFunctions& f = functions_;
    f.initialize = BindExport<PxsInitializeLibraryFn>(library_, "PxsInitializeLibrary");
    f.uninitialize = BindExport<PxsUninitializeLibraryFn>(library_, "PxsUninitializeLibrary");
    f.createContext = BindExport<PxsCreateContextFn>(library_, "PxsCreateContext");
    f.destroyContext = BindExport<PxsDestroyContextFn>(library_, "PxsDestroyContext");
    f.checkFile = BindExport<PxsCheckFileFn>(library_, "PxsCheckFile");
    f.checkExecutable = BindExport<PxsCheckExecutableFn>(library_, "PxsCheckExecutable");
    initialized_ = f.initialize && f.uninitialize && f.createContext && f.destroyContext && f.checkFile &&
                   f.checkExecutable && OXA_SUCCEEDED(f.initialize());
  }
  ~PxsLibrary() {
    if (initialized_) functions_.uninitialize();
  }

  oxa::ModuleHandle library_;
  PxsFunctions functions_;
  bool initialized_ = false;
};

const PxsLibrary* InitializedPxsLibrary() {
  const PxsLibrary& library = PxsLibrary::Get();
  if (library.IsInitialized()) return &library;
  oxa::FailedCheckRecord(oxa::GetCurrentTracer(), CheckSite::kPxsInitialize, "((PxsInitializeLibrary()) >= 0)");
  return nullptr;
}

// A PXS context whose trusted root is the product certificate (key resource
// 704), destroyed with the scope.
class PxsRoot {
 public:
  explicit PxsRoot(const PxsFunctions& functions) : functions_(functions) {
    std::vector<KeyBlob> keys;
    if (!LoadQsigKeysFromRes({kProductCertificate}, keys) || keys.empty()) {
      oxa::FailedCheckRecord(oxa::GetCurrentTracer(), CheckSite::kPxsRootKey,
                             "LoadQsigKeysFromRes({704}, keys) && !keys.empty()");
      return;
    }
    const std::int32_t pxsRes = functions_.createContext(keys[0].data.data(), keys[0].data.size(), &context_);
    if (OXA_FAILED(pxsRes)) {
      context_ = nullptr;
      oxa::FailedCheckRecord(oxa::GetCurrentTracer(), CheckSite::kPxsRootContext, "((pxsRes) >= 0)");
    }
  }
  ~PxsRoot() {
    if (context_) functions_.destroyContext(context_);
  }
  PxsRoot(const PxsRoot&) = delete;
  PxsRoot& operator=(const PxsRoot&) = delete;

  PxsContext* Get() const { return context_; }

 private:
  const PxsFunctions& functions_;
  PxsContext* context_ = nullptr;
};

bool ReadCheckedFile(const CheckedFile& file, std::vector<std::uint8_t>& fileBuff) {
  const DWORD error = file_helpers::ReadFileToBuff(file.handle, fileBuff);
  if (error == 0) return true;
  oxa::FailedCheckRecord(oxa::GetCurrentTracer(), CheckSite::kPxsReadFile,
                         "file_helpers::ReadFileToBuff(file, fileBuff)", "((0L) == _result)",
                         static_cast<oxa::ResultCode>(error));
  return false;
}

bool PxsResult(std::int32_t status, std::uint32_t flags) {
  OXA_TRACE(oxa::kTraceInfo) << "PXS check result: " << status << ", result flags: 0x" << oxa::hex << flags;
  return OXA_SUCCEEDED(status);
}

// The marking attribute's value of the embedded signature of `path`, or the
// failure (a result code).
std::int32_t ReadMarkedSignature(const std::wstring& path, std::vector<std::uint8_t>& signature) {
  HCERTSTORE storeHandle = nullptr;
  HCRYPTMSG messageHandle = nullptr;
  const BOOL opened = CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                       CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &storeHandle,
                                       &messageHandle, nullptr);
  const oxa::CertificateStore store(storeHandle);
  const oxa::CryptMessage message(messageHandle);
  if (!opened) return oxa::ResultFromWin32Error(GetLastError());

  DWORD size = 0;
  if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
    return oxa::ResultFromWin32Error(GetLastError());
  }
  std::vector<std::uint8_t> signerBytes(size);
  if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, signerBytes.data(), &size)) {
    return oxa::ResultFromWin32Error(GetLastError());
  }
  const auto& signer = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBytes.data());
  const CRYPT_ATTRIBUTE* marked = nullptr;
  for (const CRYPT_ATTRIBUTES* attributes : {&signer.AuthAttrs, &signer.UnauthAttrs}) {
    for (DWORD i = 0; i < attributes->cAttr && !marked; ++i) {
      if (std::string_view(attributes->rgAttr[i].pszObjId) == kPxsMarkingAttribute) marked = &attributes->rgAttr[i];
    }
  }
  if (!marked || marked->cValue == 0) return oxa::ResultFromWin32Error(ERROR_NOT_FOUND);

  const CRYPT_ATTR_BLOB& value = marked->rgValue[0];
  if (!CryptDecodeObject(kEncoding, X509_OCTET_STRING, value.pbData, value.cbData, 0, nullptr, &size)) {
    return oxa::ResultFromWin32Error(GetLastError());
  }
  std::vector<std::uint8_t> decoded(size);
  if (!CryptDecodeObject(kEncoding, X509_OCTET_STRING, value.pbData, value.cbData, 0, decoded.data(), &size)) {
    return oxa::ResultFromWin32Error(GetLastError());
  }
  const auto& bytes = *reinterpret_cast<const CRYPT_DATA_BLOB*>(decoded.data());
  signature.assign(bytes.pbData, bytes.pbData + bytes.cbData);
  return oxa::rc::Ok;
}

// `check` with an exception (out of memory) as a failed check.
template <typename Check>
bool NoThrow(Check check) noexcept {
  try {
    return check();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool LoadLibraryAndCheckSignature(const std::wstring& path, oxa::ModuleHandle& module) {
  const std::wstring resolved = ResolveLibraryPath(path);
  const oxa::FileHandle file(CreateFileW(resolved.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error != 0) ThrowLoadFailed(error);
    return false;
  }
  if (!IsSignatureValid({resolved, file.Get()})) return false;
  module.Reset(LoadLibraryW(resolved.c_str()));
  if (!module) {
    const DWORD error = GetLastError();
    if (error != 0) ThrowLoadFailed(error);
  }
  return true;
}

bool IsSignatureValid(const CheckedFile& file) {
  bool valid = EndsWithExe(file.path) && CheckPxsSignatureOfExe(file);
  if (!valid) valid = CheckPxsSignature(file) || CheckQsigSignature(file);
  OXA_TRACE(oxa::kTraceError) << "return point. Signature is " << (valid ? "valid" : "not valid");
  return valid;
}

bool LoadQsigKeysFromRes(std::initializer_list<std::uint32_t> ids, std::vector<KeyBlob>& keys) {
  HMODULE dll = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&LoadQsigKeysFromRes), &dll)) {
    oxa::FailedCheckRecord(oxa::GetCurrentTracer(), CheckSite::kQsigKeysModule,
                           "::GetModuleHandleExW( (0x00000004) | (0x00000002), (LPCWSTR)&LoadQsigKeysFromRes, &dll)");
    return false;
  }
  for (const std::uint32_t id : ids) {
    const HRSRC found =
        FindResourceExW(dll, kKeyResourceType, MAKEINTRESOURCEW(id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    const HGLOBAL loaded = found ? LoadResource(dll, found) : nullptr;
    const auto* data = static_cast<const std::uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = found ? SizeofResource(dll, found) : 0;
    if (!data || size == 0) {
      oxa::FailedCheckRecord(oxa::GetCurrentTracer(), CheckSite::kQsigKeysResource, "keyData.first && keyData.second");
      return false;
    }
    keys.push_back({id, std::vector<std::uint8_t>(data, data + size)});
  }
  return true;
}

bool CheckPxsSignatureOfExe(const CheckedFile& file) {
  return NoThrow([&] {
    const PxsLibrary* library = InitializedPxsLibrary();
    if (!library) return false;
    const PxsRoot root(library->Functions());
    if (!root.Get()) return false;
    std::vector<std::uint8_t> signature;
    if (const std::int32_t read = ReadMarkedSignature(file.path, signature); OXA_FAILED(read)) {
      return PxsResult(read, 0);
    }
    std::vector<std::uint8_t> fileBuff;
    if (!ReadCheckedFile(file, fileBuff)) return false;
    std::uint32_t flags = 0;
    const std::int32_t status = library->Functions().checkExecutable(root.Get(), fileBuff.data(), fileBuff.size(),
                                                                     signature.data(), signature.size(), &flags);
    return PxsResult(status, flags);
  });
}

bool CheckPxsSignature(const CheckedFile& file) {
  OXA_TRACE(oxa::kTraceInfo) << "Start pxs check on " << file.path;
  return NoThrow([&] {
    const PxsLibrary* library = InitializedPxsLibrary();
    if (!library) return false;
    std::vector<std::uint8_t> fileBuff;
    if (!ReadCheckedFile(file, fileBuff)) return false;
    const PxsRoot root(library->Functions());
    if (!root.Get()) return false;
    std::uint32_t flags = 0;
    const std::int32_t status = library->Functions().checkFile(
        root.Get(), fileBuff.data(), fileBuff.size(), kPxsTrailerMagic.data(), kPxsTrailerMagic.size(), &flags);
    return PxsResult(status, flags);
  });
}

bool CheckQsigSignature(const CheckedFile& file) {
  OXA_TRACE(oxa::kTraceInfo) << "Start qsig check on " << file.path;
  return NoThrow([&] {
    std::vector<KeyBlob> keys;
    const bool loaded = LoadQsigKeysFromRes({kQsigRootKeyA, kQsigRootKeyB}, keys);
    const auto rootA =
        std::find_if(keys.begin(), keys.end(), [](const KeyBlob& key) { return key.id == kQsigRootKeyA; });
    const auto rootB =
        std::find_if(keys.begin(), keys.end(), [](const KeyBlob& key) { return key.id != kQsigRootKeyA; });
    if (!loaded || rootA == keys.end() || rootB == keys.end()) {
      OXA_TRACE(oxa::kTraceNotice) << "No valid qsig roots loaded";
      return false;
    }
    const bool valid = CheckQsigFile(oxa::GetCurrentTracer(), file, *rootA, *rootB);
    OXA_TRACE(oxa::kTraceInfo) << "QSIG check result: " << (valid ? "succeeded" : "failed");
    return valid;
  });
}

}  // namespace qvr
