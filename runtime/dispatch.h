// Late-bound dispatch without a type library: a static table per interface names each operation
// (name, dispatch id, invoke kind, parameter types) and carries a thunk that unpacks the
// DISPPARAMS into a direct call of the C++ method. GetIDsOfNames (case-insensitive) and Invoke
// are built on the table, so every published operation is reachable late-bound.
//
// Declaring an interface's table:
//   const pelk::DispatchTable& IThing::Table() {
//     static const pelk::DispatchEntry entries[] = {
//         pelk::DispEntry<&IThing::get_Name>(u"Name", 1, DISPATCH_PROPERTYGET),
//         pelk::DispEntry<&IThing::put_Name>(u"Name", 1, DISPATCH_PROPERTYPUT),
//         pelk::DispEntry<&IThing::Reset>(u"Reset", 2),
//     };
//     static const pelk::DispatchTable table{IThing::kIid, entries, &IBase::Table()};
//     return table;
//   }
// and implementing IDispatch for it: derive the class from pelk::Dual<IThing>.
//
// An interface extends at most one interface (single inheritance), so a pointer to the most
// extended interface is also a pointer to each one it extends, and base-table thunks apply to it.
//
// Calling convention (as automation clients call): arguments arrive last first; a method whose
// last parameter is an out pointer may be called with one argument fewer, and the value is then
// returned in the result variant (a "retval"); otherwise an out parameter must be passed by
// reference (VT_BYREF) and is written through. A property put takes its value as the named
// argument DISPID_PROPERTYPUT.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "runtime/bstr.h"
#include "runtime/com_ptr.h"
#include "runtime/unknown.h"
#include "runtime/variant.h"

namespace pelk {

enum class ParamType : uint8_t {
  kI4,           // int32_t, VT_I4
  kBstr,         // BSTR, VT_BSTR
  kDispatch,     // an interface deriving IDispatch, VT_DISPATCH
  kUnknown,      // any other interface, VT_UNKNOWN
  kVariant,      // VARIANT
  kOutI4,        // int32_t*, VT_BYREF | VT_I4
  kOutBstr,      // BSTR*, VT_BYREF | VT_BSTR
  kOutDispatch,  // I**, VT_BYREF | VT_DISPATCH
  kOutUnknown,   // I**, VT_BYREF | VT_UNKNOWN
  kOutVariant,   // VARIANT*, VT_BYREF | VT_VARIANT
};

constexpr bool IsOutParam(ParamType t) { return t >= ParamType::kOutI4; }

// Where the unpacked arguments of one Invoke are.
struct InvokeFrame {
  DISPPARAMS* params;
  VARIANT* result;        // may be null
  uint32_t* arg_error;    // may be null; receives the index of a bad argument
  // Argument `index` in declaration order (arguments arrive last first).
  VARIANT& Arg(uint32_t index) const { return params->rgvarg[params->cArgs - 1 - index]; }
};

using DispatchThunk = HRESULT (*)(void* self, const InvokeFrame& frame);

struct DispatchEntry {
  std::u16string_view name;
  DISPID id;
  uint16_t kind;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
  std::span<const ParamType> params;
  DispatchThunk thunk;  // null for event (source) interfaces, which are only described
};

struct DispatchTable {
  IID iid;
  std::span<const DispatchEntry> entries;
  const DispatchTable* base = nullptr;  // the extended interface; searched after this one

  // The entry for (id, invoke flags), searching the base tables too; null when none matches.
  // *id_known tells whether the id exists with another kind.
  const DispatchEntry* Find(DISPID id, uint16_t flags, bool* id_known = nullptr) const;
  const DispatchEntry* FindName(std::u16string_view name) const;
};

// IDispatch::GetIDsOfNames over a table: names[0] is the member (case-insensitive); parameter
// names are not published, so any further name yields DISP_E_UNKNOWNNAME and DISPID_UNKNOWN.
HRESULT DispatchGetIDsOfNames(const DispatchTable& table, OLECHAR** names, uint32_t count,
                              DISPID* ids);
// IDispatch::Invoke over a table; `self` is the interface pointer of the table's interface.
HRESULT DispatchInvoke(const DispatchTable& table, void* self, DISPID id, uint16_t flags,
                       DISPPARAMS* params, VARIANT* result, uint32_t* arg_error);

namespace dispatch_detail {

template <class T>
concept Interface = std::is_base_of_v<IUnknown, T>;

template <class T>
struct Slot;

template <>
struct Slot<int32_t> {
  static constexpr ParamType kType = ParamType::kI4;
  int32_t value = 0;
  HRESULT Load(VARIANT& v) {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, &v, 0, VT_I4))) return DISP_E_TYPEMISMATCH;
    value = t.lVal;
    return S_OK;
  }
  int32_t Get() { return value; }
};

template <>
struct Slot<BSTR> {
  static constexpr ParamType kType = ParamType::kBstr;
  Variant held;
  HRESULT Load(VARIANT& v) {
    return FAILED(VariantChangeType(held.Get(), &v, 0, VT_BSTR)) ? DISP_E_TYPEMISMATCH : S_OK;
  }
  BSTR Get() { return held->bstrVal; }
};

// 8-bit text (UTF-8) and raw bytes travel late-bound as strings: text converted, bytes as the
// string's own bytes.
template <>
struct Slot<const char*> {
  static constexpr ParamType kType = ParamType::kBstr;
  std::string text;
  bool null = true;
  HRESULT Load(VARIANT& v) {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, &v, 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
    null = t.bstrVal == nullptr;
    text = BstrToUtf8(t.bstrVal);
    VariantClear(&t);
    return S_OK;
  }
  const char* Get() { return null ? nullptr : text.c_str(); }
};

template <>
struct Slot<const void*> {
  static constexpr ParamType kType = ParamType::kBstr;
  Variant held;
  HRESULT Load(VARIANT& v) {
    return FAILED(VariantChangeType(held.Get(), &v, 0, VT_BSTR)) ? DISP_E_TYPEMISMATCH : S_OK;
  }
  const void* Get() { return held->bstrVal; }
};

template <>
struct Slot<VARIANT> {
  static constexpr ParamType kType = ParamType::kVariant;
  VARIANT value;
  HRESULT Load(VARIANT& v) {
    value = (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) ? *v.pvarVal : v;  // borrowed
    return S_OK;
  }
  VARIANT Get() { return value; }
};

template <Interface T>
struct Slot<T*> {
  static constexpr ParamType kType =
      std::is_base_of_v<IDispatch, T> ? ParamType::kDispatch : ParamType::kUnknown;
  ComPtr<T> value;
  HRESULT Load(VARIANT& v) {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, &v, 0, VT_UNKNOWN))) return DISP_E_TYPEMISMATCH;
    ComPtr<IUnknown> unknown = ComPtr<IUnknown>::Adopt(t.punkVal);
    if (!unknown) return S_OK;
    if constexpr (std::is_same_v<T, IUnknown>) {
      value = unknown;
    } else if (FAILED(unknown->QueryInterface(T::kIid, value.OutVoid()))) {
      return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
  }
  T* Get() { return value.Get(); }
};

// Out parameters: written through a by-reference argument, or returned in the result.
template <>
struct Slot<int32_t*> {
  static constexpr ParamType kType = ParamType::kOutI4;
  int32_t local = 0;
  int32_t* target = &local;
  HRESULT Load(VARIANT& v) {
    if (v.vt != (VT_BYREF | VT_I4) || !v.plVal) return DISP_E_TYPEMISMATCH;
    target = v.plVal;
    return S_OK;
  }
  int32_t* Get() { return target; }
  void Return(VARIANT* result) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_I4;
    result->lVal = local;
  }
  void Finish() {}
};

template <>
struct Slot<BSTR*> {
  static constexpr ParamType kType = ParamType::kOutBstr;
  BSTR local = nullptr;
  BSTR* target = &local;
  HRESULT Load(VARIANT& v) {
    if (v.vt != (VT_BYREF | VT_BSTR) || !v.pbstrVal) return DISP_E_TYPEMISMATCH;
    target = v.pbstrVal;
    return S_OK;
  }
  BSTR* Get() { return target; }
  void Return(VARIANT* result) {
    if (!result) {
      SysFreeString(local);
      return;
    }
    VariantClear(result);
    result->vt = VT_BSTR;
    result->bstrVal = local;
  }
  void Finish() {}
};

template <>
struct Slot<VARIANT*> {
  static constexpr ParamType kType = ParamType::kOutVariant;
  VARIANT local{};
  VARIANT* target = &local;
  HRESULT Load(VARIANT& v) {
    if (v.vt != (VT_BYREF | VT_VARIANT) || !v.pvarVal) return DISP_E_TYPEMISMATCH;
    target = v.pvarVal;
    return S_OK;
  }
  VARIANT* Get() { return target; }
  void Return(VARIANT* result) {
    if (!result) {
      VariantClear(&local);
      return;
    }
    VariantClear(result);
    *result = local;
  }
  void Finish() {}
};

template <Interface T>
struct Slot<T**> {
  static constexpr bool kIsDispatch = std::is_base_of_v<IDispatch, T>;
  static constexpr ParamType kType = kIsDispatch ? ParamType::kOutDispatch : ParamType::kOutUnknown;
  T* local = nullptr;
  VARIANT* byref = nullptr;
  HRESULT Load(VARIANT& v) {
    if ((v.vt != (VT_BYREF | VT_DISPATCH) && v.vt != (VT_BYREF | VT_UNKNOWN)) || !v.ppunkVal) {
      return DISP_E_TYPEMISMATCH;
    }
    byref = &v;
    return S_OK;
  }
  T** Get() { return &local; }
  // Hands `local` over as the interface type the variant declares. A dual interface already is
  // an IDispatch and travels as it is: its object need not answer IDispatch's own identifier.
  IUnknown* Convert(VARTYPE vt) {
    if (!local) return nullptr;
    T* value = std::exchange(local, nullptr);
    if constexpr (kIsDispatch) {
      if (vt == VT_DISPATCH) return static_cast<IDispatch*>(value);
    }
    const IID& iid = vt == VT_DISPATCH ? IDispatch::kIid : IUnknown::kIid;
    void* out = nullptr;
    value->QueryInterface(iid, &out);
    value->Release();
    return static_cast<IUnknown*>(out);
  }
  void Finish() {
    if (byref) *byref->ppunkVal = Convert(byref->vt & ~VT_BYREF);
  }
  void Return(VARIANT* result) {
    const VARTYPE vt = kIsDispatch ? VT_DISPATCH : VT_UNKNOWN;
    IUnknown* value = Convert(vt);
    if (!result) {
      if (value) value->Release();
      return;
    }
    VariantClear(result);
    result->vt = vt;
    result->punkVal = value;
  }
};

template <class... Args>
inline constexpr std::array<ParamType, sizeof...(Args)> kParamTypes = {
    Slot<std::remove_cv_t<Args>>::kType...};

template <class I, class... Args, size_t... Ix>
HRESULT Call(HRESULT (I::*method)(Args...), I* self, const InvokeFrame& frame,
             std::index_sequence<Ix...>) {
  constexpr uint32_t n = sizeof...(Args);
  const uint32_t supplied = frame.params->cArgs;
  bool retval = false;
  if constexpr (n > 0) {
    retval = IsOutParam(kParamTypes<Args...>[n - 1]) && supplied == n - 1;
  }
  if (!retval && supplied != n) return DISP_E_BADPARAMCOUNT;

  std::tuple<Slot<std::remove_cv_t<Args>>...> slots;
  HRESULT hr = S_OK;
  auto load = [&](auto& slot, uint32_t index) {
    if (FAILED(hr) || (retval && index == n - 1)) return;
    hr = slot.Load(frame.Arg(index));
    if (FAILED(hr) && frame.arg_error) *frame.arg_error = supplied - 1 - index;
  };
  (load(std::get<Ix>(slots), Ix), ...);
  (void)load;  // unused for methods without parameters
  if (FAILED(hr)) return hr;

  hr = (self->*method)(std::get<Ix>(slots).Get()...);

  auto finish = [&](auto& slot, uint32_t index) {
    if constexpr (requires { slot.Finish(); }) {
      if (retval && index == n - 1) {
        slot.Return(frame.result);
      } else {
        slot.Finish();
      }
    }
  };
  (finish(std::get<Ix>(slots), Ix), ...);
  (void)finish;
  return hr;
}

template <auto Method>
struct MethodTraits;

template <class I, class... Args, HRESULT (I::*Method)(Args...)>
struct MethodTraits<Method> {
  using Interface = I;
  static constexpr const auto& kParams = kParamTypes<Args...>;
  static HRESULT Thunk(void* self, const InvokeFrame& frame) {
    return Call(Method, static_cast<I*>(self), frame, std::index_sequence_for<Args...>{});
  }
};

}  // namespace dispatch_detail

// One table entry for an interface method; kind is DISPATCH_METHOD, PROPERTYGET or PROPERTYPUT.
template <auto Method>
constexpr DispatchEntry DispEntry(std::u16string_view name, DISPID id,
                                  uint16_t kind = DISPATCH_METHOD) {
  using Traits = dispatch_detail::MethodTraits<Method>;
  return DispatchEntry{name, id, kind, Traits::kParams, &Traits::Thunk};
}

// IDispatch for interface I (which declares `static const DispatchTable& Table()`), through its
// table. Derive implementation classes from Dual<I> instead of I.
template <class I>
class Dual : public I {
 public:
  HRESULT GetTypeInfoCount(uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = 0;  // no type information objects; the table is the description
    return S_OK;
  }
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(REFIID, OLECHAR** names, uint32_t count, LCID, DISPID* ids) override {
    return DispatchGetIDsOfNames(I::Table(), names, count, ids);
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, uint32_t* arg_error) override {
    return DispatchInvoke(I::Table(), static_cast<I*>(this), id, flags, params, result, arg_error);
  }

 protected:
  ~Dual() = default;
};

}  // namespace pelk
