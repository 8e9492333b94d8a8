// Feeds arbitrary bytes to the fingerprint's serialized form. The first byte picks the layer:
// the string as a host would hand it in; the rest sealed as the query document, so that the
// document reader, the rebuilt FINGERPRINT text and the getters see it past the checks; or the
// rest as a FINGERPRINT document whose Type, Version and Signature, when present, must come
// back unchanged from a serialize-and-deserialize round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fingerprint/fingerprint_serializer.h"
#include "fingerprint/sonquix_fingerprint.h"
#include "runtime/bstr.h"
#include "seal/sealed_container.h"

namespace {

using pelk::Bstr;
using pelk::ComPtr;
using pelk::IFingerprintImpl;
using pelk::IPelkSonquixFingerprint;

constexpr HRESULT (IFingerprintImpl::*kGetters[])(BSTR*) = {
    &IFingerprintImpl::get_Type,       &IFingerprintImpl::get_Version,
    &IFingerprintImpl::get_Signature,  &IFingerprintImpl::get_Channels,
    &IFingerprintImpl::get_SampleRate, &IFingerprintImpl::get_SampleSize,
    &IFingerprintImpl::get_Offset,     &IFingerprintImpl::get_Duration,
    &IFingerprintImpl::get_Units,
};

void ReadAll(IPelkSonquixFingerprint* fingerprint) {
  for (auto getter : kGetters) {
    Bstr value;
    (void)(fingerprint->*getter)(value.Out());
  }
}

void Deserialize(const std::string& text) {
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  if (pelk::DeserializeFingerprint(Bstr::FromUtf8(text).Get(), fingerprint.Out()) == S_OK) {
    ReadAll(fingerprint.Get());
  }
}

// Type, Version and Signature as the getters give them; false when one fails or cannot travel:
// an empty value is written as an element without text, which opening refuses, and the readers
// skip white space before an element's text.
bool Values(IPelkSonquixFingerprint* fingerprint, std::u16string* out) {
  for (auto getter : {&IFingerprintImpl::get_Type, &IFingerprintImpl::get_Version,
                      &IFingerprintImpl::get_Signature}) {
    Bstr value;
    if ((fingerprint->*getter)(value.Out()) != S_OK || value.Empty()) return false;
    const char16_t first = value.View()[0];
    if (first == u' ' || first == u'\t' || first == u'\r' || first == u'\n') return false;
    *out += value.View();
    *out += u'\n';
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      Deserialize(rest);
      break;
    case 1: {
      std::string sealed;
      if (pelk::text::Seal("KZFP", rest.c_str(), pelk::text::kSealEnciphered,
                           &pelk::text::kFingerprintKey, &sealed) == S_OK) {
        Deserialize(sealed);
      }
      break;
    }
    case 2: {
      ComPtr<pelk::CPelkSonquixFingerprint> original =
          pelk::MakeObject<pelk::CPelkSonquixFingerprint>();
      original->SetFPData(rest.data(), static_cast<int32_t>(rest.size()));
      ReadAll(original.Get());
      std::u16string before, after;
      Bstr serialized;
      if (!Values(original.Get(), &before) ||
          pelk::SerializeFingerprint(original.Get(), serialized.Out()) != S_OK) {
        break;
      }
      ComPtr<IPelkSonquixFingerprint> copy;
      if (pelk::DeserializeFingerprint(serialized.Get(), copy.Out()) != S_OK ||
          !Values(copy.Get(), &after) || after != before) {
        __builtin_trap();
      }
      break;
    }
  }
  return 0;
}
