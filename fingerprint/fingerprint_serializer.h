// The serialized form of a fingerprint: its Type, Version and Signature filled into the query
// document, which is sealed under the tag "KZFP" with the fingerprint key. Opening a string
// rebuilds a short FINGERPRINT document holding just those three values.
#pragma once

#include <string>

#include "pelk/fingerprint_interfaces.h"
#include "runtime/bstr.h"

namespace pelk {

// The printable string for a fingerprint. E_INVALIDARG for a null fingerprint, E_POINTER for a
// null output; a failing getter's code as it is; E_FAIL when the document cannot be filled or
// sealed; E_OUTOFMEMORY. *serialized is written only on success.
HRESULT SerializeFingerprint(IPelkSonquixFingerprint* fingerprint, BSTR* serialized);

// A new fingerprint object (one reference) from a serialized string. E_INVALIDARG for a null
// string, E_POINTER for a null output, E_FAIL for anything that does not open as a sealed
// "KZFP" query document with a name, a version and a signature.
HRESULT DeserializeFingerprint(BSTR serialized, IPelkSonquixFingerprint** fingerprint);

// The FINGERPRINT document rebuilt from the three values (escaped as the document needs).
std::string RebuiltFingerprintDocument(std::string_view type, std::string_view version,
                                       std::string_view signature);

}  // namespace pelk
