#include <gtest/gtest.h>

#include "runtime/class_factory.h"
#include "runtime/module_lock.h"
#include "tests/runtime/test_interfaces.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

TEST(ObjectTest, QueryInterfaceKeepsOneIdentity) {
  ComPtr<CCounter> counter = MakeObject<CCounter>();
  ComPtr<IUnknown> via_counter = counter.As<ICounter>().As<IUnknown>();
  ComPtr<IUnknown> via_error = counter.As<ISupportErrorInfo>().As<IUnknown>();
  ComPtr<IUnknown> via_dispatch = counter.As<IDispatch>().As<IUnknown>();
  ASSERT_TRUE(via_counter);
  EXPECT_EQ(via_counter, via_error);
  EXPECT_EQ(via_counter, via_dispatch);
  EXPECT_TRUE(SameObject(counter.As<ICounter2>().Get(), counter.As<ISupportErrorInfo>().Get()));
  EXPECT_FALSE(SameObject(counter.As<ICounter2>().Get(),
                          MakeObject<CCounter>().As<ICounter2>().Get()));
}

TEST(ObjectTest, AnswersTheWholeInterfaceChainAndNothingElse) {
  ComPtr<CCounter> counter = MakeObject<CCounter>();
  EXPECT_TRUE(counter.As<ICounter>());
  EXPECT_TRUE(counter.As<ICounter2>());
  EXPECT_TRUE(counter.As<IDispatch>());
  EXPECT_FALSE(counter.As<IClassFactory>());
  void* out = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, counter->QueryInterface(IConnectionPoint::kIid, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_HR(E_POINTER, counter->QueryInterface(ICounter::kIid, nullptr));
}

TEST(ObjectTest, ReferenceCountAndModuleLock) {
  const int32_t before = ModuleLockCount();
  {
    ComPtr<CCounter> counter = MakeObject<CCounter>();
    EXPECT_EQ(ModuleLockCount(), before + 1);
    ICounter* raw = counter.As<ICounter>().Detach();
    EXPECT_EQ(raw->AddRef(), 3u);  // counter, raw, this call
    EXPECT_EQ(raw->Release(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
  }
  EXPECT_EQ(ModuleLockCount(), before);
}

TEST(ObjectTest, ImplOfRefusesForeignObjects) {
  ComPtr<CCounter> counter = MakeObject<CCounter>();
  counter->total_ = 7;
  ComPtr<ICounter> iface = counter.As<ICounter>();
  EXPECT_EQ(ImplOf<CCounter>(iface.Get()).Get(), counter.Get());
  EXPECT_FALSE(ImplOf<CCounter>(nullptr));

  // An object that answers ICounter but is not a CCounter.
  struct Foreign final : Object<Foreign, Dual<ICounter>> {
    HRESULT get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_Name(BSTR) override { return E_NOTIMPL; }
    HRESULT Add(int32_t, int32_t, int32_t*) override { return E_NOTIMPL; }
  };
  ComPtr<Foreign> foreign = MakeObject<Foreign>();
  EXPECT_FALSE(ImplOf<CCounter>(foreign.As<IUnknown>().Get()));
  int32_t sum = 0;
  EXPECT_HR(E_INVALIDARG, counter->Adopt(foreign.As<ICounter>().Get(), &sum));
  EXPECT_HR(S_OK, counter->Adopt(iface.Get(), &sum));
  EXPECT_EQ(sum, 7);
}

// An outer object that aggregates a CCounter and exposes its interfaces as its own.
struct Outer final : Object<Outer, IErrorInfo> {
  Outer() {
    CCounter::CreateInstance(Identity(), IUnknown::kIid, inner.OutVoid());
  }
  HRESULT GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetHelpContext(uint32_t*) override { return E_NOTIMPL; }
  ComPtr<IUnknown> inner;
};

TEST(ObjectTest, AggregatedObjectDelegatesToItsOuter) {
  ComPtr<Outer> outer = MakeObject<Outer>();
  ASSERT_TRUE(outer->inner);
  ComPtr<ICounter> counter = outer->inner.As<ICounter>();
  ASSERT_TRUE(counter);
  // The aggregated interface reports the outer identity and reaches the outer's interfaces.
  EXPECT_EQ(counter.As<IUnknown>().Get(), outer->Identity());
  EXPECT_TRUE(counter.As<IErrorInfo>());
  // The inner unknown is its own identity and keeps the inner object's count.
  ComPtr<IUnknown> inner_unknown = outer->inner.As<IUnknown>();
  EXPECT_EQ(inner_unknown, outer->inner);
}

TEST(ObjectTest, FactoryRulesForAggregation) {
  ComPtr<ClassFactory<CCounter>> factory = MakeObject<ClassFactory<CCounter>>();
  ComPtr<Outer> outer = MakeObject<Outer>();
  void* out = nullptr;
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            factory->CreateInstance(outer->Identity(), ICounter::kIid, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_HR(E_POINTER, factory->CreateInstance(nullptr, ICounter::kIid, nullptr));

  struct Plain final : Object<Plain, IErrorInfo> {
    HRESULT GetGUID(GUID*) override { return E_NOTIMPL; }
    HRESULT GetSource(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetDescription(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetHelpFile(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetHelpContext(uint32_t*) override { return E_NOTIMPL; }
  };
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            Plain::CreateInstance(outer->Identity(), IUnknown::kIid, &out));

  ASSERT_HR(S_OK, factory->CreateInstance(nullptr, ICounter::kIid, &out));
  static_cast<ICounter*>(out)->Release();
}

// Dual interfaces on an object that does not answer IDispatch's identifier.
struct HiddenDispatch final : Object<HiddenDispatch, Dual<ICounter2>> {
  static constexpr bool kHidesIDispatch = true;
  HRESULT get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT put_Name(BSTR) override { return E_NOTIMPL; }
  HRESULT Add(int32_t a, int32_t b, int32_t* sum) override {
    *sum = a + b;
    return S_OK;
  }
  HRESULT Adopt(ICounter*, int32_t*) override { return E_NOTIMPL; }
  HRESULT get_Self(ICounter2** self) override {
    *self = this;
    AddRef();
    return S_OK;
  }
};

// The interface chain still answers, and late-bound calls go through an interface pointer, also
// for interface results.
TEST(ObjectTest, HiddenIDispatchIsRefusedWhileItsInterfacesStayDual) {
  ComPtr<HiddenDispatch> hidden = MakeObject<HiddenDispatch>();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, hidden->QueryInterface(IDispatch::kIid, &out));
  EXPECT_EQ(out, nullptr);
  ComPtr<ICounter> counter = hidden.As<ICounter>();
  ASSERT_TRUE(counter);
  EXPECT_TRUE(hidden.As<ICounter2>());
  EXPECT_EQ(counter.As<IUnknown>().Get(), hidden->Identity());

  IDispatch* dispatch = counter.Get();  // the interface itself carries IDispatch
  Variant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_HR(S_OK, dispatch->Invoke(4, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                   result.Get(), nullptr, nullptr));
  ASSERT_EQ(result->vt, VT_DISPATCH);
  ASSERT_NE(result->pdispVal, nullptr);
  EXPECT_TRUE(SameObject(result->pdispVal, counter.Get()));
}

TEST(ObjectTest, LockServerHoldsTheModule) {
  ComPtr<ClassFactory<CCounter>> factory = MakeObject<ClassFactory<CCounter>>();
  const int32_t before = ModuleLockCount();  // factories themselves do not count
  factory->LockServer(1);
  EXPECT_EQ(ModuleLockCount(), before + 1);
  factory->LockServer(0);
  EXPECT_EQ(ModuleLockCount(), before);
}

}  // namespace
}  // namespace pelk::testing
