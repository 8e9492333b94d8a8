// A connection point for one outgoing dispinterface, and the firing of its events.
//
// Sinks live in a growable array (4 slots at first, doubled when full); a sink's cookie is its
// slot position counted from 1; unadvised slots stay empty and are reused by the next Advise.
// Firing calls every non-empty slot's Invoke in slot order. Firing works on a snapshot of the
// slots taken under a lock, so a sink may advise or unadvise from any thread, even from inside an
// event: the change affects later events, and the array is never reallocated under a firing.
//
// The connection point is part of its container: its AddRef/Release are the container's.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "runtime/com_ptr.h"
#include "runtime/unknown.h"
#include "runtime/variant.h"

namespace pelk {

// The arguments of one event in declaration order. Fill() lays them out for one sink call: last
// argument first, 32-bit values as VT_I4, text as a fresh copy, objects as dispatch references
// held for the call, out arguments by reference to the firing code's own variable.
class EventArgs {
 public:
  EventArgs() = default;
  EventArgs(const EventArgs&) = delete;
  EventArgs& operator=(const EventArgs&) = delete;
  ~EventArgs() { ClearFilled(); }

  EventArgs& I4(int32_t value);
  EventArgs& Text(std::u16string_view value);
  EventArgs& Object(IDispatch* value);
  EventArgs& OutI4(int32_t* target);
  EventArgs& OutObject(IDispatch** target);

  // (Re)fills the argument array for the next sink call and returns it.
  DISPPARAMS* Fill();
  size_t size() const { return args_.size(); }

 private:
  struct Arg {
    VARTYPE vt;
    int32_t i4 = 0;
    std::u16string text;
    ComPtr<IDispatch> object;
    void* target = nullptr;
  };
  void ClearFilled();

  std::vector<Arg> args_;
  std::vector<VARIANT> filled_;
  DISPPARAMS params_{};
};

class ConnectionPoint final : public IConnectionPoint {
 public:
  // container: the owning object, whose lifetime and count this connection point shares.
  ConnectionPoint(IConnectionPointContainer* container, REFIID events_iid);
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;
  ~ConnectionPoint() = default;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  uint32_t AddRef() override { return container_->AddRef(); }
  uint32_t Release() override { return container_->Release(); }

  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  // E_POINTER for a null sink or cookie pointer; CONNECT_E_CANNOTCONNECT when the sink does not
  // answer the event interface.
  HRESULT Advise(IUnknown* sink, uint32_t* cookie) override;
  // CONNECT_E_NOCONNECTION when the cookie names no advised sink.
  HRESULT Unadvise(uint32_t cookie) override;
  HRESULT EnumConnections(IEnumConnections** connections) override;

  // Calls every advised sink's Invoke(id, IID_NULL, 0x400, method, args, cleared result).
  // Results are ignored.
  void Fire(DISPID id, EventArgs& args);

  size_t SlotCount() const;
  size_t SinkCount() const;

 private:
  IConnectionPointContainer* container_;
  IID events_iid_;
  mutable std::mutex mutex_;
  std::vector<ComPtr<IDispatch>> slots_;
};

}  // namespace pelk
