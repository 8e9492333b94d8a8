// CPelkSonquixFingerprint: one waveform fingerprint, a thin wrapper around its FINGERPRINT
// document. Its properties read single values out of the parsed document by path.
//
// Answers IUnknown, IPelkSonquixFingerprint and IFingerprintImpl (not IDispatch's own
// identifier, although the interfaces are dual), plus the private kImplIid. Not aggregatable.
// No lock: the object is filled once and then read; SetFPData concurrent with reads is not
// supported. Freed with its last reference.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelk/fingerprint_interfaces.h"
#include "runtime/object.h"
#include "xml/xml_element.h"

namespace pelk {

class CPelkSonquixFingerprint final
    : public Object<CPelkSonquixFingerprint, Dual<IPelkSonquixFingerprint>> {
 public:
  static constexpr IID kImplIid = MakeGuid("0E6A2C47-5B1D-4F39-8C62-9D4B7E1A3F05");
  static constexpr bool kHidesIDispatch = true;

  // Keeps a private copy of `length` bytes (plus a NUL) and parses it; a text that does not
  // parse is kept without a tree, and the call still succeeds. Null data or length 0: S_OK,
  // nothing changes. A negative length: E_INVALIDARG.
  HRESULT SetFPData(const char* data, int32_t length) override;

  // The getters: E_POINTER for a null out-pointer, E_PENDING before any document was set,
  // E_FAIL when the document did not parse, otherwise S_OK with the value, or with a null
  // string when the document does not hold it.
  HRESULT get_Type(BSTR* value) override;        // FINGERPRINT/ALG
  HRESULT get_Version(BSTR* value) override;     // FINGERPRINT/VERSION
  HRESULT get_Signature(BSTR* value) override;   // FINGERPRINT/DATA
  HRESULT get_Channels(BSTR* value) override;    // FINGERPRINT/AUDIO/CHANNELS
  HRESULT get_SampleRate(BSTR* value) override;  // FINGERPRINT/AUDIO/SAMPLE_RATE
  HRESULT get_SampleSize(BSTR* value) override;  // FINGERPRINT/AUDIO/SAMPLE_SIZE
  HRESULT get_Offset(BSTR* value) override;      // FINGERPRINT/AUDIO/OFFSET
  HRESULT get_Duration(BSTR* value) override;    // FINGERPRINT/AUDIO/DURATION
  HRESULT get_Units(BSTR* value) override;       // FINGERPRINT/AUDIO/DURATION/UNITS

  // --- internal operations ---
  // The document text as given to SetFPData, up to its first NUL; nullopt before any was set.
  std::optional<std::string_view> DocumentText() const;

 private:
  HRESULT GetValue(std::string_view path, BSTR* value) const;

  std::unique_ptr<char[]> text_;  // NUL-terminated private copy, or none
  size_t text_length_ = 0;
  std::unique_ptr<text::XmlElement> tree_;  // none when no text was set or it did not parse
};

}  // namespace pelk
