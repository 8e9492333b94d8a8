#include "cli/audio/file_fingerprint.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/audio/audio_decoder.h"
#include "cli/command_support.h"
#include "fingerprint/sonquix_fingerprinter.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

std::string Seconds(double seconds, int precision) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", precision, seconds);
  return text;
}

// Why a stream of `seconds` of audio that the fingerprinter took in full gave no fingerprint.
std::string NoFingerprintReason(double seconds, int32_t needed_ms) {
  const std::string needed = Seconds(needed_ms / 1000.0, 2);
  if (seconds * 1000.0 < needed_ms) {
    return "too short for a fingerprint: " + Seconds(seconds, 1) + " s of audio, " + needed +
           " s of sound are needed after any leading silence";
  }
  return "no fingerprint: less than " + needed + " s of sound after the leading silence";
}

FileFingerprint PushDecoded(IPelkSonquixFingerprinter2* fingerprinter, AudioDecoder& decoder,
                            int32_t needed_ms) {
  return FingerprintBlocks(
      fingerprinter, decoder.sample_rate(), decoder.channels(),
      [&decoder] { return std::span<const uint8_t>(decoder.ReadBlock()); }, needed_ms,
      decoder.seconds());
}

}  // namespace

bool HasWavExtension(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  return extension.size() == 4 && (extension[1] | 0x20) == 'w' && (extension[2] | 0x20) == 'a' &&
         (extension[3] | 0x20) == 'v';
}

FileFingerprint FingerprintBlocks(IPelkSonquixFingerprinter2* fingerprinter, int32_t sample_rate,
                                  int32_t channels,
                                  const std::function<std::span<const uint8_t>()>& next_block,
                                  int32_t needed_ms, double declared_seconds) {
  FileFingerprint result;
  HRESULT hr = fingerprinter->BeginAudioStream(sample_rate, 16, channels);
  if (hr == PELKSonquix_UnsupportedAudioFormat) {
    result.error = "unsupported audio format (" + std::to_string(channels) + " channels at " +
                   std::to_string(sample_rate) + " Hz)";
    return result;
  }
  int64_t frames = 0;
  while (hr == S_OK) {
    const std::span<const uint8_t> block = next_block();
    if (block.empty()) break;
    frames += static_cast<int64_t>(block.size()) / (2 * channels);
    hr = fingerprinter->WriteAudioData(block.data(), static_cast<int32_t>(block.size()));
  }
  if (FAILED(hr)) {
    result.error = "the fingerprinter refused the audio (error " + HresultText(hr) + ")";
    return result;
  }
  hr = fingerprinter->EndAudioStream(result.fingerprint.Out());
  if (hr == E_FAIL) {
    const double decoded = static_cast<double>(frames) / sample_rate;
    // A file whose audio stops well before the length it declares is cut short or damaged:
    // saying so beats calling a long file too short.
    if (declared_seconds > decoded + 1.0) {
      result.error = "the audio ends after " + Seconds(decoded, 1) + " s of the " +
                     Seconds(declared_seconds, 1) +
                     " s the file declares (cut short or damaged); " +
                     Seconds(needed_ms / 1000.0, 2) + " s of sound are needed for a fingerprint";
    } else {
      result.error = NoFingerprintReason(decoded, needed_ms);
    }
  } else if (hr != S_OK || !result.fingerprint) {
    result.error = "the fingerprinter failed (error " + HresultText(hr) + ")";
  }
  return result;
}

FileFingerprint FingerprintFile(IPelkSonquixFingerprinter2* fingerprinter, const std::string& path,
                                int32_t needed_ms) {
  FileFingerprint result;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    result.error = std::filesystem::exists(path, ec) ? "not a regular file" : "no such file";
    return result;
  }
  if (HasWavExtension(path)) {
    const std::u16string wide = Utf8ToUtf16(path);
    if (Utf16ToUtf8(wide) != path) {
      result.error = "the path is not valid UTF-8";
      return result;
    }
    const Bstr name(wide);
    const HRESULT hr = fingerprinter->GetFileFingerprint(name.Get(), result.fingerprint.Out());
    if (hr == S_OK && result.fingerprint) return result;
    // The fingerprinter reads plain 8- and 16-bit PCM itself; for the rest the host decodes.
    std::string why;
    std::unique_ptr<AudioDecoder> decoder = AudioDecoder::Open(path, &why);
    if (!decoder) {
      result.error = "not a WAV file that can be read (" + why + ")";
    } else if (decoder->IsPlainWavPcm()) {
      result.error = NoFingerprintReason(decoder->seconds(), needed_ms);
    } else {
      return PushDecoded(fingerprinter, *decoder, needed_ms);
    }
    return result;
  }
  std::string why;
  std::unique_ptr<AudioDecoder> decoder = AudioDecoder::Open(path, &why);
  if (!decoder) {
    result.error = "not an audio file that can be decoded (" + why + ")";
    return result;
  }
  return PushDecoded(fingerprinter, *decoder, needed_ms);
}

ComPtr<IPelkSonquixFingerprinter2> NewFingerprinter() {
  ComPtr<IPelkSonquixFingerprinter2> fingerprinter;
  if (FAILED(CPelkSonquixFingerprinter::CreateInstance(nullptr, IPelkSonquixFingerprinter2::kIid,
                                                       fingerprinter.OutVoid()))) {
    Fail("cannot create a fingerprinter");
  }
  return fingerprinter;
}

int32_t FixedLengthMs(IPelkSonquixFingerprinter2* fingerprinter) {
  Bstr value;
  if (FAILED(fingerprinter->GetSetting(Bstr(u"fixed_length").Get(), value.Out()))) return 0;
  const std::string text = value.Utf8();
  int32_t ms = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  return ec == std::errc() && end == text.data() + text.size() ? ms : 0;
}

}  // namespace pelk::cli
