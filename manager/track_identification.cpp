// Single-file identification: TrackID and the per-file routine that album and library
// identification share. Up to five lookups run in order (identifier, waveform, text on the
// waveform suggestions, text on the file's own tag, album plus title); their candidates are
// merged without duplicates and ordered by match quality.
//
// Modes: 1 and 2 are TrackID's (all candidates / a single answer); album and library
// identification pass 3 to 6. Even modes stop at an identifier match and prefer waveform
// answers; odd modes always run the extra text lookups; 4 and 6 look up only the first waveform
// suggestion by text; in modes 3 to 6 album-run text matches lose their match code.
#include <algorithm>

#include "control/control_objects.h"
#include "control/tag_utils.h"
#include "manager/result_records.h"
#include "manager/sonquix_manager.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "model/waveform_hints.h"
#include "runtime/bstr.h"
#include "runtime/thread.h"

namespace pelk {
namespace {

constexpr size_t kIdentifierBufferSize = 1024;

bool EndsAtIdentifierMatch(int32_t mode) { return mode == 2 || mode == 4 || mode == 6; }

int32_t CountOf(IPelkFileInfoList* list) {
  int32_t count = 0;
  return list && SUCCEEDED(list->get_Count(&count)) ? count : 0;
}

// Brackets one lookup step for the control's tracer, when it has one.
class TraceStep {
 public:
  TraceStep(ComPtr<ILookupTracer> tracer, std::u16string_view step)
      : tracer_(std::move(tracer)), step_(step) {
    if (tracer_) tracer_->Begin(step_.Get());
  }
  ~TraceStep() {
    if (tracer_) tracer_->End(step_.Get());
  }
  TraceStep(const TraceStep&) = delete;
  TraceStep& operator=(const TraceStep&) = delete;

 private:
  ComPtr<ILookupTracer> tracer_;
  Bstr step_;
};

// Marks every record of a text result as found another way, scored against the file's tag.
void MarkTextResults(CPelkFileInfoList* results, int32_t match_type, IFileTag* input_tag) {
  for (const ComPtr<IPelkFileInfo>& entry : results->Records()) {
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get());
    if (!record) continue;
    record->put_MatchType(match_type);
    if (input_tag) record->put_OrigTag(input_tag);
  }
}

}  // namespace

bool CPELKSonquixManager::StatusAborts(int32_t status, std::u16string_view file_name,
                                       bool only_one) {
  const int32_t abort = events_.TrackIDStatusUpdate(status, file_name);
  if (!IsInitialized()) return true;
  return only_one ? abort == 1 : abort != 0;
}

HRESULT CPELKSonquixManager::TrackID(IPelkFileInfo* info_in, int32_t options, int32_t* match_code,
                                     IPelkFileInfoList** list_out) {
  if (!info_in) return E_INVALIDARG;
  // Identification keeps its state on the record (acquisition flags, waveform list), which
  // only records of this module carry.
  ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(info_in);
  if (!record) return E_INVALIDARG;
  if (FAILED(NormaliseIdentificationOptions(&options))) return E_INVALIDARG;
  HRESULT hr = record->set_Options(options);
  if (FAILED(hr)) return hr;
  WaitForBackgroundWork();

  const int32_t mode = (options & SONQUIX_RETURN_SINGLE) ? 2 : 1;
  if (!(options & SONQUIX_LOOKUP_ASYNC)) {
    return TrackIDBody(record.Get(), options, match_code, list_out, mode);
  }
  trackid_thread_ = StartWorker([record, options, mode](CPELKSonquixManager& manager) {
    manager.TrackIDBody(record.Get(), options, nullptr, nullptr, mode);
  });
  return trackid_thread_ ? S_OK : E_FAIL;
}

HRESULT CPELKSonquixManager::TrackIDBody(CPelkFileInfo* record, int32_t options,
                                         int32_t* match_code, IPelkFileInfoList** list_out,
                                         int32_t mode) {
  if (!record) return E_INVALIDARG;
  if (match_code) *match_code = 1;
  ComPtr<CPelkFileInfoList> results = MakeObject<CPelkFileInfoList>();
  int32_t code = 1;
  Bstr file_name;
  record->get_Filename(file_name.Out());

  ComPtr<CPelkFileInfoList> candidates;
  HRESULT lookup_result = S_OK;
  const HRESULT identified = (options & SONQUIX_RETURN_ALL)
                                 ? IdentifyFile(record, &candidates, &lookup_result, options, mode)
                                 : IdentifySingle(record, &candidates, &lookup_result, options);
  if (SUCCEEDED(identified) && candidates) {
    results->AppendFileInfoListMatchesNoDuplicate(candidates.Get());
  }

  ComPtr<IPelkSonquixFingerprint> fingerprint;
  record->get_Fingerprint(fingerprint.Out());
  auto put_fingerprint = [&](IPelkFileInfo* entry) {
    if (fingerprint) entry->put_Fingerprint(fingerprint.Get());
  };
  const int32_t count = CountOf(results.Get());
  if (count == 0) {
    // Nothing found: the host gets its own file back, unidentified.
    ComPtr<CPelkFileInfo> copy = MakeObject<CPelkFileInfo>();
    HRESULT added = record->CopyPropertiesTo(copy.Get());
    if (SUCCEEDED(added)) added = results->AddFileInfo(copy.Get());
    if (FAILED(added)) {
      const int32_t abort = events_.TrackIDStatusUpdate(STATUS_SONQUIX_Error, file_name.View());
      record->put_SonquixMatchCode(SONQUIX_MATCH_ERROR);
      results->AddFileInfo(record);
      results->SetListMatchCode(LIST_MATCH_ERROR);
      events_.TrackIDComplete(1, record, results.Get());
      return abort == 0 && IsInitialized() ? E_FAIL : E_ABORT;
    }
    results->SetListMatchCode(LIST_MATCH_NONE);
  } else if (count == 1) {
    ComPtr<IPelkFileInfo> entry;
    ComPtr<IDiscInfo> disc;
    if (SUCCEEDED(results->GetFileInfo(1, entry.Out())) && entry) {
      put_fingerprint(entry.Get());
      entry->get_Disc(disc.Out());
    }
    if (!disc) {
      results->SetListMatchCode(LIST_MATCH_NONE);
    } else if (options & SONQUIX_RETURN_SINGLE) {
      code = 3;
      results->SetListMatchCode(LIST_MATCH_TRACK_SINGLE);
    } else {
      code = 2;
      results->SetListMatchCode(LIST_MATCH_TRACK_MULTIPLE);
      entry->put_SonquixMatchCode(SONQUIX_MATCH_ALL);
    }
  } else {
    code = 2;
    results->SetListMatchCode(LIST_MATCH_TRACK_MULTIPLE);
    for (const ComPtr<IPelkFileInfo>& entry : results->Records()) {
      entry->put_SonquixMatchCode(SONQUIX_MATCH_ALL);
      put_fingerprint(entry.Get());
    }
  }
  if (match_code) *match_code = code;

  const bool failed = FAILED(lookup_result) && code == 1;
  if (failed) {
    results->SetListMatchCode(LIST_MATCH_ERROR);
    for (const ComPtr<IPelkFileInfo>& entry : results->Records()) {
      entry->put_SonquixMatchCode(SONQUIX_MATCH_ERROR);
      put_fingerprint(entry.Get());
    }
  }
  if (mode == 1 || mode == 2) CompleteResultDiscs(*this, results.Get());
  if (list_out) *list_out = ComPtr<IPelkFileInfoList>(results.Get()).Detach();
  events_.TrackIDComplete(code, record, results.Get());
  return failed ? lookup_result : S_OK;
}

HRESULT CPELKSonquixManager::IdentifySingle(CPelkFileInfo* record, ComPtr<CPelkFileInfoList>* list,
                                            HRESULT* lookup_result, int32_t options) {
  if (!lookup_result || !list) return E_POINTER;
  if (!record) return E_INVALIDARG;
  ComPtr<CPelkFileInfoList> candidates;
  HRESULT hr = IdentifyFile(record, &candidates, lookup_result, options, 2);
  if (FAILED(hr)) return hr;
  return PickSingleResult(candidates.Get(), list);
}

HRESULT CPELKSonquixManager::IdentifyFile(CPelkFileInfo* record, ComPtr<CPelkFileInfoList>* list,
                                          HRESULT* lookup_result, int32_t options, int32_t mode) {
  if (!lookup_result) return E_POINTER;
  *lookup_result = S_OK;
  if (!record) return E_INVALIDARG;
  if (!list) return E_POINTER;
  ComPtr<CPelkFileInfoList> merged = MakeObject<CPelkFileInfoList>();
  *list = merged;
  HRESULT hr_id = E_FAIL, hr_wf = E_FAIL, hr_text = E_FAIL;

  // Identifier step.
  ComPtr<CPelkFileInfoList> by_identifier;
  HRESULT hr = IdentifierLookupHelper(record, &by_identifier, &hr_id, options);
  if (hr == E_ABORT) return E_ABORT;
  const bool identifier_listed = SUCCEEDED(hr) && by_identifier;
  if (identifier_listed) hr = merged->AppendFileInfoListMatchesNoDuplicate(by_identifier.Get());
  if (EndsAtIdentifierMatch(mode) && CountOf(merged.Get()) > 0) return S_OK;

  const bool prefer_matches = (options & SONQUIX_PREFER_WF_MATCHES) || EndsAtIdentifierMatch(mode);
  const bool prefer_queries = (options & SONQUIX_PREFER_WF_QUERIES) || EndsAtIdentifierMatch(mode);
  const bool extra_text = (options & SONQUIX_EXTRA_TEXT_QUERIES) || (mode % 2 == 1);
  const bool no_text_lookups = options & SONQUIX_DISABLE_TEXT_LOOKUPS;
  const int32_t text_flag = (mode == 1 || mode == 2) ? 1 : 0;

  // Waveform step.
  ComPtr<CPelkFileInfoList> by_waveform;
  hr = WaveformLookupHelper(record, &by_waveform, &hr_wf, options);
  if (hr == E_ABORT) return E_ABORT;
  const bool waveform_listed = SUCCEEDED(hr) && by_waveform;
  if (waveform_listed) {
    hr = merged->AppendFileInfoListMatchesNoDuplicate(by_waveform.Get());
    if (SUCCEEDED(hr) && mode == 2 && !extra_text && CountOf(merged.Get()) > 0) {
      // A waveform answer this good needs no text lookup to confirm it.
      hr = merged->SortItemsByMatchQuality();
      ComPtr<IPelkFileInfo> first;
      int32_t score = 0;
      if (SUCCEEDED(hr)) hr = merged->GetFileInfo(1, first.Out());
      ComPtr<CPelkFileInfo> best = first ? ImplOf<CPelkFileInfo>(first.Get()) : nullptr;
      if (best && SUCCEEDED(hr = best->GetScore(&score)) && score >= 90) return S_OK;
    }
  }

  Bstr file_name;
  record->get_Filename(file_name.Out());
  ComPtr<IFileTag> input_tag;
  record->get_Tag(input_tag.Out());

  // Text lookups on the artists and titles the waveform candidates suggest.
  if (by_waveform && (!prefer_queries || extra_text)) {
    ComPtr<CPelkFileInfoList> suggestions;
    WaveformHints(by_waveform.Get(), suggestions.Out());
    int32_t count = CountOf(suggestions.Get());
    if (mode == 4 || mode == 6) count = std::min(count, 1);
    for (int32_t i = 1; i <= count; ++i) {
      ComPtr<IPelkFileInfo> entry;
      suggestions->GetFileInfo(i, entry.Out());
      ComPtr<CPelkFileInfo> suggestion = ImplOf<CPelkFileInfo>(entry.Get());
      ComPtr<CPelkFileInfoList> found;
      hr = TextLookupHelper(file_name.View(), suggestion.Get(), &found, &hr_text, options,
                            text_flag);
      if (hr == E_ABORT) return E_ABORT;
      if (found) {
        MarkTextResults(found.Get(), MATCH_TYPE_TXT_ON_WF, input_tag.Get());
        hr = merged->AppendFileInfoListMatchesNoDuplicate(found.Get());
      }
      if (StatusAborts(STATUS_SONQUIX_CheckForAbort, u"")) return E_ABORT;
    }
  }

  // Text lookup on the file's own tag (and, where allowed, its name).
  bool own_text_listed = false;
  const bool run_own_text =
      !no_text_lookups &&
      (CountOf(merged.Get()) == 0 || (!prefer_matches && !prefer_queries) || extra_text);
  if (run_own_text) {
    ComPtr<CPelkFileInfoList> found;
    hr = TextLookupHelper(file_name.View(), record, &found, &hr_text, options, text_flag);
    if (hr == E_ABORT) return E_ABORT;
    own_text_listed = static_cast<bool>(found);
    if (found) hr = merged->AppendFileInfoListMatchesNoDuplicate(found.Get());

    // Album plus title, when no candidate is on the tag's album yet.
    Bstr album, title;
    if (input_tag && SUCCEEDED(input_tag->get_AlbumTitle(album.Out())) && !album.Empty() &&
        !merged->IsAlbumInList(album.View())) {
      input_tag->get_Title(title.Out());
      ComPtr<IFileTag> query_tag;
      if (SUCCEEDED(CreateControlObject(CLSID_PelkFileTag, query_tag.Out())) && query_tag) {
        query_tag->put_AlbumTitle(album.Get());
        if (!title.Empty()) query_tag->put_Title(title.Get());
        ComPtr<CPelkFileInfo> query = MakeObject<CPelkFileInfo>();
        query->put_Filename(file_name.Get());
        query->put_Tag(query_tag.Get());
        ComPtr<CPelkFileInfoList> by_album;
        hr = TextLookupHelper(file_name.View(), query.Get(), &by_album, &hr_text, options,
                              text_flag);
        if (hr == E_ABORT) return E_ABORT;
        if (by_album) {
          MarkTextResults(by_album.Get(), MATCH_TYPE_ALBUM_AND_TITLE, input_tag.Get());
          hr = merged->AppendFileInfoListMatchesNoDuplicate(by_album.Get());
        }
      }
    }
  }

  // An error is reported only when every kind of lookup that was allowed failed.
  const bool identifier_failed = !identifier_listed || FAILED(hr_id);
  const bool text_failed =
      (!own_text_listed || FAILED(hr_text)) &&
      !(options & (SONQUIX_DISABLE_TEXT_LOOKUPS | SONQUIX_DISABLE_TEXT_QUERIES));
  const bool waveform_failed =
      (!waveform_listed || FAILED(hr_wf)) && !(options & SONQUIX_DISABLE_WF_QUERIES);
  if (identifier_failed && text_failed && waveform_failed) {
    *lookup_result = FAILED(hr_text) ? hr_text
                     : FAILED(hr_wf) ? hr_wf
                     : FAILED(hr_id) ? hr_id
                                     : E_FAIL;
  }
  return merged->SortItemsByMatchQuality();
}

HRESULT CPELKSonquixManager::IdentifierLookupHelper(CPelkFileInfo* record,
                                                    ComPtr<CPelkFileInfoList>* list,
                                                    HRESULT* lookup_result, int32_t options) {
  if (!lookup_result) return E_POINTER;
  *lookup_result = S_OK;
  if (!record) return E_INVALIDARG;
  if (!list) return E_POINTER;
  Bstr file_name;
  record->get_Filename(file_name.Out());
  HRESULT hr = AcquireTag(record, options);
  if (FAILED(hr)) return hr;
  ComPtr<IFileTag> tag;
  record->get_Tag(tag.Out());
  if (!tag) return hr;

  ComPtr<ILookupEngine> engine = Engine();
  ComPtr<IDiscInfo> disc;
  int32_t match_type = MATCH_TYPE_TAGID;
  Bstr identifier;
  tag->get_Identifier(identifier.Out());
  if (!identifier.Empty()) {
    if (StatusAborts(STATUS_SONQUIX_LookingUpText, file_name.View(), true)) return E_ABORT;
    int32_t found_track = 0;
    *lookup_result = engine
                         ? engine->IdentifierLookup(identifier.Get(), 0, &found_track, disc.Out())
                         : E_UNEXPECTED;
    if (FAILED(*lookup_result)) disc.Reset();
  }
  if (!disc) {
    std::u16string first, second;
    int32_t track = 0;
    if (SUCCEEDED(ParseITunesIds(file_name.View(), tag.Get(), &first, kIdentifierBufferSize,
                                 &second, kIdentifierBufferSize, &track)) &&
        !first.empty() && !second.empty() && track > 0) {
      if (StatusAborts(STATUS_SONQUIX_LookingUpText, file_name.View(), true)) return E_ABORT;
      // The buffers hold the identifiers swapped: the pair goes out in the field's order.
      *lookup_result = engine ? engine->IdentifierPairLookup(Bstr(second).Get(), Bstr(first).Get(),
                                                             0, 0, 0, disc.Out())
                              : E_UNEXPECTED;
      if (FAILED(*lookup_result)) return *lookup_result;
      if (disc) {
        int32_t track_count = 0;
        disc->get_TrackCount(&track_count);
        if (track > track_count) {
          disc.Reset();
        } else {
          disc->put_CurrentTrack(track);
          match_type = MATCH_TYPE_ITUNESID;
        }
      }
    }
  }
  if (FAILED(*lookup_result) || !disc) return hr;
  hr = EnsureTrackSelected(file_name.View(), tag.Get(), disc.Get());
  if (FAILED(hr)) return hr;
  return SingleDiscToList(*this, file_name.View(), record, disc.Get(), list, kLookupOne,
                          SONQUIX_MATCH_EXACT, match_type, true);
}

HRESULT CPELKSonquixManager::WaveformLookupHelper(CPelkFileInfo* record,
                                                  ComPtr<CPelkFileInfoList>* list,
                                                  HRESULT* lookup_result, int32_t options) {
  if (!record) return E_INVALIDARG;
  if (!lookup_result || !list) return E_POINTER;
  *lookup_result = S_OK;
  if (options & SONQUIX_DISABLE_WF_QUERIES) return S_OK;

  // The waveform lookup is made once per record.
  ComPtr<IPelkFileInfoList> cached;
  HRESULT hr = record->GetWFList(cached.Out());
  if (FAILED(hr)) return hr;
  if (cached) {
    *list = ImplOf<CPelkFileInfoList>(cached.Get());
    return S_OK;
  }

  AcquireFingerprint(record, options);
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  record->get_Fingerprint(fingerprint.Out());
  if (!fingerprint) return S_OK;
  Bstr type, version, signature;
  if (SUCCEEDED(fingerprint->get_Type(type.Out())) &&
      SUCCEEDED(fingerprint->get_Version(version.Out()))) {
    fingerprint->get_Signature(signature.Out());
  }

  Bstr file_name;
  record->get_Filename(file_name.Out());
  if (StatusAborts(STATUS_SONQUIX_LookingUpWaveForm, file_name.View())) return E_ABORT;
  {
    TraceStep trace(Tracer(), u"WaveformLookupHelper");
    ComPtr<ILookupEngine> engine = Engine();
    int32_t kind = kLookupNone;
    *lookup_result =
        engine ? engine->WaveformLookup(type.Get(), version.Get(), signature.Get(), 0, &kind)
               : E_UNEXPECTED;
    if (SUCCEEDED(*lookup_result)) {
      ResultsToList(*this, file_name.View(), record, kind, MATCH_TYPE_WF, 1, list);
    }
  }
  return record->PutWFList(list->Get());
}

HRESULT CPELKSonquixManager::TextLookupHelper(std::u16string_view file_name, CPelkFileInfo* record,
                                              ComPtr<CPelkFileInfoList>* list,
                                              HRESULT* lookup_result, int32_t options,
                                              int32_t text_flag) {
  if (!lookup_result) return E_POINTER;
  *lookup_result = S_OK;
  if (!record) return E_INVALIDARG;
  if (!list) return E_POINTER;
  if (options & SONQUIX_DISABLE_TEXT_QUERIES) return S_OK;

  AcquireTag(record, options);
  ComPtr<IFileTag> tag;
  record->get_Tag(tag.Out());
  if (StatusAborts(STATUS_SONQUIX_LookingUpText, file_name)) return E_ABORT;
  // A text lookup never sends the identifier (the record's own tag is changed on purpose).
  if (tag) tag->put_Identifier(Bstr(u"").Get());

  Bstr record_name;
  record->get_Filename(record_name.Out());
  TraceStep trace(Tracer(), u"TextLookupHelper");
  Bstr title;
  if (tag) tag->get_Title(title.Out());
  // The control parses the file name only when the tag has no title.
  const bool pass_name = title.Empty() && !(options & SONQUIX_DISABLE_FILENAME_PARSING);
  ComPtr<ILookupEngine> engine = Engine();
  int32_t kind = kLookupNone;
  *lookup_result =
      engine ? engine->TextLookup(pass_name ? record_name.Get() : nullptr, tag.Get(), 0, &kind)
             : E_UNEXPECTED;
  return ResultsToList(*this, file_name, record, kind, MATCH_TYPE_TXT, text_flag, list);
}

}  // namespace pelk
