// write_music SEED SECONDS PATH: writes the synthesized music of SEED as an 11025 Hz mono WAV,
// the same audio the host tests build their catalogues from.
#include <cstdlib>
#include <iostream>

#include "tests/support/pcm_synth.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: write_music SEED SECONDS PATH\n";
    return 2;
  }
  const int32_t rate = 11025;
  const auto seed = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const auto frames = static_cast<int64_t>(std::strtod(argv[2], nullptr) * rate);
  pelk::testing::WriteFile(
      argv[3],
      pelk::testing::MakeWav(
          {rate, 16, 1}, pelk::testing::EncodePcm(pelk::testing::Music(seed, rate, frames), 16)));
  return 0;
}
