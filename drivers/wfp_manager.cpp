#include "drivers/wfp_manager.h"

#include <windows.h>
// StringFromGUID2 needs the Windows types.
#include <objbase.h>

#include <cstdio>
#include <vector>

#include "component/oxa/trace/null_tracer.h"
#include "component/oxa/trace/tracer.h"
#include "drivers/fwp_api.h"
#include "drivers/wfp_objects.h"

namespace wfpmgr {
namespace {

constexpr UINT32 kAllEntries = 0xFFFFFFFF;

std::string Hex(std::uint32_t code) {
  char text[9];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(code));
  return text;
}

void Check(DWORD result, const char* call) {
  if (result != ERROR_SUCCESS) throw WfpException(call, result);
}

// The manager's trace hook: "wfpmgr\t"-prefixed records at the error level,
// over the null tracer, so none is written.
oxa::ITracer* Hook() {
  static const oxa::TracerRef hook = oxa::CreatePrefixedTracer(oxa::NullTracer(), "wfpmgr");
  return hook.get();
}

// An engine session: the engine opened and a transaction begun; the
// transaction is aborted unless committed, and the engine closed, when the
// session ends.
class EngineSession {
 public:
  explicit EngineSession(const FwpApi& api) : api_(api) {
    HANDLE engine = nullptr;
    Check(api_.EngineOpen(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, nullptr, &engine), "FwpmEngineOpen0 failed");
    engine_.Reset(engine);
    Check(api_.TransactionBegin(engine, 0), "FwpmTransactionBegin0 failed");
    transactionOpen_ = true;
  }
  ~EngineSession() {
    if (transactionOpen_) api_.TransactionAbort(engine_.Get());
  }
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  void Commit() {
    Check(api_.TransactionCommit(engine_.Get()), "FwpmTransactionCommit0 failed");
    transactionOpen_ = false;
  }
  HANDLE Engine() const noexcept { return engine_.Get(); }
  const FwpApi& Api() const noexcept { return api_; }

 private:
  const FwpApi& api_;
  EngineHandle engine_;
  bool transactionOpen_ = false;
};

// Runs `body` in a session; a WfpException becomes its code.
template <class Body>
std::uint32_t InSession(const char* operation, Body&& body) noexcept {
  try {
    DWORD error = ERROR_SUCCESS;
    const FwpApi* api = BoundFwpApi(error);
    if (!api) throw WfpException("FwpmEngineOpen0 failed", error);
    EngineSession session(*api);
    body(session);
    session.Commit();
    return ERROR_SUCCESS;
  } catch (const WfpException& error) {
    OXA_TRACE_TO(Hook(), oxa::kTraceError) << operation << error.what();
    return error.Code();
  } catch (...) {
    return static_cast<std::uint32_t>(E_OUTOFMEMORY);
  }
}

wchar_t* Text(const wchar_t* text) { return const_cast<wchar_t*>(text); }
GUID* Key(const GUID& key) { return const_cast<GUID*>(&key); }

void AddObjects(EngineSession& session) {
  const FwpApi& api = session.Api();
  FWPM_PROVIDER0 provider{};
  provider.providerKey = kProviderKey;
  provider.displayData = {Text(kProviderName), Text(kProviderDescription)};
  provider.flags = kProviderFlagPersistent;
  Check(api.ProviderAdd(session.Engine(), &provider, nullptr), "FwpmProviderAdd0 failed");

  FWPM_SUBLAYER0 sublayer{};
  sublayer.subLayerKey = kSublayerKey;
  sublayer.displayData = {Text(kSublayerName), Text(kSublayerName)};
  sublayer.flags = kSublayerFlagPersistent;
  sublayer.providerKey = Key(kProviderKey);
  sublayer.weight = kSublayerWeight;
  Check(api.SubLayerAdd(session.Engine(), &sublayer, nullptr), "FwpmSubLayerAdd0 failed");

  for (const WfpLayerObjects& layer : kWfpLayerObjects) {
    FWPM_CALLOUT0 callout{};
    callout.calloutKey = layer.calloutKey;
    callout.displayData = {Text(layer.calloutName), Text(layer.calloutName)};
    callout.flags = kCalloutFlagPersistent;
    callout.providerKey = Key(kProviderKey);
    callout.applicableLayer = layer.layerKey;
    Check(api.CalloutAdd(session.Engine(), &callout, nullptr, nullptr), "FwpmCalloutAdd0 failed");
  }
  for (const WfpLayerObjects& layer : kWfpLayerObjects) {
    FWPM_FILTER0 filter{};
    filter.filterKey = layer.filterKey;
    filter.displayData = {Text(layer.filterName), Text(layer.filterName)};
    filter.flags = kFilterFlagsBoottimePermitIfUnregistered;
    filter.providerKey = Key(kProviderKey);
    filter.layerKey = layer.layerKey;
    filter.subLayerKey = kSublayerKey;
    filter.weight.type = FWP_EMPTY;
    filter.action.type = FWP_ACTION_CALLOUT_TERMINATING;
    filter.action.calloutKey = layer.calloutKey;
    Check(api.FilterAdd(session.Engine(), &filter, nullptr, nullptr), "FwpmFilterAdd0 failed");
  }
}

// The entries of one enumeration, freed with the engine's allocator.
template <class Entry>
class EnumEntries {
 public:
  explicit EnumEntries(const FwpApi& api) : api_(api) {}
  ~EnumEntries() {
    if (entries_) api_.FreeMemory(reinterpret_cast<void**>(&entries_));
  }
  EnumEntries(const EnumEntries&) = delete;
  EnumEntries& operator=(const EnumEntries&) = delete;
  Entry*** Out() noexcept { return &entries_; }
  UINT32* Count() noexcept { return &count_; }
  const Entry* operator[](UINT32 index) const noexcept { return entries_[index]; }
  UINT32 Size() const noexcept { return entries_ ? count_ : 0; }

 private:
  const FwpApi& api_;
  Entry** entries_ = nullptr;
  UINT32 count_ = 0;
};

// One enumeration of a kind: its handle made from `enumTemplate`, every
// entry fetched at once, and the keys that `keep` selects. A failure is
// traced and leaves the list empty.
template <class Entry, class Template, class Create, class Enum, class Destroy, class Keep>
std::vector<GUID> EnumerateKeys(EngineSession& session, const Template* enumTemplate, Create create, Enum enumerate,
                                Destroy destroy, Keep keep, const char* failure) {
  std::vector<GUID> keys;
  HANDLE handle = nullptr;
  DWORD result = create(session.Engine(), enumTemplate, &handle);
  if (result == ERROR_SUCCESS) {
    EnumEntries<Entry> entries(session.Api());
    result = enumerate(session.Engine(), handle, kAllEntries, entries.Out(), entries.Count());
    if (result == ERROR_SUCCESS)
      for (UINT32 i = 0; i < entries.Size(); ++i)
        if (const GUID* key = keep(*entries[i])) keys.push_back(*key);
    destroy(session.Engine(), handle);
  }
  if (result != ERROR_SUCCESS) {
    OXA_TRACE_TO(Hook(), oxa::kTraceError) << failure << oxa::hex << result;
  }
  return keys;
}

template <class Delete>
void DeleteKeys(EngineSession& session, const std::vector<GUID>& keys, Delete remove, const char* failure) {
  for (const GUID& key : keys) {
    const DWORD result = remove(session.Engine(), &key);
    if (result != ERROR_SUCCESS) {
      wchar_t text[39] = L"";
      StringFromGUID2(key, text, 39);
      OXA_TRACE_TO(Hook(), oxa::kTraceError) << failure << text << ", err=0x" << oxa::hex << result;
    }
  }
}

void RemoveObjects(EngineSession& session) {
  const FwpApi& api = session.Api();
  const std::vector<GUID> filters = EnumerateKeys<FWPM_FILTER0, FWPM_FILTER_ENUM_TEMPLATE0>(
      session, nullptr, api.FilterCreateEnumHandle, api.FilterEnum, api.FilterDestroyEnumHandle,
      [](const FWPM_FILTER0& filter) {
        return filter.providerKey && IsEqualGUID(*filter.providerKey, kProviderKey) ? &filter.filterKey : nullptr;
      },
      "error enumerating filter: err=0x");
  FWPM_CALLOUT_ENUM_TEMPLATE0 calloutTemplate{};
  calloutTemplate.providerKey = Key(kProviderKey);
  const std::vector<GUID> callouts = EnumerateKeys<FWPM_CALLOUT0>(
      session, &calloutTemplate, api.CalloutCreateEnumHandle, api.CalloutEnum, api.CalloutDestroyEnumHandle,
      [](const FWPM_CALLOUT0& callout) { return &callout.calloutKey; }, "error enumerating callouts: err=0x");
  FWPM_SUBLAYER_ENUM_TEMPLATE0 sublayerTemplate{};
  sublayerTemplate.providerKey = Key(kProviderKey);
  const std::vector<GUID> sublayers = EnumerateKeys<FWPM_SUBLAYER0>(
      session, &sublayerTemplate, api.SubLayerCreateEnumHandle, api.SubLayerEnum, api.SubLayerDestroyEnumHandle,
      [](const FWPM_SUBLAYER0& sublayer) { return &sublayer.subLayerKey; }, "error enumerating sublayers: err=0x");

  DeleteKeys(session, filters, api.FilterDeleteByKey, "error removing filter: ");
  DeleteKeys(session, callouts, api.CalloutDeleteByKey, "error removing callout: ");
  DeleteKeys(session, sublayers, api.SubLayerDeleteByKey, "error removing subleyer: ");
  DeleteKeys(session, {kProviderKey}, api.ProviderDeleteByKey, "error removing provider: ");
}

}  // namespace

WfpException::WfpException(const char* call, std::uint32_t code)
    : code_(code), message_(std::string(call) + " with error code " + Hex(code)) {}

std::uint32_t WfpmgrInstallEx2() noexcept { return InSession("WfpmgrInstallEx2", AddObjects); }

std::uint32_t WfpMgrRemoveByEnumerate() noexcept { return InSession("WfpMgrRemoveByEnumerate", RemoveObjects); }

}  // namespace wfpmgr
