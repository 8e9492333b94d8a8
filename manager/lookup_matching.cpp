// Distances and disc choices of the single-call lookups. Texts are compared after the standard
// normalization; the file name is normalized once by the caller (LookupFileSide).
#include "manager/lookup_matching.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "model/track_scorer.h"
#include "runtime/bstr.h"
#include "runtime/com_ptr.h"
#include "runtime/utf.h"
#include "text/case_fold.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk {
namespace {

constexpr int32_t kUnrelated = 100;
// A text found inside the file name counts as this close.
constexpr int32_t kContained = 10;
// Texts shorter than this are not looked for inside the file name.
constexpr size_t kMinimumContained = 4;
constexpr int32_t kHintBonus = 10;

std::u16string Normalized(std::u16string_view raw) { return text::StandardNormalized(raw); }

template <typename Getter>
std::u16string ReadText(Getter getter) {
  Bstr value;
  if (FAILED(getter(value.Out()))) return {};
  return std::u16string(value.View());
}

std::u16string TagText(IFileTag* tag, HRESULT (IFileTag::*get)(BSTR*)) {
  if (!tag) return {};
  return ReadText([&](BSTR* out) { return (tag->*get)(out); });
}

std::u16string DiscArtist(IDiscInfo* disc) {
  return ReadText([&](BSTR* out) { return disc->get_Artist(out); });
}
std::u16string DiscAlbum(IDiscInfo* disc) {
  return ReadText([&](BSTR* out) { return disc->get_AlbumTitle(out); });
}
std::u16string TrackTitle(IDiscInfo* disc, int32_t track) {
  return ReadText([&](BSTR* out) { return disc->GetTrackTitle(track, out); });
}
std::u16string TrackArtist(IDiscInfo* disc, int32_t track) {
  ComPtr<ITrackInfo> info;
  if (FAILED(disc->GetTrack(track, info.Out())) || !info) return {};
  return ReadText([&](BSTR* out) { return info->get_Artist(out); });
}

// The distance of a disc-side text (normalized) from the file when the tag lacks the field:
// containment in the file name, else the edit difference from it. 100 for an empty text.
int32_t DistanceFromName(const std::u16string& disc_text, const std::u16string& name) {
  if (disc_text.empty()) return kUnrelated;
  if (disc_text.size() >= kMinimumContained && name.size() >= kMinimumContained &&
      name.find(disc_text) != std::u16string::npos) {
    return kContained;
  }
  return text::EditDifference(disc_text, name);
}

// One field: the tag's text against the disc's, or the file name against the disc's when the
// tag has none. Both texts normalized; 100 for an empty disc text.
int32_t FieldDistance(const std::u16string& tag_text, const std::u16string& disc_text,
                      const std::u16string& name) {
  if (disc_text.empty()) return kUnrelated;
  if (tag_text.empty()) return DistanceFromName(disc_text, name);
  return text::EditDifference(tag_text, disc_text);
}

int32_t Combine(IDiscInfo* disc, int32_t artist, int32_t album, int32_t title,
                const LookupFileSide& file) {
  int32_t distance = (title + album + artist) / 3;
  int32_t current = 0;
  if (SUCCEEDED(disc->get_CurrentTrack(&current)) && current != 0 &&
      text::GetTrackHint(file.raw_name, file.tag) == current) {
    distance = std::max(0, distance - kHintBonus);
  }
  return distance;
}

int32_t DiscCount(IDiscList* discs) {
  int32_t count = 0;
  return discs && SUCCEEDED(discs->get_Count(&count)) ? count : 0;
}

ComPtr<IDiscInfo> DiscAt(IDiscList* discs, int32_t index) {
  ComPtr<IDiscInfo> disc;
  if (FAILED(discs->get_Item(index, disc.Out()))) disc.Reset();
  return disc;
}

// The disc's "track_count" property as a number (0 when absent or not a number).
int32_t NamedTrackCount(IDiscInfo* disc) {
  Bstr name(u"track_count");
  std::u16string value = ReadText([&](BSTR* out) { return disc->GetNamedText(name.Get(), out); });
  int64_t count = 0;
  for (char16_t c : value) {
    if (c < u'0' || c > u'9') break;
    count = count * 10 + (c - u'0');
    if (count > 1000000) break;
  }
  return static_cast<int32_t>(count);
}

bool TrackCountAllowed(IDiscInfo* disc, int32_t track_count, int32_t missing, int32_t extra) {
  if (track_count == 0) return true;
  const int32_t count = NamedTrackCount(disc);
  if (count > track_count && count - track_count > missing) return false;
  if (count < track_count && track_count - count > extra) return false;
  return true;
}

// The index among `texts` whose text the most later unmarked entries share (IsSameTitle).
size_t MostFrequent(const std::vector<std::u16string>& texts) {
  std::vector<bool> marked(texts.size(), false);
  size_t best = 0;
  int32_t best_count = -1;
  for (size_t i = 0; i < texts.size(); ++i) {
    marked[i] = true;
    int32_t count = 0;
    for (size_t j = 0; j < texts.size(); ++j) {
      if (marked[j] || !text::IsSameTitle(texts[i], texts[j])) continue;
      marked[j] = true;
      ++count;
    }
    if (count > best_count) {
      best_count = count;
      best = i;
    }
  }
  return best;
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (text::FoldCase(a[i]) != text::FoldCase(b[i])) return false;
  }
  return true;
}

// The extension of an entry name (after its last '.'), and whether it has one.
bool ExtensionOf(std::u16string_view name, std::u16string_view* extension) {
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return false;
  *extension = name.substr(dot + 1);
  return true;
}

}  // namespace

LookupFileSide::LookupFileSide(std::u16string_view file_name, IFileTag* file_tag)
    : raw_name(file_name), name(Normalized(file_name)), tag(file_tag) {
  complete = tag && !TagText(tag, &IFileTag::get_Artist).empty() &&
             !TagText(tag, &IFileTag::get_AlbumTitle).empty() &&
             !TagText(tag, &IFileTag::get_Title).empty();
}

int32_t TrackDistance(IDiscInfo* disc, int32_t track, const LookupFileSide& file) {
  if (!disc) return kUnrelated;
  const std::u16string tag_artist = Normalized(TagText(file.tag, &IFileTag::get_Artist));
  const std::u16string tag_album = Normalized(TagText(file.tag, &IFileTag::get_AlbumTitle));
  const std::u16string tag_title = Normalized(TagText(file.tag, &IFileTag::get_Title));

  const int32_t artist =
      std::min(FieldDistance(tag_artist, Normalized(DiscArtist(disc)), file.name),
               FieldDistance(tag_artist, Normalized(TrackArtist(disc, track)), file.name));
  const int32_t album = FieldDistance(tag_album, Normalized(DiscAlbum(disc)), file.name);
  const int32_t title = FieldDistance(tag_title, Normalized(TrackTitle(disc, track)), file.name);
  return Combine(disc, artist, album, title, file);
}

int32_t TrackDistanceCompleteTag(IDiscInfo* disc, int32_t track, const LookupFileSide& file) {
  if (!disc || !file.tag) return kUnrelated;
  int32_t current = 0;
  if (FAILED(disc->get_CurrentTrack(&current))) return kUnrelated;

  const std::u16string tag_album_raw = TagText(file.tag, &IFileTag::get_AlbumTitle);
  const std::u16string disc_artist_raw = DiscArtist(disc);
  const std::u16string track_artist_raw = TrackArtist(disc, track);
  const std::u16string tag_artist = Normalized(TagText(file.tag, &IFileTag::get_Artist));
  const std::u16string disc_album = Normalized(DiscAlbum(disc));

  const int32_t artist = std::min(text::EditDifference(tag_artist, Normalized(disc_artist_raw)),
                                  text::EditDifference(tag_artist, Normalized(track_artist_raw)));

  int32_t album = text::EditDifference(Normalized(tag_album_raw), disc_album);
  // An album tagged "Artist - Album": the part after the artist and one separator counts too.
  const std::u16string* prefix = nullptr;
  if (!disc_artist_raw.empty() && tag_album_raw.starts_with(disc_artist_raw)) {
    prefix = &disc_artist_raw;
  } else if (!track_artist_raw.empty() && tag_album_raw.starts_with(track_artist_raw)) {
    prefix = &track_artist_raw;
  }
  if (prefix && prefix->size() + 1 < tag_album_raw.size()) {
    const std::u16string rest = tag_album_raw.substr(prefix->size() + 1);
    album = std::min(album, text::EditDifference(Normalized(rest), disc_album));
  }

  const int32_t title = text::EditDifference(Normalized(TagText(file.tag, &IFileTag::get_Title)),
                                             Normalized(TrackTitle(disc, track)));
  return Combine(disc, artist, album, title, file);
}

int32_t FileTrackDistance(IDiscInfo* disc, int32_t track, const LookupFileSide& file) {
  return file.complete ? TrackDistanceCompleteTag(disc, track, file)
                       : TrackDistance(disc, track, file);
}

bool FileNameMatchesDisc(IDiscInfo* disc, const LookupFileSide& file) {
  if (!disc) return false;
  const std::u16string album = Normalized(DiscAlbum(disc));
  const std::u16string artist = Normalized(DiscArtist(disc));
  const std::u16string title = Normalized(TrackTitle(disc, 1));
  if (album.empty() || artist.empty() || title.empty()) return false;
  const auto contains = [&](const std::u16string& part) {
    return !part.empty() && file.name.find(part) != std::u16string::npos;
  };
  if (!contains(album) || !contains(title)) return false;
  return contains(artist) || contains(Normalized(TrackArtist(disc, 1)));
}

bool IsGoodMatch(IDiscInfo* disc, const LookupFileSide& file) {
  if (!disc) return false;
  int32_t current = 0;
  if (FAILED(disc->get_CurrentTrack(&current))) return false;
  const int32_t threshold = file.complete ? 25 : 50;
  if (FileTrackDistance(disc, current, file) < threshold) return true;
  return FileNameMatchesDisc(disc, file);
}

int32_t BestDiscForFile(IDiscList* discs, int32_t track_count, int32_t missing, int32_t extra,
                        const LookupFileSide& file, int32_t* distance) {
  if (distance) *distance = kUnrelated;
  if (!discs) return 0;
  const int32_t count = DiscCount(discs);
  if (!file.complete && count > 0) {
    ComPtr<IDiscInfo> first = DiscAt(discs, 1);
    // The track-count rule holds for this shortcut too: a named disc of the wrong size is no
    // answer for an album of a known size.
    if (first && TrackCountAllowed(first.Get(), track_count, missing, extra) &&
        FileNameMatchesDisc(first.Get(), file)) {
      const int32_t hint = text::GetTrackHint(file.raw_name, file.tag);
      int32_t current = 0;
      first->get_CurrentTrack(&current);
      if (hint == 0 || hint == current) {
        if (distance) *distance = kContained;
        return 1;
      }
    }
  }

  int32_t threshold = file.complete ? 25 : 50;
  if (track_count != 0) threshold += 5;
  int32_t best = 0;
  for (int32_t index = count; index >= 1; --index) {
    ComPtr<IDiscInfo> disc = DiscAt(discs, index);
    if (!disc) break;
    if (!TrackCountAllowed(disc.Get(), track_count, missing, extra)) continue;
    const int32_t d = FileTrackDistance(disc.Get(), 1, file);
    if (d <= threshold) {
      best = index;
      threshold = d;
    }
  }
  if (track_count != 0) threshold = std::max(0, threshold - 5);
  if (best != 0 && distance) *distance = threshold;
  return best;
}

int32_t BestDiscByFileName(IDiscList* discs, const LookupFileSide& file) {
  const int32_t count = DiscCount(discs);
  std::vector<int32_t> candidates;
  for (int32_t index = 1; index <= count; ++index) {
    ComPtr<IDiscInfo> disc = DiscAt(discs, index);
    if (disc && FileNameMatchesDisc(disc.Get(), file)) candidates.push_back(index);
  }
  if (candidates.empty() && file.complete) {
    const std::u16string tag_album = Normalized(TagText(file.tag, &IFileTag::get_AlbumTitle));
    for (int32_t index = 1; index <= count; ++index) {
      ComPtr<IDiscInfo> disc = DiscAt(discs, index);
      if (!disc) continue;
      const std::u16string album = Normalized(DiscAlbum(disc.Get()));
      if (tag_album.empty() || album.empty()) continue;
      if (text::EditDifference(tag_album, album) < 5) candidates.push_back(index);
    }
  }
  if (candidates.empty()) return 0;
  if (candidates.size() == 1) return candidates.front();
  int32_t best = 0;
  int32_t best_distance = kUnrelated + 1;
  for (int32_t index : candidates) {
    ComPtr<IDiscInfo> disc = DiscAt(discs, index);
    const int32_t d = FileTrackDistance(disc.Get(), 1, file);
    if (d < best_distance) {
      best_distance = d;
      best = index;
    }
  }
  return best;
}

HRESULT CollectionHints(IDiscList* discs, std::u16string* artist, std::u16string* title) {
  if (!discs || !artist || !title) return E_POINTER;
  int32_t count = 0;
  HRESULT hr = discs->get_Count(&count);
  if (FAILED(hr)) return hr;
  std::vector<std::u16string> artists, titles;
  for (int32_t index = 1; index <= count; ++index) {
    ComPtr<IDiscInfo> disc = DiscAt(discs, index);
    std::u16string entry_artist, entry_title;
    if (disc) {
      entry_artist = TrackArtist(disc.Get(), 1);
      if (entry_artist.empty()) entry_artist = DiscArtist(disc.Get());
      entry_title = TrackTitle(disc.Get(), 1);
    }
    artists.push_back(std::move(entry_artist));
    titles.push_back(std::move(entry_title));
  }
  artist->clear();
  title->clear();
  if (count <= 0) return S_OK;
  *artist = artists[MostFrequent(artists)];
  *title = titles[MostFrequent(titles)];
  return S_OK;
}

HRESULT FolderFileCount(std::u16string_view file_name, int32_t* count) {
  if (!count) return E_POINTER;
  *count = 0;
  const size_t separator = file_name.find_last_of(u"/\\");
  if (separator == std::u16string_view::npos) return E_INVALIDARG;
  const std::u16string_view base = file_name.substr(separator + 1);
  std::u16string_view extension;
  const bool has_extension = ExtensionOf(base, &extension);

  std::u16string folder(file_name.substr(0, separator));
  if (folder.empty()) folder = u"/";
  std::error_code error;
  const std::filesystem::path path(Utf16ToUtf8(folder));
  if (!std::filesystem::is_directory(path, error)) return E_INVALIDARG;
  std::filesystem::directory_iterator it(path, error);
  if (error) return E_INVALIDARG;
  int32_t found = 0;
  for (const auto& entry : it) {
    const std::u16string name = Utf8ToUtf16(entry.path().filename().string());
    std::u16string_view entry_extension;
    const bool entry_has = ExtensionOf(name, &entry_extension);
    if (has_extension ? entry_has && SameIgnoringCase(entry_extension, extension) : !entry_has) {
      ++found;
    }
  }
  *count = found;
  return S_OK;
}

}  // namespace pelk
