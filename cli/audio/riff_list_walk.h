// libsndfile (1.2) counts its way through the subchunks of a WAV or RF64 file's LIST and INFO
// chunks in 32 bits: a subchunk whose size wraps the count round (0xFFFFFFF8 brings it back to
// the same subchunk) makes it loop for ever inside sf_open without reading a byte. This walk
// goes through those chunks the way libsndfile does and finds such subchunks, so that the host
// hands those files to FFmpeg instead.
#pragma once

#include <string>

namespace pelk::cli {

// True when `path` is a RIFF or RF64 WAVE file holding a LIST or INFO chunk that libsndfile
// would go round for ever (or more chunks than an honest file has); false for every other file,
// including files that cannot be read.
bool StallsSndfile(const std::string& path);

}  // namespace pelk::cli
