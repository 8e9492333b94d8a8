// Any bytes as a WAV file: the source must refuse or deliver whole blocks within the data it
// claims, and the stream must take every block it hands out without fault.
#include "fingerprint/wav_source.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fingerprint/stream_extractor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelk::fingerprint;
  std::vector<uint8_t> copy(data, data + size);
  std::FILE* file = size == 0 ? nullptr : fmemopen(copy.data(), copy.size(), "rb");
  WavSource source(file);
  if (source.Rewind() != S_OK) return 0;

  // Rates whose filter would be large only slow the search down; the resampler bound itself is
  // covered by the tests.
  const bool run_engine = source.GetSampleRate() <= 400000;
  std::unique_ptr<StreamExtractor> extractor;
  if (run_engine) {
    extractor = std::make_unique<StreamExtractor>(source.GetSampleRate(), source.GetBitsPerSample(),
                                                  source.GetChannels());
  }
  uint64_t total = 0;
  for (;;) {
    const uint8_t* block = nullptr;
    int32_t length = -1;
    if (source.Read(&block, &length) != S_OK) std::abort();
    if (length < 0 || length > kAudioBlockBytes) std::abort();
    if (length == 0) break;
    if (length % source.format().block_align != 0) std::abort();
    total += static_cast<uint64_t>(length);
    if (total > source.GetDataSize() || total > size) std::abort();
    if (extractor && extractor->Write(block, length) == kExtractComplete) break;
  }
  // Short data is played again and again, so that formats the header makes up also reach the
  // frames, the analyzer and the document.
  const bool consistent = uint64_t{source.format().block_align} * 8 ==
                          uint64_t{source.format().channels} * source.format().bits_per_sample;
  if (extractor && total > 0 && source.GetSampleRate() <= 48000) {
    uint64_t written = total;
    bool complete = false;
    while (!complete && written < (uint64_t{3} << 19)) {
      if (source.Rewind() != S_OK) std::abort();
      for (;;) {
        const uint8_t* block = nullptr;
        int32_t length = 0;
        source.Read(&block, &length);
        if (length == 0) break;
        written += static_cast<uint64_t>(length);
        const ExtractStatus status = extractor->Write(block, length);
        if (status == kExtractComplete) {
          complete = true;
          break;
        }
        if (status == kExtractOk) continue;
        // A header whose block alignment disagrees with channels x bits can have its blocks
        // refused; whole frames of a consistent header never are.
        if (consistent) std::abort();
        complete = true;
        break;
      }
    }
  }
  if (extractor) {
    std::string_view text;
    extractor->Output(&text);
  }
  return 0;
}
