#include <gtest/gtest.h>

#include "tests/runtime/test_interfaces.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

class DispatchTest : public ::testing::Test {
 protected:
  DISPID IdOf(const char16_t* name) {
    DISPID id = 12345;
    OLECHAR* names[] = {const_cast<OLECHAR*>(name)};
    last_hr_ = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  }
  HRESULT Invoke(DISPID id, uint16_t flags, std::vector<VARIANT> args_last_first,
                 VARIANT* result, bool put = false) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args_last_first.data(), put ? &named : nullptr,
                      static_cast<uint32_t>(args_last_first.size()), put ? 1u : 0u};
    return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr,
                             &arg_error_);
  }
  static VARIANT I4(int32_t v) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_I4;
    var.lVal = v;
    return var;
  }

  ComPtr<CCounter> counter_ = MakeObject<CCounter>();
  ComPtr<IDispatch> dispatch_ = counter_.As<IDispatch>();
  HRESULT last_hr_ = S_OK;
  uint32_t arg_error_ = 99;
};

TEST_F(DispatchTest, NamesResolveCaseInsensitivelyAcrossTheChain) {
  EXPECT_EQ(IdOf(u"add"), 2);
  EXPECT_EQ(IdOf(u"NAME"), 1);
  EXPECT_EQ(IdOf(u"Self"), 4);  // from the extending interface
  EXPECT_EQ(IdOf(u"Missing"), DISPID_UNKNOWN);
  EXPECT_HR(DISP_E_UNKNOWNNAME, last_hr_);
}

TEST_F(DispatchTest, MethodWithRetvalAndByRefOut) {
  Variant result;
  // Add(2, 40) with the sum as the return value: arguments arrive last first.
  ASSERT_HR(S_OK, Invoke(IdOf(u"Add"), DISPATCH_METHOD, {I4(40), I4(2)}, &result));
  EXPECT_EQ(result->vt, VT_I4);
  EXPECT_EQ(result->lVal, 42);

  int32_t sum = 0;
  VARIANT out;
  out.vt = VT_BYREF | VT_I4;
  out.plVal = &sum;
  ASSERT_HR(S_OK, Invoke(2, DISPATCH_METHOD, {out, I4(5), I4(6)}, nullptr));
  EXPECT_EQ(sum, 11);
  EXPECT_EQ(counter_->total_, 53);
}

TEST_F(DispatchTest, PropertyPutAndGet) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  Bstr text(u"Blue");
  value.bstrVal = text.Get();
  ASSERT_HR(S_OK, Invoke(1, DISPATCH_PROPERTYPUT, {value}, nullptr, /*put=*/true));
  EXPECT_EQ(counter_->name_, u"Blue");

  Variant result;
  ASSERT_HR(S_OK, Invoke(1, DISPATCH_PROPERTYGET, {}, &result));
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(BstrView(result->bstrVal), u"Blue");

  // A put without its named argument is refused.
  EXPECT_HR(DISP_E_PARAMNOTFOUND, Invoke(1, DISPATCH_PROPERTYPUT, {value}, nullptr));
}

TEST_F(DispatchTest, ObjectArgumentsAndResults) {
  ComPtr<CCounter> other = MakeObject<CCounter>();
  other->total_ = 9;
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_DISPATCH;
  arg.pdispVal = other.As<IDispatch>().Get();
  Variant result;
  ASSERT_HR(S_OK, Invoke(3, DISPATCH_METHOD, {arg}, &result));
  EXPECT_EQ(result->lVal, 9);

  Variant self;
  ASSERT_HR(S_OK, Invoke(4, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &self));
  ASSERT_EQ(self->vt, VT_DISPATCH);
  EXPECT_TRUE(SameObject(self->pdispVal, counter_.As<IUnknown>().Get()));
}

TEST_F(DispatchTest, BadCallsGetDispatchErrors) {
  Variant result;
  EXPECT_HR(DISP_E_MEMBERNOTFOUND, Invoke(77, DISPATCH_METHOD, {}, &result));
  EXPECT_HR(DISP_E_MEMBERNOTFOUND, Invoke(2, DISPATCH_PROPERTYPUT, {I4(1)}, nullptr, true));
  EXPECT_HR(DISP_E_BADPARAMCOUNT, Invoke(2, DISPATCH_METHOD, {I4(1)}, &result));

  VARIANT not_a_number;
  VariantInit(&not_a_number);
  not_a_number.vt = VT_BSTR;
  Bstr text(u"twelve");
  not_a_number.bstrVal = text.Get();
  EXPECT_HR(DISP_E_TYPEMISMATCH, Invoke(2, DISPATCH_METHOD, {I4(1), not_a_number}, &result));
  EXPECT_EQ(arg_error_, 1u);  // the position in rgvarg of the bad argument

  // A decimal string converts, as the platform's coercion does.
  Bstr twelve(u"12");
  not_a_number.bstrVal = twelve.Get();
  ASSERT_HR(S_OK, Invoke(2, DISPATCH_METHOD, {I4(1), not_a_number}, &result));
  EXPECT_EQ(result->lVal, 13);

  // A foreign object where an ICounter is expected: refused by the method, not miscast.
  VARIANT none;
  VariantInit(&none);
  none.vt = VT_DISPATCH;
  none.pdispVal = nullptr;
  EXPECT_HR(E_INVALIDARG, Invoke(3, DISPATCH_METHOD, {none}, &result));
}

}  // namespace
}  // namespace pelk::testing
