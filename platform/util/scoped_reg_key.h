// The registry key of the whole module: opens and creates (plain, inside a
// caller's transaction, or under the hives of the thread's user), reads
// strings under an explicit policy, DWORDs and QWORDs, writes values and
// visits value and subkey names. Operations return Windows error codes;
// callers convert them with oxa::ResultFromWin32Error where they need one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "component/oxa/system/unique_handle.h"

namespace qvr {

// A registry transaction handed in by its owner, who creates and commits it.
struct RegTransaction {
  HANDLE handle = nullptr;
  // Without a transaction handle: whether plain, non-transacted access is
  // allowed (otherwise every open or create fails).
  bool allowPlainAccess = false;
};

// The registry view a key is opened in. A 32-bit module sees the 32-bit view
// by default; keys that live only in the 64-bit one are opened in it.
enum class RegistryView : REGSAM {
  kDefault = 0,
  k64Bit = KEY_WOW64_64KEY,
  k32Bit = KEY_WOW64_32KEY,
};

// Which stored strings a read accepts; any other type is
// ERROR_DATATYPE_MISMATCH.
enum class StringPolicy {
  kSzOnly,        // REG_SZ; one terminating NUL dropped, embedded NULs kept
  kSzOrExpandSz,  // REG_SZ or REG_EXPAND_SZ (not expanded), as kSzOnly
  // REG_SZ or REG_EXPAND_SZ whose data is whole code units ending in a
  // terminating NUL (ERROR_INVALID_DATA otherwise); no data reads as empty.
  kTerminatedSzOrExpandSz,
};

class ScopedRegKey {
 public:
  // Called with each name in index order; false ends the walk.
  using NameVisitor = std::function<bool(const std::wstring& name)>;
  // Called when the name at an index cannot be read (ERROR_MORE_DATA: longer
  // than the visit's buffer); true steps over that index, false ends the
  // walk with the error.
  using EnumErrorHandler = std::function<bool(LONG error)>;

  ScopedRegKey() = default;
  // Opens and creates inside `transaction` (null: plain access). The
  // transaction must outlive the key object.
  explicit ScopedRegKey(RegTransaction* transaction) : transaction_(transaction) {}

  ScopedRegKey(ScopedRegKey&&) noexcept = default;
  ScopedRegKey& operator=(ScopedRegKey&&) noexcept = default;

  // On success the previous key is closed and the new one kept; on failure
  // the object is unchanged. The view of `access` (KEY_WOW64_*) and `view`
  // are combined.
  LONG Open(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryView view = RegistryView::kDefault);
  LONG Create(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryView view = RegistryView::kDefault);
  // A subkey of this key, in this key's view and transaction.
  LONG OpenChild(const wchar_t* subkey, REGSAM access, ScopedRegKey& child) const;
  // Opens `subkey` of HKEY_CURRENT_USER or HKEY_CLASSES_ROOT as the hives of
  // the thread's user (any other root as it is). The classes root needs a
  // thread token; without one it throws oxa::CheckResultFailedException.
  LONG OpenForThreadUser(HKEY root, const wchar_t* subkey, REGSAM access);
  void Close();

  // Strings by `policy`. The read grows its buffer as the value asks and
  // gives up with ERROR_NOT_ENOUGH_MEMORY beyond 0x7FFFFFFE characters.
  LONG ReadString(const wchar_t* name, StringPolicy policy, std::wstring& text) const;
  // Exactly four (eight) bytes of REG_DWORD (REG_QWORD); any other type or
  // size is ERROR_DATATYPE_MISMATCH.
  LONG ReadDword(const wchar_t* name, DWORD& value) const;
  LONG ReadQword(const wchar_t* name, std::uint64_t& value) const;
  // The stored type and size in bytes of a value.
  LONG QueryValueInfo(const wchar_t* name, DWORD& type, DWORD& bytes) const;

  // REG_SZ with one terminating NUL; REG_DWORD.
  LONG WriteString(const wchar_t* name, const std::wstring& text) const;
  LONG WriteDword(const wchar_t* name, DWORD value) const;
  LONG DeleteValue(const wchar_t* name) const;

  // Called with each value's name, stored type and data in index order;
  // false ends the walk. The data may be changed (see DecodeString).
  using ValueVisitor = std::function<bool(const std::wstring& name, DWORD type, wchar_t* data, DWORD bytes)>;
  // Walk the values with their data, one call each: names read into a
  // buffer of `nameChars` characters (a longer one is ERROR_MORE_DATA for
  // `onError`), the data buffer grown as a value needs.
  LONG VisitValues(DWORD nameChars, const ValueVisitor& visit, const EnumErrorHandler& onError) const;
  // The string that ReadString reads from a value's type and data: its
  // length in `length`, the text in `data` (whose last half unit, for an odd
  // byte count, is completed in place, so one unit beyond `bytes` must exist).
  static LONG DecodeString(StringPolicy policy, DWORD type, wchar_t* data, DWORD bytes, std::size_t& length);
  // A value's data read into four bytes: ERROR_MORE_DATA for longer data,
  // ERROR_INVALID_DATA for a value that is no REG_DWORD.
  static LONG DecodeDwordData(DWORD type, const void* data, DWORD bytes, DWORD& value);

  // Walk the value (subkey) names, each read into a buffer of `nameChars`
  // characters. ERROR_SUCCESS when the names end or the visitor stops.
  LONG VisitValueNames(DWORD nameChars, const NameVisitor& visit, const EnumErrorHandler& onError) const;
  LONG VisitSubKeyNames(DWORD nameChars, const NameVisitor& visit, const EnumErrorHandler& onError) const;

  HKEY Get() const { return key_.Get(); }
  bool IsOpen() const { return static_cast<bool>(key_); }
  // KEY_WOW64_64KEY / KEY_WOW64_32KEY of the access the key was opened with.
  REGSAM ViewBits() const { return viewBits_; }
  RegTransaction* Transaction() const { return transaction_; }

 private:
  LONG VisitNames(DWORD nameChars, bool subKeys, const NameVisitor& visit, const EnumErrorHandler& onError) const;
  // Open or Create.
  LONG Acquire(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryView view, bool create);
  void Replace(HKEY key, REGSAM access);

  oxa::RegistryKeyHandle key_;
  REGSAM viewBits_ = 0;
  RegTransaction* transaction_ = nullptr;
  // The thread user's hive that key_ was opened under, kept open with it.
  oxa::RegistryKeyHandle userRoot_;
};

// Ends every walk at the first name that cannot be read.
inline bool StopAtEnumError(LONG) { return false; }

}  // namespace qvr
