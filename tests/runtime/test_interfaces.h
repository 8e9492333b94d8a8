// A small dual interface and an implementation, shared by the runtime tests.
#pragma once

#include <string>

#include "runtime/bstr.h"
#include "runtime/dispatch.h"
#include "runtime/object.h"

namespace pelk::testing {

struct ICounter : IDispatch {
  static constexpr IID kIid = MakeGuid("6B1D2A10-7C41-4E0B-9A11-000000000001");
  using Base = IDispatch;
  virtual HRESULT get_Name(BSTR* name) = 0;
  virtual HRESULT put_Name(BSTR name) = 0;
  virtual HRESULT Add(int32_t a, int32_t b, int32_t* sum) = 0;
  static const DispatchTable& Table();
};

// Extends ICounter, so its table continues ICounter's.
struct ICounter2 : ICounter {
  static constexpr IID kIid = MakeGuid("6B1D2A10-7C41-4E0B-9A11-000000000002");
  using Base = ICounter;
  virtual HRESULT Adopt(ICounter* other, int32_t* other_sum) = 0;
  virtual HRESULT get_Self(ICounter2** self) = 0;
  static const DispatchTable& Table();
};

class CCounter final : public Object<CCounter, Dual<ICounter2>, ISupportErrorInfo> {
 public:
  static constexpr IID kImplIid = MakeGuid("6B1D2A10-7C41-4E0B-9A11-0000000000FF");
  static constexpr bool kAggregatable = true;

  HRESULT get_Name(BSTR* name) override;
  HRESULT put_Name(BSTR name) override;
  HRESULT Add(int32_t a, int32_t b, int32_t* sum) override;
  HRESULT Adopt(ICounter* other, int32_t* other_sum) override;
  HRESULT get_Self(ICounter2** self) override;
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == ICounter2::kIid ? S_OK : S_FALSE;
  }

  std::u16string name_;
  int32_t total_ = 0;
};

}  // namespace pelk::testing
