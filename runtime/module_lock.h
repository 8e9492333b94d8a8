// The lock count of the module an object lives in: live objects plus server locks. It decides
// DllCanUnloadNow. Each shared module links its own copy (sonquix_runtime_module), so the
// count is per module, as the platform's is.
#pragma once

#include <cstdint>

namespace pelk {

void ModuleLockIncrement();
void ModuleLockDecrement();
int32_t ModuleLockCount();

}  // namespace pelk
