// fwpuclnt.dll, a stand-in for the base filtering engine's management API
// where the platform has none (Wine): providers, sublayers, callouts and
// filters in transactions, shared by every process of the machine through
// a state file (engine.h), with the signatures of <fwpmu.h>.
//
// Exports (undecorated through fwpuclnt.def): FwpmEngineOpen0/Close0,
// FwpmTransactionBegin0/Commit0/Abort0, FwpmFreeMemory0, and per kind
// (Provider, SubLayer, Callout, Filter) Add0, DeleteByKey0,
// CreateEnumHandle0, Enum0 and DestroyEnumHandle0.
//
// On bad input: ERROR_INVALID_PARAMETER for a null required pointer (also a
// blob with a size and no data) and an authentication service other than
// RPC_C_AUTHN_DEFAULT or RPC_C_AUTHN_WINNT; RPC_S_SERVER_UNAVAILABLE for
// another machine; ERROR_INVALID_HANDLE for an engine or enumeration handle
// that is not open (or an enumeration handle of another session or kind);
// FWP_E_INVALID_FLAGS for transaction flags other than FWPM_TXN_READ_ONLY;
// FWP_E_NULL_DISPLAY_NAME for an object without a name; FWP_E_LAYER_NOT_FOUND
// for a layer other than the 18 of kKnownLayers; FWP_E_INVALID_WEIGHT and
// FWP_E_INVALID_ACTION_TYPE; FWP_E_LIFETIME_MISMATCH for a reference to a
// dynamic session's object from outside that session; ERROR_NOT_SUPPORTED for
// filter conditions and provider contexts, which the stand-in does not keep.
// FwpmFreeMemory0 ignores a pointer it did not hand out.
//
// For tests, WFP_STANDIN_FAULT lists faults "Function:N:code" separated by
// ';' (code decimal or 0x-hex): the Nth call of that function in the process,
// counted since the variable last changed, answers the code and does nothing
// else. Malformed entries are ignored.
#include <windows.h>
// fwpmu.h and rpc.h need the Windows types.
#include <fwpmu.h>
#include <rpc.h>

#include <cstdlib>
#include <cwchar>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "standins/fwpuclnt/engine.h"
#include "standins/fwpuclnt/engine_state.h"
#include "standins/fwpuclnt/fwp_values.h"

namespace wfpstandin {
namespace {

using wfpstate::Bytes;
using wfpstate::EngineState;
using wfpstate::Guid;
using wfpstate::Lifetime;
using wfpstate::Text;

constexpr DWORD Code(HRESULT code) { return static_cast<DWORD>(code); }

// --- fault injection -----------------------------------------------------------

constexpr const char* kFunctions[] = {
    "FwpmEngineOpen0",
    "FwpmEngineClose0",
    "FwpmTransactionBegin0",
    "FwpmTransactionCommit0",
    "FwpmTransactionAbort0",
    "FwpmProviderAdd0",
    "FwpmProviderDeleteByKey0",
    "FwpmProviderCreateEnumHandle0",
    "FwpmProviderEnum0",
    "FwpmProviderDestroyEnumHandle0",
    "FwpmSubLayerAdd0",
    "FwpmSubLayerDeleteByKey0",
    "FwpmSubLayerCreateEnumHandle0",
    "FwpmSubLayerEnum0",
    "FwpmSubLayerDestroyEnumHandle0",
    "FwpmCalloutAdd0",
    "FwpmCalloutDeleteByKey0",
    "FwpmCalloutCreateEnumHandle0",
    "FwpmCalloutEnum0",
    "FwpmCalloutDestroyEnumHandle0",
    "FwpmFilterAdd0",
    "FwpmFilterDeleteByKey0",
    "FwpmFilterCreateEnumHandle0",
    "FwpmFilterEnum0",
    "FwpmFilterDestroyEnumHandle0",
};
constexpr std::size_t kFunctionCount = std::size(kFunctions);

struct Fault {
  std::size_t function;
  unsigned long long call;
  DWORD code;
};

// The faults are read again at every call: a new value of the variable
// starts the count of calls afresh, so that one test process can try a fault
// at each call in turn.
class Faults {
 public:
  // The code the next call of `function` fails with, or 0.
  DWORD Next(std::size_t function) {
    char text[4096];
    DWORD length = GetEnvironmentVariableA("WFP_STANDIN_FAULT", text, sizeof text);
    if (length >= sizeof text) length = 0;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::string_view(text, length) != text_) Reset(std::string(text, length));
    const unsigned long long call = ++calls_[function];
    for (const Fault& fault : faults_)
      if (fault.function == function && fault.call == call) return fault.code;
    return ERROR_SUCCESS;
  }

 private:
  void Reset(std::string text) {
    text_ = std::move(text);
    faults_.clear();
    for (unsigned long long& calls : calls_) calls = 0;
    std::string_view rest(text_);
    while (!rest.empty()) {
      const std::size_t end = rest.find(';');
      Parse(std::string(rest.substr(0, end)));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
  }
  void Parse(const std::string& entry) {
    const std::size_t colon = entry.find(':');
    const std::size_t second = colon == std::string::npos ? colon : entry.find(':', colon + 1);
    if (second == std::string::npos) return;
    const std::string name = entry.substr(0, colon);
    char* end = nullptr;
    const unsigned long long call = std::strtoull(entry.c_str() + colon + 1, &end, 10);
    if (end != entry.c_str() + second || call == 0) return;
    const unsigned long code = std::strtoul(entry.c_str() + second + 1, &end, 0);
    if (*end != '\0' || end == entry.c_str() + second + 1) return;
    for (std::size_t function = 0; function < kFunctionCount; ++function)
      if (name == kFunctions[function]) faults_.push_back({function, call, static_cast<DWORD>(code)});
  }

  std::mutex mutex_;
  std::string text_;
  std::vector<Fault> faults_;
  unsigned long long calls_[kFunctionCount]{};
};

Faults& TheFaults() {
  static Faults faults;
  return faults;
}

// Every export's edge: the fault of this call if there is one, else the
// body's code; no exception leaves.
template <class Body>
DWORD Guarded(const char* function, Body body) noexcept {
  try {
    std::size_t index = 0;
    while (std::string_view(kFunctions[index]) != function) ++index;
    if (const DWORD fault = TheFaults().Next(index)) return fault;
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNAL_ERROR;
  }
}

// --- from the caller's structures --------------------------------------------------

Text CopyText(const wchar_t* text) {
  if (!text) return std::nullopt;
  return std::u16string(text, text + std::wcslen(text));
}

bool CopyBlob(const FWP_BYTE_BLOB& blob, Bytes& bytes) {
  if (blob.size != 0 && !blob.data) return false;
  bytes.assign(blob.data, blob.data + blob.size);
  return true;
}

std::optional<Guid> CopyKey(const GUID* key) {
  if (!key) return std::nullopt;
  return FromGuid(*key);
}

// The engine's key for an object added with the zero key.
Guid NewKey() {
  UUID key{};
  if (UuidCreate(&key) != RPC_S_OK) throw std::bad_alloc();
  return FromGuid(key);
}

Lifetime LifeOf(bool persistent, const Lifetime& session) {
  return persistent ? Lifetime{Lifetime::kPersistent, {}} : session;
}

// A reference from an object of lifetime `life` to `key` in `objects`.
template <class Map>
DWORD CheckReference(const Map& objects, const Guid& key, const Lifetime& life, HRESULT notFound) {
  const auto found = objects.find(key);
  if (found == objects.end()) return Code(notFound);
  return wfpstate::MayReference(life, found->second.life) ? ERROR_SUCCESS : Code(FWP_E_LIFETIME_MISMATCH);
}

template <class Object>
DWORD CheckProvider(const EngineState& state, const Object& object) {
  return object.provider ? CheckReference(state.providers, *object.provider, object.life, FWP_E_PROVIDER_NOT_FOUND)
                         : ERROR_SUCCESS;
}

// The object's key, its own or a new one; FWP_E_ALREADY_EXISTS when taken.
template <class Map>
DWORD TakeKey(const Map& objects, Guid& key) {
  if (key.IsZero()) key = NewKey();
  return objects.count(key) ? Code(FWP_E_ALREADY_EXISTS) : ERROR_SUCCESS;
}

bool IsValidAction(UINT32 type) {
  for (const UINT32 valid :
       {FWP_ACTION_BLOCK, FWP_ACTION_PERMIT, FWP_ACTION_CALLOUT_TERMINATING, FWP_ACTION_CALLOUT_INSPECTION,
        FWP_ACTION_CALLOUT_UNKNOWN, FWP_ACTION_CONTINUE, FWP_ACTION_NONE, FWP_ACTION_NONE_NO_MATCH})
    if (type == valid) return true;
  return false;
}

// The weight that the engine chooses for a filter added without one: later
// filters weigh less.
std::uint64_t AutoWeight(std::uint64_t filterId) { return FWPM_AUTO_WEIGHT_MAX - filterId; }

// --- enumeration ---------------------------------------------------------------------

template <class Object>
struct Cursor : EnumCursor {
  std::vector<Object> objects;
  std::size_t next = 0;
};

// What one Enum0 call hands out: the array and everything its entries point
// to, freed together by FwpmFreeMemory0 of the array.
struct Block {
  virtual ~Block() = default;
  std::deque<std::wstring> strings;
  std::deque<Bytes> blobs;
  std::deque<GUID> keys;
  std::deque<UINT64> numbers;

  wchar_t* String(const Text& text) {
    if (!text) return nullptr;
    return strings.emplace_back(text->begin(), text->end()).data();
  }
  FWP_BYTE_BLOB Blob(const Bytes& bytes) {
    if (bytes.empty()) return {0, nullptr};
    Bytes& copy = blobs.emplace_back(bytes);
    return {static_cast<UINT32>(copy.size()), copy.data()};
  }
  GUID* Key(const std::optional<Guid>& key) { return key ? &keys.emplace_back(ToGuid(*key)) : nullptr; }
  UINT64* Number(UINT64 value) { return &numbers.emplace_back(value); }
};

template <class Entry>
struct EntryBlock : Block {
  std::vector<Entry> entries;
  std::vector<Entry*> pointers;
};

std::mutex blocksLock;
std::map<void*, std::unique_ptr<Block>> blocks;

void Fill(Block& block, const wfpstate::Provider& object, FWPM_PROVIDER0& entry) {
  entry.providerKey = ToGuid(object.key);
  entry.displayData = {block.String(object.name), block.String(object.description)};
  entry.flags = object.flags;
  entry.providerData = block.Blob(object.data);
  entry.serviceName = block.String(object.serviceName);
}

void Fill(Block& block, const wfpstate::Sublayer& object, FWPM_SUBLAYER0& entry) {
  entry.subLayerKey = ToGuid(object.key);
  entry.displayData = {block.String(object.name), block.String(object.description)};
  entry.flags = object.flags;
  entry.providerKey = block.Key(object.provider);
  entry.providerData = block.Blob(object.data);
  entry.weight = object.weight;
}

void Fill(Block& block, const wfpstate::Callout& object, FWPM_CALLOUT0& entry) {
  entry.calloutKey = ToGuid(object.key);
  entry.displayData = {block.String(object.name), block.String(object.description)};
  entry.flags = object.flags;
  entry.providerKey = block.Key(object.provider);
  entry.providerData = block.Blob(object.data);
  entry.applicableLayer = ToGuid(object.layer);
  entry.calloutId = object.id;
}

void Fill(Block& block, const wfpstate::Filter& object, FWPM_FILTER0& entry) {
  entry.filterKey = ToGuid(object.key);
  entry.displayData = {block.String(object.name), block.String(object.description)};
  entry.flags = object.flags;
  entry.providerKey = block.Key(object.provider);
  entry.providerData = block.Blob(object.data);
  entry.layerKey = ToGuid(object.layer);
  entry.subLayerKey = ToGuid(object.sublayer);
  if (object.weightIsUint8) {
    entry.weight.type = FWP_UINT8;
    entry.weight.uint8 = static_cast<UINT8>(object.weight);
  } else {
    entry.weight.type = FWP_UINT64;
    entry.weight.uint64 = block.Number(object.weight);
  }
  entry.action.type = object.actionType;
  entry.action.calloutKey = ToGuid(object.actionKey);
  entry.rawContext = object.rawContext;
  entry.filterId = object.id;
  entry.effectiveWeight.type = FWP_UINT64;
  // A weight range (0-15) is the top four bits of the effective weight.
  entry.effectiveWeight.uint64 =
      object.weightIsUint8 ? block.Number(object.weight << FWPM_AUTO_WEIGHT_BITS) : entry.weight.uint64;
}

template <class Object, class Entry>
DWORD NextEntries(HANDLE engine, HANDLE enumHandle, UINT32 requested, Entry*** entries, UINT32* returned) {
  if (!entries || !returned) return ERROR_INVALID_PARAMETER;
  return UseEnum(engine, enumHandle, [&](EnumCursor& base) -> DWORD {
    auto* cursor = dynamic_cast<Cursor<Object>*>(&base);
    if (!cursor) return ERROR_INVALID_HANDLE;
    const std::size_t count = std::min<std::size_t>(requested, cursor->objects.size() - cursor->next);
    if (count == 0) {
      *entries = nullptr;
      *returned = 0;
      return ERROR_SUCCESS;
    }
    auto block = std::make_unique<EntryBlock<Entry>>();
    block->entries.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      Fill(*block, cursor->objects[cursor->next + i], block->entries[i]);
      block->pointers.push_back(&block->entries[i]);
    }
    Entry** array = block->pointers.data();
    {
      std::lock_guard lock(blocksLock);
      blocks.emplace(array, std::move(block));
    }
    cursor->next += count;
    *entries = array;
    *returned = static_cast<UINT32>(count);
    return ERROR_SUCCESS;
  });
}

// A cursor over the objects of `objects` that `keep` selects.
template <class Map, class Keep>
DWORD CreateEnum(HANDLE engine, HANDLE* enumHandle, Map EngineState::*objects, Keep keep) {
  if (!enumHandle) return ERROR_INVALID_PARAMETER;
  EngineState state;
  if (const DWORD result = ReadState(engine, state); result != ERROR_SUCCESS) return result;
  auto cursor = std::make_unique<Cursor<typename Map::mapped_type>>();
  for (const auto& [key, object] : state.*objects)
    if (keep(object)) cursor->objects.push_back(object);
  return AddEnum(engine, std::move(cursor), *enumHandle);
}

// A template's provider key: null for any provider.
template <class Object>
bool OfProvider(const Object& object, const GUID* providerKey) {
  return !providerKey || (object.provider && *object.provider == FromGuid(*providerKey));
}

// Whether `layerKey` (zero for any layer) admits `layer`.
bool InLayer(const Guid& layer, const GUID& layerKey) {
  const Guid wanted = FromGuid(layerKey);
  return wanted.IsZero() || wanted == layer;
}

template <class Delete>
DWORD DeleteByKey(HANDLE engine, const GUID* key, Delete remove) {
  if (!key) return ERROR_INVALID_PARAMETER;
  const Guid wanted = FromGuid(*key);
  return ApplyChange(engine, [&](EngineState& state, const Lifetime&) { return remove(state, wanted); });
}

bool IsLocalServer(const wchar_t* name) {
  if (!name || !*name || std::wcscmp(name, L".") == 0 || _wcsicmp(name, L"localhost") == 0) return true;
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = static_cast<DWORD>(std::size(computer));
  return GetComputerNameW(computer, &length) && _wcsicmp(name, computer) == 0;
}

}  // namespace
}  // namespace wfpstandin

using namespace wfpstandin;

extern "C" {

DWORD WINAPI FwpmEngineOpen0(const wchar_t* serverName, UINT32 authnService, SEC_WINNT_AUTH_IDENTITY_W*,
                             const FWPM_SESSION0* session, HANDLE* engineHandle) {
  return Guarded(__func__, [&]() -> DWORD {
    if (!engineHandle) return ERROR_INVALID_PARAMETER;
    if (authnService != RPC_C_AUTHN_DEFAULT && authnService != RPC_C_AUTHN_WINNT) return ERROR_INVALID_PARAMETER;
    if (!IsLocalServer(serverName)) return RPC_S_SERVER_UNAVAILABLE;
    const bool dynamic = session && (session->flags & kSessionFlagDynamic);
    return OpenSession(dynamic, session ? session->txnWaitTimeoutInMSec : 0, *engineHandle);
  });
}

DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
  return Guarded(__func__, [&] { return CloseSession(engineHandle); });
}

DWORD WINAPI FwpmTransactionBegin0(HANDLE engineHandle, UINT32 flags) {
  return Guarded(__func__, [&]() -> DWORD {
    if (flags & ~kTxnReadOnly) return Code(FWP_E_INVALID_FLAGS);
    return BeginTransaction(engineHandle, flags & kTxnReadOnly);
  });
}

DWORD WINAPI FwpmTransactionCommit0(HANDLE engineHandle) {
  return Guarded(__func__, [&] { return CommitTransaction(engineHandle); });
}

DWORD WINAPI FwpmTransactionAbort0(HANDLE engineHandle) {
  return Guarded(__func__, [&] { return AbortTransaction(engineHandle); });
}

void WINAPI FwpmFreeMemory0(void** p) {
  if (!p || !*p) return;
  try {
    std::unique_ptr<Block> block;  // destroyed outside the lock
    std::lock_guard lock(blocksLock);
    const auto found = blocks.find(*p);
    if (found == blocks.end()) return;
    block = std::move(found->second);
    blocks.erase(found);
    *p = nullptr;
  } catch (...) {
  }
}

// --- providers ---------------------------------------------------------------------

DWORD WINAPI FwpmProviderAdd0(HANDLE engineHandle, const FWPM_PROVIDER0* provider, PSECURITY_DESCRIPTOR) {
  return Guarded(__func__, [&]() -> DWORD {
    if (!provider) return ERROR_INVALID_PARAMETER;
    if (!provider->displayData.name) return Code(FWP_E_NULL_DISPLAY_NAME);
    wfpstate::Provider draft;
    draft.key = FromGuid(provider->providerKey);
    draft.flags = provider->flags;
    draft.name = CopyText(provider->displayData.name);
    draft.description = CopyText(provider->displayData.description);
    draft.serviceName = CopyText(provider->serviceName);
    if (!CopyBlob(provider->providerData, draft.data)) return ERROR_INVALID_PARAMETER;
    return ApplyChange(engineHandle, [&](EngineState& state, const Lifetime& life) -> DWORD {
      wfpstate::Provider object = draft;
      object.life = LifeOf(object.flags & kProviderFlagPersistent, life);
      if (const DWORD result = TakeKey(state.providers, object.key); result != ERROR_SUCCESS) return result;
      state.providers.emplace(object.key, std::move(object));
      return ERROR_SUCCESS;
    });
  });
}

DWORD WINAPI FwpmProviderDeleteByKey0(HANDLE engineHandle, const GUID* key) {
  return Guarded(__func__, [&] {
    return DeleteByKey(engineHandle, key, [](EngineState& state, const Guid& wanted) -> DWORD {
      if (!state.providers.count(wanted)) return Code(FWP_E_PROVIDER_NOT_FOUND);
      const auto names = [&](const auto& objects) {
        for (const auto& [key, object] : objects)
          if (object.provider == wanted) return true;
        return false;
      };
      if (names(state.sublayers) || names(state.callouts) || names(state.filters)) return Code(FWP_E_IN_USE);
      state.providers.erase(wanted);
      return ERROR_SUCCESS;
    });
  });
}

DWORD WINAPI FwpmProviderCreateEnumHandle0(HANDLE engineHandle, const FWPM_PROVIDER_ENUM_TEMPLATE0*,
                                           HANDLE* enumHandle) {
  // The provider template holds nothing to select by.
  return Guarded(__func__, [&] {
    return CreateEnum(engineHandle, enumHandle, &EngineState::providers, [](const auto&) { return true; });
  });
}

DWORD WINAPI FwpmProviderEnum0(HANDLE engineHandle, HANDLE enumHandle, UINT32 numEntriesRequested,
                               FWPM_PROVIDER0*** entries, UINT32* numEntriesReturned) {
  return Guarded(__func__, [&] {
    return NextEntries<wfpstate::Provider>(engineHandle, enumHandle, numEntriesRequested, entries, numEntriesReturned);
  });
}

DWORD WINAPI FwpmProviderDestroyEnumHandle0(HANDLE engineHandle, HANDLE enumHandle) {
  return Guarded(__func__, [&] { return DestroyEnum(engineHandle, enumHandle); });
}

// --- sublayers ---------------------------------------------------------------------

DWORD WINAPI FwpmSubLayerAdd0(HANDLE engineHandle, const FWPM_SUBLAYER0* subLayer, PSECURITY_DESCRIPTOR) {
  return Guarded(__func__, [&]() -> DWORD {
    if (!subLayer) return ERROR_INVALID_PARAMETER;
    if (!subLayer->displayData.name) return Code(FWP_E_NULL_DISPLAY_NAME);
    wfpstate::Sublayer draft;
    draft.key = FromGuid(subLayer->subLayerKey);
    draft.flags = subLayer->flags;
    draft.name = CopyText(subLayer->displayData.name);
    draft.description = CopyText(subLayer->displayData.description);
    draft.provider = CopyKey(subLayer->providerKey);
    draft.weight = subLayer->weight;
    if (!CopyBlob(subLayer->providerData, draft.data)) return ERROR_INVALID_PARAMETER;
    return ApplyChange(engineHandle, [&](EngineState& state, const Lifetime& life) -> DWORD {
      wfpstate::Sublayer object = draft;
      object.life = LifeOf(object.flags & kSublayerFlagPersistent, life);
      if (object.key == wfpstate::kUniversalSublayer) return Code(FWP_E_ALREADY_EXISTS);
      DWORD result = TakeKey(state.sublayers, object.key);
      if (result == ERROR_SUCCESS) result = CheckProvider(state, object);
      if (result != ERROR_SUCCESS) return result;
      state.sublayers.emplace(object.key, std::move(object));
      return ERROR_SUCCESS;
    });
  });
}

DWORD WINAPI FwpmSubLayerDeleteByKey0(HANDLE engineHandle, const GUID* key) {
  return Guarded(__func__, [&] {
    return DeleteByKey(engineHandle, key, [](EngineState& state, const Guid& wanted) -> DWORD {
      if (wanted == wfpstate::kUniversalSublayer) return Code(FWP_E_BUILTIN_OBJECT);
      if (!state.sublayers.count(wanted)) return Code(FWP_E_SUBLAYER_NOT_FOUND);
      for (const auto& [key, filter] : state.filters)
        if (filter.sublayer == wanted) return Code(FWP_E_IN_USE);
      state.sublayers.erase(wanted);
      return ERROR_SUCCESS;
    });
  });
}

DWORD WINAPI FwpmSubLayerCreateEnumHandle0(HANDLE engineHandle, const FWPM_SUBLAYER_ENUM_TEMPLATE0* enumTemplate,
                                           HANDLE* enumHandle) {
  return Guarded(__func__, [&] {
    const GUID* provider = enumTemplate ? enumTemplate->providerKey : nullptr;
    return CreateEnum(engineHandle, enumHandle, &EngineState::sublayers,
                      [&](const wfpstate::Sublayer& object) { return OfProvider(object, provider); });
  });
}

DWORD WINAPI FwpmSubLayerEnum0(HANDLE engineHandle, HANDLE enumHandle, UINT32 numEntriesRequested,
                               FWPM_SUBLAYER0*** entries, UINT32* numEntriesReturned) {
  return Guarded(__func__, [&] {
    return NextEntries<wfpstate::Sublayer>(engineHandle, enumHandle, numEntriesRequested, entries, numEntriesReturned);
  });
}

DWORD WINAPI FwpmSubLayerDestroyEnumHandle0(HANDLE engineHandle, HANDLE enumHandle) {
  return Guarded(__func__, [&] { return DestroyEnum(engineHandle, enumHandle); });
}

// --- callouts ----------------------------------------------------------------------

DWORD WINAPI FwpmCalloutAdd0(HANDLE engineHandle, const FWPM_CALLOUT0* callout, PSECURITY_DESCRIPTOR, UINT32* id) {
  return Guarded(__func__, [&]() -> DWORD {
    if (!callout) return ERROR_INVALID_PARAMETER;
    if (!callout->displayData.name) return Code(FWP_E_NULL_DISPLAY_NAME);
    wfpstate::Callout draft;
    draft.key = FromGuid(callout->calloutKey);
    draft.flags = callout->flags;
    draft.name = CopyText(callout->displayData.name);
    draft.description = CopyText(callout->displayData.description);
    draft.provider = CopyKey(callout->providerKey);
    draft.layer = FromGuid(callout->applicableLayer);
    if (!CopyBlob(callout->providerData, draft.data)) return ERROR_INVALID_PARAMETER;
    if (!wfpstate::IsKnownLayer(draft.layer)) return Code(FWP_E_LAYER_NOT_FOUND);
    return ApplyChange(engineHandle, [&](EngineState& state, const Lifetime& life) -> DWORD {
      wfpstate::Callout object = draft;
      object.life = LifeOf(object.flags & kCalloutFlagPersistent, life);
      DWORD result = TakeKey(state.callouts, object.key);
      if (result == ERROR_SUCCESS) result = CheckProvider(state, object);
      if (result != ERROR_SUCCESS) return result;
      object.id = state.nextCalloutId++;
      if (id) *id = object.id;
      state.callouts.emplace(object.key, std::move(object));
      return ERROR_SUCCESS;
    });
  });
}

DWORD WINAPI FwpmCalloutDeleteByKey0(HANDLE engineHandle, const GUID* key) {
  return Guarded(__func__, [&] {
    return DeleteByKey(engineHandle, key, [](EngineState& state, const Guid& wanted) -> DWORD {
      if (!state.callouts.count(wanted)) return Code(FWP_E_CALLOUT_NOT_FOUND);
      for (const auto& [key, filter] : state.filters)
        if ((filter.actionType & FWP_ACTION_FLAG_CALLOUT) && filter.actionKey == wanted) return Code(FWP_E_IN_USE);
      state.callouts.erase(wanted);
      return ERROR_SUCCESS;
    });
  });
}

DWORD WINAPI FwpmCalloutCreateEnumHandle0(HANDLE engineHandle, const FWPM_CALLOUT_ENUM_TEMPLATE0* enumTemplate,
                                          HANDLE* enumHandle) {
  return Guarded(__func__, [&] {
    const GUID* provider = enumTemplate ? enumTemplate->providerKey : nullptr;
    const GUID layer = enumTemplate ? enumTemplate->layerKey : GUID{};
    return CreateEnum(engineHandle, enumHandle, &EngineState::callouts, [&](const wfpstate::Callout& object) {
      return OfProvider(object, provider) && InLayer(object.layer, layer);
    });
  });
}

DWORD WINAPI FwpmCalloutEnum0(HANDLE engineHandle, HANDLE enumHandle, UINT32 numEntriesRequested,
                              FWPM_CALLOUT0*** entries, UINT32* numEntriesReturned) {
  return Guarded(__func__, [&] {
    return NextEntries<wfpstate::Callout>(engineHandle, enumHandle, numEntriesRequested, entries, numEntriesReturned);
  });
}

DWORD WINAPI FwpmCalloutDestroyEnumHandle0(HANDLE engineHandle, HANDLE enumHandle) {
  return Guarded(__func__, [&] { return DestroyEnum(engineHandle, enumHandle); });
}

// --- filters -------------------------------------------------------------------------

DWORD WINAPI FwpmFilterAdd0(HANDLE engineHandle, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR, UINT64* id) {
  return Guarded(__func__, [&]() -> DWORD {
    if (!filter || (filter->numFilterConditions != 0 && !filter->filterCondition)) return ERROR_INVALID_PARAMETER;
    if (!filter->displayData.name) return Code(FWP_E_NULL_DISPLAY_NAME);
    if (filter->numFilterConditions != 0 || (filter->flags & kFilterFlagHasProviderContext)) return ERROR_NOT_SUPPORTED;
    wfpstate::Filter draft;
    draft.key = FromGuid(filter->filterKey);
    draft.flags = filter->flags;
    draft.name = CopyText(filter->displayData.name);
    draft.description = CopyText(filter->displayData.description);
    draft.provider = CopyKey(filter->providerKey);
    draft.layer = FromGuid(filter->layerKey);
    draft.sublayer = FromGuid(filter->subLayerKey);
    if (draft.sublayer.IsZero()) draft.sublayer = wfpstate::kUniversalSublayer;
    draft.actionType = filter->action.type;
    draft.actionKey = FromGuid(filter->action.calloutKey);
    draft.rawContext = filter->rawContext;
    if (!CopyBlob(filter->providerData, draft.data)) return ERROR_INVALID_PARAMETER;
    if (!wfpstate::IsKnownLayer(draft.layer)) return Code(FWP_E_LAYER_NOT_FOUND);
    if (!IsValidAction(draft.actionType)) return Code(FWP_E_INVALID_ACTION_TYPE);
    const FWP_VALUE0& weight = filter->weight;
    if (weight.type == FWP_UINT8) {
      if (weight.uint8 > FWPM_WEIGHT_RANGE_MAX) return Code(FWP_E_INVALID_WEIGHT);
      draft.weightIsUint8 = true;
      draft.weight = weight.uint8;
    } else if (weight.type == FWP_UINT64) {
      if (!weight.uint64) return ERROR_INVALID_PARAMETER;
      draft.weight = *weight.uint64;
    } else if (weight.type != FWP_EMPTY) {
      return Code(FWP_E_INVALID_WEIGHT);
    }
    const bool autoWeight = weight.type == FWP_EMPTY;
    return ApplyChange(engineHandle, [&](EngineState& state, const Lifetime& life) -> DWORD {
      wfpstate::Filter object = draft;
      object.life = LifeOf(object.flags & (kFilterFlagPersistent | kFilterFlagBoottime), life);
      DWORD result = TakeKey(state.filters, object.key);
      if (result == ERROR_SUCCESS) result = CheckProvider(state, object);
      if (result == ERROR_SUCCESS && object.sublayer != wfpstate::kUniversalSublayer)
        result = CheckReference(state.sublayers, object.sublayer, object.life, FWP_E_SUBLAYER_NOT_FOUND);
      if (result == ERROR_SUCCESS && (object.actionType & FWP_ACTION_FLAG_CALLOUT)) {
        result = CheckReference(state.callouts, object.actionKey, object.life, FWP_E_CALLOUT_NOT_FOUND);
        if (result == ERROR_SUCCESS && state.callouts.at(object.actionKey).layer != object.layer)
          result = Code(FWP_E_INCOMPATIBLE_LAYER);
      }
      if (result != ERROR_SUCCESS) return result;
      object.id = state.nextFilterId++;
      if (autoWeight) object.weight = AutoWeight(object.id);
      if (id) *id = object.id;
      state.filters.emplace(object.key, std::move(object));
      return ERROR_SUCCESS;
    });
  });
}

DWORD WINAPI FwpmFilterDeleteByKey0(HANDLE engineHandle, const GUID* key) {
  return Guarded(__func__, [&] {
    return DeleteByKey(engineHandle, key, [](EngineState& state, const Guid& wanted) -> DWORD {
      return state.filters.erase(wanted) ? ERROR_SUCCESS : Code(FWP_E_FILTER_NOT_FOUND);
    });
  });
}

DWORD WINAPI FwpmFilterCreateEnumHandle0(HANDLE engineHandle, const FWPM_FILTER_ENUM_TEMPLATE0* enumTemplate,
                                         HANDLE* enumHandle) {
  return Guarded(__func__, [&]() -> DWORD {
    if (!enumTemplate)
      return CreateEnum(engineHandle, enumHandle, &EngineState::filters, [](const auto&) { return true; });
    if (enumTemplate->numFilterConditions != 0 || enumTemplate->providerContextTemplate) return ERROR_NOT_SUPPORTED;
    const FWPM_FILTER_ENUM_TEMPLATE0& wanted = *enumTemplate;
    // Boot-time filters are always listed, unless only they are asked for.
    const bool bootTimeOnly = wanted.flags & FWP_FILTER_ENUM_FLAG_BOOTTIME_ONLY;
    return CreateEnum(engineHandle, enumHandle, &EngineState::filters, [&](const wfpstate::Filter& object) {
      return OfProvider(object, wanted.providerKey) && InLayer(object.layer, wanted.layerKey) &&
             (object.actionType & wanted.actionMask) != 0 &&
             (!wanted.calloutKey ||
              ((object.actionType & FWP_ACTION_FLAG_CALLOUT) && object.actionKey == FromGuid(*wanted.calloutKey))) &&
             (!bootTimeOnly || (object.flags & kFilterFlagBoottime));
    });
  });
}

DWORD WINAPI FwpmFilterEnum0(HANDLE engineHandle, HANDLE enumHandle, UINT32 numEntriesRequested,
                             FWPM_FILTER0*** entries, UINT32* numEntriesReturned) {
  return Guarded(__func__, [&] {
    return NextEntries<wfpstate::Filter>(engineHandle, enumHandle, numEntriesRequested, entries, numEntriesReturned);
  });
}

DWORD WINAPI FwpmFilterDestroyEnumHandle0(HANDLE engineHandle, HANDLE enumHandle) {
  return Guarded(__func__, [&] { return DestroyEnum(engineHandle, enumHandle); });
}

}  // extern "C"
