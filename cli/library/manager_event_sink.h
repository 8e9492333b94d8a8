// The host's sink for the manager's events: decodes the Invoke calls of the events it cares
// about into calls of plain handlers. The events come on whichever thread the manager works on
// (the caller's, the library thread, the prefetch worker), so the handlers must be safe to call
// from any thread and must not block for long.
//
// References: the connection holds the sink from Advise until Unadvise (its destructor); the
// sink holds nothing of the manager.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pelk/manager_interfaces.h"
#include "runtime/com_ptr.h"
#include "runtime/object.h"

namespace pelk::cli {

// The six counters every library event carries, in their order.
struct LibraryCounters {
  int32_t complete = 0, total = 0, exact = 0, fuzzy = 0, no_match = 0, error = 0;
};

struct ManagerEventHandlers {
  // GetFingerprintInfo: may put a fingerprint on the record. Returns the Abort answer.
  std::function<int32_t(const std::u16string& file, IPelkFileInfo* record)> fingerprint_info;
  // LibraryIDListComplete: the finished files of one list. Returns the Abort answer.
  std::function<int32_t(IPelkFileInfoList* list, const LibraryCounters&)> list_complete;
  // LibraryIDListStarted. Returns the Abort answer.
  std::function<int32_t(IPelkFileInfoList* list, const LibraryCounters&)> list_started;
  // LibraryIDComplete: the run has ended (normally, failed or stopped).
  std::function<void(const LibraryCounters&)> library_complete;
};

class ManagerEventSink final : public Object<ManagerEventSink, IDispatch> {
 public:
  explicit ManagerEventSink(ManagerEventHandlers handlers) : handlers_(std::move(handlers)) {}

  // Answers the events interface, as a sink must for Advise to accept it.
  void* ExtraInterface(REFIID iid);

  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, OLECHAR**, uint32_t, LCID, DISPID*) override;
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO*, uint32_t*) override;

 private:
  const ManagerEventHandlers handlers_;
};

// A sink advised on the manager's connection point for as long as this object lives.
class EventConnection {
 public:
  // Advises a new sink with handlers; connected() tells whether the manager accepted it.
  EventConnection(IPELKSonquixManager3* manager, ManagerEventHandlers handlers);
  ~EventConnection();
  EventConnection(const EventConnection&) = delete;
  EventConnection& operator=(const EventConnection&) = delete;
  bool connected() const { return cookie_ != 0; }

 private:
  ComPtr<IConnectionPoint> point_;
  uint32_t cookie_ = 0;
};

}  // namespace pelk::cli
