// The installer object's task profiles: declarations under the product's
// registry key, and the state of every declared profile written into the
// profile store on each activation or deactivation.
#include "activators/profiles.h"

#include "Custom_Actions/COMMON/framework_objects.h"
#include "Custom_Actions/qvrinst/installer.h"
#include "Custom_Actions/qvrinst/log_sink.h"
#include "component/oxa/result_code.h"
#include "platform/product_info/common_reg_keys.h"
#include "platform/util/scoped_reg_key.h"

#include <climits>
#include <cwchar>

namespace qvr {
namespace {

constexpr DWORD kProfileNameChars = 256;
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

bool Installer::ReadProfiles() {
  LogSink* sink = GetLogSink();
  ScopedRegKey declarations;
  LONG result = declarations.Open(HKEY_LOCAL_MACHINE, commonRegKeys_[kProfilesKey].c_str(), KEY_READ);
  if (result != ERROR_SUCCESS) {
    LogLine(sink, kLogError, L"ReadProfiles: can't open profiles key: 0x%08x", result);
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[kProfileNameChars] = {};
    DWORD length = kProfileNameChars;
    result = RegEnumValueW(declarations.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"ReadProfiles: can't enum profiles key: 0x%08x", result);
      return false;
    }
    if (length == 0) continue;
    const std::wstring profileName(name, length);

    std::wstring path;
    result = declarations.QueryString(profileName.c_str(), path);
    if (result != ERROR_SUCCESS) {
      LogLine(sink, kLogError, L"ReadProfiles: can't query value %ls: 0x%08x", profileName.c_str(), result);
      return false;
    }
    if (path.empty()) {
      LogLine(sink, kLogError, L"ReadProfiles: value %ls is empty", profileName.c_str());
      return false;
    }
    profiles_[profileName] = ProfileRecord{path, false, false};
    LogLine(sink, kLogInfo, L"ReadProfiles: profile %ls = %ls", profileName.c_str(), path.c_str());
  }
}

bool Installer::ActivateProfiles(const std::wstring& productType) {
  LogSink* sink = GetLogSink();
  for (auto& [name, profile] : profiles_) profile.requested = false;
  for (const auto& [featureName, feature] : features_) {
    if (!Qualifies(feature, productType)) continue;
    bool disabled = false;
    for (const auto& type : feature.disabledProductTypes) disabled = disabled || type == productType;
    for (const auto& profileName : feature.profiles) {
      const auto profile = profiles_.find(profileName);
      if (profile == profiles_.end()) continue;
      LogLine(sink, kLogInfo, L"ActivateProfiles: profile %ls requested by feature %ls", profileName.c_str(),
              featureName.c_str());
      profile->second.requested = true;
      profile->second.disabled = disabled;
    }
  }
  return WriteProfiles();
}

bool Installer::DeactivateProfiles(const std::wstring& productType) {
  LogSink* sink = GetLogSink();
  for (const auto& [featureName, feature] : features_) {
    if (!Qualifies(feature, productType)) continue;
    for (const auto& profileName : feature.profiles) {
      const auto profile = profiles_.find(profileName);
      if (profile == profiles_.end()) continue;
      LogLine(sink, kLogInfo, L"DeactivateProfiles: profile %ls requested by feature %ls", profileName.c_str(),
              featureName.c_str());
      profile->second.requested = false;
    }
  }
  return WriteProfiles();
}

bool Installer::WriteProfiles() {
  LogSink* sink = GetLogSink();
  if (!profileStore_) {
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
    StoreNode node(profileStore_);
    FrameworkResult result = node.Open(0, path.c_str(), 0);
    if (result != 0) {
      LogLine(sink, kLogError, L"WriteProfiles: can't open profile %hs: 0x%08x", path.c_str(), result);
      return false;
    }
    if (profile.requested) {
      result = node.SetDword(kInstalledValue, 1);
      if (result != 0) {
        LogLine(sink, kLogError, L"WriteProfiles: can't set value installed for profile %hs: 0x%08x", path.c_str(),
                result);
        return false;
      }
      if (profile.disabled) {
        StoreNode defaults(profileStore_);
        result = defaults.Open(node.Handle(), kDefaultNode, kCreateMissing);
        if (OXA_FAILED(result)) {
          LogLine(sink, kLogError, L"WriteProfiles: can't open default key for profile %hs: 0x%08x", path.c_str(),
                  result);
          return false;
        }
        result = defaults.SetDword(kEnabledValue, 0);
        if (result != 0) {
          LogLine(sink, kLogError, L"WriteProfiles: can't set value enabled for profile %hs: 0x%08x", path.c_str(),
                  result);
          return false;
        }
      }
    } else {
      result = node.DeleteValue(kInstalledValue);
      if (result != 0 && result != kStoreValueNotFound) {
        LogLine(sink, kLogError, L"WriteProfiles: can't remove value installed for profile %hs: 0x%08x",
                path.c_str(), result);
        return false;
      }
    }
  }
  return true;
}

}  // namespace qvr
