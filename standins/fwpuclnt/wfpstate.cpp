// wfpstate.exe: the filtering engine's objects as another process sees them,
// through the API (beside the stand-in, whose fwpuclnt.dll it loads):
//   wfpstate list [--provider GUID]   every object, or those of a provider
//   wfpstate count --provider GUID    how many lines "list --provider" prints
//   wfpstate clear                    deletes every object, in one transaction
//   wfpstate add-foreign              a persistent provider of another product
//                                     with a boot-time filter, and a boot-time
//                                     filter without a provider
// "list" prints providers, sublayers, callouts, then filters, each sorted by
// key, one a line:
//   provider KEY name="NAME" description="TEXT" flags=0xF
//   sublayer KEY name="NAME" description="TEXT" flags=0xF provider=KEY weight=N
//   callout KEY name="NAME" description="TEXT" flags=0xF provider=KEY layer=KEY
//   filter KEY name="NAME" description="TEXT" flags=0xF provider=KEY layer=KEY
//          sublayer=KEY weight=u8:N|u64:N action=0xF callout=KEY
// (keys braced and upper-case; "-" for none; a filter's callout only for a
// callout action). The objects of a provider are the provider and what names
// it. Exit code 0, or 1 with the failing call and its code on stderr. Lines
// end in LF.
#include <windows.h>
// fwpmu.h needs the Windows types.
#include <fwpmu.h>
// The C runtime's stream modes.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "component/oxa/system/unique_handle.h"
#include "component/oxa/text/utf.h"
#include "standins/fwpuclnt/engine_state.h"
#include "standins/fwpuclnt/fwp_values.h"

namespace {

using wfpstandin::FromGuid;
using wfpstate::FormatGuid;
using wfpstate::Guid;

// A failed call: its name and code.
struct CallFailure {
  const char* call;
  DWORD code;
};

void Check(DWORD result, const char* call) {
  if (result != ERROR_SUCCESS) throw CallFailure{call, result};
}

void CloseEngine(HANDLE engine) noexcept { FwpmEngineClose0(engine); }
using EngineHandle = oxa::UniqueHandle<oxa::HandleTraits<HANDLE, &CloseEngine>>;

// The engine opened and a transaction begun; aborted unless committed.
class Session {
 public:
  explicit Session(UINT32 flags) {
    Check(FwpmEngineOpen0(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, nullptr, engine_.Receive()), "FwpmEngineOpen0");
    Check(FwpmTransactionBegin0(engine_.Get(), flags), "FwpmTransactionBegin0");
    open_ = true;
  }
  ~Session() {
    if (open_) FwpmTransactionAbort0(engine_.Get());
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Commit() {
    Check(FwpmTransactionCommit0(engine_.Get()), "FwpmTransactionCommit0");
    open_ = false;
  }
  HANDLE Engine() const { return engine_.Get(); }

 private:
  EngineHandle engine_;
  bool open_ = false;
};

// The entries of one enumeration, in the engine's memory until destroyed.
template <class Entry>
class Entries {
 public:
  Entries() = default;
  ~Entries() {
    if (entries_) FwpmFreeMemory0(reinterpret_cast<void**>(&entries_));
  }
  Entries(Entries&& other) noexcept : entries_(std::exchange(other.entries_, nullptr)), count_(other.count_) {}
  Entries& operator=(Entries&&) = delete;

  Entry*** Out() { return &entries_; }
  UINT32* Count() { return &count_; }
  Entry* const* begin() const { return entries_; }
  Entry* const* end() const { return entries_ ? entries_ + count_ : entries_; }
  UINT32 Size() const { return entries_ ? count_ : 0; }

 private:
  Entry** entries_ = nullptr;
  UINT32 count_ = 0;
};

// Every object of one kind that `enumTemplate` selects.
template <class Entry, class Template>
Entries<Entry> Enumerate(const Session& session, const Template* enumTemplate,
                         DWORD(WINAPI* create)(HANDLE, const Template*, HANDLE*),
                         DWORD(WINAPI* enumerate)(HANDLE, HANDLE, UINT32, Entry***, UINT32*),
                         DWORD(WINAPI* destroy)(HANDLE, HANDLE), const char* createName, const char* enumName,
                         const char* destroyName) {
  HANDLE handle = nullptr;
  Check(create(session.Engine(), enumTemplate, &handle), createName);
  Entries<Entry> entries;
  const DWORD result = enumerate(session.Engine(), handle, 0xFFFFFFFF, entries.Out(), entries.Count());
  const DWORD destroyed = destroy(session.Engine(), handle);
  Check(result, enumName);
  Check(destroyed, destroyName);
  return entries;
}

// The one enumeration of each kind, its calls named in its failures.
#define WFP_ENUM(Kind, session, enumTemplate)                                                                        \
  Enumerate(session, enumTemplate, Fwpm##Kind##CreateEnumHandle0, Fwpm##Kind##Enum0, Fwpm##Kind##DestroyEnumHandle0, \
            "Fwpm" #Kind "CreateEnumHandle0", "Fwpm" #Kind "Enum0", "Fwpm" #Kind "DestroyEnumHandle0")

std::string Key(const GUID* key) { return key ? FormatGuid(FromGuid(*key)) : "-"; }

std::string Quoted(const wchar_t* text) {
  std::string utf8;
  if (text) oxa::Utf16ToUtf8(text, utf8, oxa::InvalidText::Replace);
  return "\"" + utf8 + "\"";
}

std::string Head(const char* kind, const GUID& key, const FWPM_DISPLAY_DATA0& display, UINT32 flags) {
  char flagText[16];
  std::snprintf(flagText, sizeof flagText, "0x%lX", static_cast<unsigned long>(flags));
  return std::string(kind) + " " + Key(&key) + " name=" + Quoted(display.name) +
         " description=" + Quoted(display.description) + " flags=" + flagText;
}

std::string Hex(UINT32 value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
  return text;
}

// The lines of "list": every object, or the provider `provider` and the
// objects that name it.
std::vector<std::string> List(const std::optional<GUID>& provider) {
  Session session(wfpstandin::kTxnReadOnly);
  GUID* providerKey = provider ? const_cast<GUID*>(&*provider) : nullptr;
  const auto ofProvider = [&](const GUID* key) { return !provider || (key && IsEqualGUID(*key, *provider)); };
  std::vector<std::string> lines;
  for (const FWPM_PROVIDER0* entry : WFP_ENUM(Provider, session, static_cast<FWPM_PROVIDER_ENUM_TEMPLATE0*>(nullptr)))
    if (ofProvider(&entry->providerKey))
      lines.push_back(Head("provider", entry->providerKey, entry->displayData, entry->flags));
  FWPM_SUBLAYER_ENUM_TEMPLATE0 sublayers{providerKey};
  for (const FWPM_SUBLAYER0* entry : WFP_ENUM(SubLayer, session, &sublayers))
    lines.push_back(Head("sublayer", entry->subLayerKey, entry->displayData, entry->flags) +
                    " provider=" + Key(entry->providerKey) + " weight=" + std::to_string(entry->weight));
  FWPM_CALLOUT_ENUM_TEMPLATE0 callouts{providerKey, {}};
  for (const FWPM_CALLOUT0* entry : WFP_ENUM(Callout, session, &callouts))
    lines.push_back(Head("callout", entry->calloutKey, entry->displayData, entry->flags) +
                    " provider=" + Key(entry->providerKey) + " layer=" + Key(&entry->applicableLayer));
  FWPM_FILTER_ENUM_TEMPLATE0 filters{};
  filters.providerKey = providerKey;
  filters.actionMask = 0xFFFFFFFF;
  for (const FWPM_FILTER0* entry : WFP_ENUM(Filter, session, &filters)) {
    const bool uint8 = entry->weight.type == FWP_UINT8;
    const std::string weight = uint8 ? "u8:" + std::to_string(entry->weight.uint8)
                                     : "u64:" + std::to_string(entry->weight.uint64 ? *entry->weight.uint64 : 0);
    const bool callout = entry->action.type & FWP_ACTION_FLAG_CALLOUT;
    lines.push_back(
        Head("filter", entry->filterKey, entry->displayData, entry->flags) + " provider=" + Key(entry->providerKey) +
        " layer=" + Key(&entry->layerKey) + " sublayer=" + Key(&entry->subLayerKey) + " weight=" + weight +
        " action=" + Hex(entry->action.type) + " callout=" + (callout ? Key(&entry->action.calloutKey) : "-"));
  }
  session.Commit();
  return lines;
}

void Clear() {
  Session session(0);
  const auto filters = WFP_ENUM(Filter, session, static_cast<FWPM_FILTER_ENUM_TEMPLATE0*>(nullptr));
  const auto callouts = WFP_ENUM(Callout, session, static_cast<FWPM_CALLOUT_ENUM_TEMPLATE0*>(nullptr));
  const auto sublayers = WFP_ENUM(SubLayer, session, static_cast<FWPM_SUBLAYER_ENUM_TEMPLATE0*>(nullptr));
  const auto providers = WFP_ENUM(Provider, session, static_cast<FWPM_PROVIDER_ENUM_TEMPLATE0*>(nullptr));
  for (const FWPM_FILTER0* entry : filters)
    Check(FwpmFilterDeleteByKey0(session.Engine(), &entry->filterKey), "FwpmFilterDeleteByKey0");
  for (const FWPM_CALLOUT0* entry : callouts)
    Check(FwpmCalloutDeleteByKey0(session.Engine(), &entry->calloutKey), "FwpmCalloutDeleteByKey0");
  for (const FWPM_SUBLAYER0* entry : sublayers)
    Check(FwpmSubLayerDeleteByKey0(session.Engine(), &entry->subLayerKey), "FwpmSubLayerDeleteByKey0");
  for (const FWPM_PROVIDER0* entry : providers)
    Check(FwpmProviderDeleteByKey0(session.Engine(), &entry->providerKey), "FwpmProviderDeleteByKey0");
  session.Commit();
}

constexpr GUID kForeignProvider = {0x0E4F1E0A, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
constexpr GUID kForeignFilter = {0x0E4F1E0A, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}};
constexpr GUID kUnownedFilter = {0x0E4F1E0A, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}};

void AddForeign() {
  Session session(0);
  FWPM_PROVIDER0 provider{};
  provider.providerKey = kForeignProvider;
  provider.displayData.name = const_cast<wchar_t*>(L"Foreign provider");
  provider.flags = wfpstandin::kProviderFlagPersistent;
  Check(FwpmProviderAdd0(session.Engine(), &provider, nullptr), "FwpmProviderAdd0");
  const std::pair<GUID, const wchar_t*> filters[] = {{kForeignFilter, L"Foreign filter"},
                                                     {kUnownedFilter, L"Filter without a provider"}};
  for (const auto& [key, name] : filters) {
    FWPM_FILTER0 filter{};
    filter.filterKey = key;
    filter.displayData.name = const_cast<wchar_t*>(name);
    filter.flags = wfpstandin::kFilterFlagBoottime;
    filter.providerKey = IsEqualGUID(key, kForeignFilter) ? const_cast<GUID*>(&kForeignProvider) : nullptr;
    filter.layerKey = wfpstandin::kLayerAleAuthConnectV4;
    filter.weight.type = FWP_EMPTY;
    filter.action.type = FWP_ACTION_PERMIT;
    Check(FwpmFilterAdd0(session.Engine(), &filter, nullptr, nullptr), "FwpmFilterAdd0");
  }
  session.Commit();
}

std::optional<GUID> ProviderArgument(int argc, wchar_t** argv, int at) {
  if (argc != at + 2 || std::wcscmp(argv[at], L"--provider") != 0) return std::nullopt;
  std::string text;
  oxa::Utf16ToUtf8(argv[at + 1], text, oxa::InvalidText::Replace);
  const std::optional<Guid> key = wfpstate::ParseGuid(text);
  if (!key) return std::nullopt;
  return wfpstandin::ToGuid(*key);
}

int Usage() {
  std::fputs("usage: wfpstate list [--provider GUID] | count --provider GUID | clear | add-foreign\n", stderr);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const std::wstring command = argc > 1 ? argv[1] : L"";
  try {
    if (command == L"list" && (argc == 2 || ProviderArgument(argc, argv, 2))) {
      for (const std::string& line : List(argc == 2 ? std::nullopt : ProviderArgument(argc, argv, 2)))
        std::printf("%s\n", line.c_str());
    } else if (command == L"count" && ProviderArgument(argc, argv, 2)) {
      std::printf("%u\n", static_cast<unsigned>(List(ProviderArgument(argc, argv, 2)).size()));
    } else if (command == L"clear" && argc == 2) {
      Clear();
    } else if (command == L"add-foreign" && argc == 2) {
      AddForeign();
    } else {
      return Usage();
    }
  } catch (const CallFailure& failure) {
    std::fprintf(stderr, "wfpstate: %s failed with error code 0x%lX\n", failure.call,
                 static_cast<unsigned long>(failure.code));
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wfpstate: %s\n", e.what());
    return 1;
  }
  return 0;
}
