// The task profiles' registry and store side: the declarations read, and the
// state of every declared profile written into the profile store.
#include "activators/profiles.h"

#include "Custom_Actions/COMMON/framework_objects.h"
#include "activators/declaration_table.h"
#include "component/oxa/result_code.h"
#include "log/log_sink.h"

#include <climits>
#include <cwchar>

namespace qvr {
namespace {

constexpr std::uint32_t kDwordType = 4;
constexpr std::uint32_t kCreateMissing = 1;
constexpr char kInstalledValue[] = "installed";
constexpr char kEnabledValue[] = "enabled";
constexpr char kDefaultNode[] = "def";

// The path as the store takes it: each UTF-16 unit converted on its own in
// the runtime library's current locale. False for a unit that has no narrow
// form there.
bool NarrowInCurrentLocale(const std::wstring& text, std::string& narrow) {
  narrow.clear();
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (wchar_t unit : text) {
    const std::size_t length = std::wcrtomb(bytes, unit, &state);
    if (length == static_cast<std::size_t>(-1)) return false;
    narrow.append(bytes, length);
  }
  return true;
}

// One open node of the store, closed when the scope ends.
class StoreNode {
 public:
  explicit StoreNode(ProfileStore* store) : store_(store) {}
  ~StoreNode() {
    if (open_) StoreEntry<StoreCloseFn>(store_, kStoreCloseEntry)(store_, handle_);
  }
  StoreNode(const StoreNode&) = delete;
  StoreNode& operator=(const StoreNode&) = delete;

  FrameworkResult Open(StoreHandle parent, const char* path, std::uint32_t flags) {
    const FrameworkResult result = StoreEntry<StoreOpenFn>(store_, kStoreOpenEntry)(store_, &handle_, parent, path, flags);
    open_ = OXA_SUCCEEDED(result);
    return result;
  }
  FrameworkResult SetDword(const char* name, std::uint32_t value) {
    return StoreEntry<StoreSetValueFn>(store_, kStoreSetValueEntry)(store_, handle_, name, kDwordType, &value,
                                                                    sizeof(value), kCreateMissing);
  }
  FrameworkResult DeleteValue(const char* name) {
    return StoreEntry<StoreDeleteValueFn>(store_, kStoreDeleteValueEntry)(store_, handle_, name);
  }
  StoreHandle Handle() const { return handle_; }

 private:
  ProfileStore* store_;
  StoreHandle handle_ = 0;
  bool open_ = false;
};

}  // namespace

bool TaskProfiles::Read(LogSink* sink, const std::wstring& keyPath) {
  static constexpr DeclarationValueRules kRules{
      L"ReadProfiles: can't enum profiles key: 0x%08x",
      L"ReadProfiles: can't query value %ls: 0x%08x",
      L"ReadProfiles: value %ls is empty",
      L"ReadProfiles: profile %ls = %ls",
      true,
      false,
      true,
  };
  ScopedRegKey declarations;
  if (!OpenDeclarations(sink, keyPath, L"ReadProfiles: can't open profiles key: 0x%08x", declarations)) return false;
  return ReadDeclarationValues(sink, declarations, kRules, [&](const std::wstring& name, const std::wstring& path) {
    profiles_[name] = ProfileRecord{path, false, false};
    return Taken::kTaken;
  });
}

bool TaskProfiles::Apply(LogSink* sink, ProfileStore* store, const ProfilePlan& plan, const wchar_t* requestedLine) {
  for (const Request& request : plan.requests)
    LogLine(sink, kLogInfo, requestedLine, request.declaration.c_str(), request.feature.c_str());
  profiles_ = plan.profiles;
  return Write(sink, store);
}

bool TaskProfiles::Write(LogSink* sink, ProfileStore* store) const {
  if (!store) {
    LogLine(sink, kLogError, L"WriteProfiles: profiles are empty!");
    return false;
  }
  for (const auto& [name, profile] : profiles_) {
    LogLine(sink, kLogInfo, L"WriteProfiles: setting profile %ls to %ls, enable state to %ls", name.c_str(),
            profile.requested ? L"installed" : L"not installed", profile.disabled ? L"disabled" : L"not changed");
    std::string path;
    if (!NarrowInCurrentLocale(profile.path, path)) {
      LogLine(sink, kLogError, L"WriteProfiles: path %ls of profile %ls has no form in the current character set",
              profile.path.c_str(), name.c_str());
      return false;
    }
    StoreNode node(store);
    if (!CheckSuccess(sink, node.Open(0, path.c_str(), 0), L"WriteProfiles: can't open profile %hs: 0x%08x",
                      path.c_str()))
      return false;
    if (profile.requested) {
      if (!CheckSuccess(sink, node.SetDword(kInstalledValue, 1),
                        L"WriteProfiles: can't set value installed for profile %hs: 0x%08x", path.c_str()))
        return false;
      if (profile.disabled) {
        StoreNode defaults(store);
        if (!CheckNotFailed(sink, defaults.Open(node.Handle(), kDefaultNode, kCreateMissing),
                            L"WriteProfiles: can't open default key for profile %hs: 0x%08x", path.c_str()) ||
            !CheckSuccess(sink, defaults.SetDword(kEnabledValue, 0),
                          L"WriteProfiles: can't set value enabled for profile %hs: 0x%08x", path.c_str()))
          return false;
      }
    } else {
      const FrameworkResult removed = node.DeleteValue(kInstalledValue);
      if (!CheckSuccess(sink, removed == kStoreValueNotFound ? 0 : removed,
                        L"WriteProfiles: can't remove value installed for profile %hs: 0x%08x", path.c_str()))
        return false;
    }
  }
  return true;
}

}  // namespace qvr
