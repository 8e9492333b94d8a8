// The manager's error model: description texts of its result codes and SetManagerError.
#pragma once

#include <string_view>

#include "runtime/hresult.h"

namespace pelk {

// The description of a failure code of facility 0x2FE ("Unknown error" for one not in the
// table); empty for any other code.
std::u16string_view ManagerErrorText(HRESULT hr);

// For a failure of facility 0x2FE: attaches error information (the manager interface, the
// source "PelkSonquixVXT.PELKVXTSonquixManager.1", the description) to the calling thread.
// Any other code is returned untouched and nothing is attached. Returns hr.
HRESULT SetManagerError(HRESULT hr);

}  // namespace pelk
