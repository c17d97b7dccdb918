// The one reader of the product's declaration keys: a key whose values (or
// subkeys) each declare one resource. Each kind states its own lines and
// failure rules; they differ on purpose.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/util/scoped_reg_key.h"

namespace qvr {

class LogSink;

// What a reader does with one declaration it was handed.
enum class Taken {
  kTaken,    // kept: the reader writes its entry line
  kSkipped,  // not a declaration of this kind; the walk goes on
  kFailed,   // the reader has written why; the read fails
};

struct DeclarationValueRules {
  const wchar_t* cantEnum;   // error code
  const wchar_t* cantQuery;  // value name, error code
  const wchar_t* empty;      // value name; null: an empty text is a declaration like any other
  const wchar_t* entry;      // value name, text (or number)
  // A value that cannot be read, or is empty: the read fails (or only that
  // value is skipped).
  bool badValueFails;
  // A name too long for the buffer costs only that value (or ends the read).
  bool skipOverlongNames;
  // The key's default value declares nothing (or it is read like the others).
  bool skipDefaultValue;
  StringPolicy policy = StringPolicy::kSzOnly;  // of string values
};

// The declaration names of a key are at most 255 characters.
inline constexpr DWORD kDeclarationNameChars = 256;

// Opens `keyPath` under HKEY_LOCAL_MACHINE for reading; on failure the
// level-3 line `cantOpen` (error code) and false.
bool OpenDeclarations(LogSink* sink, const std::wstring& keyPath, const wchar_t* cantOpen, ScopedRegKey& key);

// Hands every string value of `key` to `take`, in index order. False when
// the enumeration fails (a level-3 `cantEnum` line), when a bad value fails
// the read, or when `take` answers kFailed.
bool ReadDeclarationValues(
    LogSink* sink, const ScopedRegKey& key, const DeclarationValueRules& rules,
    const std::function<Taken(const std::wstring& name, const std::wstring& text)>& take);

// The same for declarations whose values are numbers (ScopedRegKey::DecodeDwordData).
bool ReadDeclarationValues(LogSink* sink, const ScopedRegKey& key, const DeclarationValueRules& rules,
                           const std::function<Taken(const std::wstring& name, DWORD value)>& take);

// Hands every subkey name of `key` (read into `nameChars` characters) to
// `take`. Any enumeration error, a name too long included, writes `cantEnum`
// (error code) and fails, as does kFailed from `take`.
bool ReadDeclarationSubKeys(LogSink* sink, const ScopedRegKey& key, DWORD nameChars, const wchar_t* cantEnum,
                            const std::function<Taken(const std::wstring& name)>& take);

}  // namespace qvr
