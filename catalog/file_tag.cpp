#include "catalog/file_tag.h"

#include <string>

#include "runtime/utf.h"

namespace pelk {

namespace catalog {
namespace {

HRESULT OutText(std::u16string_view text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = AllocBstr(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// The text a field name stands for, when it names one of the texts rather than a field.
std::optional<TagText> TextOfFieldName(std::u16string_view name) {
  if (SameFieldName(name, kIdentifierField)) return kTagIdentifier;
  return TextOfId3Frame(name);
}

}  // namespace

HRESULT FileTagState::GetText(TagText text, BSTR* value) const {
  if (!value) return E_POINTER;
  std::lock_guard lock(mutex_);
  return OutText(data_.texts[text], value);
}

HRESULT FileTagState::PutText(TagText text, BSTR value) {
  std::lock_guard lock(mutex_);
  data_.texts[text] = BstrView(value);
  return S_OK;
}

HRESULT FileTagState::GetField(BSTR name, BSTR* value) const {
  const std::u16string_view key = BstrView(name);
  if (key.empty()) return E_INVALIDARG;
  if (!value) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (auto text = TextOfFieldName(key)) return OutText(data_.texts[*text], value);
  auto it = data_.fields.find(key);
  if (it != data_.fields.end() && !it->second.empty()) return OutText(it->second, value);
  if (SameFieldName(key, kLengthField) && data_.length_ms >= 0) {
    return OutText(Utf8ToUtf16(std::to_string(data_.length_ms)), value);
  }
  return OutText(u"", value);
}

HRESULT FileTagState::PutField(BSTR name, BSTR value) {
  const std::u16string_view key = BstrView(name);
  if (key.empty()) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  if (auto text = TextOfFieldName(key)) {
    data_.texts[*text] = BstrView(value);
    return S_OK;
  }
  // The latest spelling of the name is the one written to files.
  if (auto it = data_.fields.find(key); it != data_.fields.end()) data_.fields.erase(it);
  data_.fields.emplace(std::u16string(key), std::u16string(BstrView(value)));
  return S_OK;
}

HRESULT FileTagState::Load(std::u16string_view file_name) {
  if (file_name.empty()) return E_INVALIDARG;
  TagData read;
  if (HRESULT hr = ReadTagFile(file_name, &read); FAILED(hr)) return hr;
  std::lock_guard lock(mutex_);
  data_ = std::move(read);
  file_ = file_name;
  return S_OK;
}

HRESULT FileTagState::Save(std::u16string_view file_name) const {
  std::lock_guard lock(mutex_);
  const std::u16string_view target = file_name.empty() ? std::u16string_view(file_) : file_name;
  if (target.empty()) return E_INVALIDARG;
  return WriteTagFile(target, data_);
}

HRESULT FileTagState::GetFileName(BSTR* value) const {
  if (!value) return E_POINTER;
  std::lock_guard lock(mutex_);
  return OutText(file_, value);
}

TagData FileTagState::Data() const {
  std::lock_guard lock(mutex_);
  return data_;
}

void FileTagState::SetData(TagData data) {
  std::lock_guard lock(mutex_);
  data_ = std::move(data);
}

HRESULT CreateCatalogFileTag(bool media_file_tag, REFIID iid, void** object) {
  if (media_file_tag) return CatalogMediaFileTag::CreateInstance(nullptr, iid, object);
  return CatalogFileTag::CreateInstance(nullptr, iid, object);
}

HRESULT SaveCatalogFileTag(IUnknown* tag, BSTR file_name) {
  if (!tag) return E_INVALIDARG;
  ComPtr<IFileTagStore> store;
  if (FAILED(tag->QueryInterface(IFileTagStore::kIid, store.OutVoid()))) return E_INVALIDARG;
  return store->SaveToFile(file_name, 0);
}

}  // namespace catalog
}  // namespace pelk
