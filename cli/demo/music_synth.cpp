#include "cli/demo/music_synth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <fstream>
#include <numbers>

namespace pelk::cli {
namespace {

// A fixed generator (xorshift32), so that every machine renders the same pieces.
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u ^ 0x5BD1E995u) {
    if (state_ == 0) state_ = 0x9E3779B9u;
    for (int i = 0; i < 8; ++i) Next();
  }
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
  double Unit() { return (Next() >> 8) / 16777216.0; }  // [0, 1)

 private:
  uint32_t state_;
};

double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

struct Timbre {
  std::array<double, 4> harmonics;  // amplitudes of partials 1-4
  double attack_s;
  double decay_s;  // time constant of the exponential decay
};

struct Note {
  double start_s;
  double length_s;
  double hz;
  double amplitude;
  const Timbre* timbre;
};

// Adds one note, enveloped (linear attack, exponential decay, 20 ms release), into out. The
// partials turn by complex rotation and the decay by a constant factor per sample, which is
// much faster than calling sin and exp for every sample and partial.
void AddNote(const Note& n, int32_t rate, std::vector<float>* out) {
  const auto first = std::max<int64_t>(static_cast<int64_t>(n.start_s * rate), 0);
  const auto last = std::min<int64_t>(static_cast<int64_t>((n.start_s + n.length_s) * rate),
                                      static_cast<int64_t>(out->size()));
  if (first >= last) return;
  const double release_s = 0.02;
  const double step = 2.0 * std::numbers::pi * n.hz / rate;
  const double phase = step * static_cast<double>(first);  // the phase of absolute time
  std::array<std::complex<double>, 4> turn{}, rotation{};
  std::array<double, 4> level{};
  for (size_t h = 0; h < level.size(); ++h) {
    const double k = static_cast<double>(h + 1);
    if (n.hz * k >= rate / 2.0) break;  // nothing above the Nyquist frequency
    level[h] = n.timbre->harmonics[h];
    turn[h] = std::polar(1.0, k * phase);
    rotation[h] = std::polar(1.0, k * step);
  }
  const double decay_per_sample = std::exp(-1.0 / (n.timbre->decay_s * rate));
  double decay = 1.0;
  for (int64_t i = first; i < last; ++i) {
    const double local = static_cast<double>(i) / rate - n.start_s;
    double envelope;
    if (local < n.timbre->attack_s) {
      envelope = local / n.timbre->attack_s;
    } else {
      envelope = decay;
      decay *= decay_per_sample;
    }
    const double to_end = n.length_s - local;
    if (to_end < release_s) envelope *= to_end / release_s;
    double value = 0;
    for (size_t h = 0; h < level.size(); ++h) {
      value += level[h] * turn[h].imag();
      turn[h] *= rotation[h];
    }
    (*out)[static_cast<size_t>(i)] += static_cast<float>(n.amplitude * envelope * value);
  }
}

// A drum hit: a falling sine for the kick, decaying noise for snare and hat.
void AddDrum(double start_s, int kind, int32_t rate, Random* noise, std::vector<float>* out) {
  const double length_s = kind == 0 ? 0.25 : kind == 1 ? 0.18 : 0.06;
  const auto first = static_cast<int64_t>(start_s * rate);
  const auto last = std::min<int64_t>(static_cast<int64_t>((start_s + length_s) * rate),
                                      static_cast<int64_t>(out->size()));
  for (int64_t i = first; i < last; ++i) {
    const double local = static_cast<double>(i - first) / rate;
    double value;
    if (kind == 0) {
      const double hz = 50.0 + 90.0 * std::exp(-local / 0.03);
      value = 0.9 * std::sin(2.0 * std::numbers::pi * hz * local) * std::exp(-local / 0.08);
    } else {
      const double white = noise->Unit() * 2.0 - 1.0;
      value = (kind == 1 ? 0.35 : 0.12) * white * std::exp(-local / (kind == 1 ? 0.05 : 0.015));
    }
    (*out)[static_cast<size_t>(i)] += static_cast<float>(value);
  }
}

Timbre RandomTimbre(Random& r, double attack_s, double decay_s) {
  return {{1.0, 0.7 * r.Unit(), 0.45 * r.Unit(), 0.3 * r.Unit()},
          attack_s * (0.5 + r.Unit()),
          decay_s * (0.5 + r.Unit())};
}

}  // namespace

std::vector<float> RenderPiece(uint32_t seed, int32_t sample_rate, double seconds) {
  Random r(seed);
  std::vector<float> out(static_cast<size_t>(seconds * sample_rate), 0.0f);
  const double beat_s = 60.0 / (78 + r.Below(80));
  const int root = 40 + r.Below(14);
  static constexpr int kMajor[] = {0, 2, 4, 5, 7, 9, 11};
  static constexpr int kMinor[] = {0, 2, 3, 5, 7, 8, 10};
  const int* scale = r.Below(2) == 0 ? kMajor : kMinor;
  auto pitch = [&](int degree) {  // scale degree (any integer) to a MIDI note above the root
    const int octave = degree >= 0 ? degree / 7 : (degree - 6) / 7;
    return root + 12 * octave + scale[degree - 7 * octave];
  };
  const Timbre lead = RandomTimbre(r, 0.012, 0.35 + 0.6 * r.Unit());
  const Timbre bass = RandomTimbre(r, 0.008, 0.3);
  const Timbre pad = {{1.0, 0.25 * r.Unit(), 0.1 * r.Unit(), 0.0}, 0.25, 2.5};
  static constexpr int kProgressions[][4] = {{0, 5, 3, 4}, {0, 3, 4, 4}, {0, 4, 5, 3},
                                             {5, 3, 0, 4}, {0, 2, 3, 4}, {0, 5, 1, 4}};
  const int* progression = kProgressions[r.Below(6)];
  const int lead_octave = 14 + 7 * r.Below(2);
  const double lead_level = 0.25 + 0.15 * r.Unit();
  const double pad_level = 0.05 + 0.08 * r.Unit();
  const int kick_pattern = 1 | (r.Below(2) ? 4 : 0) | (r.Below(3) == 0 ? 8 : 0);
  const bool snare = r.Below(4) != 0;
  const bool hats = r.Below(3) != 0;
  const bool bass_eighths = r.Below(2) == 0;

  std::vector<Note> notes;
  int degree = 0;
  const double bar_s = 4 * beat_s;
  for (int bar = 0; bar * bar_s < seconds; ++bar) {
    const double bar_start = bar * bar_s;
    const int chord = progression[bar % 4];
    for (int voice : {0, 2, 4}) {
      notes.push_back({bar_start, bar_s, MidiHz(pitch(chord + voice) + 12), pad_level, &pad});
    }
    const int steps = bass_eighths ? 8 : 4;
    for (int s = 0; s < steps; ++s) {
      const int bass_degree = chord + (s % 4 == 2 ? 4 : 0) - 7;
      notes.push_back(
          {bar_start + s * bar_s / steps, bar_s / steps, MidiHz(pitch(bass_degree)), 0.3, &bass});
    }
    // The melody walks the scale around the chord, half and whole beats, with a few rests.
    for (double t = 0; t < 4 * beat_s - 1e-9;) {
      const double length = (r.Below(3) == 0 ? 1.0 : 0.5) * beat_s;
      if (r.Below(7) != 0) {
        degree = std::clamp(degree + r.Below(5) - 2, -3, 9);
        notes.push_back({bar_start + t, length, MidiHz(pitch(chord + degree + lead_octave)),
                         lead_level, &lead});
      }
      t += length;
    }
  }
  for (const Note& n : notes) AddNote(n, sample_rate, &out);

  Random noise(seed ^ 0xC0FFEEu);
  for (int eighth = 0; eighth * beat_s / 2 < seconds; ++eighth) {
    const double start = eighth * beat_s / 2;
    const int beat_in_bar = (eighth / 2) % 4;
    if (eighth % 2 == 0 && (kick_pattern >> beat_in_bar & 1)) {
      AddDrum(start, 0, sample_rate, &noise, &out);
    }
    if (snare && eighth % 2 == 0 && beat_in_bar % 2 == 1)
      AddDrum(start, 1, sample_rate, &noise, &out);
    if (hats && eighth % 2 == 1) AddDrum(start, 2, sample_rate, &noise, &out);
  }

  float peak = 0;
  for (float x : out) peak = std::max(peak, std::abs(x));
  if (peak > 0) {
    for (float& x : out) x *= 0.8f / peak;
  }
  return out;
}

bool WriteWav(const std::filesystem::path& path, const std::vector<float>& samples,
              int32_t sample_rate, int32_t channels, double gain, std::string* error) {
  std::vector<uint8_t> bytes;
  auto put16 = [&](uint32_t v) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  auto id = [&](const char* four) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(four[i]));
  };
  const auto data_size = static_cast<uint32_t>(samples.size() * static_cast<size_t>(channels) * 2);
  id("RIFF");
  put32(36 + data_size);
  id("WAVE");
  id("fmt ");
  put32(16);
  put16(1);
  put16(static_cast<uint32_t>(channels));
  put32(static_cast<uint32_t>(sample_rate));
  put32(static_cast<uint32_t>(sample_rate * channels * 2));
  put16(static_cast<uint32_t>(channels * 2));
  put16(16);
  id("data");
  put32(data_size);
  for (float x : samples) {
    const double scaled = std::clamp(std::round(x * gain * 32767.0), -32768.0, 32767.0);
    for (int32_t c = 0; c < channels; ++c) {
      put16(static_cast<uint32_t>(static_cast<int32_t>(scaled)));
    }
  }
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    *error = "cannot write " + path.string();
    return false;
  }
  return true;
}

}  // namespace pelk::cli
