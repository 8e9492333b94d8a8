#include "model/waveform_hints.h"

#include <algorithm>

#include "control/control_objects.h"
#include "model/file_info_list.h"
#include "text/normalize.h"

namespace pelk {
namespace {

struct TallyEntry {
  WaveformPair pair;
  std::u16string artist_key;  // standard normalizations, compared exactly
  std::u16string title_key;
};

// The (artist, title) a candidate disc names; false when the candidate is skipped.
bool PairOfDisc(IDiscInfo* disc, std::u16string* artist, std::u16string* title) {
  Bstr text;
  if (SUCCEEDED(disc->get_Artist(text.Out()))) *artist = text.View();
  int32_t count = 0, track = 0;
  HRESULT read = E_FAIL;
  if (SUCCEEDED(disc->get_TrackCount(&count)) && count == 1) {
    // A disc of one track names its track 1. A lookup's answer also counts one track but
    // carries only its current one, which may be any number: then that one is read.
    track = 1;
    read = disc->GetTrackTitle(track, text.Out());
    int32_t current = 0;
    if (FAILED(read) && SUCCEEDED(disc->get_CurrentTrack(&current)) && current > 1) {
      track = current;
      read = disc->GetTrackTitle(track, text.Out());
    }
  } else if (FAILED(disc->get_CurrentTrack(&track)) || track == 0) {
    return false;
  } else {
    read = disc->GetTrackTitle(track, text.Out());
  }
  if (SUCCEEDED(read)) *title = text.View();
  ComPtr<ITrackInfo> info;
  if (SUCCEEDED(disc->GetTrack(track, info.Out())) && info &&
      SUCCEEDED(info->get_Artist(text.Out())) && !text.Empty()) {
    *artist = text.View();
  }
  return true;
}

HRESULT Tally(const std::vector<ComPtr<IPelkFileInfo>>& candidates,
              std::vector<WaveformPair>* tally) {
  HRESULT hr = S_OK;
  std::vector<TallyEntry> entries;
  for (const auto& candidate : candidates) {
    ComPtr<IDiscInfo> disc;
    if (FAILED(hr = candidate->get_Disc(disc.Out()))) return hr;
    std::u16string artist, title;
    if (!disc || !PairOfDisc(disc.Get(), &artist, &title)) continue;
    if (artist.empty() || title.empty()) return E_INVALIDARG;
    std::u16string artist_key = text::StandardNormalized(artist);
    std::u16string title_key = text::StandardNormalized(title);
    auto same = std::find_if(entries.begin(), entries.end(), [&](const TallyEntry& e) {
      return e.artist_key == artist_key && e.title_key == title_key;
    });
    if (same != entries.end()) {
      ++same->pair.count;
    } else if (entries.size() == kMaxWaveformPairs) {
      return E_OUTOFMEMORY;
    } else {
      entries.push_back(
          {{std::move(artist), std::move(title), 1}, std::move(artist_key), std::move(title_key)});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const TallyEntry& a, const TallyEntry& b) {
      return a.pair.count > b.pair.count;
    });
  }
  for (TallyEntry& entry : entries) tally->push_back(std::move(entry.pair));
  return S_OK;
}

}  // namespace

HRESULT TallyWaveformPairs(IPelkFileInfoList* list, std::vector<WaveformPair>* tally) {
  tally->clear();
  if (!list) return E_FAIL;
  // One consistent reading of the candidates, even while another thread changes the list.
  std::vector<ComPtr<IPelkFileInfo>> candidates;
  const HRESULT hr = RecordsOf(list, &candidates);
  return FAILED(hr) ? hr : Tally(candidates, tally);
}

HRESULT WaveformHints(IPelkFileInfoList* list, CPelkFileInfoList** suggestions) {
  if (!list) return E_FAIL;
  if (!suggestions) return E_POINTER;
  *suggestions = nullptr;
  ComPtr<CPelkFileInfoList> made = MakeObject<CPelkFileInfoList>();
  if (!made) return E_OUTOFMEMORY;
  made.CopyTo(suggestions);

  std::vector<ComPtr<IPelkFileInfo>> candidates;
  HRESULT hr = RecordsOf(list, &candidates);
  if (FAILED(hr)) return hr;
  std::vector<WaveformPair> tally;
  if (FAILED(hr = Tally(candidates, &tally))) return hr;

  int32_t options = SONQUIX_DEFAULT_OPTIONS;
  if (!candidates.empty()) {
    ComPtr<CPelkFileInfo> impl = ImplOf<CPelkFileInfo>(candidates.front().Get());
    if (!impl || FAILED(impl->get_Options(&options))) options = SONQUIX_DEFAULT_OPTIONS;
  }

  for (const WaveformPair& pair : tally) {
    ComPtr<IFileTag> tag;
    if (FAILED(hr = CreateControlObject(CLSID_PelkFileTag, tag.Out()))) return hr;
    if (!tag) return E_FAIL;
    Bstr artist(pair.artist), title(pair.title);
    if (FAILED(hr = tag->put_Artist(artist.Get()))) return hr;
    if (FAILED(hr = tag->put_Title(title.Get()))) return hr;
    ComPtr<CPelkFileInfo> record = MakeObject<CPelkFileInfo>();
    if (!record) return E_OUTOFMEMORY;
    record->put_Tag(tag.Get());
    record->set_Options(options);
    if (FAILED(hr = made->AddFileInfo(record.Get()))) return hr;
  }
  return S_OK;
}

}  // namespace pelk
