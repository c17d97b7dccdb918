#include "drivers/fwp_api.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#if defined(__i386__)
// The records the engine reads and hands back, as the 32-bit fwpuclnt.dll
// lays them out.
static_assert(sizeof(FWPM_DISPLAY_DATA0) == 8 && sizeof(FWP_VALUE0) == 8 && sizeof(FWPM_ACTION0) == 20);
static_assert(sizeof(FWPM_PROVIDER0) == 40 && offsetof(FWPM_PROVIDER0, serviceName) == 36);
static_assert(sizeof(FWPM_SUBLAYER0) == 44 && offsetof(FWPM_SUBLAYER0, weight) == 40);
static_assert(sizeof(FWPM_CALLOUT0) == 60 && offsetof(FWPM_CALLOUT0, applicableLayer) == 40);
static_assert(offsetof(FWPM_FILTER0, weight) == 72 && offsetof(FWPM_FILTER0, action) == 88 &&
              offsetof(FWPM_FILTER0, rawContext) == 112 && offsetof(FWPM_FILTER0, filterId) == 136 &&
              sizeof(FWPM_FILTER0) == 152);
static_assert(sizeof(FWPM_CALLOUT_ENUM_TEMPLATE0) == 20 && sizeof(FWPM_SUBLAYER_ENUM_TEMPLATE0) == 4);
#endif

namespace wfpmgr {
namespace {

struct Binding {
  FwpApi api{};
  DWORD error = ERROR_SUCCESS;
};

template <class Function>
bool Bind(HMODULE library, const char* name, Function& function, DWORD& error) {
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
  if (!function && error == ERROR_SUCCESS) error = GetLastError();
  return function != nullptr;
}

Binding Load() noexcept {
  Binding binding;
  // From the system folder by its full path (the search flags need an update
  // on Windows 7); kept loaded for the life of the process, as a
  // delay-loaded import is.
  constexpr wchar_t kName[] = L"\\fwpuclnt.dll";
  wchar_t path[MAX_PATH + std::size(kName)];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    binding.error = length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
    return binding;
  }
  std::copy(std::begin(kName), std::end(kName), path + length);
  const HMODULE library = LoadLibraryW(path);
  if (!library) {
    binding.error = GetLastError();
    return binding;
  }
  FwpApi& api = binding.api;
  DWORD& error = binding.error;
  Bind(library, "FwpmEngineOpen0", api.EngineOpen, error);
  Bind(library, "FwpmEngineClose0", api.EngineClose, error);
  Bind(library, "FwpmTransactionBegin0", api.TransactionBegin, error);
  Bind(library, "FwpmTransactionCommit0", api.TransactionCommit, error);
  Bind(library, "FwpmTransactionAbort0", api.TransactionAbort, error);
  Bind(library, "FwpmFreeMemory0", api.FreeMemory, error);
  Bind(library, "FwpmProviderAdd0", api.ProviderAdd, error);
  Bind(library, "FwpmProviderDeleteByKey0", api.ProviderDeleteByKey, error);
  Bind(library, "FwpmSubLayerAdd0", api.SubLayerAdd, error);
  Bind(library, "FwpmSubLayerDeleteByKey0", api.SubLayerDeleteByKey, error);
  Bind(library, "FwpmSubLayerCreateEnumHandle0", api.SubLayerCreateEnumHandle, error);
  Bind(library, "FwpmSubLayerEnum0", api.SubLayerEnum, error);
  Bind(library, "FwpmSubLayerDestroyEnumHandle0", api.SubLayerDestroyEnumHandle, error);
  Bind(library, "FwpmCalloutAdd0", api.CalloutAdd, error);
  Bind(library, "FwpmCalloutDeleteByKey0", api.CalloutDeleteByKey, error);
  Bind(library, "FwpmCalloutCreateEnumHandle0", api.CalloutCreateEnumHandle, error);
  Bind(library, "FwpmCalloutEnum0", api.CalloutEnum, error);
  Bind(library, "FwpmCalloutDestroyEnumHandle0", api.CalloutDestroyEnumHandle, error);
  Bind(library, "FwpmFilterAdd0", api.FilterAdd, error);
  Bind(library, "FwpmFilterDeleteByKey0", api.FilterDeleteByKey, error);
  Bind(library, "FwpmFilterCreateEnumHandle0", api.FilterCreateEnumHandle, error);
  Bind(library, "FwpmFilterEnum0", api.FilterEnum, error);
  Bind(library, "FwpmFilterDestroyEnumHandle0", api.FilterDestroyEnumHandle, error);
  return binding;
}

}  // namespace

const FwpApi* BoundFwpApi(DWORD& error) noexcept {
  static const Binding binding = Load();
  error = binding.error;
  return error == ERROR_SUCCESS ? &binding.api : nullptr;
}

void CloseEngine(HANDLE engine) noexcept {
  DWORD error = ERROR_SUCCESS;
  if (const FwpApi* api = BoundFwpApi(error)) api->EngineClose(engine);
}

}  // namespace wfpmgr
