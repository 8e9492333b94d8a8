// The classes libpelkcontrol.so serves and registers.
#pragma once

#include <span>

#include "runtime/class_table.h"

namespace pelk::catalog {

std::span<const ClassEntry> ControlClassTable();

}  // namespace pelk::catalog
