#include "fingerprint/sonquix_fingerprint.h"

#include <cstring>
#include <new>

#include "runtime/bstr.h"
#include "xml/engine_xml.h"

namespace pelk {

HRESULT CPelkSonquixFingerprint::SetFPData(const char* data, int32_t length) {
  if (!data || length == 0) return S_OK;
  if (length < 0) return E_INVALIDARG;
  text_.reset();
  text_length_ = 0;
  tree_.reset();
  const size_t size = static_cast<size_t>(length);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[size + 1]);
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy.get(), data, size);
  copy[size] = '\0';
  text_ = std::move(copy);
  text_length_ = size;
  std::unique_ptr<text::XmlElement> tree;
  try {
    if (text::engine_xml::Parse(text_.get(), text_length_, &tree) == text::engine_xml::kOk) {
      tree_ = std::move(tree);
    }
  } catch (const std::bad_alloc&) {
    // A text that cannot be parsed for want of memory is kept like one that does not parse.
  }
  return S_OK;
}

std::optional<std::string_view> CPelkSonquixFingerprint::DocumentText() const {
  if (!text_) return std::nullopt;
  return std::string_view(text_.get(), strnlen(text_.get(), text_length_));
}

HRESULT CPelkSonquixFingerprint::GetValue(std::string_view path, BSTR* value) const {
  if (!value) return E_POINTER;
  *value = nullptr;
  if (!text_) return E_PENDING;
  if (!tree_) return E_FAIL;
  const std::optional<std::string_view> found = text::engine_xml::Value(tree_.get(), path);
  if (!found) return S_OK;
  *value = AllocBstrUtf8(*found);
  return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPelkSonquixFingerprint::get_Type(BSTR* value) {
  return GetValue("FINGERPRINT/ALG", value);
}
HRESULT CPelkSonquixFingerprint::get_Version(BSTR* value) {
  return GetValue("FINGERPRINT/VERSION", value);
}
HRESULT CPelkSonquixFingerprint::get_Signature(BSTR* value) {
  return GetValue("FINGERPRINT/DATA", value);
}
HRESULT CPelkSonquixFingerprint::get_Channels(BSTR* value) {
  return GetValue("FINGERPRINT/AUDIO/CHANNELS", value);
}
HRESULT CPelkSonquixFingerprint::get_SampleRate(BSTR* value) {
  return GetValue("FINGERPRINT/AUDIO/SAMPLE_RATE", value);
}
HRESULT CPelkSonquixFingerprint::get_SampleSize(BSTR* value) {
  return GetValue("FINGERPRINT/AUDIO/SAMPLE_SIZE", value);
}
HRESULT CPelkSonquixFingerprint::get_Offset(BSTR* value) {
  return GetValue("FINGERPRINT/AUDIO/OFFSET", value);
}
HRESULT CPelkSonquixFingerprint::get_Duration(BSTR* value) {
  return GetValue("FINGERPRINT/AUDIO/DURATION", value);
}
HRESULT CPelkSonquixFingerprint::get_Units(BSTR* value) {
  return GetValue("FINGERPRINT/AUDIO/DURATION/UNITS", value);
}

}  // namespace pelk
