#include "control/current_control.h"

#include <atomic>

namespace pelk {
namespace {

std::atomic<LookupControlSource> g_source{nullptr};

}  // namespace

void SetLookupControlSource(LookupControlSource source) { g_source.store(source); }

ComPtr<ILookupControl> CurrentLookupControl() {
  const LookupControlSource source = g_source.load();
  return source ? source() : nullptr;
}

}  // namespace pelk
