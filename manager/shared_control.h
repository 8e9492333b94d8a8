// The process-wide control state every manager of this module shares: the control most
// recently handed to Initialize, the kind-9 object held for the life of the sharing, and the
// number of initialized managers. Guarded by one lock, so managers on different threads are
// safe too.
#pragma once

#include "control/lookup_control.h"
#include <mutex>

#include "runtime/com_ptr.h"

namespace pelk {

class SharedControlState {
 public:
  static SharedControlState& Instance();

  // Replaces SharedControl (done before any check in Initialize, and never undone).
  void SetControl(ILookupControl* control);
  ComPtr<ILookupControl> Control();
  int32_t InitializedManagers();

  // The final step of a successful Initialize: the first initialized manager obtains the
  // kind-9 object from control (a failure is returned and nothing is counted; a null object
  // gives 0xC2FE0005); then the count grows by one.
  HRESULT AddInitializedManager(ILookupControl* control);
  // A matched Shutdown: the count drops by one; at 0 the shared control and the kind-9 object
  // are released.
  void RemoveInitializedManager();

  ComPtr<IUnknown> AnchorForTesting();

 private:
  std::mutex mutex_;
  ComPtr<ILookupControl> control_;
  ComPtr<IUnknown> anchor_;
  int32_t initialized_managers_ = 0;
};

}  // namespace pelk
