#include "cli/album_builder.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "catalog/file_tag.h"
#include "cli/audio/file_fingerprint.h"
#include "cli/audio/signature_ladder.h"
#include "runtime/bstr.h"
#include "runtime/decimal.h"
#include "runtime/utf.h"
#include "seal/md5.h"

namespace pelk::cli {
namespace {

// What one audio file's tag says, read with the catalogue's own tags.
struct FileFacts {
  std::string title, artist, album, album_artist, genre, identifier;
  int32_t track = 0;
  int32_t track_total = 0;  // "5/12" gives 12; TRACKTOTAL and TOTALTRACKS fields count too
  int32_t disc = 0;
  int32_t disc_total = 0;  // "1/2" gives 2; DISCTOTAL and TOTALDISCS fields count too
  int32_t year = 0;
  int32_t length_ms = 0;
};

FileFacts ReadFacts(const std::string& path) {
  FileFacts facts;
  ComPtr<IFileTag> tag;
  if (FAILED(catalog::CreateCatalogFileTag(false, IFileTag::kIid, tag.OutVoid()))) return facts;
  if (FAILED(tag->LoadFromFile(Bstr::FromUtf8(path).Get(), 0))) return facts;
  auto text = [&](HRESULT (IFileTag::*get)(BSTR*)) {
    Bstr value;
    return SUCCEEDED((tag.Get()->*get)(value.Out())) ? value.Utf8() : std::string();
  };
  facts.title = text(&IFileTag::get_Title);
  facts.artist = text(&IFileTag::get_Artist);
  facts.album = text(&IFileTag::get_AlbumTitle);
  facts.album_artist = text(&IFileTag::get_AlbumArtist);
  facts.genre = text(&IFileTag::get_Genre);
  facts.identifier = text(&IFileTag::get_Identifier);
  // A number pair ("5" or "5/12") and, without a total in it, the total from its own fields.
  auto pair = [&](HRESULT (IFileTag::*get)(BSTR*), std::initializer_list<const char16_t*> totals,
                  int32_t* number, int32_t* total) {
    const std::u16string value = Utf8ToUtf16(text(get));
    *number = std::max(0, DecimalValue(value));
    if (const size_t slash = value.find(u'/'); slash != std::u16string::npos) {
      *total = std::max(0, DecimalValue(std::u16string_view(value).substr(slash + 1)));
    }
    for (const char16_t* field : totals) {
      Bstr found;
      if (*total == 0 && SUCCEEDED(tag->GetField(Bstr(field).Get(), found.Out()))) {
        *total = std::max(0, DecimalValue(found.View()));
      }
    }
  };
  pair(&IFileTag::get_TrackNumber, {u"TRACKTOTAL", u"TOTALTRACKS"}, &facts.track,
       &facts.track_total);
  pair(&IFileTag::get_DiscNumber, {u"DISCTOTAL", u"TOTALDISCS"}, &facts.disc, &facts.disc_total);
  facts.year = DecimalValue(Utf8ToUtf16(text(&IFileTag::get_Year)));
  Bstr length;
  if (SUCCEEDED(tag->GetField(Bstr(u"TLEN").Get(), length.Out()))) {
    facts.length_ms = std::max(0, DecimalValue(length.View()));
  }
  return facts;
}

// A title from a file name: the stem without a leading track number.
std::string TitleFromFileName(const std::string& path) {
  std::string stem = std::filesystem::path(path).stem().string();
  size_t i = 0;
  while (i < stem.size() && i < 3 && std::isdigit(static_cast<unsigned char>(stem[i]))) ++i;
  if (i > 0) {
    while (i < stem.size() &&
           (stem[i] == ' ' || stem[i] == '.' || stem[i] == '-' || stem[i] == '_')) {
      ++i;
    }
    if (i < stem.size()) stem = stem.substr(i);
  }
  return stem;
}

}  // namespace

std::string DiscIdentifierFor(const std::string& artist, const std::string& album,
                              int32_t disc_number) {
  std::string key = artist + "\n" + album;
  if (disc_number >= 2) key += "\ndisc " + std::to_string(disc_number);
  const auto digest = text::Md5(
      {std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(key.data()), key.size())});
  std::string id = "D-";
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; digest && i < 6; ++i) {
    id += kHex[(*digest)[i] >> 4];
    id += kHex[(*digest)[i] & 15];
  }
  return id;
}

bool BuildAlbum(const AlbumSpec& spec, IPelkSonquixFingerprinter2* fingerprinter,
                catalog::DiscRecord* disc, std::vector<std::string>* warnings, std::string* error) {
  const int32_t needed_ms = FixedLengthMs(fingerprinter);
  std::vector<FileFacts> facts;
  for (const std::string& path : spec.files) facts.push_back(ReadFacts(path));
  auto first_of = [&](std::string FileFacts::*field) {
    for (const FileFacts& f : facts) {
      if (!(f.*field).empty()) return f.*field;
    }
    return std::string();
  };
  *disc = {};
  disc->album = !spec.album.empty() ? spec.album : first_of(&FileFacts::album);
  disc->artist = !spec.artist.empty() ? spec.artist : first_of(&FileFacts::album_artist);
  if (disc->artist.empty()) disc->artist = first_of(&FileFacts::artist);
  if (disc->album.empty() || disc->artist.empty()) {
    *error =
        "the album needs a title and an artist: the files' tags have none, give --album and "
        "--artist";
    return false;
  }
  disc->genre = !spec.genre.empty() ? spec.genre : first_of(&FileFacts::genre);
  disc->year = spec.year;
  for (const FileFacts& f : facts) {
    if (!disc->year && f.year > 0 && f.year < 10000) disc->year = f.year;
  }
  disc->compilation = spec.compilation;
  disc->disc_number = spec.disc_number;
  if (disc->disc_number == 0) {
    for (size_t i = 0; i < facts.size(); ++i) {
      if (facts[i].disc == 0 || facts[i].disc == disc->disc_number) continue;
      if (disc->disc_number != 0) {
        *error = "the files' tags name different discs (" + std::to_string(disc->disc_number) +
                 " and " + std::to_string(facts[i].disc) + ", " + spec.files[i] +
                 "): add each disc on its own, or give --disc";
        return false;
      }
      disc->disc_number = facts[i].disc;
    }
  }
  for (const FileFacts& f : facts) disc->disc_count = std::max(disc->disc_count, f.disc_total);
  if (disc->disc_count != 0) disc->disc_count = std::max(disc->disc_count, disc->disc_number);
  disc->identifier = !spec.identifier.empty()
                         ? spec.identifier
                         : DiscIdentifierFor(disc->artist, disc->album, disc->disc_number);

  std::set<int32_t> numbers;
  for (size_t i = 0; i < spec.files.size(); ++i) {
    const FileFacts& f = facts[i];
    catalog::TrackRecord track;
    track.number = f.track > 0 && !numbers.count(f.track) ? f.track : static_cast<int32_t>(i + 1);
    while (numbers.count(track.number)) ++track.number;
    numbers.insert(track.number);
    track.title = !f.title.empty() ? f.title : TitleFromFileName(spec.files[i]);
    if (!f.artist.empty() && f.artist != disc->artist) track.artist = f.artist;
    track.length_ms = f.length_ms;
    track.identifier = !f.identifier.empty()
                           ? f.identifier
                           : disc->identifier + "-" + std::to_string(track.number);
    FileLadder ladder = FingerprintFileLadder(fingerprinter, spec.files[i], needed_ms);
    const FileFingerprint& fp = ladder.fingerprint;
    if (fp.fingerprint) {
      Bstr signature;
      fp.fingerprint->get_Signature(signature.Out());
      track.signature = catalog::ParseSignature(signature.Utf8());
      if (track.signature) track.ladder = std::move(ladder.ladder);
    }
    if (!track.signature) {
      warnings->push_back(spec.files[i] + ": " + (fp.error.empty() ? "no fingerprint" : fp.error) +
                          "; the track is added without one");
    }
    disc->tracks.push_back(std::move(track));
  }
  std::sort(disc->tracks.begin(), disc->tracks.end(),
            [](const auto& a, const auto& b) { return a.number < b.number; });
  // The album's count is what its tags say, never below the highest track number: a partial
  // album numbered up to 24 is not a disc of as many tracks as files were given.
  for (const FileFacts& f : facts) disc->track_count = std::max(disc->track_count, f.track_total);
  disc->track_count = disc->SoundTrackCount();
  return true;
}

}  // namespace pelk::cli
