/// @file
/// ComPtr<T>: holds one reference to an interface (or to an implementation object with
/// AddRef/Release) and releases it when it goes.
#pragma once

#include <utility>

#include "runtime/hresult.h"
#include "runtime/unknown.h"

namespace pelk {

/// Holds one reference to an interface and releases it when it goes: the reference-count rule
/// of every interface pointer a host receives (an out parameter hands the caller one reference
/// to release) is kept by holding it in a ComPtr. Not itself thread-safe; the objects are.
template <class T>
class ComPtr {
 public:
  ///@{
  /// An empty pointer.
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ///@}
  /// Adds a reference to p.
  ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ///@{
  /// Copies add a reference; moves take the other's reference over.
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  ComPtr(const ComPtr<U>& other) : ComPtr(static_cast<T*>(other.Get())) {}
  ///@}
  ~ComPtr() { Reset(); }

  /// Releases the held reference and holds the other's.
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  /// Takes over a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }

  /// The pointer, without a new reference.
  T* Get() const { return p_; }
  ///@{
  /// Calls through the pointer.
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  ///@}
  /// True when a pointer is held.
  explicit operator bool() const { return p_ != nullptr; }

  /// Releases the held reference and returns the slot for an out parameter.
  T** Out() {
    Reset();
    return &p_;
  }
  /// Out() for the `void**` out parameter of QueryInterface and DllGetObject.
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  /// Gives up the pointer without releasing it: the caller now owns the reference.
  T* Detach() { return std::exchange(p_, nullptr); }
  /// Releases the held reference.
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  /// Copies the pointer, with a new reference, to an out parameter (null is allowed).
  void CopyTo(T** out) const {
    *out = p_;
    if (p_) p_->AddRef();
  }

  /// QueryInterface for interface I; null when the object does not answer it.
  template <class I>
  ComPtr<I> As() const {
    ComPtr<I> result;
    if (p_) p_->QueryInterface(I::kIid, result.OutVoid());
    return result;
  }
  template <class I>
  /// QueryInterface for interface I into out; E_POINTER when empty, else QueryInterface's result.
  HRESULT As(ComPtr<I>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(I::kIid, out->OutVoid());
  }

  ///@{
  /// Pointer equality (use SameObject for object identity).
  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }
  ///@}

 private:
  T* p_ = nullptr;
};

/// True when a and b are the same object: their IUnknown pointers are equal.
bool SameObject(IUnknown* a, IUnknown* b);

}  // namespace pelk
