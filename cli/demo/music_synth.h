// A small deterministic synthesizer of music-like pieces for the demo: each seed gives its own
// tempo, key, chord progression, melody, timbres and drum pattern. A piece is a function of time,
// so rendering one seed at two sample rates gives the same music (only the drums' noise
// differs sample by sample).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pelk::cli {

// The piece of `seed`, `seconds` long, mono, peaking at 0.8 of full scale.
std::vector<float> RenderPiece(uint32_t seed, int32_t sample_rate, double seconds);

// Writes mono samples (full scale +-1) times gain as a 16-bit PCM WAV file with `channels`
// identical channels. False with *error set when the file cannot be written.
bool WriteWav(const std::filesystem::path& path, const std::vector<float>& samples,
              int32_t sample_rate, int32_t channels, double gain, std::string* error);

}  // namespace pelk::cli
