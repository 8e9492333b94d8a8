#include "fingerprint/audio_source.h"

#include <string>

#include "fingerprint/wav_source.h"

namespace pelk::fingerprint {

std::unique_ptr<AudioSource> CreateAudioSource(std::string_view utf8_path) {
  constexpr std::string_view kExtension = ".wav";
  if (utf8_path.size() < kExtension.size()) return nullptr;
  const std::string_view tail = utf8_path.substr(utf8_path.size() - kExtension.size());
  for (size_t i = 0; i < kExtension.size(); ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kExtension[i]) return nullptr;
  }
  return std::make_unique<WavSource>(std::string(utf8_path));
}

}  // namespace pelk::fingerprint
