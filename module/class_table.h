// The classes this module serves, in object-map order: the one place a class is listed. Each
// entry creates instances and may carry the registration script that puts it in the registry.
#pragma once

#include <span>

#include "runtime/class_table.h"

namespace pelk {

std::span<const ClassEntry> ClassTable();

}  // namespace pelk
