// Published values of the filtering engine's API that mingw-w64's headers
// lack (flags and layer keys), and the conversion of keys between the API's
// GUID and the stand-in's own Guid.
#pragma once

#include <windows.h>
// fwpmu.h needs the Windows types.
#include <fwpmu.h>

#include <cstring>

#include "standins/fwpuclnt/engine_state.h"

namespace wfpstandin {

inline constexpr UINT32 kSessionFlagDynamic = 0x00000001;            // FWPM_SESSION_FLAG_DYNAMIC
inline constexpr UINT32 kTxnReadOnly = 0x00000001;                   // FWPM_TXN_READ_ONLY
inline constexpr UINT32 kProviderFlagPersistent = 0x00000001;        // FWPM_PROVIDER_FLAG_PERSISTENT
inline constexpr UINT16 kSublayerFlagPersistent = 0x0001;            // FWPM_SUBLAYER_FLAG_PERSISTENT
inline constexpr UINT32 kCalloutFlagPersistent = 0x00010000;         // FWPM_CALLOUT_FLAG_PERSISTENT
inline constexpr UINT32 kFilterFlagPersistent = 0x00000001;          // FWPM_FILTER_FLAG_PERSISTENT
inline constexpr UINT32 kFilterFlagBoottime = 0x00000002;            // FWPM_FILTER_FLAG_BOOTTIME
inline constexpr UINT32 kFilterFlagHasProviderContext = 0x00000004;  // FWPM_FILTER_FLAG_HAS_PROVIDER_CONTEXT

// FWPM_LAYER_ALE_AUTH_CONNECT_V4
inline constexpr GUID kLayerAleAuthConnectV4 = {
    0xC38D57D1, 0x05A7, 0x4C33, {0x90, 0x4F, 0x7F, 0xBC, 0xEE, 0xE6, 0x0E, 0x82}};

inline wfpstate::Guid FromGuid(const GUID& key) {
  wfpstate::Guid out;
  out.data1 = key.Data1;
  out.data2 = key.Data2;
  out.data3 = key.Data3;
  std::memcpy(out.data4.data(), key.Data4, sizeof key.Data4);
  return out;
}

inline GUID ToGuid(const wfpstate::Guid& key) {
  GUID out;
  out.Data1 = key.data1;
  out.Data2 = key.data2;
  out.Data3 = key.data3;
  std::memcpy(out.Data4, key.data4.data(), sizeof out.Data4);
  return out;
}

}  // namespace wfpstandin
