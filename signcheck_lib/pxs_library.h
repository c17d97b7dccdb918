// The exports of pxsverify.dll, the PXS verification library
// (companions/pxsverify), as the module calls them. A PXS signature is a
// detached PKCS#7 SignedData (RSA with SHA-256) by the product certificate,
// which a context holds as its trusted root.
// Every function answers a result code (negative: failure) and none throws;
// the checks also fill a word of the flags below.
#pragma once

#include <cstdint>

namespace qvr {

inline constexpr std::uint32_t kPxsSignatureFound = 0x1;    // a PKCS#7 signature was found and decoded
inline constexpr std::uint32_t kPxsSignedAttributes = 0x2;  // it carries signed attributes
inline constexpr std::uint32_t kPxsSignerIsRoot = 0x4;      // its signer is the trusted root
inline constexpr std::uint32_t kPxsContentIntact = 0x8;     // it verifies over the content

struct PxsContext;

extern "C" {
using PxsInitializeLibraryFn = std::int32_t(__cdecl*)();
using PxsUninitializeLibraryFn = void(__cdecl*)();
// `root`: the product certificate, X.509 in DER.
using PxsCreateContextFn = std::int32_t(__cdecl*)(const void* root, std::uint32_t size, PxsContext** context);
using PxsDestroyContextFn = void(__cdecl*)(PxsContext* context);
// A file whose signature is attached in a trailer of `marker` (the trailer
// magic, signature_trailer.h).
using PxsCheckFileFn = std::int32_t(__cdecl*)(PxsContext* context, const void* file, std::uint32_t size,
                                              const void* marker, std::uint32_t markerSize, std::uint32_t* flags);
// An executable's image (without its certificate table) against the PXS
// signature carried by its embedded signature.
using PxsCheckExecutableFn = std::int32_t(__cdecl*)(PxsContext* context, const void* file, std::uint32_t size,
                                                    const void* signature, std::uint32_t signatureSize,
                                                    std::uint32_t* flags);
}

}  // namespace qvr
