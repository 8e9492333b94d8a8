/// @file
/// The object base: reference counting, QueryInterface over an interface list, the module lock
/// count, optional aggregation and a private implementation identifier.
///
///   class CThing : public pelk::Object<CThing, IThing2, ISupportErrorInfo> {
///    public:
///     static constexpr IID kImplIid = pelk::MakeGuid("...");  // optional
///     static constexpr bool kAggregatable = true;             // optional, default false
///     static constexpr bool kHidesIDispatch = true;           // optional, default false
///   };
///   pelk::ComPtr<CThing> thing = pelk::MakeObject<CThing>(args...);
///
/// QueryInterface answers IUnknown, every listed interface and every interface each of them
/// extends (through I::Base), in list order, so IDispatch is the first listed dual interface.
/// kHidesIDispatch: a class whose interfaces are dual but that does not answer IDispatch's own
/// identifier (a late-bound client then calls through one of its interface pointers, which still
/// carry the IDispatch operations).
/// The IUnknown of an object is always the same pointer (that of the first listed interface), so
/// pointers from QueryInterface(IUnknown) compare equal exactly when the objects are the same.
///
/// Reference counts: a new object starts at 0; MakeObject and the class factory hand out the
/// first reference. The object deletes itself when the count returns to 0. Every live object
/// (not class factories) holds one module lock from construction to destruction.
///
/// Aggregation: created with an outer object, the object delegates its interfaces' IUnknown
/// calls to the outer one (which it does not reference) and hands the outer object its own inner
/// IUnknown, which keeps the object's count.
///
/// ExtraInterface(iid): an optional member returning the pointer for an identifier only known at
/// run time (an event sink answering the events interface it was made for), or null.
///
/// kImplIid: answered only by this class, with a pointer to the implementation object itself
/// (referenced). ImplOf<T>(p) uses it so internal code reaches the implementation behind an
/// interface pointer, and a foreign object that merely answers the same interface is refused.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "runtime/com_ptr.h"
#include "runtime/module_lock.h"
#include "runtime/unknown.h"

namespace pelk {

/// True when interface I or one of the interfaces it extends has identifier iid.
template <class I>
constexpr bool InterfaceChainHas(REFIID iid) {
  if (I::kIid == iid) return true;
  if constexpr (requires { typename I::Base; }) {
    return InterfaceChainHas<typename I::Base>(iid);
  } else {
    return false;
  }
}

/// The object base: reference counting and QueryInterface over the listed interfaces (see the
/// file description). A host derives its event sinks from it and makes them with MakeObject.
template <class Derived, class First, class... Rest>
class Object : public First, public Rest... {
 public:
  /// Answers IUnknown, the listed interfaces and those they extend, kImplIid and
  /// ExtraInterface(iid); an aggregated object asks its outer object.
  HRESULT QueryInterface(REFIID iid, void** out) final {
    if (outer_) return outer_->QueryInterface(iid, out);
    return InnerQueryInterface(iid, out);
  }
  /// Counts a reference (atomically: safe from any thread).
  uint32_t AddRef() final { return outer_ ? outer_->AddRef() : InnerAddRef(); }
  /// Drops a reference; the last one deletes the object.
  uint32_t Release() final { return outer_ ? outer_->Release() : InnerRelease(); }

  /// This object's identity: the IUnknown every QueryInterface(IUnknown) of it returns.
  IUnknown* Identity() {
    if (outer_) return outer_;
    return static_cast<IUnknown*>(static_cast<First*>(this));
  }

  /// Creates an object as a class factory does: CLASS_E_NOAGGREGATION when an outer object is
  /// given to a class that is not aggregatable, or with an interface other than IUnknown.
  template <class... Args>
  static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out, Args&&... args) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && (!IsAggregatable() || !(iid == IUnknown::kIid))) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) Derived(std::forward<Args>(args)...);
    if (!object) return E_OUTOFMEMORY;
    if (outer) {
      object->outer_ = outer;
      object->inner_.InnerAddRef();
      *out = static_cast<IUnknown*>(&object->inner_);
      return S_OK;
    }
    object->InnerAddRef();
    const HRESULT hr = object->InnerQueryInterface(iid, out);
    object->InnerRelease();
    return hr;
  }

 protected:
  Object() {
    if constexpr (CountsInModuleLock()) ModuleLockIncrement();
  }
  virtual ~Object() {
    if constexpr (CountsInModuleLock()) ModuleLockDecrement();
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

 private:
  static constexpr bool IsAggregatable() {
    if constexpr (requires { Derived::kAggregatable; }) {
      return Derived::kAggregatable;
    } else {
      return false;
    }
  }
  static constexpr bool HidesIDispatch() {
    if constexpr (requires { Derived::kHidesIDispatch; }) {
      return Derived::kHidesIDispatch;
    } else {
      return false;
    }
  }
  static constexpr bool CountsInModuleLock() {
    if constexpr (requires { Derived::kCountsInModuleLock; }) {
      return Derived::kCountsInModuleLock;
    } else {
      return true;
    }
  }

  template <class I, class... More>
  void* FindInterface(REFIID iid) {
    if (InterfaceChainHas<I>(iid)) return static_cast<I*>(static_cast<Derived*>(this));
    if constexpr (sizeof...(More) > 0) {
      return FindInterface<More...>(iid);
    } else {
      return nullptr;
    }
  }

  HRESULT InnerQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IUnknown::kIid) {
      if (outer_) {
        inner_.InnerAddRef();
        *out = static_cast<IUnknown*>(&inner_);
        return S_OK;
      }
      *out = Identity();
    } else if constexpr (requires { Derived::kImplIid; }) {
      if (iid == Derived::kImplIid) *out = static_cast<Derived*>(this);
    }
    if (!*out && !(HidesIDispatch() && iid == IDispatch::kIid)) {
      *out = FindInterface<First, Rest...>(iid);
    }
    if constexpr (requires(Derived * d) { d->ExtraInterface(iid); }) {
      if (!*out) *out = static_cast<Derived*>(this)->ExtraInterface(iid);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  uint32_t InnerAddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t InnerRelease() {
    const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  /// The non-delegating IUnknown handed to an aggregating outer object.
  struct Inner final : IUnknown {
    explicit Inner(Object* owner) : self(owner) {}
    HRESULT QueryInterface(REFIID iid, void** out) override {
      return self->InnerQueryInterface(iid, out);
    }
    uint32_t AddRef() override { return self->InnerAddRef(); }
    uint32_t Release() override { return self->InnerRelease(); }
    uint32_t InnerAddRef() { return self->InnerAddRef(); }
    uint32_t InnerRelease() { return self->InnerRelease(); }
    Object* self;
  };

  template <class D, class... A>
  friend ComPtr<D> MakeObject(A&&... args);

  std::atomic<uint32_t> refs_{0};
  IUnknown* outer_ = nullptr;
  Inner inner_{this};
};

/// A new object of class T with one reference, or null when it cannot be allocated.
template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args) {
  T* object = new (std::nothrow) T(std::forward<Args>(args)...);
  return ComPtr<T>(object);
}

/// The implementation object of class T behind p, referenced; null when p is null or is not a T.
template <class T>
ComPtr<T> ImplOf(IUnknown* p) {
  if (!p) return nullptr;
  void* out = nullptr;
  if (FAILED(p->QueryInterface(T::kImplIid, &out)) || !out) return nullptr;
  return ComPtr<T>::Adopt(static_cast<T*>(out));
}

}  // namespace pelk
