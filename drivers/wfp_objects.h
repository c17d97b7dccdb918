// The product's objects in the base filtering engine: its provider, its
// sublayer, and per filtering layer one callout and one boot-time filter
// that hands the layer's traffic to it.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

namespace wfpmgr {

struct WfpLayerObjects {
  GUID layerKey;
  GUID calloutKey;
  GUID filterKey;
  const wchar_t* calloutName;  // also the callout's description
  const wchar_t* filterName;   // also the filter's description
};

inline constexpr std::size_t kWfpLayerCount = 18;

// Published flag values that mingw's headers lack.
inline constexpr UINT32 kProviderFlagPersistent = 0x00000001;  // FWPM_PROVIDER_FLAG_PERSISTENT
inline constexpr UINT32 kSublayerFlagPersistent = 0x00000001;  // FWPM_SUBLAYER_FLAG_PERSISTENT
inline constexpr UINT32 kCalloutFlagPersistent = 0x00010000;   // FWPM_CALLOUT_FLAG_PERSISTENT
// FWPM_FILTER_FLAG_BOOTTIME | FWPM_FILTER_FLAG_PERMIT_IF_CALLOUT_UNREGISTERED
inline constexpr UINT32 kFilterFlagsBoottimePermitIfUnregistered = 0x00000012;

extern const GUID kProviderKey;
extern const GUID kSublayerKey;
inline constexpr const wchar_t* kProviderName = L"Vorsaline Lab";
inline constexpr const wchar_t* kProviderDescription = L"Vorsaline Lab WFP Provider";
inline constexpr const wchar_t* kSublayerName = L"Vorsaline Lab WFP Sublayer";
inline constexpr UINT16 kSublayerWeight = 100;
// In the order of registration: the callouts in this order, then the filters.
extern const std::array<WfpLayerObjects, kWfpLayerCount> kWfpLayerObjects;

}  // namespace wfpmgr
