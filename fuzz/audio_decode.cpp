// Any bytes as an audio file for the host's decoder, the way `sonquix fingerprint` reads one:
// open it, then read blocks until the end. The first byte chooses the file name's extension (the
// decoder must go by content, never by name); the rest is the file. Whatever it holds, the
// decoder either refuses it in words or hands out whole 16-bit frames at a sane rate.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/audio/audio_decoder.h"

namespace {

constexpr const char* kExtensions[] = {"wav", "flac", "mp3", "ogg", "opus", "m4a", "wma", "wv",
                                       "aiff", "ape", "mpc", "tta", "mka",  "caf", "txt", "png"};
constexpr size_t kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];
// About 93 s at 44.1 kHz: past the longest window a fingerprint reads, and a bound on the time
// one input may take.
constexpr int kMaxBlocks = 1000;

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::filesystem::path d = base / ("fuzz_audio_decode_" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::filesystem::path path =
      ScratchDir() / (std::string("input.") + kExtensions[data[0] % kExtensionCount]);
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, file) != size - 1) std::abort();
    std::fclose(file);
  }

  std::string error;
  auto decoder = pelk::cli::AudioDecoder::Open(path.string(), &error);
  if (!decoder) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  const int32_t channels = decoder->channels();
  if (channels < 1 || decoder->sample_rate() < 1) std::abort();
  for (int i = 0; i < kMaxBlocks; ++i) {
    const std::vector<uint8_t>& block = decoder->ReadBlock();
    if (block.empty()) break;
    if (block.size() % (2 * static_cast<size_t>(channels)) != 0) std::abort();  // whole frames
  }
  return 0;
}
