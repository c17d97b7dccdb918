// The product signature of a module file: the check that a file carries a
// valid PXS or QSIG signature of the product, and the loader that loads a
// library only once its file has passed it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "component/oxa/system/unique_handle.h"
#include "signcheck_lib/check_qsig_signature.h"
#include "signcheck_lib/file_helpers.h"

namespace qvr {

// Resource ids of type "QSIG_KEY" in this module.
inline constexpr std::uint32_t kQsigRootKeyA = 700;
inline constexpr std::uint32_t kQsigRootKeyB = 701;
inline constexpr std::uint32_t kProductCertificate = 704;

// Opens the file at `path` once for reading, denying writers and deleters,
// checks its signature on that open file (IsSignatureValid), and loads it
// into `module` only when it is valid, while the file is still held: the
// file loaded is the file checked, and the code of a file that is not valid
// never runs. A bare name is first resolved to the file the system's library
// search would load (the DLL directory, then SearchPathW's order). Returns
// whether the signature is valid; `module` is the caller's in every outcome.
// Throws oxa::CheckResultFailedException with the converted Windows error at
// Custom_Actions/COMMON/signature line 206 when the file cannot be opened or
// does not load.
bool LoadLibraryAndCheckSignature(const std::wstring& path, oxa::ModuleHandle& module);

// Whether `file` carries a valid product signature: for a path ending in
// ".exe" (any case) the executable's embedded signature first, then an
// attached PXS signature, then an attached QSIG one. Writes exactly one
// "return point. Signature is " record (level 300). Never throws.
bool IsSignatureValid(const CheckedFile& file);

// Appends the module's "QSIG_KEY" resources `ids` (language neutral), in
// order, to `keys`; false at the first one missing or empty (the ones loaded
// so far stay).
bool LoadQsigKeysFromRes(std::initializer_list<std::uint32_t> ids, std::vector<KeyBlob>& keys);

// The scheme checks; each traces its failures and answers false for them.
bool CheckPxsSignatureOfExe(const CheckedFile& file);
bool CheckPxsSignature(const CheckedFile& file);
bool CheckQsigSignature(const CheckedFile& file);

}  // namespace qvr
