// The audio files under the paths a user names: folders are walked recursively (symbolic links
// to folders are not followed, so a link loop cannot make the walk endless), files named
// directly are taken whatever their extension.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pelk::cli {

// True for the extensions of the audio formats the host decodes: WAV, FLAC, Ogg Vorbis, Opus,
// MP3, AIFF, AAC and ALAC (M4A), WMA, WavPack, APE, Musepack, TTA, Matroska audio, CAF.
bool IsAudioFileName(const std::string& path);

// A folder or file the walk could not read, and why in words ("permission denied").
struct UnreadablePath {
  std::string path;
  std::string reason;
};

struct AudioFileSet {
  std::vector<std::string> files;          // absolute, normalised, each once, in path order
  std::vector<std::string> missing;        // paths given that do not exist, as given
  std::vector<UnreadablePath> unreadable;  // in path order; the rest of the tree was walked
};

// Called with each folder just before the walk reads it. Tests change the tree here to see
// the walk survive a folder that vanishes under it.
using FolderVisit = std::function<void(const std::string& folder)>;

// Collects the audio files of `paths`. A folder that cannot be read (permission denied, removed
// during the walk, a path too long, an I/O error part way) is listed in `unreadable` with what
// was read of it kept, and the walk goes on with the rest of the tree. So is an audio file whose
// link cannot be followed (a loop) and a name that is not UTF-8, which no module call can take.
AudioFileSet CollectAudioFiles(const std::vector<std::string>& paths,
                               const FolderVisit& visit = nullptr);

// "PATH: cannot be read (REASON)", the line a command prints for each unreadable path.
std::string UnreadableText(const UnreadablePath& unreadable);

}  // namespace pelk::cli
