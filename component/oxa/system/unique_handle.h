// The one owner of every platform handle: a kind states its value type, the
// value that means "no handle" and how a handle is given back. Every handle
// the module, its host and its companions open is held by one of the aliases
// at the end, so no code outside this file closes a handle itself.
#pragma once

#include <windows.h>
// fdi.h, msi.h, wincrypt.h and bcrypt.h need the Windows types.
#include <bcrypt.h>
#include <fdi.h>
#include <msi.h>
#include <wincrypt.h>

#include <utility>

namespace oxa {

template <class Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Value value) noexcept : value_(value) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Value Get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  // For the out argument of a platform call; a handle held is closed first.
  Value* Receive() noexcept {
    Reset();
    return &value_;
  }

  // Closes the handle held and takes `value`.
  void Reset(Value value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) Traits::Close(value_);
    value_ = value;
  }

  // Gives the handle up without closing it.
  Value Release() noexcept { return std::exchange(value_, Traits::Invalid()); }

 private:
  Value value_ = Traits::Invalid();
};

// A kind of handle: its value type, how a handle is given back, and the
// value that means "no handle" (the type's zero).
template <class T, void (*kClose)(T) noexcept>
struct HandleTraits {
  using Value = T;
  static Value Invalid() noexcept { return Value{}; }
  static void Close(Value value) noexcept { kClose(value); }
};

// Kinds whose opening answers INVALID_HANDLE_VALUE for a failure, not null.
template <void (*kClose)(HANDLE) noexcept>
struct InvalidValueHandleTraits : HandleTraits<HANDLE, kClose> {
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// The platform's cryptography (bcrypt.dll, crypt32.dll).
inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider) noexcept { BCryptCloseAlgorithmProvider(provider, 0); }
inline void DestroyCryptoKey(BCRYPT_KEY_HANDLE key) noexcept { BCryptDestroyKey(key); }
inline void DestroyCryptoHash(BCRYPT_HASH_HANDLE hash) noexcept { BCryptDestroyHash(hash); }
inline void CloseCryptMessage(HCRYPTMSG message) noexcept { CryptMsgClose(message); }
inline void CloseCertificateStore(HCERTSTORE store) noexcept { CertCloseStore(store, 0); }
inline void FreeCertificate(PCCERT_CONTEXT certificate) noexcept { CertFreeCertificateContext(certificate); }

using AlgorithmProvider = UniqueHandle<HandleTraits<BCRYPT_ALG_HANDLE, &CloseAlgorithmProvider>>;  // BCryptOpen...
using CryptoKey = UniqueHandle<HandleTraits<BCRYPT_KEY_HANDLE, &DestroyCryptoKey>>;       // BCryptImportKeyPair
using CryptoHash = UniqueHandle<HandleTraits<BCRYPT_HASH_HANDLE, &DestroyCryptoHash>>;    // BCryptCreateHash
using CryptMessage = UniqueHandle<HandleTraits<HCRYPTMSG, &CloseCryptMessage>>;           // CryptMsgOpenToDecode
using CertificateStore = UniqueHandle<HandleTraits<HCERTSTORE, &CloseCertificateStore>>;  // CryptQueryObject
using Certificate = UniqueHandle<HandleTraits<PCCERT_CONTEXT, &FreeCertificate>>;  // CertCreateCertificateContext

inline void CloseKernelHandle(HANDLE handle) noexcept { CloseHandle(handle); }
inline void CloseFindHandle(HANDLE handle) noexcept { FindClose(handle); }
inline void CloseRegistryKey(HKEY key) noexcept { RegCloseKey(key); }
inline void UnloadModule(HMODULE module) noexcept { FreeLibrary(module); }
inline void ReleaseLocalMemory(HLOCAL memory) noexcept { LocalFree(memory); }
inline void CloseInstallerHandle(MSIHANDLE handle) noexcept { MsiCloseHandle(handle); }
inline void DestroyFdiContext(HFDI context) noexcept { FDIDestroy(context); }
inline void CloseServiceManagerHandle(SC_HANDLE handle) noexcept { CloseServiceHandle(handle); }
template <class Interface>
void ReleaseComInterface(Interface* pointer) noexcept {
  pointer->Release();
}

using KernelHandle = UniqueHandle<HandleTraits<HANDLE, &CloseKernelHandle>>;           // processes, threads, tokens
using FileHandle = UniqueHandle<InvalidValueHandleTraits<&CloseKernelHandle>>;         // CreateFileW
using FindHandle = UniqueHandle<InvalidValueHandleTraits<&CloseFindHandle>>;           // FindFirstFileW
using RegistryKeyHandle = UniqueHandle<HandleTraits<HKEY, &CloseRegistryKey>>;         // RegOpenKeyExW, RegCreateKeyExW
using ModuleHandle = UniqueHandle<HandleTraits<HMODULE, &UnloadModule>>;               // LoadLibraryW, LoadLibraryExW
using LocalMemory = UniqueHandle<HandleTraits<HLOCAL, &ReleaseLocalMemory>>;           // security descriptors
using InstallerHandle = UniqueHandle<HandleTraits<MSIHANDLE, &CloseInstallerHandle>>;  // MsiCreateRecord
using FdiContext = UniqueHandle<HandleTraits<HFDI, &DestroyFdiContext>>;                 // FDICreate (cabinet.dll)
using ServiceHandle = UniqueHandle<HandleTraits<SC_HANDLE, &CloseServiceManagerHandle>>;  // OpenSCManagerW, OpenServiceW
template <class Interface>  // CoCreateInstance, QueryInterface
using ComPointer = UniqueHandle<HandleTraits<Interface*, &ReleaseComInterface<Interface>>>;

}  // namespace oxa
