#include "runtime/com_ptr.h"

namespace pelk {

bool SameObject(IUnknown* a, IUnknown* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  ComPtr<IUnknown> ua = ComPtr<IUnknown>(a).As<IUnknown>();
  ComPtr<IUnknown> ub = ComPtr<IUnknown>(b).As<IUnknown>();
  return ua && ua == ub;
}

}  // namespace pelk
