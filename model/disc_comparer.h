// Whether two disc objects describe the same disc, as the lookup control judges it. A comparer
// lives for one list operation: it asks the module's shared control for its lookup engine on
// first use and keeps it, so a walk over a list asks the control once.
#pragma once

#include "control/lookup_control.h"
#include "runtime/com_ptr.h"

namespace pelk {

class DiscComparer {
 public:
  // *same is true when the engine reports the two discs as one. Without a shared control (or
  // one that offers no engine) only the very same object counts as the same disc. Null discs
  // are never the same. The engine's failures are returned, with *same false.
  HRESULT IsSameDisc(IDiscInfo* first, IDiscInfo* second, bool* same);

 private:
  bool asked_ = false;
  ComPtr<ILookupEngine> engine_;
};

}  // namespace pelk
