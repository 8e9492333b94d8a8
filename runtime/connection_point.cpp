#include "runtime/connection_point.h"

namespace pelk {

EventArgs& EventArgs::I4(int32_t value) {
  args_.push_back(Arg{VT_I4, value, {}, nullptr, nullptr});
  return *this;
}

EventArgs& EventArgs::Text(std::u16string_view value) {
  args_.push_back(Arg{VT_BSTR, 0, std::u16string(value), nullptr, nullptr});
  return *this;
}

EventArgs& EventArgs::Object(IDispatch* value) {
  args_.push_back(Arg{VT_DISPATCH, 0, {}, ComPtr<IDispatch>(value), nullptr});
  return *this;
}

EventArgs& EventArgs::OutI4(int32_t* target) {
  args_.push_back(Arg{VT_BYREF | VT_I4, 0, {}, nullptr, target});
  return *this;
}

EventArgs& EventArgs::OutObject(IDispatch** target) {
  args_.push_back(Arg{VT_BYREF | VT_DISPATCH, 0, {}, nullptr, target});
  return *this;
}

void EventArgs::ClearFilled() {
  for (VARIANT& v : filled_) VariantClear(&v);
  filled_.clear();
}

DISPPARAMS* EventArgs::Fill() {
  ClearFilled();
  filled_.resize(args_.size());
  const size_t n = args_.size();
  for (size_t i = 0; i < n; ++i) {
    const Arg& arg = args_[i];
    VARIANT& v = filled_[n - 1 - i];  // last declared argument first
    VariantInit(&v);
    v.vt = arg.vt;
    switch (arg.vt) {
      case VT_I4: v.lVal = arg.i4; break;
      case VT_BSTR: v.bstrVal = AllocBstr(arg.text); break;
      case VT_DISPATCH:
        v.pdispVal = arg.object.Get();
        if (v.pdispVal) v.pdispVal->AddRef();
        break;
      default: v.plVal = static_cast<int32_t*>(arg.target); break;  // by reference
    }
  }
  params_ = DISPPARAMS{filled_.data(), nullptr, static_cast<uint32_t>(n), 0};
  return &params_;
}

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID events_iid)
    : container_(container), events_iid_(events_iid), slots_(4) {}

HRESULT ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IUnknown::kIid || iid == IConnectionPoint::kIid) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = events_iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = container_;
  container_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, uint32_t* cookie) {
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  ComPtr<IDispatch> events;
  if (FAILED(sink->QueryInterface(events_iid_, events.OutVoid())) || !events) {
    return CONNECT_E_CANNOTCONNECT;
  }
  std::lock_guard lock(mutex_);
  size_t slot = 0;
  while (slot < slots_.size() && slots_[slot]) ++slot;
  if (slot == slots_.size()) slots_.resize(slots_.size() * 2);
  slots_[slot] = std::move(events);
  *cookie = static_cast<uint32_t>(slot + 1);
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(uint32_t cookie) {
  ComPtr<IDispatch> released;  // released after the lock: a sink's destructor may advise
  {
    std::lock_guard lock(mutex_);
    if (cookie == 0 || cookie > slots_.size() || !slots_[cookie - 1]) {
      return CONNECT_E_NOCONNECTION;
    }
    released = std::move(slots_[cookie - 1]);
    slots_[cookie - 1].Reset();
  }
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

void ConnectionPoint::Fire(DISPID id, EventArgs& args) {
  std::vector<ComPtr<IDispatch>> sinks;
  {
    std::lock_guard lock(mutex_);
    sinks = slots_;
  }
  for (const ComPtr<IDispatch>& sink : sinks) {
    if (!sink) continue;
    VARIANT result;
    VariantInit(&result);
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, args.Fill(), &result,
                 nullptr, nullptr);
    VariantClear(&result);
  }
}

size_t ConnectionPoint::SlotCount() const {
  std::lock_guard lock(mutex_);
  return slots_.size();
}

size_t ConnectionPoint::SinkCount() const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& s : slots_) n += s ? 1 : 0;
  return n;
}

}  // namespace pelk
