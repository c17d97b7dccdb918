// qsigverify.dll: the QSIG verification library. A QSIG signature is an
// ECDSA P-256 signature (raw r || s) of the SHA-256 digest of the image, in a
// trailer after it (signcheck_lib/signature_trailer.h); a root key is a
// BCRYPT_ECCPUBLIC_BLOB behind the tag "QSK1". The platform's bcrypt does the
// cryptography. The exports and their codes: signcheck_lib/qsig_library.h.
#include <windows.h>
// bcrypt.h needs the Windows types.
#include <bcrypt.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "component/oxa/system/unique_handle.h"
#include "signcheck_lib/qsig_library.h"
#include "signcheck_lib/signature_trailer.h"

namespace {

using qvr::QsigList;

constexpr std::size_t kCoordinateSize = 32;
constexpr std::size_t kSignatureSize = 2 * kCoordinateSize;
constexpr std::size_t kDigestSize = 32;
// STATUS_INVALID_SIGNATURE: the signature does not verify.
constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000u);
// The signing tool writes the key container's header as these 8 bytes, in
// both builds.
static_assert(sizeof(BCRYPT_ECCKEY_BLOB) == 8);
constexpr std::size_t kKeySize = sizeof qvr::kQsigKeyTag + sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateSize;

// The algorithm providers, open from QsigInitialize to the last
// QsigUninitialize.
struct Providers {
  std::mutex lock;
  int uses = 0;
  oxa::AlgorithmProvider ecdsa;
  oxa::AlgorithmProvider sha256;
};
Providers g_providers;

bool IsInitialized() {
  const std::lock_guard<std::mutex> hold(g_providers.lock);
  return g_providers.uses > 0;
}

}  // namespace

struct qvr::QsigList {
  std::vector<std::vector<std::uint8_t>> keyRegistries;  // parameters
  std::vector<oxa::CryptoKey> keys;                      // loaded, kept over a reset
  bool hasTarget = false;
  bool corrupted = false;
  std::vector<std::uint8_t> target;
  bool hasHashingProp = false;
};

namespace {

std::uint32_t ImportKey(const std::vector<std::uint8_t>& registry, oxa::CryptoKey& key) {
  if (registry.size() != kKeySize || std::memcmp(registry.data(), qvr::kQsigKeyTag, sizeof qvr::kQsigKeyTag) != 0) {
    return qvr::kQsigBadKeyRegistry;
  }
  BCRYPT_ECCKEY_BLOB header;
  std::memcpy(&header, registry.data() + sizeof qvr::kQsigKeyTag, sizeof header);
  if (header.dwMagic != BCRYPT_ECDSA_PUBLIC_P256_MAGIC || header.cbKey != kCoordinateSize) {
    return qvr::kQsigBadKeyRegistry;
  }
  // The key blob is taken as it stands: bcrypt refuses a point off the curve.
  const NTSTATUS status = BCryptImportKeyPair(g_providers.ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Receive(),
                                              const_cast<PUCHAR>(registry.data() + sizeof qvr::kQsigKeyTag),
                                              static_cast<ULONG>(registry.size() - sizeof qvr::kQsigKeyTag), 0);
  return BCRYPT_SUCCESS(status) ? qvr::kQsigSucceeded : qvr::kQsigBadKeyRegistry;
}

std::uint32_t Digest(const std::vector<std::uint8_t>& data, std::size_t size, UCHAR (&digest)[kDigestSize]) {
  oxa::CryptoHash hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(g_providers.sha256.Get(), hash.Receive(), nullptr, 0, nullptr, 0, 0)) ||
      !BCRYPT_SUCCESS(BCryptHashData(hash.Get(), const_cast<PUCHAR>(data.data()), static_cast<ULONG>(size), 0)) ||
      !BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), digest, kDigestSize, 0))) {
    return qvr::kQsigCryptoFailure;
  }
  return qvr::kQsigSucceeded;
}

std::uint32_t Check(QsigList& list) {
  if (list.keys.empty()) return qvr::kQsigNoKeys;
  if (!list.hasTarget) return qvr::kQsigNoTarget;
  if (!list.hasHashingProp) return qvr::kQsigNoHashingProp;
  if (list.corrupted) return qvr::kQsigFileCorrupted;
  const qvr::SignedParts parts = qvr::SplitSignatureTrailer(list.target, qvr::kQsigTrailerMagic);
  UCHAR digest[kDigestSize];
  if (const std::uint32_t hashed = Digest(list.target, parts.image.size(), digest); hashed != qvr::kQsigSucceeded) {
    return hashed;
  }
  for (const oxa::CryptoKey& key : list.keys) {
    const NTSTATUS status = BCryptVerifySignature(key.Get(), nullptr, digest, kDigestSize,
                                                  const_cast<PUCHAR>(parts.signature.data()), kSignatureSize, 0);
    if (BCRYPT_SUCCESS(status)) return qvr::kQsigSucceeded;
    if (status != kInvalidSignature) return qvr::kQsigCryptoFailure;
  }
  return qvr::kQsigBadSignature;
}

// Runs `body` over a list of an initialised library; no exception leaves.
template <typename Body>
std::uint32_t WithList(QsigList* list, Body body) noexcept {
  if (!list) return qvr::kQsigBadArgument;
  if (!IsInitialized()) return qvr::kQsigNotInitialized;
  try {
    return body(*list);
  } catch (const std::bad_alloc&) {
    return qvr::kQsigOutOfMemory;
  } catch (...) {
    return qvr::kQsigCryptoFailure;
  }
}

}  // namespace

extern "C" {

__declspec(dllexport) std::uint32_t __cdecl QsigInitialize() {
  const std::lock_guard<std::mutex> hold(g_providers.lock);
  if (g_providers.uses == 0) {
    oxa::AlgorithmProvider ecdsa;
    oxa::AlgorithmProvider sha256;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(ecdsa.Receive(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(sha256.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      return qvr::kQsigCryptoFailure;
    }
    g_providers.ecdsa = std::move(ecdsa);
    g_providers.sha256 = std::move(sha256);
  }
  ++g_providers.uses;
  return qvr::kQsigSucceeded;
}

__declspec(dllexport) void __cdecl QsigUninitialize() {
  const std::lock_guard<std::mutex> hold(g_providers.lock);
  if (g_providers.uses == 0 || --g_providers.uses > 0) return;
  g_providers.ecdsa.Reset();
  g_providers.sha256.Reset();
}

__declspec(dllexport) std::uint32_t __cdecl QsigCreateList(QsigList** list) {
  if (!list) return qvr::kQsigBadArgument;
  *list = nullptr;
  if (!IsInitialized()) return qvr::kQsigNotInitialized;
  *list = new (std::nothrow) QsigList;
  return *list ? qvr::kQsigSucceeded : qvr::kQsigOutOfMemory;
}

__declspec(dllexport) void __cdecl QsigDestroyList(QsigList* list) { delete list; }

__declspec(dllexport) std::uint32_t __cdecl QsigResetList(QsigList* list) {
  return WithList(list, [](QsigList& parameters) {
    parameters.keyRegistries.clear();
    parameters.target.clear();
    parameters.hasTarget = parameters.corrupted = parameters.hasHashingProp = false;
    return qvr::kQsigSucceeded;
  });
}

__declspec(dllexport) std::uint32_t __cdecl QsigAddKeyRegistry(QsigList* list, const void* key, std::uint32_t size) {
  return WithList(list, [&](QsigList& parameters) {
    if (!key || size == 0) return qvr::kQsigBadArgument;
    const auto* bytes = static_cast<const std::uint8_t*>(key);
    parameters.keyRegistries.emplace_back(bytes, bytes + size);
    return qvr::kQsigSucceeded;
  });
}

__declspec(dllexport) std::uint32_t __cdecl QsigLoadRegistries(QsigList* list) {
  return WithList(list, [](QsigList& parameters) {
    if (parameters.keyRegistries.empty()) return qvr::kQsigNoKeys;
    // All or none: a list holds only keys that were all valid together.
    std::vector<oxa::CryptoKey> keys(parameters.keyRegistries.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (const std::uint32_t imported = ImportKey(parameters.keyRegistries[i], keys[i]);
          imported != qvr::kQsigSucceeded) {
        return imported;
      }
    }
    parameters.keys = std::move(keys);
    return qvr::kQsigSucceeded;
  });
}

__declspec(dllexport) std::uint32_t __cdecl QsigPrepareTarget(QsigList* list, const void* data, std::uint32_t size) {
  return WithList(list, [&](QsigList& parameters) {
    if (!data && size != 0) return qvr::kQsigBadArgument;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    parameters.target.assign(bytes, bytes + size);
    const qvr::SignedParts parts = qvr::SplitSignatureTrailer(parameters.target, qvr::kQsigTrailerMagic);
    parameters.hasTarget = true;
    parameters.corrupted = parts.status != qvr::TrailerStatus::kFound || parts.signature.size() != kSignatureSize;
    return parameters.corrupted ? qvr::kQsigFileCorrupted : qvr::kQsigSucceeded;
  });
}

__declspec(dllexport) std::uint32_t __cdecl QsigAddHashingProp(QsigList* list, const wchar_t* name) {
  return WithList(list, [&](QsigList& parameters) {
    if (!name || !*name) return qvr::kQsigBadArgument;
    parameters.hasHashingProp = true;
    return qvr::kQsigSucceeded;
  });
}

__declspec(dllexport) std::uint32_t __cdecl QsigCheck(QsigList* list) { return WithList(list, Check); }

}  // extern "C"
