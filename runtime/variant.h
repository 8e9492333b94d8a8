// VARIANT and DISPPARAMS: the subset of the platform's automation values the system passes.
#pragma once

#include <cstdint>

#include "runtime/bstr.h"
#include "runtime/hresult.h"

struct IUnknown;
struct IDispatch;

using VARTYPE = uint16_t;
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_UNKNOWN = 13,
  VT_VARIANT = 12,  // only as VT_BYREF | VT_VARIANT
  VT_BYREF = 0x4000,
};

struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1, wReserved2, wReserved3;
  union {
    int32_t lVal;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    int32_t* plVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
  };
};
using VARIANTARG = VARIANT;

using DISPID = int32_t;
using LCID = uint32_t;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;

constexpr uint16_t DISPATCH_METHOD = 1;
constexpr uint16_t DISPATCH_PROPERTYGET = 2;
constexpr uint16_t DISPATCH_PROPERTYPUT = 4;
constexpr uint16_t DISPATCH_PROPERTYPUTREF = 8;

// Arguments of IDispatch::Invoke, last argument first.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  uint32_t cArgs;
  uint32_t cNamedArgs;
};

struct EXCEPINFO {
  uint16_t wCode;
  uint16_t wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  uint32_t dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;
};

void VariantInit(VARIANT* v);
// Frees what the variant owns (a string, an object reference) and leaves it VT_EMPTY.
// By-reference variants own nothing. DISP_E_BADVARTYPE for a type outside the subset.
HRESULT VariantClear(VARIANT* v);
// Clears dest, then copies src into it: strings duplicated, references added.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src (following one level of VT_BYREF) to vt, into dest (which may be src).
// Supported targets: VT_I4 (from VT_I4 or a decimal VT_BSTR), VT_BSTR (from VT_I4 or VT_BSTR),
// VT_DISPATCH and VT_UNKNOWN (from either object type, through QueryInterface; a null object
// converts to null). Anything else: DISP_E_TYPEMISMATCH.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t flags, VARTYPE vt);

namespace pelk {

// Owns one VARIANT and clears it on destruction.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  explicit Variant(int32_t value) : Variant() {
    v_.vt = VT_I4;
    v_.lVal = value;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }

  VARIANT* operator&() { return &v_; }
  VARIANT* Get() { return &v_; }
  const VARIANT& operator*() const { return v_; }
  const VARIANT* operator->() const { return &v_; }
  void Clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

}  // namespace pelk
