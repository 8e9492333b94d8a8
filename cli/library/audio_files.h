// The audio files under the paths a user names: folders are walked recursively (symbolic links
// to folders are not followed, so a link loop cannot make the walk endless), files named
// directly are taken whatever their extension.
#pragma once

#include <string>
#include <vector>

namespace pelk::cli {

// True for the extensions of the audio formats the host decodes: WAV, FLAC, Ogg Vorbis, Opus,
// MP3, AIFF, AAC and ALAC (M4A), WMA, WavPack, APE, Musepack, TTA, Matroska audio, CAF.
bool IsAudioFileName(const std::string& path);

struct AudioFileSet {
  std::vector<std::string> files;    // absolute, normalised, each once, in path order
  std::vector<std::string> missing;  // paths given that do not exist, as given
};

// Collects the audio files of `paths`. Folder contents that cannot be read are skipped.
AudioFileSet CollectAudioFiles(const std::vector<std::string>& paths);

}  // namespace pelk::cli
