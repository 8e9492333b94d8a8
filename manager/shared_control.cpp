#include "manager/shared_control.h"

#include "control/current_control.h"
#include "pelk/manager_interfaces.h"

namespace pelk {

SharedControlState& SharedControlState::Instance() {
  static SharedControlState* state = [] {
    auto* created = new SharedControlState();
    // Records below the manager reach the shared control through this source.
    SetLookupControlSource([] { return SharedControlState::Instance().Control(); });
    return created;
  }();
  return *state;
}

void SharedControlState::SetControl(ILookupControl* control) {
  ComPtr<ILookupControl> previous;
  std::lock_guard lock(mutex_);
  previous = std::move(control_);
  control_ = control;
}

ComPtr<ILookupControl> SharedControlState::Control() {
  std::lock_guard lock(mutex_);
  return control_;
}

int32_t SharedControlState::InitializedManagers() {
  std::lock_guard lock(mutex_);
  return initialized_managers_;
}

HRESULT SharedControlState::AddInitializedManager(ILookupControl* control) {
  std::lock_guard lock(mutex_);
  if (initialized_managers_ == 0) {
    ComPtr<IUnknown> anchor;
    const HRESULT hr = control->GetControlObject(kControlObjectAnchor, anchor.Out());
    if (FAILED(hr)) return hr;
    if (!anchor) return PELKSonquix_PELKControlVersion;
    anchor_ = std::move(anchor);
  }
  ++initialized_managers_;
  return S_OK;
}

void SharedControlState::RemoveInitializedManager() {
  ComPtr<ILookupControl> control;
  ComPtr<IUnknown> anchor;
  {
    std::lock_guard lock(mutex_);
    if (--initialized_managers_ > 0) return;
    initialized_managers_ = 0;
    control = std::move(control_);
    anchor = std::move(anchor_);
  }
  // Released outside the lock: a control's teardown may reach back into the module.
}

ComPtr<IUnknown> SharedControlState::AnchorForTesting() {
  std::lock_guard lock(mutex_);
  return anchor_;
}

}  // namespace pelk
