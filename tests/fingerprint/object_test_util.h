// Helpers shared by the fingerprint object and fingerprinter suites.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fingerprint/sonquix_fingerprinter.h"
#include "runtime/bstr.h"
#include "tests/support/hr_matchers.h"
#include "tests/support/pcm_synth.h"

namespace pelk::testing {

using Getter = HRESULT (IFingerprintImpl::*)(BSTR*);

// A getter's value as UTF-8, "<null>" for a null string, "<error 0x...>" on a failure.
inline std::string Read(IFingerprintImpl* fingerprint, Getter getter) {
  Bstr value;
  const HRESULT hr = (fingerprint->*getter)(value.Out());
  if (FAILED(hr)) return "<error " + HrText(hr) + ">";
  return value.Get() ? value.Utf8() : "<null>";
}

inline std::vector<uint8_t> StereoMusic16(double seconds, uint32_t seed, int32_t rate = 44100) {
  const int64_t frames = static_cast<int64_t>(seconds * rate);
  return EncodePcm(Interleave({Music(seed, rate, frames), Music(seed + 1, rate, frames)}), 16);
}

inline std::string JoinValues(const std::vector<int16_t>& values) {
  std::string text;
  for (int16_t v : values) text += (text.empty() ? "" : " ") + std::to_string(v);
  return text;
}

inline ComPtr<IPelkSonquixFingerprinter2> NewFingerprinter() {
  ComPtr<IPelkSonquixFingerprinter2> fingerprinter;
  EXPECT_HR(S_OK, CPelkSonquixFingerprinter::CreateInstance(
                      nullptr, IPelkSonquixFingerprinter2::kIid, fingerprinter.OutVoid()));
  return fingerprinter;
}

struct PushResult {
  HRESULT last = S_OK;       // the result of the last write made
  size_t bytes_written = 0;  // bytes passed up to and including that write
};

// Pushes `pcm` with WriteAudioData in writes of `step` bytes until a write does not return S_OK.
inline PushResult Push(IPelkSonquixFingerprinter* fingerprinter, const std::vector<uint8_t>& pcm,
                       size_t step) {
  PushResult result;
  for (size_t at = 0; at < pcm.size(); at += step) {
    const size_t length = std::min(step, pcm.size() - at);
    result.last = fingerprinter->WriteAudioData(pcm.data() + at, static_cast<int32_t>(length));
    result.bytes_written = at + length;
    if (result.last != S_OK) break;
  }
  return result;
}

// A whole fingerprint of `pcm` through a new fingerprinter's stream.
inline ComPtr<IPelkSonquixFingerprint> StreamFingerprint(const std::vector<uint8_t>& pcm,
                                                         const PcmFormat& format = {}) {
  ComPtr<IPelkSonquixFingerprinter2> fingerprinter = NewFingerprinter();
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  if (!fingerprinter) return fingerprint;
  EXPECT_HR(S_OK,
            fingerprinter->BeginAudioStream(format.sample_rate, format.bits, format.channels));
  EXPECT_HR(S_FALSE, Push(fingerprinter.Get(), pcm, 4096).last);
  EXPECT_HR(S_OK, fingerprinter->EndAudioStream(fingerprint.Out()));
  return fingerprint;
}

}  // namespace pelk::testing
