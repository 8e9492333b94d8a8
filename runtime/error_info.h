/// @file
/// Thread-local error information: the description an operation attaches to its failure code.
/// SetErrorInfo replaces the calling thread's error object (null clears it); GetErrorInfo hands it
/// to the caller and clears it, as the platform does. S_FALSE when there is none.
#pragma once

#include <string_view>

#include "runtime/com_ptr.h"
#include "runtime/unknown.h"

/// Replaces the calling thread's error object (null clears it); always S_OK.
HRESULT SetErrorInfo(uint32_t reserved, IErrorInfo* info);
/// Hands the calling thread's error object to the caller (one reference) and clears it;
/// S_FALSE and null when there is none.
HRESULT GetErrorInfo(uint32_t reserved, IErrorInfo** info);
/// A new error-info object answering IErrorInfo and ICreateErrorInfo.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);

namespace pelk {

/// Attaches (iid, source, description) to the calling thread and returns hr, for
/// `return ReportError(...)` at a failure site.
HRESULT ReportError(HRESULT hr, REFIID iid, std::u16string_view source,
                    std::u16string_view description);
/// The description of the calling thread's error information (taking it), or empty.
std::u16string TakeErrorDescription();

}  // namespace pelk
