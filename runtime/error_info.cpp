#include "runtime/error_info.h"

#include <string>

#include "runtime/bstr.h"
#include "runtime/module_lock.h"
#include "runtime/object.h"

namespace pelk {
namespace {

class CErrorInfo final : public Object<CErrorInfo, IErrorInfo, ICreateErrorInfo> {
 public:
  // Belongs to the runtime, not to any module that could be unloaded.
  static constexpr bool kCountsInModuleLock = false;

  HRESULT GetGUID(GUID* guid) override {
    if (!guid) return E_POINTER;
    *guid = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* out) override { return CopyOut(source_, out); }
  HRESULT GetDescription(BSTR* out) override { return CopyOut(description_, out); }
  HRESULT GetHelpFile(BSTR* out) override { return CopyOut(help_file_, out); }
  HRESULT GetHelpContext(uint32_t* out) override {
    if (!out) return E_POINTER;
    *out = help_context_;
    return S_OK;
  }

  HRESULT SetGUID(REFIID guid) override {
    guid_ = guid;
    return S_OK;
  }
  HRESULT SetSource(const OLECHAR* text) override { return Store(text, &source_); }
  HRESULT SetDescription(const OLECHAR* text) override { return Store(text, &description_); }
  HRESULT SetHelpFile(const OLECHAR* text) override { return Store(text, &help_file_); }
  HRESULT SetHelpContext(uint32_t context) override {
    help_context_ = context;
    return S_OK;
  }

 private:
  static HRESULT CopyOut(const std::u16string& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = AllocBstr(text);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT Store(const OLECHAR* text, std::u16string* field) {
    *field = text ? text : u"";
    return S_OK;
  }

  GUID guid_{};
  std::u16string source_, description_, help_file_;
  uint32_t help_context_ = 0;
};

thread_local ComPtr<IErrorInfo> t_error_info;

}  // namespace

HRESULT ReportError(HRESULT hr, REFIID iid, std::u16string_view source,
                    std::u16string_view description) {
  ComPtr<ICreateErrorInfo> info;
  if (FAILED(::CreateErrorInfo(info.Out()))) return hr;
  info->SetGUID(iid);
  info->SetSource(std::u16string(source).c_str());
  info->SetDescription(std::u16string(description).c_str());
  SetErrorInfo(0, info.As<IErrorInfo>().Get());
  return hr;
}

std::u16string TakeErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Out()) != S_OK || !info) return {};
  Bstr text;
  info->GetDescription(text.Out());
  return std::u16string(text.View());
}

}  // namespace pelk

HRESULT SetErrorInfo(uint32_t /*reserved*/, IErrorInfo* info) {
  pelk::t_error_info = info;
  return S_OK;
}

HRESULT GetErrorInfo(uint32_t /*reserved*/, IErrorInfo** info) {
  if (!info) return E_POINTER;
  *info = pelk::t_error_info.Detach();
  return *info ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
  if (!info) return E_POINTER;
  return pelk::CErrorInfo::CreateInstance(nullptr, ICreateErrorInfo::kIid,
                                          reinterpret_cast<void**>(info));
}
