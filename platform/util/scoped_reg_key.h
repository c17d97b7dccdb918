// Registry key handle owner for the activators and the installer core. It can
// work inside a registry transaction that its caller owns. Operations return
// Windows error codes; callers convert them with oxa::ResultFromWin32Error.
#pragma once

#include <windows.h>

#include <string>

namespace qvr {

// A registry transaction handed in by its owner, who creates and commits it.
struct RegTransaction {
  HANDLE handle = nullptr;
  // Without a transaction handle: whether plain, non-transacted access is
  // allowed (otherwise every open or create fails).
  bool allowPlainAccess = false;
};

class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  // Opens and creates inside `transaction` (null: plain access). The
  // transaction must outlive the key object.
  explicit ScopedRegKey(RegTransaction* transaction) : transaction_(transaction) {}
  ~ScopedRegKey() { Close(); }

  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  ScopedRegKey(ScopedRegKey&& other) noexcept;
  ScopedRegKey& operator=(ScopedRegKey&& other) noexcept;

  // On success the previous key is closed and the new one kept; on failure
  // the object is unchanged.
  LONG Open(HKEY root, const wchar_t* subkey, REGSAM access);
  LONG Create(HKEY root, const wchar_t* subkey, REGSAM access);
  void Close();

  // Reads a REG_SZ value (ERROR_DATATYPE_MISMATCH for any other type). One
  // terminating NUL is dropped; embedded NULs are kept.
  LONG QueryString(const wchar_t* name, std::wstring& text) const;

  HKEY Get() const { return key_; }
  bool IsOpen() const { return key_ != nullptr; }
  // KEY_WOW64_64KEY / KEY_WOW64_32KEY of the access the key was opened with,
  // for opening its subkeys in the same view.
  REGSAM ViewBits() const { return viewBits_; }
  RegTransaction* Transaction() const { return transaction_; }

 private:
  void Replace(HKEY key, REGSAM access);

  HKEY key_ = nullptr;
  REGSAM viewBits_ = 0;
  RegTransaction* transaction_ = nullptr;
};

}  // namespace qvr
