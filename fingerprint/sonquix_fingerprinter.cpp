#include "fingerprint/sonquix_fingerprinter.h"

#include <new>
#include <string>
#include <string_view>

#include "fingerprint/audio_source.h"
#include "fingerprint/fingerprint_serializer.h"
#include "fingerprint/sonquix_fingerprint.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"

namespace pelk {
namespace {

using fingerprint::ExtractStatus;
using fingerprint::StreamExtractor;

struct Setting {
  std::u16string_view name;
  std::u16string_view value;
};

// "fixed_length" is the span of one fingerprint with the fixed settings:
// ((12 - 1) x 11264 + 32768) samples at 11025 Hz.
constexpr Setting kSettings[] = {
    {u"algorithm_name", u"Wavelattice"}, {u"algorithm_version", u"1.1"},
    {u"is_fixed_length", u"true"},       {u"fixed_length", u"14210"},
    {u"is_unlimited_length", u"false"},
};

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

HRESULT CPelkSonquixFingerprinter::GetSetting(BSTR name, BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  for (const Setting& setting : kSettings) {
    if (EqualIgnoringCase(BstrView(name), setting.name)) {
      *value = AllocBstr(setting.value);
      return *value ? S_OK : E_OUTOFMEMORY;
    }
  }
  return PELKSonquix_UnknownSetting;
}

HRESULT CPelkSonquixFingerprinter::SetSetting(BSTR, BSTR) { return S_OK; }

HRESULT CPelkSonquixFingerprinter::BeginAudioStream(int32_t sample_rate, int32_t sample_bits,
                                                    int32_t channel_count) {
  extractor_.reset();
  try {
    extractor_ = std::make_unique<StreamExtractor>(sample_rate, sample_bits, channel_count);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  switch (extractor_->creation_status()) {
    case fingerprint::kExtractOk:
      return S_OK;
    case fingerprint::kExtractBadArgument:
      return PELKSonquix_UnsupportedAudioFormat;
    default:
      return E_FAIL;
  }
}

HRESULT CPelkSonquixFingerprinter::WriteAudioData2(const void* buffer, int32_t length,
                                                   int32_t* complete) {
  if (!complete) return E_POINTER;
  if (!extractor_) return E_FAIL;
  switch (extractor_->Write(buffer, length)) {
    case fingerprint::kExtractOk:
      *complete = 0;
      return S_OK;
    case fingerprint::kExtractComplete:
      *complete = 1;
      return S_OK;
    default:
      return E_FAIL;
  }
}

HRESULT CPelkSonquixFingerprinter::WriteAudioData(const void* buffer, int32_t length) {
  int32_t complete = 0;
  const HRESULT hr = WriteAudioData2(buffer, length, &complete);
  if (FAILED(hr)) return hr;
  return complete ? S_FALSE : S_OK;
}

HRESULT CPelkSonquixFingerprinter::EndAudioStream(IPelkSonquixFingerprint** fingerprint) {
  if (!fingerprint) return E_POINTER;
  *fingerprint = nullptr;
  if (!extractor_ || !extractor_->IsDone()) return E_FAIL;
  std::string_view text;
  switch (extractor_->Output(&text)) {
    case fingerprint::kExtractOk:
      break;
    case fingerprint::kExtractOutOfMemory:
      return E_OUTOFMEMORY;
    case fingerprint::kExtractNotEnoughData:
      return PELKSonquix_FPNotAcquired;
    default:
      return E_FAIL;
  }
  ComPtr<CPelkSonquixFingerprint> object = MakeObject<CPelkSonquixFingerprint>();
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->SetFPData(text.data(), static_cast<int32_t>(text.size()));
  if (FAILED(hr)) return hr;
  *fingerprint = ComPtr<IPelkSonquixFingerprint>(object).Detach();
  return S_OK;
}

HRESULT CPelkSonquixFingerprinter::GetFileFingerprint(BSTR file_name,
                                                      IPelkSonquixFingerprint** fingerprint) {
  if (!fingerprint) return E_POINTER;
  *fingerprint = nullptr;
  std::unique_ptr<fingerprint::AudioSource> source;
  try {
    source = fingerprint::CreateAudioSource(BstrToUtf8(file_name));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!source) return PELKSonquix_UnsupportedFileFormat;
  HRESULT hr = source->Rewind();
  if (FAILED(hr)) return hr;
  hr = BeginAudioStream(source->GetSampleRate(), source->GetBitsPerSample(), source->GetChannels());
  if (FAILED(hr)) return hr;
  for (;;) {
    const uint8_t* block = nullptr;
    int32_t length = 0;
    hr = source->Read(&block, &length);
    if (FAILED(hr)) return hr;
    if (length == 0) break;
    hr = WriteAudioData(block, length);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) break;
  }
  return EndAudioStream(fingerprint);
}

HRESULT CPelkSonquixFingerprinter::FingerprintSerialize(IPelkSonquixFingerprint* fingerprint,
                                                        BSTR* serialized) {
  return SerializeFingerprint(fingerprint, serialized);
}

HRESULT CPelkSonquixFingerprinter::FingerprintDeserialize(BSTR serialized,
                                                          IPelkSonquixFingerprint** fingerprint) {
  return DeserializeFingerprint(serialized, fingerprint);
}

}  // namespace pelk
