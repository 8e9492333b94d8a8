// An event sink for tests: answers one outgoing dispinterface, decodes every Invoke into a
// recorded call, and can be told to answer Abort or fill an out object on chosen events.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/com_ptr.h"
#include "runtime/dispatch.h"
#include "runtime/object.h"

namespace pelk::testing {

// One decoded argument, in declaration order.
struct EventArg {
  VARTYPE vt = VT_EMPTY;
  int32_t i4 = 0;
  std::u16string text;
  ComPtr<IUnknown> object;
};

struct EventCall {
  DISPID id = 0;
  std::vector<EventArg> args;
  // What the firing code passed besides the arguments.
  IID iid{};
  LCID locale = 0;
  uint16_t flags = 0;
  bool result_was_empty = false;
  bool had_named_args = false;
};

class RecordingSink final : public Object<RecordingSink, IDispatch> {
 public:
  explicit RecordingSink(REFIID events_iid) : events_iid_(events_iid) {}

  // Answers the events interface it was made for, as a real sink does.
  void* ExtraInterface(REFIID iid);

  // Every by-reference 32-bit argument of event `id` is set to value (Abort), from the
  // `after`-th call of that event on (counting from 0).
  void AbortOn(DISPID id, int32_t value, int after = 0);
  // Stops writing Abort for event `id` (a sink that does not abort leaves the variable alone).
  void ClearAbort(DISPID id);
  // The by-reference object argument of event `id` receives object (referenced).
  void ReplyObject(DISPID id, IDispatch* object);
  // Runs on every call, after recording and before the replies are written.
  void OnEvent(std::function<void(const EventCall&)> hook);

  std::vector<EventCall> Calls() const;
  std::vector<DISPID> Ids() const;
  size_t CountOf(DISPID id) const;

  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, OLECHAR**, uint32_t, LCID, DISPID*) override;
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO*, uint32_t*) override;

  const IID& EventsIid() const { return events_iid_; }

 private:
  struct AbortRule {
    int32_t value;
    int after;
  };
  IID events_iid_;
  mutable std::mutex mutex_;
  std::vector<EventCall> calls_;
  std::map<DISPID, AbortRule> aborts_;
  std::map<DISPID, ComPtr<IDispatch>> replies_;
  std::function<void(const EventCall&)> hook_;
};

ComPtr<RecordingSink> MakeRecordingSink(REFIID events_iid);

}  // namespace pelk::testing
