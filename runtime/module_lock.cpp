#include "runtime/module_lock.h"

#include <atomic>

namespace pelk {
namespace {
std::atomic<int32_t> g_lock_count{0};
}  // namespace

void ModuleLockIncrement() { g_lock_count.fetch_add(1, std::memory_order_relaxed); }
void ModuleLockDecrement() { g_lock_count.fetch_sub(1, std::memory_order_acq_rel); }
int32_t ModuleLockCount() { return g_lock_count.load(std::memory_order_acquire); }

}  // namespace pelk
