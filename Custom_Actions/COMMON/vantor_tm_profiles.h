// The task profile context of MsiProductActivate: the profile store that the
// product's component framework builds from profiles.xml.
#pragma once

#include <windows.h>
#include <msi.h>

namespace qvr {

struct ProfileStore;

class VantorTmProfiles {
 public:
  explicit VantorTmProfiles(MSIHANDLE install) : install_(install) {}
  VantorTmProfiles(const VantorTmProfiles&) = delete;
  VantorTmProfiles& operator=(const VantorTmProfiles&) = delete;

  // Null when no store could be built; the framework loader is not part of
  // this build, so there is none yet.
  ProfileStore* Store() const { return store_; }

 private:
  MSIHANDLE install_;
  ProfileStore* store_ = nullptr;
};

}  // namespace qvr
