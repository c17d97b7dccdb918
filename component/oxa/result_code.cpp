#include "component/oxa/result_code.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace oxa {
namespace {

struct CodeText {
  std::uint32_t code;
  std::string_view text;
};

// Sorted by code for the binary search.
constexpr CodeText kTexts[] = {
    {0x00000000u, "No error"},
    {0x00000001u, "False"},
    {0x80000001u, "Interface not supported"},
    {0x80000040u, "Unexpected"},
    {0x80000041u, "Out of memory"},
    {0x80000042u, "Not supported"},
    {0x80000043u, "Not implemented"},
    {0x80000044u, "Buffer too small"},
    {0x80000045u, "Access denied"},
    {0x80000046u, "Invalid argument"},
    {0x80000047u, "Bad cast"},
    {0x8000004Au, "Not matched"},
    {0x8000004Bu, "Unspecified error"},
    {0x8000004Cu, "Not found"},
    {0x8000004Du, "Found"},
    {0x8000004Fu, "Locked"},
    {0x80000050u, "Not locked"},
    {0x80000051u, "Operation cancelled"},
    {0x80000057u, "Method not found"},
    {0x80000058u, "Stack is empty"},
    {0x80000059u, "Media error"},
    {0x8000005Au, "Invalid signature"},
    {0x8000005Bu, "Invalid version"},
    {0x8000005Cu, "Invalid size"},
    {0x8000005Du, "Invalid type"},
    {0x8000005Eu, "Out of range"},
    {0x80000062u, "Out of space"},
    {0x80000063u, "Not ready"},
    {0x80000064u, "Less than"},
    {0x80000065u, "More than"},
    {0x80000066u, "Prohibited"},
    {0x80000067u, "Already done"},
    {0x80000068u, "Need reboot"},
    {0x80000069u, "Bases corrupted"},
    {0x8000006Au, "Invalid state"},
    {0x8000006Bu, "Not initialized"},
    {0x8000006Cu, "Insufficient resources"},
    {0x8000006Eu, "Reparse Points Prohibited"},
    {0x80000071u, "Invalid result"},
    {0x80000072u, "Unknown exception"},
    {0x80000076u, "Meta information not found"},
    {0x80000077u, "Numerical type overflow"},
    {0x80000078u, "File is too big"},
    {0x80000079u, "Trace level ok"},
    {0x8000007Au, "Trace level prohibited"},
    {0x80000100u, "Class not found"},
    {0x80000101u, "Settings are required"},
    {0x80000102u, "Unexpected settings"},
    {0x80000103u, "Wrong settings type"},
    {0x80000104u, "Wrong settings revision"},
    {0x80000105u, "Settings not found"},
    {0x80000106u, "Object is untrusted"},
    {0x80000150u, "No current exception"},
    {0x80000151u, "Exception has no result code"},
    {0x80000152u, "Exception with successful result code"},
    {0x80000180u, "Property not found"},
    {0x80000221u, "Operation timeout"},
    {0x80000300u, "Invalid symbol"},
    {0x80000301u, "Non dec symbol"},
    {0x80000302u, "Non hex symbol"},
    {0x80000303u, "Non base64 symbol"},
    {0x80000310u, "Syntax error"},
    {0x80000311u, "GUID syntax error"},
    {0x80000312u, "OID syntax error"},
    {0x80000313u, "DateTime syntax error"},
    {0x80010100u, "Unspecified platform error"},
    {0x80010101u, "Invalid handle"},
    {0x80010102u, "File not found"},
    {0x80010103u, "Path not found"},
    {0x80010104u, "Sharing violation"},
    {0x80010105u, "Already exists"},
    {0x80010106u, "Wait abandoned"},
    {0x80010107u, "Symbol not found"},
    {0x80010108u, "Sxs is incorrect"},
    {0x80010109u, "Invalid path name"},
    {0x80010110u, "Cannot open an anonymous level security token"},
    {0x80010111u, "Password is invalid"},
    {0x80010112u, "Module not found"},
    {0x80010113u, "System image bad signature"},
    {0x80010114u, "Cloud file request aborted"},
    {0x80010115u, "Memory mapping failed"},
    {0x80010116u, "Network error"},
    {0x80010117u, "System image bad format"},
    {0x80010118u, "System shutdown in progress"},
};

struct ErrorMapping {
  std::uint32_t error;
  std::uint32_t code;
};

constexpr ErrorMapping kWin32Errors[] = {
    {0, 0},
    {1, 0x80000042u},     {2, 0x80010102u},     {3, 0x80010103u},
    {5, 0x80000045u},     {6, 0x80010101u},     {8, 0x80000041u},
    {21, 0x80000063u},    {24, 0x8000005Cu},    {31, 0x8000004Bu},
    {32, 0x80010104u},    {33, 0x80010104u},    {50, 0x80000042u},
    {53, 0x80010103u},    {80, 0x80010105u},    {87, 0x80000046u},
    {111, 0x80000044u},   {112, 0x80000062u},   {122, 0x80000044u},
    {123, 0x80010109u},   {126, 0x80010112u},   {127, 0x80010107u},
    {160, 0x80000046u},   {183, 0x80010105u},   {193, 0x80010117u},
    {234, 0x80000044u},   {267, 0x80010103u},   {393, 0x80010114u},
    {637, 0x80010113u},   {995, 0x80000051u},   {1168, 0x8000004Cu},
    {1247, 0x80000067u},  {1347, 0x80010110u},  {1413, 0x8000005Eu},
    {1450, 0x8000006Cu},  {1460, 0x80000221u},  {1630, 0x8000005Du},
    {14001, 0x80010108u},
};

static_assert(std::is_sorted(std::begin(kTexts), std::end(kTexts),
                             [](const CodeText& a, const CodeText& b) { return a.code < b.code; }));
static_assert(std::is_sorted(std::begin(kWin32Errors), std::end(kWin32Errors),
                             [](const ErrorMapping& a, const ErrorMapping& b) { return a.error < b.error; }));

}  // namespace

std::string_view GetResultCodeText(ResultCode code) {
  const auto key = static_cast<std::uint32_t>(code);
  const auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), key,
                                   [](const CodeText& entry, std::uint32_t k) { return entry.code < k; });
  if (it != std::end(kTexts) && it->code == key) return it->text;
  return "Unknown result code";
}

ResultCode ResultFromWin32Error(std::uint32_t error) {
  const auto it = std::lower_bound(std::begin(kWin32Errors), std::end(kWin32Errors), error,
                                   [](const ErrorMapping& entry, std::uint32_t e) { return entry.error < e; });
  if (it != std::end(kWin32Errors) && it->error == error) return static_cast<ResultCode>(it->code);
  if (error < 0x10000u) return static_cast<ResultCode>(0x80070000u | error);
  if (static_cast<std::int32_t>(error) >= 0) return 0;
  // An HRESULT that wraps a Windows error: convert the error it carries.
  if ((error & 0x0FFF0000u) == 0x70000u) return ResultFromWin32Error(error & 0xFFFFu);
  return rc::PlatformUnspecified;
}

}  // namespace oxa
