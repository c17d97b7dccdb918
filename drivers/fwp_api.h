// The filtering engine's management API (fwpuclnt.dll), bound by name at its
// first use instead of imported, so that the module loads on a machine
// without the library. The library comes from the system folder only.
#pragma once

#include <windows.h>
// fwpmu.h needs the Windows types.
#include <fwpmu.h>

#include "component/oxa/system/unique_handle.h"

namespace wfpmgr {

struct FwpApi {
  decltype(&FwpmEngineOpen0) EngineOpen;
  decltype(&FwpmEngineClose0) EngineClose;
  decltype(&FwpmTransactionBegin0) TransactionBegin;
  decltype(&FwpmTransactionCommit0) TransactionCommit;
  decltype(&FwpmTransactionAbort0) TransactionAbort;
  decltype(&FwpmFreeMemory0) FreeMemory;
  decltype(&FwpmProviderAdd0) ProviderAdd;
  decltype(&FwpmProviderDeleteByKey0) ProviderDeleteByKey;
  decltype(&FwpmSubLayerAdd0) SubLayerAdd;
  decltype(&FwpmSubLayerDeleteByKey0) SubLayerDeleteByKey;
  decltype(&FwpmSubLayerCreateEnumHandle0) SubLayerCreateEnumHandle;
  decltype(&FwpmSubLayerEnum0) SubLayerEnum;
  decltype(&FwpmSubLayerDestroyEnumHandle0) SubLayerDestroyEnumHandle;
  decltype(&FwpmCalloutAdd0) CalloutAdd;
  decltype(&FwpmCalloutDeleteByKey0) CalloutDeleteByKey;
  decltype(&FwpmCalloutCreateEnumHandle0) CalloutCreateEnumHandle;
  decltype(&FwpmCalloutEnum0) CalloutEnum;
  decltype(&FwpmCalloutDestroyEnumHandle0) CalloutDestroyEnumHandle;
  decltype(&FwpmFilterAdd0) FilterAdd;
  decltype(&FwpmFilterDeleteByKey0) FilterDeleteByKey;
  decltype(&FwpmFilterCreateEnumHandle0) FilterCreateEnumHandle;
  decltype(&FwpmFilterEnum0) FilterEnum;
  decltype(&FwpmFilterDestroyEnumHandle0) FilterDestroyEnumHandle;
};

// The API, bound once per process; null with the error of the load or of
// the first missing function in `error`.
const FwpApi* BoundFwpApi(DWORD& error) noexcept;

void CloseEngine(HANDLE engine) noexcept;
using EngineHandle = oxa::UniqueHandle<oxa::HandleTraits<HANDLE, &CloseEngine>>;  // FwpmEngineOpen0

}  // namespace wfpmgr
