// The exports of qsigverify.dll, the QSIG verification library
// (companions/qsigverify), as the module calls them. A check runs over one
// parameter list:
//   QsigCreateList, QsigAddKeyRegistry per root key, QsigLoadRegistries
//   (validates the keys and keeps them in the list), QsigResetList (drops the
//   parameters, keeps the loaded keys), QsigPrepareTarget, QsigAddHashingProp,
//   QsigCheck, QsigDestroyList.
// QsigInitialize comes before everything else in the process, and
// QsigUninitialize after the last list is destroyed.
// Every function answers kQsigSucceeded or one of the codes below; none
// throws.
#pragma once

#include <cstdint>

namespace qvr {

inline constexpr std::uint32_t kQsigSucceeded = 0xe9ba5770u;
// The target has no well-formed QSIG trailer; its check then fails.
inline constexpr std::uint32_t kQsigFileCorrupted = 0xe9ba5771u;
inline constexpr std::uint32_t kQsigBadArgument = 0xe9ba5772u;
inline constexpr std::uint32_t kQsigNotInitialized = 0xe9ba5773u;
inline constexpr std::uint32_t kQsigOutOfMemory = 0xe9ba5774u;
inline constexpr std::uint32_t kQsigBadKeyRegistry = 0xe9ba5775u;  // a key that is not a QSIG root key
inline constexpr std::uint32_t kQsigNoKeys = 0xe9ba5776u;          // checked before keys were loaded
inline constexpr std::uint32_t kQsigNoTarget = 0xe9ba5777u;        // checked without a prepared target
inline constexpr std::uint32_t kQsigNoHashingProp = 0xe9ba5778u;   // checked without a hashing property
inline constexpr std::uint32_t kQsigBadSignature = 0xe9ba5779u;    // no loaded key verifies the target
inline constexpr std::uint32_t kQsigCryptoFailure = 0xe9ba577au;   // the platform's cryptography failed

// A root key: this tag, then a BCRYPT_ECCPUBLIC_BLOB of an ECDSA P-256 key.
inline constexpr char kQsigKeyTag[4] = {'Q', 'S', 'K', '1'};

struct QsigList;

extern "C" {
using QsigInitializeFn = std::uint32_t(__cdecl*)();
using QsigUninitializeFn = void(__cdecl*)();
using QsigCreateListFn = std::uint32_t(__cdecl*)(QsigList** list);
using QsigDestroyListFn = void(__cdecl*)(QsigList* list);
using QsigResetListFn = std::uint32_t(__cdecl*)(QsigList* list);
using QsigAddKeyRegistryFn = std::uint32_t(__cdecl*)(QsigList* list, const void* key, std::uint32_t size);
using QsigLoadRegistriesFn = std::uint32_t(__cdecl*)(QsigList* list);
// Copies the file content; kQsigFileCorrupted when it has no QSIG trailer.
using QsigPrepareTargetFn = std::uint32_t(__cdecl*)(QsigList* list, const void* data, std::uint32_t size);
// Asks for the hashing of the prepared target (SHA-256 of its image);
// `name`, the file's name, may not be empty.
using QsigAddHashingPropFn = std::uint32_t(__cdecl*)(QsigList* list, const wchar_t* name);
using QsigCheckFn = std::uint32_t(__cdecl*)(QsigList* list);
}

}  // namespace qvr
