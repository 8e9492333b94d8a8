/// @file
/// VARIANT and DISPPARAMS: the subset of the platform's automation values the system passes.
#pragma once

#include <cstdint>

#include "runtime/bstr.h"
#include "runtime/hresult.h"

struct IUnknown;
struct IDispatch;

/// The type tag of a VARIANT: one of the VT_ values, possibly with VT_BYREF.
using VARTYPE = uint16_t;
/// The variant types the system passes.
enum : VARTYPE {
  VT_EMPTY = 0,       ///< nothing
  VT_I4 = 3,          ///< a 32-bit integer (lVal)
  VT_BSTR = 8,        ///< a string (bstrVal), owned by the variant
  VT_DISPATCH = 9,    ///< an object (pdispVal), referenced by the variant
  VT_UNKNOWN = 13,    ///< an object (punkVal), referenced by the variant
  VT_VARIANT = 12,    ///< only as VT_BYREF | VT_VARIANT
  VT_BYREF = 0x4000,  ///< with a type above: a pointer to such a value (an out argument)
};

/// A tagged value: vt says which member of the union holds it.
struct VARIANT {
  VARTYPE vt;           ///< which member holds the value
  uint16_t wReserved1;  ///< unused
  uint16_t wReserved2;  ///< unused
  uint16_t wReserved3;  ///< unused
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
/// A variant passed as an argument.
using VARIANTARG = VARIANT;

/// The dispatch id of an operation or event.
using DISPID = int32_t;
/// A locale identifier (ignored here).
using LCID = uint32_t;
///@{
/// The reserved dispatch ids: the default member, unknown, the named argument of a property
/// put, and the enumerator.
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;
///@}
/// The locale late-bound callers pass.
constexpr LCID LOCALE_USER_DEFAULT = 0x400;

///@{
/// The kind of an Invoke call: method, property get, property put, property put by reference.
constexpr uint16_t DISPATCH_METHOD = 1;
constexpr uint16_t DISPATCH_PROPERTYGET = 2;
constexpr uint16_t DISPATCH_PROPERTYPUT = 4;
constexpr uint16_t DISPATCH_PROPERTYPUTREF = 8;
///@}

/// Arguments of IDispatch::Invoke, last argument first.
struct DISPPARAMS {
  VARIANTARG* rgvarg;         ///< the arguments, last first
  DISPID* rgdispidNamedArgs;  ///< the dispatch ids of the named arguments (DISPID_PROPERTYPUT)
  uint32_t cArgs;             ///< number of arguments
  uint32_t cNamedArgs;        ///< number of named arguments
};

/// Exception details an Invoke may fill in; the fields follow the platform's.
struct EXCEPINFO {
  ///@{
  /// As the platform defines them: error code, source, description, help, deferred fill-in, result.
  uint16_t wCode;
  uint16_t wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  uint32_t dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;
  ///@}
};

/// Makes v VT_EMPTY without reading it (for uninitialized memory).
void VariantInit(VARIANT* v);
/// Frees what the variant owns (a string, an object reference) and leaves it VT_EMPTY.
/// By-reference variants own nothing. DISP_E_BADVARTYPE for a type outside the subset.
HRESULT VariantClear(VARIANT* v);
/// Clears dest, then copies src into it: strings duplicated, references added.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
/// Converts src (following one level of VT_BYREF) to vt, into dest (which may be src).
/// Supported targets: VT_I4 (from VT_I4 or a decimal VT_BSTR), VT_BSTR (from VT_I4 or VT_BSTR),
/// VT_DISPATCH and VT_UNKNOWN (from either object type, through QueryInterface; a null object
/// converts to null). Anything else: DISP_E_TYPEMISMATCH.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t flags, VARTYPE vt);

namespace pelk {

/// Owns one VARIANT and clears it on destruction.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  /// A VT_I4 variant.
  explicit Variant(int32_t value) : Variant() {
    v_.vt = VT_I4;
    v_.lVal = value;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }

  ///@{
  /// The held variant (for out parameters and reading).
  VARIANT* operator&() { return &v_; }
  VARIANT* Get() { return &v_; }
  const VARIANT& operator*() const { return v_; }
  const VARIANT* operator->() const { return &v_; }
  ///@}
  /// VariantClear on the held variant.
  void Clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

}  // namespace pelk
