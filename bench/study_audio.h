// Audio the quality studies make and fingerprint: synthesized music-like signals, spoken
// sentences of random words from espeak-ng, copies made with sox, and the engine's signature of
// PCM fed in blocks as a decoder would. Header-only: each study is one program.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "catalog/catalog_store.h"
#include "fingerprint/stream_extractor.h"
#include "fingerprint/wav_source.h"
#include "tests/support/pcm_synth.h"

namespace pelk::bench::study {

namespace fs = std::filesystem;
using pelk::catalog::Signature;

static_assert(std::endian::native == std::endian::little,
              "PCM is handed over as it lies in memory");

constexpr int32_t kRate = 44100;

struct Pcm {
  int32_t rate = kRate;
  int32_t channels = 1;
  std::vector<int16_t> samples;  // interleaved

  double Seconds() const { return static_cast<double>(samples.size()) / channels / rate; }
};

[[noreturn]] inline void Fail(const std::string& why) {
  std::fprintf(stderr, "study: %s\n", why.c_str());
  std::exit(1);
}

inline void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) Fail("command failed: " + command);
}

inline int16_t Clamp(double v) {
  return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

inline Pcm FromSignals(const std::vector<pelk::testing::Signal>& channels) {
  Pcm pcm;
  pcm.channels = static_cast<int32_t>(channels.size());
  for (double v : pelk::testing::Interleave(channels)) pcm.samples.push_back(Clamp(v));
  return pcm;
}

inline void WriteWav(const fs::path& path, const Pcm& pcm) {
  std::vector<uint8_t> bytes(pcm.samples.size() * 2);
  std::memcpy(bytes.data(), pcm.samples.data(), bytes.size());
  pelk::testing::WriteFile(path, pelk::testing::MakeWav({pcm.rate, 16, pcm.channels}, bytes));
}

inline Pcm ReadWav(const fs::path& path) {
  pelk::fingerprint::WavSource source(path.string());
  if (!source.is_open() || source.GetBitsPerSample() != 16) Fail("unreadable " + path.string());
  Pcm pcm;
  pcm.rate = source.GetSampleRate();
  pcm.channels = source.GetChannels();
  std::vector<uint8_t> bytes;
  const uint8_t* data = nullptr;
  int32_t length = 0;
  while (source.Read(&data, &length) == S_OK && length > 0) {
    bytes.insert(bytes.end(), data, data + length);
  }
  pcm.samples.resize(bytes.size() / 2);
  std::memcpy(pcm.samples.data(), bytes.data(), pcm.samples.size() * 2);
  return pcm;
}

// The engine's signature of the audio, fed in blocks as a decoder would; nullopt when the audio
// is too short for every frame.
inline std::optional<Signature> Fingerprint(const Pcm& pcm) {
  pelk::fingerprint::StreamExtractor extractor(pcm.rate, 16, pcm.channels);
  if (extractor.creation_status() != pelk::fingerprint::kExtractOk) return std::nullopt;
  const size_t block = 4096 * static_cast<size_t>(pcm.channels);
  for (size_t at = 0; at < pcm.samples.size(); at += block) {
    const size_t n = std::min(block, pcm.samples.size() - at);
    const auto status = extractor.Write(pcm.samples.data() + at, static_cast<int32_t>(n * 2));
    if (status == pelk::fingerprint::kExtractComplete) break;
    if (status != pelk::fingerprint::kExtractOk) return std::nullopt;
  }
  const std::vector<int16_t> values = extractor.Signature();
  if (!extractor.IsDone() || values.size() != pelk::catalog::kSignatureValues) return std::nullopt;
  Signature s{};
  std::copy(values.begin(), values.end(), s.begin());
  return s;
}

inline Pcm MakeMusic(uint32_t seed) {
  const int64_t frames = int64_t{kRate} * (20 + seed % 11);
  pelk::testing::Signal left = pelk::testing::Music(seed, kRate, frames);
  pelk::testing::Signal right = left;
  for (double& v : right) v *= 0.8;
  return FromSignals({left, right});
}

constexpr const char* kWords[] = {
    "river",     "stone",       "quiet",     "window",   "garden",    "morning",   "silver",
    "horse",     "market",      "yellow",    "thunder",  "paper",     "winter",    "bridge",
    "candle",    "forest",      "mountain",  "letter",   "orange",    "village",   "basket",
    "ladder",    "pocket",      "machine",   "island",   "shadow",    "harbor",    "kitchen",
    "blanket",   "engine",      "feather",   "hammer",   "jacket",    "lemon",     "mirror",
    "needle",    "pepper",      "rabbit",    "saddle",   "ticket",    "violin",    "wagon",
    "anchor",    "butter",      "cotton",    "dinner",   "eagle",     "finger",    "giant",
    "honey",     "iron",        "jungle",    "kettle",   "lantern",   "meadow",    "nickel",
    "oyster",    "pillow",      "quarter",   "ribbon",   "sugar",     "tunnel",    "umbrella",
    "velvet",    "walnut",      "zebra",     "the",      "and",       "under",     "over",
    "slowly",    "quickly",     "never",     "always",   "runs",      "sings",     "falls",
    "breaks",    "carries",     "follows",   "opens",    "closes",    "remembers", "forgets",
    "seven",     "twelve",      "hundred",   "purple",   "gentle",    "broken",    "golden",
    "heavy",     "little",      "ancient",   "electric", "frozen",    "hollow",    "narrow",
    "distant",   "curious",     "a",         "of",       "with",      "toward",    "behind",
    "beside",    "during",      "without",   "between",  "every",     "tomorrow",  "yesterday",
    "perhaps",   "certainly",   "wonderful", "terrible", "beautiful", "ordinary",  "captain",
    "doctor",    "teacher",     "farmer",    "sailor",   "painter",   "builder",   "dancer",
    "singer",    "question",    "answer",    "number",   "picture",   "station",   "library",
    "hospital",  "cathedral",   "elephant",  "volcano",  "telephone", "calendar",  "adventure",
    "direction", "conversation"};
constexpr const char* kVoices[] = {"en-gb",      "en-us",          "en-gb-scotland",
                                   "en-gb-x-rp", "en-gb-x-gbclan", "en-gb-x-gbcwmd",
                                   "en-029",     "en-us-nyc"};
constexpr const char* kVariants[] = {"",    "+m1", "+m2", "+m3", "+m4", "+m5", "+m6",
                                     "+m7", "+f1", "+f2", "+f3", "+f4", "+f5"};

// A spoken sentence of random words, at least 20 s long, resampled by sox to 44.1 kHz.
inline Pcm MakeSpeech(uint32_t seed, const fs::path& dir) {
  std::mt19937 rng(seed);
  const std::string voice =
      std::string(kVoices[rng() % std::size(kVoices)]) + kVariants[rng() % std::size(kVariants)];
  const int speed = 130 + static_cast<int>(rng() % 46);  // words per minute
  const int pitch = 25 + static_cast<int>(rng() % 50);
  std::string text;
  const auto add_words = [&](int n) {
    for (int i = 0; i < n; ++i)
      text += std::string(text.empty() ? "" : " ") + kWords[rng() % std::size(kWords)];
  };
  add_words(speed * 24 / 60);
  const fs::path raw = dir / "speech.wav", original = dir / "speech44.wav";
  for (;;) {
    Run("espeak-ng -w '" + raw.string() + "' -v " + voice + " -s " + std::to_string(speed) +
        " -p " + std::to_string(pitch) + " '" + text + "'");
    Run("sox -R -V1 '" + raw.string() + "' -r 44100 '" + original.string() + "'");
    Pcm pcm = ReadWav(original);
    if (pcm.Seconds() >= 20.0) return pcm;
    add_words(20);
  }
}

inline Pcm Resampled(const Pcm& pcm, int32_t rate, const fs::path& dir) {
  const fs::path in = dir / "copy_in.wav", out = dir / "copy_out.wav";
  WriteWav(in, pcm);
  Run("sox -R -V1 '" + in.string() + "' -r " + std::to_string(rate) + " '" + out.string() + "'");
  return ReadWav(out);
}

inline double Rms(const std::vector<int16_t>& samples) {
  double sum = 0;
  for (int16_t v : samples) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / std::max<size_t>(1, samples.size()));
}

}  // namespace pelk::bench::study
