#include "model/disc_comparer.h"

#include "control/current_control.h"

namespace pelk {

HRESULT DiscComparer::IsSameDisc(IDiscInfo* first, IDiscInfo* second, bool* same) {
  *same = false;
  if (!first || !second) return S_OK;
  if (!asked_) {
    asked_ = true;
    if (ComPtr<ILookupControl> control = CurrentLookupControl()) {
      ComPtr<IUnknown> object;
      if (SUCCEEDED(control->GetControlObject(kControlObjectEngine, object.Out()))) {
        engine_ = object.As<ILookupEngine>();
      }
    }
  }
  if (!engine_) {
    *same = SameObject(first, second);
    return S_OK;
  }
  int32_t answer = 0;
  const HRESULT hr = engine_->IsSameDisc(first, second, 0, &answer);
  if (FAILED(hr)) return hr;
  *same = answer == 1;
  return S_OK;
}

}  // namespace pelk
