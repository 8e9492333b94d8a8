#include "tests/runtime/test_interfaces.h"

namespace pelk::testing {

const DispatchTable& ICounter::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&ICounter::get_Name>(u"Name", 1, DISPATCH_PROPERTYGET),
      DispEntry<&ICounter::put_Name>(u"Name", 1, DISPATCH_PROPERTYPUT),
      DispEntry<&ICounter::Add>(u"Add", 2),
  };
  static const DispatchTable table{ICounter::kIid, entries, nullptr};
  return table;
}

const DispatchTable& ICounter2::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&ICounter2::Adopt>(u"Adopt", 3),
      DispEntry<&ICounter2::get_Self>(u"Self", 4, DISPATCH_PROPERTYGET),
  };
  static const DispatchTable table{ICounter2::kIid, entries, &ICounter::Table()};
  return table;
}

HRESULT CCounter::get_Name(BSTR* name) {
  if (!name) return E_POINTER;
  *name = AllocBstr(name_);
  return S_OK;
}

HRESULT CCounter::put_Name(BSTR name) {
  name_ = BstrView(name);
  return S_OK;
}

HRESULT CCounter::Add(int32_t a, int32_t b, int32_t* sum) {
  if (!sum) return E_POINTER;
  total_ += a + b;
  *sum = a + b;
  return S_OK;
}

HRESULT CCounter::Adopt(ICounter* other, int32_t* other_sum) {
  if (!other) return E_INVALIDARG;
  if (!other_sum) return E_POINTER;
  ComPtr<CCounter> impl = ImplOf<CCounter>(other);
  if (!impl) return E_INVALIDARG;
  *other_sum = impl->total_;
  return S_OK;
}

HRESULT CCounter::get_Self(ICounter2** self) {
  if (!self) return E_POINTER;
  *self = this;
  AddRef();
  return S_OK;
}

}  // namespace pelk::testing
