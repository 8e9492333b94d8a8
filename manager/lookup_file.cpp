// The single-call lookups of the first manager interface. LookupFile runs a waveform and/or a
// text lookup for one file and commits its choice (one disc or a collection) to the lookup
// engine, which keeps it as its current answer; the call returns only a match code.
// ResolveLookup picks the disc of a host's collection that fits a file; CompareTrackToFile
// grades one track of a disc against a file.
//
// A waveform or text lookup that fails while the other kind can still answer counts as no
// answer (kind 1): a failing call may have written anything into its result kind.
#include <string>

#include "control/control_objects.h"
#include "manager/lookup_matching.h"
#include "manager/manager_error.h"
#include "manager/result_records.h"
#include "manager/shared_control.h"
#include "manager/sonquix_manager.h"
#include "runtime/bstr.h"

namespace pelk {
namespace {

constexpr int32_t kNoMatch = 1;
constexpr int32_t kOneDisc = 3;
// ResolveCore's distances from the pass that also honours the folder's file count are worth a
// little more.
constexpr int32_t kFolderPassBonus = 5;

class TraceLookup {
 public:
  TraceLookup(ComPtr<ILookupTracer> tracer, std::u16string_view step)
      : tracer_(std::move(tracer)), step_(step) {
    if (tracer_) tracer_->Begin(step_.Get());
  }
  ~TraceLookup() {
    if (tracer_) tracer_->End(step_.Get());
  }
  TraceLookup(const TraceLookup&) = delete;
  TraceLookup& operator=(const TraceLookup&) = delete;

 private:
  ComPtr<ILookupTracer> tracer_;
  Bstr step_;
};

bool IsCollectionKind(int32_t kind) {
  return kind == kLookupSeveral || kind == kLookupSeveralClose;
}

// Tags from the host or read from the file; null when neither is there.
ComPtr<IFileTag> TagForFile(CPELKSonquixManager& manager, BSTR file_name, IFileTag* tag) {
  ComPtr<IFileTag> result(tag);
  if (!result && !BstrView(file_name).empty()) {
    ComPtr<IFileTag> read;
    if (SUCCEEDED(manager.GetTagInternal(file_name, read.Out())) && read) result = read;
  }
  return result;
}

// One LookupFile call: its inputs, the waveform answer (W) and the text hints it gave.
class LookupFileRun {
 public:
  LookupFileRun(CPELKSonquixManager& manager, BSTR file_name, IFileTag* tag, int32_t mode,
                int32_t event_on_completion, int32_t* match_code)
      : manager_(manager),
        file_name_(file_name),
        tag_(tag),
        file_(BstrView(file_name), tag),
        mode_(mode),
        event_on_completion_(event_on_completion),
        match_code_(match_code),
        engine_(manager.Engine()) {}

  HRESULT Run(IPelkSonquixFingerprint* fp);

 private:
  bool Has(int32_t bits) const { return (mode_ & bits) != 0; }
  bool Aborts(int32_t status, std::u16string_view name) {
    return manager_.StatusAborts(status, name);
  }

  // Each commits and sets the match code; its result is LookupFile's.
  HRESULT CommitDisc(IDiscInfo* disc) {
    *match_code_ = kOneDisc;
    return engine_ ? engine_->SelectDisc(disc) : E_UNEXPECTED;
  }
  HRESULT CommitCollection(IDiscList* discs, int32_t code) {
    *match_code_ = code;
    return engine_ ? engine_->SelectCollection(discs) : E_UNEXPECTED;
  }

  HRESULT Waveform(IPelkSonquixFingerprint* fp, bool* done);
  HRESULT LocalResolution(bool* done);
  HRESULT Text(bool waveform_ran);
  HRESULT CombineOneTextDisc(IDiscInfo* text_disc);
  HRESULT CombineTextCollection(IDiscList* text_discs);
  // The waveform collection resolved by the three passes, for kinds 2 and 5 when a multi hint
  // is set; else (or when nothing fits) the collection itself with match code W.
  HRESULT CommitWaveformCollection(bool resolve);

  // The three passes: (n,0,0), (n,3,3), (0,0,0) with n the folder count.
  HRESULT ResolvePasses(IDiscList* discs, ComPtr<IDiscInfo>* disc, int32_t* distance = nullptr);

  ComPtr<IDiscInfo> SingleMatch() {
    ComPtr<IDiscInfo> disc;
    ComPtr<ILookupControl> control = SharedControlState::Instance().Control();
    if (!control || FAILED(control->GetSingleMatch(disc.Out()))) disc.Reset();
    return disc;
  }
  ComPtr<IDiscList> MatchCollection() {
    ComPtr<IDiscList> discs;
    ComPtr<ILookupControl> control = SharedControlState::Instance().Control();
    if (!control || FAILED(control->GetMatchCollection(discs.Out()))) discs.Reset();
    return discs;
  }

  CPELKSonquixManager& manager_;
  BSTR file_name_;
  IFileTag* tag_;
  LookupFileSide file_;
  int32_t mode_;
  int32_t event_on_completion_;
  int32_t* match_code_;
  ComPtr<ILookupEngine> engine_;

  int32_t w_ = 0;  // waveform result kind; 0 when no waveform lookup ran
  ComPtr<IDiscInfo> wf_disc_;
  ComPtr<IDiscList> wf_discs_;
  int32_t wf_count_ = 0;
  std::u16string hint_artist_, hint_title_;
};

HRESULT LookupFileRun::Run(IPelkSonquixFingerprint* fp) {
  *match_code_ = kNoMatch;
  const bool waveform = fp && Has(WAVEFORM_LOOKUP);
  if (waveform) {
    bool done = false;
    HRESULT hr = Waveform(fp, &done);
    if (done) return hr;
  }
  bool done = false;
  HRESULT hr = LocalResolution(&done);
  if (done) return hr;
  if (!Has(TEXT_LOOKUP)) {
    *match_code_ = kNoMatch;
    return E_FAIL;
  }
  return Text(waveform);
}

HRESULT LookupFileRun::Waveform(IPelkSonquixFingerprint* fp, bool* done) {
  *done = true;
  if (Aborts(STATUS_SONQUIX_LookingUpWaveForm, BstrView(file_name_))) return E_FAIL;
  Bstr type, version, signature;
  HRESULT hr = fp->get_Type(type.Out());
  if (SUCCEEDED(hr)) hr = fp->get_Version(version.Out());
  if (SUCCEEDED(hr)) hr = fp->get_Signature(signature.Out());
  if (FAILED(hr)) return hr;
  if (!engine_) return E_UNEXPECTED;
  if (event_on_completion_) {
    // The control reports the answer itself when it is complete.
    return engine_->WaveformLookup(type.Get(), version.Get(), signature.Get(), 1, nullptr);
  }

  w_ = kLookupNone;
  hr = engine_->WaveformLookup(type.Get(), version.Get(), signature.Get(), 0, &w_);
  if (Aborts(STATUS_SONQUIX_CheckForAbort, u"")) return E_FAIL;
  if (FAILED(hr)) {
    if (!Has(TEXT_LOOKUP)) return hr;
    w_ = kLookupNone;
  }

  switch (w_) {
    case kLookupNone:
      if (!Has(TEXT_LOOKUP)) return hr;
      break;
    case kLookupSeveral:
      wf_discs_ = MatchCollection();
      if (!wf_discs_) {
        // An answer that cannot be read is no answer.
        if (!Has(TEXT_LOOKUP)) return E_FAIL;
        w_ = kLookupNone;
        break;
      }
      if (!(Has(TEXT_LOOKUP) && Has(TEXT_HINT_FUZZY) && Has(TEXT_HINT_MULTI_FUZZY))) {
        return CommitCollection(wf_discs_.Get(), kLookupSeveral);
      }
      hr = wf_discs_->get_Count(&wf_count_);
      if (FAILED(hr)) return hr;
      break;
    case kLookupOne: {
      wf_disc_ = SingleMatch();
      if (!wf_disc_) {
        if (!Has(TEXT_LOOKUP)) return E_FAIL;
        w_ = kLookupNone;
        break;
      }
      EnsureTrackSelected(BstrView(file_name_), tag_, wf_disc_.Get());
      if (!Has(TEXT_LOOKUP) || IsGoodMatch(wf_disc_.Get(), file_)) {
        return CommitDisc(wf_disc_.Get());
      }
      Bstr artist, title;
      int32_t current = 0;
      wf_disc_->get_Artist(artist.Out());
      if (SUCCEEDED(wf_disc_->get_CurrentTrack(&current))) {
        wf_disc_->GetTrackTitle(current, title.Out());
      }
      hint_artist_ = artist.View();
      hint_title_ = title.View();
      break;
    }
    case kLookupSeveralClose:
      wf_discs_ = MatchCollection();
      if (!wf_discs_) {
        if (!Has(TEXT_LOOKUP)) return E_FAIL;
        w_ = kLookupNone;
        break;
      }
      if (!Has(TEXT_LOOKUP) && !Has(TEXT_HINT_MULTI_EXACT)) {
        return CommitCollection(wf_discs_.Get(), kLookupSeveralClose);
      }
      hr = wf_discs_->get_Count(&wf_count_);
      if (FAILED(hr)) return hr;
      break;
    default:
      break;
  }
  *done = false;
  return S_OK;
}

HRESULT LookupFileRun::LocalResolution(bool* done) {
  *done = false;
  if (!wf_discs_ || wf_count_ <= 0 || !Has(TEXT_LOCAL) || !IsCollectionKind(w_)) return S_OK;
  ComPtr<IDiscInfo> named;
  int32_t track = 0;
  if (const int32_t index = BestDiscByFileName(wf_discs_.Get(), file_)) {
    ComPtr<IDiscInfo> disc;
    if (SUCCEEDED(wf_discs_->get_Item(index, disc.Out())) && disc) {
      if (FAILED(manager_.FullDiscWithTrack(disc.Get(), &named, &track))) named.Reset();
    }
  }
  if (named) {
    if (!Has(TEXT_LOOKUP)) {
      *done = true;
      return CommitDisc(named.Get());
    }
    int32_t track_count = 0;
    named->get_TrackCount(&track_count);
    const int32_t hint_track = track_count == 1 ? 1 : track;
    Bstr artist, title;
    named->get_Artist(artist.Out());
    ComPtr<ITrackInfo> info;
    if (SUCCEEDED(named->GetTrack(hint_track, info.Out())) && info) {
      Bstr track_artist;
      if (SUCCEEDED(info->get_Artist(track_artist.Out())) && !track_artist.Empty()) {
        artist = std::move(track_artist);
      }
    }
    named->GetTrackTitle(hint_track, title.Out());
    hint_artist_ = artist.View();
    hint_title_ = title.View();
    wf_disc_ = named;
    w_ = kLookupOne;
    return S_OK;
  }
  if (Has(TEXT_LOOKUP)) {
    if (w_ == kLookupSeveralClose) {
      HRESULT hr = CollectionHints(wf_discs_.Get(), &hint_artist_, &hint_title_);
      if (FAILED(hr)) {
        *done = true;
        return hr;
      }
    }
    return S_OK;
  }
  *done = true;
  ComPtr<IDiscInfo> resolved;
  if (SUCCEEDED(ResolvePasses(wf_discs_.Get(), &resolved)) && resolved) {
    return CommitDisc(resolved.Get());
  }
  return CommitCollection(wf_discs_.Get(), w_);
}

HRESULT LookupFileRun::ResolvePasses(IDiscList* discs, ComPtr<IDiscInfo>* disc, int32_t* distance) {
  int32_t folder_count = 0;
  if (FAILED(FolderFileCount(BstrView(file_name_), &folder_count))) folder_count = 0;
  int32_t track = 0;
  int32_t found = 0;
  HRESULT hr = manager_.ResolveCore(discs, folder_count, 0, 0, file_, disc, &track, &found);
  if (SUCCEEDED(hr)) {
    if (distance) *distance = found - kFolderPassBonus;
    return hr;
  }
  if (folder_count != 0) {
    hr = manager_.ResolveCore(discs, folder_count, 3, 3, file_, disc, &track, distance);
    if (SUCCEEDED(hr)) return hr;
    hr = manager_.ResolveCore(discs, 0, 0, 0, file_, disc, &track, distance);
  }
  return hr;
}

HRESULT LookupFileRun::Text(bool waveform_ran) {
  if (Aborts(STATUS_SONQUIX_LookingUpText, BstrView(file_name_))) return E_FAIL;
  ComPtr<IFileTag> query;
  HRESULT hr = CreateControlObject(CLSID_PelkFileTag, query.Out());
  if (FAILED(hr)) return hr;
  if (!query) return E_UNEXPECTED;

  Bstr artist, title;
  if (tag_) {
    tag_->get_Artist(artist.Out());
    tag_->get_Title(title.Out());
  }
  if (!hint_artist_.empty()) artist = Bstr(hint_artist_);
  if (!hint_title_.empty()) title = Bstr(hint_title_);
  query->put_Artist(artist.Get());
  query->put_Title(title.Get());
  if (tag_) {
    Bstr identifier, track_number, genre, length, album;
    Bstr tlen(u"TLEN");
    if (SUCCEEDED(tag_->get_Identifier(identifier.Out()))) query->put_Identifier(identifier.Get());
    if (SUCCEEDED(tag_->get_TrackNumber(track_number.Out()))) {
      query->put_TrackNumber(track_number.Get());
    }
    if (SUCCEEDED(tag_->get_Genre(genre.Out()))) query->put_Genre(genre.Get());
    if (SUCCEEDED(tag_->GetField(tlen.Get(), length.Out())) && !length.Empty()) {
      query->PutField(tlen.Get(), length.Get());
    }
    if (SUCCEEDED(tag_->get_AlbumTitle(album.Out()))) query->put_AlbumTitle(album.Get());
  }
  if (Aborts(STATUS_SONQUIX_CheckForAbort, u"")) return E_FAIL;
  if (!engine_) return E_UNEXPECTED;
  int32_t x = kLookupNone;
  const HRESULT text_hr = engine_->TextLookup(title.Empty() ? file_name_ : nullptr, query.Get(),
                                              event_on_completion_, &x);
  if (Aborts(STATUS_SONQUIX_CheckForAbort, u"")) return E_FAIL;
  if (FAILED(text_hr)) {
    if (!waveform_ran) return text_hr;
    x = kLookupNone;
  }

  switch (x) {
    case kLookupOne: {
      ComPtr<IDiscInfo> text_disc = SingleMatch();
      if (text_disc) return CombineOneTextDisc(text_disc.Get());
      break;  // an unreadable answer is no answer
    }
    case kLookupSeveral: {
      ComPtr<IDiscList> text_discs = MatchCollection();
      if (text_discs) return CombineTextCollection(text_discs.Get());
      break;
    }
    case kLookupNone:
      break;
    default:
      *match_code_ = kNoMatch;
      return E_FAIL;
  }
  // No text answer: the waveform answer stands alone.
  if (w_ == kLookupOne) return CommitDisc(wf_disc_.Get());
  if (IsCollectionKind(w_)) {
    return CommitWaveformCollection(Has(TEXT_HINT_MULTI_EXACT | TEXT_HINT_MULTI_FUZZY));
  }
  *match_code_ = kNoMatch;
  return text_hr;
}

HRESULT LookupFileRun::CommitWaveformCollection(bool resolve) {
  if (resolve) {
    ComPtr<IDiscInfo> resolved;
    if (SUCCEEDED(ResolvePasses(wf_discs_.Get(), &resolved)) && resolved) {
      return CommitDisc(resolved.Get());
    }
  }
  return CommitCollection(wf_discs_.Get(), w_);
}

HRESULT LookupFileRun::CombineOneTextDisc(IDiscInfo* text_disc) {
  EnsureTrackSelected(BstrView(file_name_), tag_, text_disc);
  if (IsGoodMatch(text_disc, file_)) return CommitDisc(text_disc);
  if (w_ == kLookupOne) return CommitDisc(wf_disc_.Get());
  if (IsCollectionKind(w_)) {
    return CommitWaveformCollection(Has(TEXT_HINT_MULTI_EXACT | TEXT_HINT_MULTI_FUZZY));
  }
  return CommitDisc(text_disc);
}

HRESULT LookupFileRun::CombineTextCollection(IDiscList* text_discs) {
  const bool fuzzy = Has(TEXT_HINT_MULTI_FUZZY | TEXT_HINT_FUZZY);
  if (w_ == kLookupOne) {
    if (IsGoodMatch(wf_disc_.Get(), file_)) return CommitDisc(wf_disc_.Get());
    ComPtr<IDiscInfo> resolved;
    if (fuzzy && SUCCEEDED(ResolvePasses(text_discs, &resolved)) && resolved) {
      return CommitDisc(resolved.Get());
    }
    return CommitDisc(wf_disc_.Get());
  }
  if (IsCollectionKind(w_)) {
    if (Has(TEXT_HINT_MULTI_EXACT | TEXT_HINT_MULTI_FUZZY | TEXT_HINT_FUZZY)) {
      ComPtr<IDiscInfo> by_waveform, by_text;
      int32_t dw = 0, dt = 0;
      if (FAILED(ResolvePasses(wf_discs_.Get(), &by_waveform, &dw))) by_waveform.Reset();
      if (FAILED(ResolvePasses(text_discs, &by_text, &dt))) by_text.Reset();
      IDiscInfo* chosen = nullptr;
      if (by_waveform && !by_text) {
        chosen = by_waveform.Get();
      } else if (by_text && !by_waveform) {
        chosen = by_text.Get();
      } else if (by_waveform && by_text) {
        if (dw - 10 < dt) {
          chosen = by_waveform.Get();
        } else if (file_.complete) {
          chosen = by_text.Get();
        }
      }
      if (chosen) return CommitDisc(chosen);
    }
    if (w_ == kLookupSeveralClose) return CommitCollection(wf_discs_.Get(), kLookupSeveralClose);
    return CommitCollection(text_discs, kLookupSeveral);
  }
  ComPtr<IDiscInfo> resolved;
  if (fuzzy && SUCCEEDED(ResolvePasses(text_discs, &resolved)) && resolved) {
    return CommitDisc(resolved.Get());
  }
  return CommitCollection(text_discs, kLookupSeveral);
}

}  // namespace

HRESULT CPELKSonquixManager::FullDiscWithTrack(IDiscInfo* disc, ComPtr<IDiscInfo>* full,
                                               int32_t* track) {
  if (!disc) return E_INVALIDARG;
  full->Reset();
  for (int attempt = 0; attempt < 4 && !*full; ++attempt) {
    if (FAILED(GetFullDisc(disc, full->Out()))) break;
  }
  if (!*full) return E_FAIL;
  *track = 0;
  return (*full)->get_CurrentTrack(track);
}

HRESULT CPELKSonquixManager::ResolveCore(IDiscList* discs, int32_t track_count, int32_t missing,
                                         int32_t extra, const LookupFileSide& file,
                                         ComPtr<IDiscInfo>* disc, int32_t* track,
                                         int32_t* distance) {
  if (!discs || !disc || !track) return E_POINTER;
  disc->Reset();
  int32_t found = 0;
  const int32_t index = BestDiscForFile(discs, track_count, missing, extra, file, &found);
  if (index == 0) return E_FAIL;
  ComPtr<IDiscInfo> chosen;
  HRESULT hr = discs->get_Item(index, chosen.Out());
  if (FAILED(hr)) return hr;
  if (!chosen) return E_FAIL;
  hr = FullDiscWithTrack(chosen.Get(), disc, track);
  if (FAILED(hr)) return hr;
  if (distance) *distance = found;
  return hr;
}

HRESULT CPELKSonquixManager::LookupFile(IPelkSonquixFingerprint* fp, BSTR file_name, IFileTag* tag,
                                        int32_t lookup_mode, int32_t event_on_completion,
                                        int32_t* match_code) {
  TraceLookup trace(Tracer(), u"LookupFile");
  if (!match_code) return E_POINTER;
  *match_code = 0;
  const int32_t mode = lookup_mode & 0xff;
  if (!fp && !(mode & TEXT_LOOKUP)) return E_INVALIDARG;
  if (event_on_completion && (mode & TEXT_HINT_ALL)) return E_INVALIDARG;

  ComPtr<IFileTag> file_tag(tag);
  if (mode & (TEXT_LOOKUP | TEXT_LOCAL)) {
    if (!tag && BstrView(file_name).empty()) return SetManagerError(PELKSonquix_NoTextAvailable);
    file_tag = TagForFile(*this, file_name, tag);
  }
  LookupFileRun run(*this, file_name, file_tag.Get(), mode, event_on_completion, match_code);
  return run.Run(fp);
}

HRESULT CPELKSonquixManager::ResolveLookup(IDiscList* discs, int32_t track_count,
                                           int32_t missing_files, int32_t extra_files,
                                           int32_t /*lookup_mode*/, BSTR file_name, IFileTag* tag,
                                           int32_t /*match_code*/, ILegacyDisc** out) {
  if (!discs) return E_INVALIDARG;
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!tag && BstrView(file_name).empty()) return SetManagerError(PELKSonquix_NoTextAvailable);
  ComPtr<IFileTag> file_tag = TagForFile(*this, file_name, tag);
  const LookupFileSide file(BstrView(file_name), file_tag.Get());
  ComPtr<IDiscInfo> chosen;
  int32_t track = 0;
  HRESULT hr = ResolveCore(discs, track_count, missing_files, extra_files, file, &chosen, &track);
  if (FAILED(hr)) return SetManagerError(PELKSonquix_TextHintsFailed);
  ComPtr<ILegacyDisc> legacy = chosen.As<ILegacyDisc>();
  if (!legacy) return E_NOINTERFACE;
  *out = legacy.Detach();
  return hr;
}

HRESULT CPELKSonquixManager::CompareTrackToFile(BSTR file_name, IFileTag* tag, ILegacyDisc* disc,
                                                int32_t track_num, int32_t* value) {
  if (!disc) return E_INVALIDARG;
  if (!value) return E_POINTER;
  *value = 0;
  if (!tag && BstrView(file_name).empty()) return SetManagerError(PELKSonquix_NoTextAvailable);
  ComPtr<IFileTag> file_tag = TagForFile(*this, file_name, tag);
  const LookupFileSide file(BstrView(file_name), file_tag.Get());
  *value = 100 - TrackDistance(disc, track_num, file);
  return S_OK;
}

}  // namespace pelk
