#include "tests/support/event_sink.h"

#include <optional>

namespace pelk::testing {
void* RecordingSink::ExtraInterface(REFIID iid) {
  return iid == events_iid_ ? static_cast<IDispatch*>(this) : nullptr;
}

ComPtr<RecordingSink> MakeRecordingSink(REFIID events_iid) {
  return MakeObject<RecordingSink>(events_iid);
}

void RecordingSink::AbortOn(DISPID id, int32_t value, int after) {
  std::lock_guard lock(mutex_);
  aborts_[id] = AbortRule{value, after};
}

void RecordingSink::ClearAbort(DISPID id) {
  std::lock_guard lock(mutex_);
  aborts_.erase(id);
}

void RecordingSink::ReplyObject(DISPID id, IDispatch* object) {
  std::lock_guard lock(mutex_);
  replies_[id] = object;
}

void RecordingSink::OnEvent(std::function<void(const EventCall&)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<EventCall> RecordingSink::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<DISPID> RecordingSink::Ids() const {
  std::lock_guard lock(mutex_);
  std::vector<DISPID> ids;
  for (const auto& c : calls_) ids.push_back(c.id);
  return ids;
}

size_t RecordingSink::CountOf(DISPID id) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& c : calls_) n += c.id == id ? 1 : 0;
  return n;
}

HRESULT RecordingSink::GetTypeInfoCount(uint32_t* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT RecordingSink::GetTypeInfo(uint32_t, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT RecordingSink::GetIDsOfNames(REFIID, OLECHAR**, uint32_t, LCID, DISPID*) {
  return DISP_E_UNKNOWNNAME;
}

HRESULT RecordingSink::Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  EventCall call;
  call.id = id;
  call.iid = iid;
  call.locale = locale;
  call.flags = flags;
  call.result_was_empty = result && result->vt == VT_EMPTY;
  call.had_named_args = params && params->cNamedArgs != 0;
  const uint32_t n = params ? params->cArgs : 0;
  for (uint32_t i = 0; i < n; ++i) {
    const VARIANT& v = params->rgvarg[n - 1 - i];  // declaration order
    EventArg arg;
    arg.vt = v.vt;
    if (v.vt == VT_I4) arg.i4 = v.lVal;
    if (v.vt == VT_BSTR) arg.text = BstrView(v.bstrVal);
    if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) arg.object = v.punkVal;
    if (v.vt == (VT_BYREF | VT_I4) && v.plVal) arg.i4 = *v.plVal;
    call.args.push_back(std::move(arg));
  }

  std::function<void(const EventCall&)> hook;
  std::optional<AbortRule> abort;
  ComPtr<IDispatch> reply;
  int seen = 0;
  {
    std::lock_guard lock(mutex_);
    for (const auto& c : calls_) seen += c.id == id ? 1 : 0;
    calls_.push_back(call);
    hook = hook_;
    if (auto it = aborts_.find(id); it != aborts_.end()) abort = it->second;
    if (auto it = replies_.find(id); it != replies_.end()) reply = it->second;
  }
  if (hook) hook(call);
  for (uint32_t i = 0; i < n; ++i) {
    VARIANT& v = params->rgvarg[i];
    if (v.vt == (VT_BYREF | VT_I4) && v.plVal && abort && seen >= abort->after) {
      *v.plVal = abort->value;
    }
    if (v.vt == (VT_BYREF | VT_DISPATCH) && v.ppdispVal && reply) {
      reply.CopyTo(v.ppdispVal);
    }
  }
  return S_OK;
}

}  // namespace pelk::testing
