// The list's searches, appends and waveform verification.
#include "model/file_info_list.h"
#include "text/case_fold.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Longest path the folder searches look at (a 260-character buffer less its terminator).
constexpr size_t kPathLimit = CPelkFileInfoList::kFolderBufferSize - 1;

bool IsWaveformKind(int32_t match_type) {
  return match_type == MATCH_TYPE_WF_HINT || match_type == MATCH_TYPE_WF ||
         match_type == MATCH_TYPE_TXT_ON_WF;
}

// A text property of a tag or disc (empty when it cannot be read).
template <class T>
Bstr TextOf(T* object, HRESULT (T::*get)(BSTR*)) {
  Bstr value;
  if (!object || FAILED((object->*get)(value.Out()))) value.Reset();
  return value;
}

}  // namespace

HRESULT CPelkFileInfoList::GetFileInfoByFilename(std::u16string_view file_name,
                                                 IPelkFileInfo** record) {
  if (file_name.empty() || !record) return E_INVALIDARG;
  Lock lock(mutex_);
  for (const Entry& entry : entries_) {
    Bstr name;
    if (SUCCEEDED(entry.record->get_Filename(name.Out())) && name.View() == file_name) {
      entry.record.CopyTo(record);
      break;
    }
  }
  return S_OK;
}

bool CPelkFileInfoList::IsFilenameInList(std::u16string_view file_name) {
  if (file_name.empty()) return false;
  Lock lock(mutex_);
  for (const Entry& entry : entries_) {
    Bstr name;
    if (SUCCEEDED(entry.record->get_Filename(name.Out())) &&
        name.View().substr(0, kPathLimit) == file_name) {
      return true;
    }
  }
  return false;
}

HRESULT CPelkFileInfoList::IsFileInfoInList(IPelkFileInfo* record, bool* flag) {
  if (!record) return E_INVALIDARG;
  if (!flag) return E_POINTER;
  Lock lock(mutex_);
  *flag = false;
  for (const Entry& entry : entries_) {
    if (entry.record.Get() == record) {
      *flag = true;
      break;
    }
  }
  return S_OK;
}

HRESULT CPelkFileInfoList::AddFileInfoNoDuplicate(IPelkFileInfo* record) {
  if (!record) return E_INVALIDARG;
  Lock lock(mutex_);
  bool present = false;
  IsFileInfoInList(record, &present);
  return present ? S_OK : AddFileInfo(record);
}

int32_t CPelkFileInfoList::FindDisc(IDiscInfo* disc, DiscComparer& comparer) {
  if (!disc) return 0;
  int32_t track = 0;
  if (FAILED(disc->get_CurrentTrack(&track))) return 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    ComPtr<IDiscInfo> entry_disc;
    int32_t entry_track = 0;
    if (FAILED(entries_[i].record->get_Disc(entry_disc.Out())) || !entry_disc ||
        FAILED(entry_disc->get_CurrentTrack(&entry_track)) || entry_track != track) {
      continue;
    }
    bool same = false;
    if (SUCCEEDED(comparer.IsSameDisc(entry_disc.Get(), disc, &same)) && same) {
      return static_cast<int32_t>(i + 1);
    }
  }
  return 0;
}

int32_t CPelkFileInfoList::IsDiscInList(IDiscInfo* disc) {
  Lock lock(mutex_);
  DiscComparer comparer;
  return FindDisc(disc, comparer);
}

HRESULT CPelkFileInfoList::GetFileInfoByDisc(IDiscInfo* disc, IPelkFileInfo** record) {
  if (!disc || !record) return E_INVALIDARG;
  Lock lock(mutex_);
  DiscComparer comparer;
  for (const Entry& entry : entries_) {
    ComPtr<IDiscInfo> entry_disc;
    if (FAILED(entry.record->get_Disc(entry_disc.Out())) || !entry_disc) break;
    bool same = false;
    if (SUCCEEDED(comparer.IsSameDisc(entry_disc.Get(), disc, &same)) && same) {
      entry.record.CopyTo(record);
      break;
    }
  }
  return S_OK;
}

bool CPelkFileInfoList::IsAlbumInList(std::u16string_view album_title) {
  if (album_title.empty()) return false;
  const std::u16string wanted = text::StandardNormalized(album_title);
  Lock lock(mutex_);
  for (const Entry& entry : entries_) {
    ComPtr<IDiscInfo> disc;
    if (FAILED(entry.record->get_Disc(disc.Out())) || !disc) continue;
    const Bstr album = TextOf(disc.Get(), &IDiscInfo::get_AlbumTitle);
    if (text::EqualsIgnoreCase(text::StandardNormalized(album.View()), wanted)) return true;
  }
  return false;
}

bool CPelkFileInfoList::IsArtistAndTitleInList(IFileTag* tag) {
  if (!tag) return false;
  const std::u16string artist = text::StandardNormalized(TextOf(tag, &IFileTag::get_Artist).View());
  const std::u16string title = text::StandardNormalized(TextOf(tag, &IFileTag::get_Title).View());
  Lock lock(mutex_);
  for (const Entry& entry : entries_) {
    ComPtr<IFileTag> entry_tag;
    if (FAILED(entry.record->get_Tag(entry_tag.Out())) || !entry_tag) continue;
    const Bstr entry_artist = TextOf(entry_tag.Get(), &IFileTag::get_Artist);
    const Bstr entry_title = TextOf(entry_tag.Get(), &IFileTag::get_Title);
    if (text::EqualsIgnoreCase(text::StandardNormalized(entry_artist.View()), artist) &&
        text::EqualsIgnoreCase(text::StandardNormalized(entry_title.View()), title)) {
      return true;
    }
  }
  return false;
}

std::u16string CPelkFileInfoList::FolderOfEntry(size_t i) {
  OrderingFacts facts(entries_[i].impl.Get());
  return std::u16string(facts.SortFolder());
}

bool CPelkFileInfoList::IsFileInMyFolder(std::u16string_view path) {
  if (path.empty()) return false;
  const std::u16string_view cut = path.substr(0, kPathLimit);
  const size_t separator = cut.find_last_of(u"\\/");
  if (separator == std::u16string_view::npos || separator == 0) return false;
  const std::u16string_view folder = cut.substr(0, separator);
  Lock lock(mutex_);
  if (entries_.empty()) return false;
  return text::EqualsIgnoreCase(folder, FolderOfEntry(0));
}

HRESULT CPelkFileInfoList::HasQueryResults(bool* flag) {
  if (!flag) return E_POINTER;
  Lock lock(mutex_);
  *flag = false;
  for (const Entry& entry : entries_) {
    HRESULT hr = S_OK;
    const int32_t type = MatchTypeOf(entry, &hr);
    if (FAILED(hr)) return hr;
    if (type != MATCH_TYPE_ALBUM_ASSOCIATED) {
      *flag = true;
      break;
    }
  }
  return S_OK;
}

HRESULT CPelkFileInfoList::VerifyWFAgainstInfo(int32_t index, int32_t* result) {
  if (!result) return E_POINTER;
  *result = 0;
  Lock lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  const Entry& entry = entries_[static_cast<size_t>(index - 1)];
  ComPtr<IFileTag> tag;
  HRESULT hr = entry.record->get_Tag(tag.Out());
  if (FAILED(hr)) return hr;
  if (!tag) return E_FAIL;
  const int32_t type = MatchTypeOf(entry);
  if (IsWaveformKind(type)) {
    *result = 1;
    return S_OK;
  }
  if (type == MATCH_TYPE_NONE) return E_FAIL;
  const Bstr title = TextOf(tag.Get(), &IFileTag::get_Title);
  if (title.Empty()) {
    *result = 2;
    return S_OK;
  }
  bool waveform_seen = false;
  for (const Entry& other : entries_) {
    if (!IsWaveformKind(MatchTypeOf(other))) continue;
    waveform_seen = true;
    ComPtr<IFileTag> other_tag;
    if (FAILED(other.record->get_Tag(other_tag.Out())) || !other_tag) continue;
    const Bstr other_title = TextOf(other_tag.Get(), &IFileTag::get_Title);
    if (!other_title.Empty() && text::IsSameTitle(other_title.View(), title.View())) {
      *result = 1;
      return S_OK;
    }
  }
  *result = waveform_seen ? 0 : 2;
  return S_OK;
}

HRESULT CPelkFileInfoList::AppendList(IPelkFileInfoList* list) {
  std::vector<ComPtr<IPelkFileInfo>> records;
  HRESULT hr = RecordsOf(list, &records);
  if (FAILED(hr)) return hr;
  Lock lock(mutex_);
  for (const auto& record : records) {
    if (FAILED(hr = AddFileInfo(record.Get()))) return hr;
  }
  return S_OK;
}

HRESULT CPelkFileInfoList::AppendFileInfoListMatchesNoDuplicate(IPelkFileInfoList* list) {
  std::vector<ComPtr<IPelkFileInfo>> records;
  HRESULT hr = RecordsOf(list, &records);
  if (FAILED(hr)) return hr;
  Lock lock(mutex_);
  DiscComparer comparer;
  for (const auto& record : records) {
    int32_t code = SONQUIX_MATCH_NONE;
    ComPtr<IDiscInfo> disc;
    if (FAILED(record->get_SonquixMatchCode(&code)) || code == SONQUIX_MATCH_NONE ||
        code == SONQUIX_MATCH_ERROR || FAILED(record->get_Disc(disc.Out())) || !disc) {
      continue;
    }
    const int32_t k = FindDisc(disc.Get(), comparer);
    if (k == 0) {
      if (FAILED(hr = AddFileInfo(record.Get()))) return hr;
      continue;
    }
    const Entry incoming = MakeEntry(record.Get());
    OrderingFacts incoming_facts(incoming.impl.Get());
    OrderingFacts existing_facts(entries_[static_cast<size_t>(k - 1)].impl.Get());
    if (MatchTypeBefore(incoming_facts, existing_facts)) {
      RemoveAt(static_cast<size_t>(k - 1));
      if (FAILED(hr = AddFileInfo(record.Get()))) return hr;
    }
  }
  return S_OK;
}

}  // namespace pelk
