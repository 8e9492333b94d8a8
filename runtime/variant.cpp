#include "runtime/variant.h"

#include <charconv>
#include <string>

#include "runtime/com_ptr.h"
#include "runtime/unknown.h"
#include "runtime/utf.h"

void VariantInit(VARIANT* v) {
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->punkVal = nullptr;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal) v->punkVal->Release();
      break;
    case VT_EMPTY:
    case VT_I4:
      break;
    default:
      if (!(v->vt & VT_BYREF)) return DISP_E_BADVARTYPE;
      break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
    src->punkVal->AddRef();
  }
  VariantClear(dest);
  *dest = copy;
  return S_OK;
}

namespace {

// The value of a variant after following one level of VT_BYREF.
bool Deref(const VARIANT& in, VARIANT* out) {
  VariantInit(out);
  if (!(in.vt & VT_BYREF)) {
    *out = in;
    return true;
  }
  const VARTYPE base = in.vt & ~VT_BYREF;
  if (!in.plVal) return false;
  out->vt = base;
  switch (base) {
    case VT_I4: out->lVal = *in.plVal; return true;
    case VT_BSTR: out->bstrVal = *in.pbstrVal; return true;
    case VT_DISPATCH:
    case VT_UNKNOWN: out->punkVal = *in.ppunkVal; return true;
    case VT_VARIANT: return Deref(*in.pvarVal, out);
    default: return false;
  }
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t /*flags*/, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT value;  // borrowed: owns nothing
  if (!Deref(*src, &value)) return DISP_E_TYPEMISMATCH;
  VARIANT result;
  VariantInit(&result);
  switch (vt) {
    case VT_I4:
      if (value.vt == VT_I4) {
        result.vt = VT_I4;
        result.lVal = value.lVal;
      } else if (value.vt == VT_BSTR) {
        const std::string text = pelk::BstrToUtf8(value.bstrVal);
        int32_t n = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
          return DISP_E_TYPEMISMATCH;
        }
        result.vt = VT_I4;
        result.lVal = n;
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      break;
    case VT_BSTR:
      if (value.vt == VT_BSTR) {
        result.vt = VT_BSTR;
        result.bstrVal = SysAllocStringLen(value.bstrVal, SysStringLen(value.bstrVal));
      } else if (value.vt == VT_I4) {
        result.vt = VT_BSTR;
        result.bstrVal = pelk::AllocBstrUtf8(std::to_string(value.lVal));
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      if (!result.bstrVal) return E_OUTOFMEMORY;
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
      result.vt = vt;
      if (value.punkVal) {
        const IID& iid = vt == VT_DISPATCH ? IDispatch::kIid : IUnknown::kIid;
        void* object = nullptr;
        if (FAILED(value.punkVal->QueryInterface(iid, &object))) return DISP_E_TYPEMISMATCH;
        result.punkVal = static_cast<IUnknown*>(object);
      }
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  VariantClear(dest);
  *dest = result;
  return S_OK;
}
