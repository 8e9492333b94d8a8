#include "model/track_scorer.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <vector>

#include "control/tag_utils.h"
#include "runtime/bstr.h"
#include "runtime/decimal.h"
#include "runtime/utf.h"
#include "text/case_fold.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk::text {
namespace {

constexpr size_t kRawTextLimit = 1023;
constexpr size_t kPathLimit = 1024;
constexpr size_t kLoginNameLimit = 255;
constexpr size_t kITunesIdSize = 1024;
constexpr std::u16string_view kSeparators = u"\\/";
constexpr std::u16string_view kSystemFolders[] = {u"My Music", u"My Documents",
                                                  u"Documents and Settings"};

// Texts from the control end at their first NUL, as C strings do.
std::u16string_view UpToNul(std::u16string_view text) {
  return text.substr(0, std::min(text.find(u'\0'), text.size()));
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool IsRejectedFolder(std::u16string_view folder, std::u16string_view login_name) {
  if (!login_name.empty() && folder.starts_with(login_name)) return true;
  for (std::u16string_view system : kSystemFolders) {
    if (StartsWithIgnoreCase(folder, system)) return true;
  }
  return false;
}

// x with the first occurrence of y removed; empty when x is a part of y instead; x itself when
// neither holds or y is empty.
std::u16string StripText(const std::u16string& x, const std::u16string& y) {
  if (x.empty() || y.empty()) return x;
  if (const size_t at = x.find(y); at != std::u16string::npos) {
    return x.substr(0, at) + x.substr(at + y.size());
  }
  if (y.find(x) != std::u16string::npos) return {};
  return x;
}

ScorerText Strip(const ScorerText& x, const ScorerText& y) {
  return {StripText(x.raw, y.raw), StripText(x.normalized, y.normalized)};
}

// The standard normalizations of texts met lately on this thread. Album association scores
// file after file against the tracks of one disc, and each file against its candidate discs;
// normalization is a pure function of the text, so a remembered form is exactly the form
// computed again. A text's slot is chosen by its hash, and a text evicts whichever text held
// its slot before; slots keep their strings' room, so that remembering allocates nothing once
// they have grown to fit.
class NormalFormMemo {
 public:
  // REQUIRES: raw holds no NUL.
  const std::u16string& Normalized(std::u16string_view raw) {
    if (slots_.empty()) slots_.resize(kSlots);
    Slot& slot = slots_[std::hash<std::u16string_view>{}(raw) % kSlots];
    if (!slot.used || slot.raw != raw) {
      slot.used = false;  // until both strings are in place
      slot.raw.assign(raw);
      StandardNormalized(raw, &slot.normalized);
      slot.used = true;
    }
    return slot.normalized;
  }

 private:
  static constexpr size_t kSlots = 1024;  // a few dozen discs and files
  struct Slot {
    bool used = false;
    std::u16string raw;
    std::u16string normalized;
  };
  std::vector<Slot> slots_;
};

// A text property read as a scorer text; a failed read counts as empty.
template <class I>
ScorerText ReadOptional(I* object, HRESULT (I::*get)(BSTR*)) {
  Bstr value;
  if (FAILED((object->*get)(value.Out()))) return {};
  return ScorerText::From(value.View());
}

int32_t FileNameHint(std::u16string_view path) {
  path = UpToNul(path);
  const size_t slash = path.find_last_of(kSeparators);
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return 0;
  name = name.substr(0, dot);

  int32_t result = 0;
  size_t i = 0;
  while (i < name.size()) {
    if (name[i] < u'0' || name[i] > u'9') {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < name.size() && name[end] >= u'0' && name[end] <= u'9') ++end;
    size_t digit = name[i] == u'0' ? i + 1 : i;
    int32_t value = 0;
    for (; digit < end; ++digit) {
      value = std::min(value * 10 + (name[digit] - u'0'), 1000);  // only 1..99 counts
    }
    i = end;
    if (value <= 0 || value >= 100) continue;
    if (result == 0 || result == 1) result = value;
  }
  return result;
}

}  // namespace

std::u16string_view ScorerText::Cut(std::u16string_view raw) {
  return UpToNul(raw).substr(0, kRawTextLimit);
}

ScorerText ScorerText::From(std::u16string_view raw) {
  ScorerText text;
  text.Assign(raw);
  return text;
}

void ScorerText::Assign(std::u16string_view raw) {
  thread_local NormalFormMemo memo;
  const std::u16string_view cut = Cut(raw);
  if (cut.empty()) {
    this->raw.clear();
    normalized.clear();
    return;
  }
  const std::u16string& form = memo.Normalized(cut);
  // raw may view this->raw: the memo has read it by now.
  normalized.assign(form);
  this->raw.assign(cut);
}

ScorerPathParts SplitScorerPath(std::u16string_view path, std::u16string_view login_name) {
  path = UpToNul(path);
  // A volume prefix. A colon after the first separator is part of a name (legal here).
  const size_t colon = path.find(u':');
  if (colon != std::u16string_view::npos && colon < path.find_first_of(kSeparators)) {
    path.remove_prefix(colon + 1);
  }
  for (int skipped = 0; skipped < 2 && !path.empty() && IsSeparator(path.front()); ++skipped) {
    path.remove_prefix(1);
  }
  path = path.substr(0, kPathLimit);

  ScorerPathParts parts;
  const size_t last = path.find_last_of(kSeparators);
  std::u16string_view name = last == std::u16string_view::npos ? path : path.substr(last + 1);
  name = name.substr(0, std::min(name.rfind(u'.'), name.size()));
  parts.file_name = name.substr(0, kRawTextLimit);
  if (last == std::u16string_view::npos) return parts;

  // The last two non-empty folder names, nearest last.
  std::vector<std::u16string_view> candidates;
  std::u16string_view folders = path.substr(0, last);
  while (!folders.empty() && candidates.size() < 2) {
    const size_t cut = folders.find_last_of(kSeparators);
    const std::u16string_view folder =
        cut == std::u16string_view::npos ? folders : folders.substr(cut + 1);
    if (!folder.empty()) candidates.insert(candidates.begin(), folder);
    folders = cut == std::u16string_view::npos ? std::u16string_view() : folders.substr(0, cut);
  }
  std::vector<std::u16string_view> accepted;
  for (std::u16string_view folder : candidates) {
    if (!IsRejectedFolder(folder, login_name)) accepted.push_back(folder.substr(0, kRawTextLimit));
  }
  if (!accepted.empty()) parts.folder_b = accepted.back();
  if (accepted.size() == 2) parts.folder_a = accepted.front();
  return parts;
}

const std::u16string& LoginName() {
  static const std::u16string name = [] {
    const char* value = std::getenv("USERNAME");
    std::u16string text = value ? Utf8ToUtf16(value) : std::u16string();
    text.resize(std::min(text.size(), kLoginNameLimit));
    return text;
  }();
  return name;
}

int32_t GetTrackHint(std::u16string_view path, IFileTag* tag) {
  if (tag) {
    Bstr number;
    if (SUCCEEDED(tag->get_TrackNumber(number.Out())) && !UpToNul(number.View()).empty()) {
      if (const int32_t value = DecimalValue(UpToNul(number.View())); value != 0) return value;
    }
  }
  return FileNameHint(path);
}

HRESULT TrackScorer::Prepare(IDiscInfo* disc, std::u16string_view name_text, IFileTag* tag) {
  prepared_ = false;
  track_loaded_ = false;
  current_track_ = 0;
  score_ = -1;
  if (!disc) return E_INVALIDARG;
  disc_.Reset();
  HRESULT hr = disc->Copy(disc_.Out());
  if (FAILED(hr)) return hr;
  if (!disc_) return E_FAIL;

  tag_ = tag;
  tag_artist_ = tag_album_ = tag_title_ = {};
  if (tag_) {
    tag_artist_ = ReadOptional(tag, &IFileTag::get_Artist);
    tag_album_ = ReadOptional(tag, &IFileTag::get_AlbumTitle);
    tag_title_ = ReadOptional(tag, &IFileTag::get_Title);
  }

  Bstr artist, album;
  hr = disc_->get_Artist(artist.Out());
  if (FAILED(hr)) return hr;
  hr = disc_->get_AlbumTitle(album.Out());
  if (FAILED(hr)) return hr;
  disc_artist_ = ScorerText::From(artist.View());
  disc_album_ = ScorerText::From(album.View());

  // The path before the track: the track-dependent stripped text builds on it.
  name_text_ = UpToNul(name_text);
  const ScorerPathParts parts = SplitScorerPath(name_text_, LoginName());
  folder_a_ = ScorerText::From(parts.folder_a);
  folder_b_ = ScorerText::From(parts.folder_b);
  file_name_ = ScorerText::From(parts.file_name);
  a1_ = Strip(folder_a_, disc_artist_);
  a2_ = Strip(a1_, disc_album_);
  b1_ = Strip(folder_b_, disc_artist_);
  b2_ = Strip(b1_, disc_album_);
  f1_ = Strip(file_name_, disc_artist_);
  f2_ = Strip(f1_, disc_album_);
  similarity_.fill(-1);
  track_texts_valid_ = false;  // f3_ builds on f2_
  ReadTagIdentifiers();

  hr = LoadTrack();
  if (FAILED(hr)) return hr;
  hint_ = GetTrackHint(name_text_, tag_.Get());
  prepared_ = true;
  return S_OK;
}

HRESULT TrackScorer::LoadTrack() {
  track_loaded_ = false;
  int32_t track = 0;
  HRESULT hr = disc_->get_CurrentTrack(&track);
  if (FAILED(hr)) return hr;
  if (track <= 0) return E_FAIL;

  Bstr artist;
  ComPtr<ITrackInfo> info;
  if (SUCCEEDED(disc_->GetTrack(track, info.Out())) && info) {
    if (FAILED(info->get_Artist(artist.Out()))) artist.Reset();
  }
  Bstr title;
  hr = disc_->GetTrackTitle(track, title.Out());
  if (FAILED(hr)) return hr;

  current_track_ = track;
  // Tracks of one disc often share their artist (and sometimes a title): a comparison whose
  // texts did not change keeps its value, as it would compute the same one again.
  if (!track_texts_valid_ || ScorerText::Cut(artist.View()) != track_artist_.raw) {
    track_artist_.Assign(artist.View());
    f3_ = Strip(f2_, track_artist_);
    for (Comparison which :
         {kTagTrackArtist, kBTrackArtist, kATrackArtist, kFTrackArtist, kFTitle}) {
      similarity_[which] = -1;
    }
  }
  if (!track_texts_valid_ || ScorerText::Cut(title.View()) != track_title_.raw) {
    track_title_.Assign(title.View());
    similarity_[kTagTitle] = similarity_[kFTitle] = -1;
  }
  track_texts_valid_ = true;
  track_loaded_ = true;
  return S_OK;
}

HRESULT TrackScorer::SetTrack(int32_t track) {
  if (!prepared_) return E_FAIL;
  int32_t count = 0;
  HRESULT hr = disc_->get_TrackCount(&count);
  if (FAILED(hr)) return hr;
  // The track the disc itself selects is scorable even where its count falls short of it.
  if (track_loaded_ && track == current_track_) return S_OK;
  if (track < 1 || track > count) return E_INVALIDARG;
  hr = disc_->put_CurrentTrack(track);
  if (FAILED(hr)) {
    track_loaded_ = false;
    return hr;
  }
  return LoadTrack();
}

void TrackScorer::ReadTagIdentifiers() {
  tag_identifier_.clear();
  itunes_disc_id_.clear();
  itunes_track_ = 0;
  if (!tag_) return;
  // The catalogue's own track identifier, written into the tag earlier.
  Bstr identifier;
  if (SUCCEEDED(tag_->get_Identifier(identifier.Out())))
    tag_identifier_ = UpToNul(identifier.View());
  // The store identifiers some players write: the first names the disc.
  std::u16string disc_id, other_id;
  int32_t track = 0;
  if (SUCCEEDED(ParseITunesIds(name_text_, tag_.Get(), &disc_id, kITunesIdSize, &other_id,
                               kITunesIdSize, &track)) &&
      !disc_id.empty() && track != 0) {
    itunes_disc_id_ = UpToNul(disc_id);
    itunes_track_ = track;
  }
}

HRESULT TrackScorer::IdentifierShortcut(bool* hit) {
  *hit = false;
  if (!tag_identifier_.empty()) {
    ComPtr<IFileTag> built;
    HRESULT hr = TagFromDisc(name_text_, disc_.Get(), current_track_, built.Out());
    if (FAILED(hr)) return hr;
    Bstr built_identifier;
    hr = built->get_Identifier(built_identifier.Out());
    if (FAILED(hr)) return hr;
    if (UpToNul(built_identifier.View()) == tag_identifier_) {
      *hit = true;
      return S_OK;
    }
  }
  if (itunes_track_ == 0) return S_OK;
  Bstr identifier_of_disc;
  HRESULT hr = disc_->get_Identifier(identifier_of_disc.Out());
  if (FAILED(hr)) return hr;
  *hit = UpToNul(identifier_of_disc.View()) == itunes_disc_id_ && current_track_ == itunes_track_;
  return S_OK;
}

std::pair<const ScorerText&, const ScorerText&> TrackScorer::ComparedTexts(Comparison which) const {
  switch (which) {
    case kTagArtist:
      return {tag_artist_, disc_artist_};
    case kTagAlbum:
      return {tag_album_, disc_album_};
    case kBArtist:
      return {folder_b_, disc_artist_};
    case kBAlbum:
      return {b1_, disc_album_};
    case kAArtist:
      return {folder_a_, disc_artist_};
    case kAAlbum:
      return {a1_, disc_album_};
    case kFArtist:
      return {file_name_, disc_artist_};
    case kFAlbum:
      return {f1_, disc_album_};
    case kTagTrackArtist:
      return {tag_artist_, track_artist_};
    case kTagTitle:
      return {tag_title_, track_title_};
    case kBTrackArtist:
      return {b2_, track_artist_};
    case kATrackArtist:
      return {a2_, track_artist_};
    case kFTrackArtist:
      return {f2_, track_artist_};
    case kFTitle:
      return {f3_, track_title_};
    case kSimilarityCount:
      break;
  }
  static const ScorerText kNone;
  return {kNone, kNone};
}

int32_t TrackScorer::Similarity(Comparison which) {
  if (which < 0 || which >= kSimilarityCount) return 0;
  int32_t& cached = similarity_[which];
  if (cached >= 0) return cached;
  const auto [file, reference] = ComparedTexts(which);
  cached = FieldSimilarity(file.raw, file.normalized, reference.raw, reference.normalized);
  return cached;
}

HRESULT TrackScorer::Score(int32_t* score) {
  if (!score) return E_POINTER;
  if (!prepared_ || !track_loaded_) return E_FAIL;
  if (tag_) {
    bool hit = false;
    const HRESULT hr = IdentifierShortcut(&hit);
    if (FAILED(hr)) return hr;
    if (hit) {
      *score = score_ = 100;
      return S_OK;
    }
  }
  const int32_t artist =
      std::max({Similarity(kTagArtist), Similarity(kBArtist), Similarity(kAArtist),
                Similarity(kFArtist), Similarity(kTagTrackArtist), Similarity(kBTrackArtist),
                Similarity(kATrackArtist), Similarity(kFTrackArtist)});
  const int32_t album = std::max(
      {Similarity(kTagAlbum), Similarity(kBAlbum), Similarity(kAAlbum), Similarity(kFAlbum)});
  const int32_t title = std::max(Similarity(kTagTitle), Similarity(kFTitle));
  int32_t result = (album + title + artist) / 3;
  if (current_track_ == hint_) result = std::min(result + 10, 100);
  *score = score_ = result;
  return S_OK;
}

}  // namespace pelk::text
