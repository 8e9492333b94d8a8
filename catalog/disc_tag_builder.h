// The catalogue's disc-tag builder: a FileTag filled from one track of a catalogue disc.
#pragma once

#include "runtime/unknown.h"

namespace pelk::catalog {

HRESULT CreateCatalogDiscTagBuilder(REFIID iid, void** object);

}  // namespace pelk::catalog
