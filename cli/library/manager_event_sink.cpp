#include "cli/library/manager_event_sink.h"

#include "runtime/bstr.h"

namespace pelk::cli {
namespace {

// Argument `index` in declaration order (arguments arrive last first).
VARIANT* Arg(DISPPARAMS* params, uint32_t index) {
  if (!params || index >= params->cArgs) return nullptr;
  return &params->rgvarg[params->cArgs - 1 - index];
}

int32_t I4(DISPPARAMS* params, uint32_t index) {
  const VARIANT* v = Arg(params, index);
  return v && v->vt == VT_I4 ? v->lVal : 0;
}

std::u16string Text(DISPPARAMS* params, uint32_t index) {
  const VARIANT* v = Arg(params, index);
  return v && v->vt == VT_BSTR ? std::u16string(BstrView(v->bstrVal)) : std::u16string();
}

template <class I>
ComPtr<I> ObjectArg(DISPPARAMS* params, uint32_t index) {
  const VARIANT* v = Arg(params, index);
  if (!v || (v->vt != VT_DISPATCH && v->vt != VT_UNKNOWN) || !v->punkVal) return nullptr;
  return ComPtr<IUnknown>(v->punkVal).As<I>();
}

void SetAbort(DISPPARAMS* params, uint32_t index, int32_t abort) {
  VARIANT* v = Arg(params, index);
  if (abort != 0 && v && v->vt == (VT_BYREF | VT_I4) && v->plVal) *v->plVal = abort;
}

LibraryCounters Counters(DISPPARAMS* params, uint32_t first) {
  return {I4(params, first),     I4(params, first + 1), I4(params, first + 2),
          I4(params, first + 3), I4(params, first + 4), I4(params, first + 5)};
}

}  // namespace

void* ManagerEventSink::ExtraInterface(REFIID iid) {
  return iid == DIID__IPELKSonquixManagerEvents ? static_cast<IDispatch*>(this) : nullptr;
}

HRESULT ManagerEventSink::GetTypeInfoCount(uint32_t* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT ManagerEventSink::GetTypeInfo(uint32_t, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT ManagerEventSink::GetIDsOfNames(REFIID, OLECHAR**, uint32_t, LCID, DISPID*) {
  return DISP_E_UNKNOWNNAME;
}

HRESULT ManagerEventSink::Invoke(DISPID id, REFIID, LCID, uint16_t, DISPPARAMS* params, VARIANT*,
                                 EXCEPINFO*, uint32_t*) {
  switch (id) {
    case kEventGetFingerprintInfo:
      if (handlers_.fingerprint_info) {
        const ComPtr<IPelkFileInfo> record = ObjectArg<IPelkFileInfo>(params, 1);
        if (record) SetAbort(params, 2, handlers_.fingerprint_info(Text(params, 0), record.Get()));
      }
      break;
    case kEventLibraryIDListStarted:
    case kEventLibraryIDListComplete: {
      const auto& handler =
          id == kEventLibraryIDListStarted ? handlers_.list_started : handlers_.list_complete;
      if (handler) {
        const ComPtr<IPelkFileInfoList> list = ObjectArg<IPelkFileInfoList>(params, 0);
        SetAbort(params, 7, handler(list.Get(), Counters(params, 1)));
      }
      break;
    }
    case kEventLibraryIDComplete:
      if (handlers_.library_complete) handlers_.library_complete(Counters(params, 0));
      break;
    default:
      break;
  }
  return S_OK;
}

EventConnection::EventConnection(IPELKSonquixManager3* manager, ManagerEventHandlers handlers) {
  const ComPtr<IConnectionPointContainer> container =
      ComPtr<IPELKSonquixManager3>(manager).As<IConnectionPointContainer>();
  if (!container ||
      FAILED(container->FindConnectionPoint(DIID__IPELKSonquixManagerEvents, point_.Out()))) {
    return;
  }
  const ComPtr<ManagerEventSink> sink = MakeObject<ManagerEventSink>(std::move(handlers));
  if (!sink || FAILED(point_->Advise(static_cast<IDispatch*>(sink.Get()), &cookie_))) cookie_ = 0;
}

EventConnection::~EventConnection() {
  if (cookie_ != 0) point_->Unadvise(cookie_);
}

}  // namespace pelk::cli
