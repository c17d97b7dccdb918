// Incompatible software: which kinds of applications count as incompatible
// for the product's features, and the cleaner state behind the interface's
// CheckForApplicationsToRemove and RemoveApplications, created on first use
// from the cleaner pack in the product's root folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"

namespace qvr {

class Cleaner;
class LogSink;
class StringList;

// What the cleaner state is made from.
struct CleanerSetup {
  LogSink* sink;
  const std::wstring& environmentKey;  // below HKEY_LOCAL_MACHINE: ProductRoot, ProductVersion
  const FeatureMap& features;
  const std::wstring& productType;
};

class IncompatibleSoftware {
 public:
  IncompatibleSoftware();
  ~IncompatibleSoftware();
  IncompatibleSoftware(const IncompatibleSoftware&) = delete;
  IncompatibleSoftware& operator=(const IncompatibleSoftware&) = delete;

  // The cleaner's product-type filter names that the features qualifying for
  // `type` add, each once, in the fixed order "ODS", "Antivirus",
  // "Firewall", "Network", "OnlyDetectODS", "OnlyDetectAV", "OnlyDetectFW",
  // "OnlyDetectNet".
  static StringVector FilterNames(const FeatureMap& features, const std::wstring& type);

  // Slot 3: the names of the detected applications of category `filter`
  // (0 detect only, 1 safe uninstall, 2 custom uninstall) in a new list,
  // left untouched when nothing was detected. False only when the cleaner
  // state cannot be made.
  bool CheckForApplicationsToRemove(const CleanerSetup& setup, std::uint32_t filter, StringList** detected);
  // Slot 4: removes the applications named in the list (each name in turn),
  // or, for an empty or absent list, every detected one; the list is
  // released and replaced by the names of the removed applications. False
  // only when the cleaner state cannot be made.
  bool RemoveApplications(const CleanerSetup& setup, StringList** applications);
  // Deletes the scratch folder and the cleaner state.
  void Shutdown() noexcept;

 private:
  bool InitializeCleaner(const CleanerSetup& setup);
  bool GetCleanerParams(const CleanerSetup& setup, std::wstring& packPath, std::wstring& scratchFolder,
                        std::wstring& productVersion);
  bool ExtractCleanerData(const CleanerSetup& setup, const std::wstring& packPath, const std::wstring& scratchFolder);

  std::unique_ptr<Cleaner> cleaner_;
};

}  // namespace qvr
