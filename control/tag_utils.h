// Tag utilities shared by the identification code: a tag built from a disc's track, copying
// tag fields, reading the store identifiers a tag may carry, and testing file extensions.
// They keep no state; they call the lookup control's objects only.
#pragma once

#include <string>
#include <string_view>

#include "control/lookup_control.h"

namespace pelk {

// A FileTag for track `track` of disc, built by the control's disc-tag builder. For a ".wma" or
// ".asf" file the result is a media-file tag attached to that file and filled from the built tag.
// E_INVALIDARG for a null disc or out pointer or track 0; control failures are returned.
HRESULT TagFromDisc(std::u16string_view file_name, IDiscInfo* disc, int32_t track,
                    IFileTag** tag);

// Copies every non-empty text of source into destination: the thirteen FileTag texts in the
// tag's order, then the nine extended texts when both tags offer them. E_INVALIDARG for a null
// tag.
HRESULT CopyTagFields(IFileTag* destination, IFileTag* source);

// Reads the "iTunes_PELK_IDs" field ("count+first+second"). The second identifier goes to
// *first_out and the first to *second_out, each cut to size - 1 characters; *track is the tag's
// track number when 1 <= track <= count, else 0.
// E_INVALIDARG for a null tag or track pointer or an empty file name; E_FAIL for an empty value
// or one without two "+"; 0xC2FE0005 for an ".mp3" file whose tag has no MP3-field view; tag
// failures are returned.
HRESULT ParseITunesIds(std::u16string_view file_name, IFileTag* tag, std::u16string* first_out,
                       size_t first_size, std::u16string* second_out, size_t second_size,
                       int32_t* track);

// True when the file name's text from its last "." equals extension ignoring case.
bool HasExtension(const char16_t* file_name, const char16_t* extension);
bool HasExtension(std::u16string_view file_name, std::u16string_view extension);

}  // namespace pelk
