// The declaration keys of a product as stored, for qvrhost lint: every value
// with its type, size and text, every subkey, names of any length. Reads
// only.
#pragma once

#include "platform/product_info/common_reg_keys.h"
#include "tools/qvrhost/declaration_lint.h"

namespace qvrhost {

DeclarationSnapshot ReadDeclarationSnapshot(const qvr::CommonRegKeys& keys);

// One key below HKEY_LOCAL_MACHINE; not present when it cannot be opened.
StoredKey ReadStoredKey(const std::wstring& path);

}  // namespace qvrhost
