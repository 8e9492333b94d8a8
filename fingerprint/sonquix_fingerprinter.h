// CPelkSonquixFingerprinter: computes waveform fingerprints from WAV files (GetFileFingerprint)
// or from PCM buffers a caller decodes and pushes (BeginAudioStream, WriteAudioData or
// WriteAudioData2, EndAudioStream), answers fixed questions about the algorithm (GetSetting)
// and turns fingerprints into sealed strings and back.
//
// Answers IUnknown, IPelkSonquixFingerprinter and IPelkSonquixFingerprinter2 (not IDispatch's
// own identifier, although both are dual). Not aggregatable. No lock: one fingerprinter serves
// one stream at a time and must not be called from two threads at once.
//
// Ownership: the fingerprinter owns its current StreamExtractor, replaced by every
// BeginAudioStream (and so every GetFileFingerprint) and destroyed with the fingerprinter.
// Fingerprints it hands out carry one reference, which the caller owns.
#pragma once

#include <memory>

#include "fingerprint/stream_extractor.h"
#include "pelk/fingerprint_interfaces.h"
#include "runtime/object.h"

namespace pelk {

class CPelkSonquixFingerprinter final
    : public Object<CPelkSonquixFingerprinter, Dual<IPelkSonquixFingerprinter2>> {
 public:
  static constexpr bool kHidesIDispatch = true;

  // The fixed answers: "algorithm_name", "algorithm_version", "is_fixed_length",
  // "fixed_length" (ms of audio one fingerprint covers), "is_unlimited_length", the name
  // compared without regard to case. Any other name: PELKSonquix_UnknownSetting, no value.
  HRESULT GetSetting(BSTR name, BSTR* value) override;
  // Accepts anything and changes nothing: the engine's settings are fixed.
  HRESULT SetSetting(BSTR name, BSTR value) override;
  // Reads a ".wav" file (any case) through its own stream: PELKSonquix_UnsupportedFileFormat for
  // any other name, the source's or the stream's failure as it is, E_FAIL when the file holds
  // too little audio.
  HRESULT GetFileFingerprint(BSTR file_name, IPelkSonquixFingerprint** fingerprint) override;
  // Starts a new stream (discarding the current one): PELKSonquix_UnsupportedAudioFormat for no
  // channels, a rate of 0 or fewer than 8 bits, E_FAIL when the engine cannot be set up. The
  // new stream stays even when it failed; its writes then fail.
  HRESULT BeginAudioStream(int32_t sample_rate, int32_t sample_bits,
                           int32_t channel_count) override;
  // S_OK while more audio is wanted, S_FALSE once the fingerprint is complete (further data is
  // then ignored), or WriteAudioData2's failure.
  HRESULT WriteAudioData(const void* buffer, int32_t length) override;
  // The fingerprint document of the stream in a new fingerprint object. E_FAIL without a stream
  // or with too little audio; PELKSonquix_FPNotAcquired (a success code, no object) when the
  // signature cannot be computed. The stream stays: a second call gives another object with
  // the same document.
  HRESULT EndAudioStream(IPelkSonquixFingerprint** fingerprint) override;
  // *complete receives 1 once the fingerprint is complete, else 0. E_FAIL without a stream, for
  // a null buffer, no length or a partial sample frame (nothing of that buffer is used and the
  // stream stays usable).
  HRESULT WriteAudioData2(const void* buffer, int32_t length, int32_t* complete) override;
  HRESULT FingerprintSerialize(IPelkSonquixFingerprint* fingerprint, BSTR* serialized) override;
  HRESULT FingerprintDeserialize(BSTR serialized, IPelkSonquixFingerprint** fingerprint) override;

 private:
  std::unique_ptr<fingerprint::StreamExtractor> extractor_;
};

}  // namespace pelk
