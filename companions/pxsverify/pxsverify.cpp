// pxsverify.dll: the PXS verification library. A PXS signature is a detached
// PKCS#7 SignedData (RSA with SHA-256) made by the product certificate
// itself, which a context holds as its trusted root; crypt32 decodes and
// verifies it. A file carries it in a trailer (signcheck_lib/signature_trailer.h),
// an executable in the marking attribute of its embedded signature. The
// exports, codes and flags: signcheck_lib/pxs_library.h.
#include <windows.h>
// wincrypt.h needs the Windows types.
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "component/oxa/result_code.h"
#include "component/oxa/system/unique_handle.h"
#include "signcheck_lib/pxs_library.h"
#include "signcheck_lib/signature_trailer.h"

struct qvr::PxsContext {
  oxa::Certificate root;
};

namespace {

using qvr::PxsContext;
using Bytes = std::span<const std::uint8_t>;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// The signer is not the product certificate.
constexpr oxa::ResultCode kUntrustedSigner = static_cast<oxa::ResultCode>(0x80000106u);

std::atomic<bool> g_initialized{false};

oxa::ResultCode LastError(oxa::ResultCode fallback) {
  const DWORD error = GetLastError();
  return error != 0 ? oxa::ResultFromWin32Error(error) : fallback;
}

// A parameter of `message`, of any size; empty when the message has none.
std::vector<std::uint8_t> ReadParam(HCRYPTMSG message, DWORD type) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, 0, nullptr, &size)) return {};
  std::vector<std::uint8_t> value(size);
  if (!CryptMsgGetParam(message, type, 0, value.data(), &size)) return {};
  value.resize(size);
  return value;
}

// The messageDigest attribute of the signed attributes, compared with the
// digest the message computed over the content. crypt32 verifies the
// signature over the attributes; Wine's also passes a changed content then,
// so the comparison is made here whoever's crypt32 runs.
oxa::ResultCode CompareMessageDigest(HCRYPTMSG message, const CRYPT_ATTRIBUTES& attributes) {
  const auto found =
      std::find_if(attributes.rgAttr, attributes.rgAttr + attributes.cAttr, [](const CRYPT_ATTRIBUTE& attribute) {
        return std::string_view(attribute.pszObjId) == szOID_PKCS_9_MESSAGE_DIGEST;
      });
  if (found == attributes.rgAttr + attributes.cAttr || found->cValue != 1) return oxa::rc::InvalidSignature;
  DWORD size = 0;
  if (!CryptDecodeObject(kEncoding, X509_OCTET_STRING, found->rgValue[0].pbData, found->rgValue[0].cbData, 0, nullptr,
                         &size)) {
    return oxa::rc::InvalidSignature;
  }
  std::vector<std::uint8_t> decoded(size);
  if (!CryptDecodeObject(kEncoding, X509_OCTET_STRING, found->rgValue[0].pbData, found->rgValue[0].cbData, 0,
                         decoded.data(), &size)) {
    return oxa::rc::InvalidSignature;
  }
  const auto& digest = *reinterpret_cast<const CRYPT_DATA_BLOB*>(decoded.data());
  const std::vector<std::uint8_t> computed = ReadParam(message, CMSG_COMPUTED_HASH_PARAM);
  const bool same = !computed.empty() && computed.size() == digest.cbData &&
                    std::equal(computed.begin(), computed.end(), digest.pbData);
  return same ? oxa::rc::Ok : oxa::rc::InvalidSignature;
}

// `signature` over `content`, by the root.
oxa::ResultCode VerifyDetached(const PxsContext& context, Bytes content, Bytes signature, std::uint32_t& flags) {
  const oxa::CryptMessage message(CryptMsgOpenToDecode(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
  if (!message) return LastError(oxa::rc::Unexpected);
  if (!CryptMsgUpdate(message.Get(), signature.data(), static_cast<DWORD>(signature.size()), TRUE)) {
    return LastError(oxa::rc::InvalidSignature);
  }
  flags |= qvr::kPxsSignatureFound;
  // In one final update: Wine's crypt32 refuses detached content in parts.
  if (!CryptMsgUpdate(message.Get(), content.data(), static_cast<DWORD>(content.size()), TRUE)) {
    return LastError(oxa::rc::InvalidSignature);
  }

  const std::vector<std::uint8_t> signerBytes = ReadParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM);
  if (signerBytes.empty()) return oxa::rc::InvalidSignature;
  const auto& signer = *reinterpret_cast<const CERT_INFO*>(signerBytes.data());
  CERT_INFO* root = context.root.Get()->pCertInfo;
  if (!CertCompareCertificateName(kEncoding, const_cast<CERT_NAME_BLOB*>(&signer.Issuer), &root->Issuer) ||
      !CertCompareIntegerBlob(const_cast<CRYPT_INTEGER_BLOB*>(&signer.SerialNumber), &root->SerialNumber)) {
    return kUntrustedSigner;
  }
  flags |= qvr::kPxsSignerIsRoot;
  if (!CryptMsgControl(message.Get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, root)) return LastError(oxa::rc::InvalidSignature);

  const std::vector<std::uint8_t> attributes = ReadParam(message.Get(), CMSG_SIGNER_AUTH_ATTR_PARAM);
  if (!attributes.empty()) {
    flags |= qvr::kPxsSignedAttributes;
    if (const oxa::ResultCode compared =
            CompareMessageDigest(message.Get(), *reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data()));
        OXA_FAILED(compared)) {
      return compared;
    }
  }
  flags |= qvr::kPxsContentIntact;
  return oxa::rc::Ok;
}

// Runs `body` for a context of an initialised library; no exception leaves.
template <typename Body>
std::int32_t Checked(PxsContext* context, std::uint32_t* flags, Body body) noexcept {
  if (!flags) return oxa::rc::InvalidArgument;
  *flags = 0;
  if (!context) return oxa::rc::InvalidArgument;
  if (!g_initialized) return oxa::rc::NotInitialized;
  try {
    return body(*context, *flags);
  } catch (const std::bad_alloc&) {
    return oxa::rc::OutOfMemory;
  } catch (...) {
    return oxa::rc::Unexpected;
  }
}

Bytes BytesOf(const void* data, std::uint32_t size) { return {static_cast<const std::uint8_t*>(data), size}; }

}  // namespace

extern "C" {

__declspec(dllexport) std::int32_t __cdecl PxsInitializeLibrary() {
  g_initialized = true;
  return oxa::rc::Ok;
}

__declspec(dllexport) void __cdecl PxsUninitializeLibrary() { g_initialized = false; }

__declspec(dllexport) std::int32_t
    __cdecl PxsCreateContext(const void* root, std::uint32_t size, PxsContext** context) {
  if (!context) return oxa::rc::InvalidArgument;
  *context = nullptr;
  if (!root || size == 0) return oxa::rc::InvalidArgument;
  if (!g_initialized) return oxa::rc::NotInitialized;
  oxa::Certificate certificate(
      CertCreateCertificateContext(X509_ASN_ENCODING, static_cast<const BYTE*>(root), static_cast<DWORD>(size)));
  if (!certificate) return LastError(oxa::rc::InvalidArgument);
  *context = new (std::nothrow) PxsContext{std::move(certificate)};
  return *context ? oxa::rc::Ok : oxa::rc::OutOfMemory;
}

__declspec(dllexport) void __cdecl PxsDestroyContext(PxsContext* context) { delete context; }

__declspec(dllexport) std::int32_t
    __cdecl PxsCheckFile(PxsContext* context, const void* file, std::uint32_t size, const void* marker,
                         std::uint32_t markerSize, std::uint32_t* flags) {
  return Checked(context, flags, [&](const PxsContext& root, std::uint32_t& found) {
    if ((!file && size != 0) || !marker) return oxa::rc::InvalidArgument;
    const qvr::SignedParts parts =
        qvr::SplitSignatureTrailer(BytesOf(file, size), std::string_view(static_cast<const char*>(marker), markerSize));
    if (parts.status != qvr::TrailerStatus::kFound) return oxa::rc::NotFound;
    return VerifyDetached(root, parts.image, parts.signature, found);
  });
}

__declspec(dllexport) std::int32_t
    __cdecl PxsCheckExecutable(PxsContext* context, const void* file, std::uint32_t size, const void* signature,
                               std::uint32_t signatureSize, std::uint32_t* flags) {
  return Checked(context, flags, [&](const PxsContext& root, std::uint32_t& found) {
    if ((!file && size != 0) || !signature || signatureSize == 0) return oxa::rc::InvalidArgument;
    const qvr::EmbeddedParts parts = qvr::SplitEmbeddedSignature(BytesOf(file, size));
    if (!parts.found) return oxa::rc::NotFound;
    // The image with its certificate table's directory entry as zeros.
    std::vector<std::uint8_t> image(parts.image.begin(), parts.image.end());
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(parts.directoryEntry), qvr::kCertificateEntrySize, 0);
    return VerifyDetached(root, image, BytesOf(signature, signatureSize), found);
  });
}

}  // extern "C"
