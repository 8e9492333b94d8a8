// The lookup control the module currently shares, as seen from code below the manager (the
// result records' data-list lookup). The manager owns that control; it installs a source
// function here once, and records ask it on each use, so they never keep a control alive
// themselves nor include the manager.
#pragma once

#include "control/lookup_control.h"
#include "runtime/com_ptr.h"

namespace pelk {

// Returns the shared control, referenced, or null when none is held.
using LookupControlSource = ComPtr<ILookupControl> (*)();

// Installs (null removes) the function CurrentLookupControl asks. Safe from any thread.
void SetLookupControlSource(LookupControlSource source);

// The shared control, or null when no source is installed or it holds none.
ComPtr<ILookupControl> CurrentLookupControl();

}  // namespace pelk
