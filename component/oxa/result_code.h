// Result codes of the oxa framework: signed 32-bit outcomes, not negative is
// success. Texts and the conversion from Windows errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace oxa {

using ResultCode = std::int32_t;

constexpr bool Succeeded(ResultCode code) { return code >= 0; }
constexpr bool Failed(ResultCode code) { return code < 0; }

#define OXA_SUCCEEDED(r) (::oxa::Succeeded(r))
#define OXA_FAILED(r) (::oxa::Failed(r))

// Framework codes (category 0) and platform codes (category 1) used by name.
namespace rc {
constexpr ResultCode Ok = 0;
constexpr ResultCode False = 1;
constexpr ResultCode InterfaceNotSupported = static_cast<ResultCode>(0x80000001u);
constexpr ResultCode Unexpected = static_cast<ResultCode>(0x80000040u);
constexpr ResultCode OutOfMemory = static_cast<ResultCode>(0x80000041u);
constexpr ResultCode NotSupported = static_cast<ResultCode>(0x80000042u);
constexpr ResultCode NotImplemented = static_cast<ResultCode>(0x80000043u);
constexpr ResultCode BufferTooSmall = static_cast<ResultCode>(0x80000044u);
constexpr ResultCode AccessDenied = static_cast<ResultCode>(0x80000045u);
constexpr ResultCode InvalidArgument = static_cast<ResultCode>(0x80000046u);
constexpr ResultCode BadCast = static_cast<ResultCode>(0x80000047u);
constexpr ResultCode NotMatched = static_cast<ResultCode>(0x8000004Au);
constexpr ResultCode UnspecifiedError = static_cast<ResultCode>(0x8000004Bu);
constexpr ResultCode NotFound = static_cast<ResultCode>(0x8000004Cu);
constexpr ResultCode InvalidSignature = static_cast<ResultCode>(0x8000005Au);
constexpr ResultCode InvalidSize = static_cast<ResultCode>(0x8000005Cu);
constexpr ResultCode InvalidType = static_cast<ResultCode>(0x8000005Du);
constexpr ResultCode OutOfRange = static_cast<ResultCode>(0x8000005Eu);
constexpr ResultCode InvalidState = static_cast<ResultCode>(0x8000006Au);
constexpr ResultCode NotInitialized = static_cast<ResultCode>(0x8000006Bu);
constexpr ResultCode ExceptionHasNoResultCode = static_cast<ResultCode>(0x80000151u);
constexpr ResultCode PropertyNotFound = static_cast<ResultCode>(0x80000180u);
constexpr ResultCode OperationTimeout = static_cast<ResultCode>(0x80000221u);
constexpr ResultCode SyntaxError = static_cast<ResultCode>(0x80000310u);
constexpr ResultCode GuidSyntaxError = static_cast<ResultCode>(0x80000311u);
constexpr ResultCode PlatformUnspecified = static_cast<ResultCode>(0x80010100u);
constexpr ResultCode InvalidHandle = static_cast<ResultCode>(0x80010101u);
constexpr ResultCode FileNotFound = static_cast<ResultCode>(0x80010102u);
constexpr ResultCode PathNotFound = static_cast<ResultCode>(0x80010103u);
constexpr ResultCode SharingViolation = static_cast<ResultCode>(0x80010104u);
constexpr ResultCode AlreadyExists = static_cast<ResultCode>(0x80010105u);
constexpr ResultCode SymbolNotFound = static_cast<ResultCode>(0x80010107u);
constexpr ResultCode InvalidPathName = static_cast<ResultCode>(0x80010109u);
constexpr ResultCode ModuleNotFound = static_cast<ResultCode>(0x80010112u);
}  // namespace rc

// The static ASCII text of a code ("Unknown result code" for any code without
// one). Never fails.
std::string_view GetResultCodeText(ResultCode code);

// Conversion of a Windows error (as returned by GetLastError or an HRESULT)
// into a result code.
ResultCode ResultFromWin32Error(std::uint32_t error);

}  // namespace oxa
