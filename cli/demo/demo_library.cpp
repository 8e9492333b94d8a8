#include "cli/demo/demo_library.h"

#include <cstdio>
#include <functional>

#include "catalog/catalog_store.h"
#include "catalog/file_tag.h"
#include "cli/album_builder.h"
#include "cli/command_support.h"
#include "cli/demo/music_synth.h"
#include "runtime/bstr.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kRate = 11025;
constexpr double kSeconds = 16.0;  // one fingerprint needs a little more than 14 s

struct AlbumText {
  const char* artist;
  const char* album;
  int32_t year;
  bool compilation;
  std::vector<std::pair<const char*, const char*>> tracks;  // title, artist (null: the album's)
};

const std::vector<AlbumText>& Albums() {
  static const std::vector<AlbumText> albums = {
      {"Harbor Lights Ensemble",
       "Tidewater",
       2019,
       false,
       {{"Salt on the Glass", nullptr},
        {"Lantern Row", nullptr},
        {"Northbound Ferry", nullptr},
        {"Gull Weather", nullptr},
        {"Quiet Pier", nullptr},
        {"Fog Signal", nullptr},
        {"Low Tide Waltz", nullptr},
        {"Harbor Lights", nullptr}}},
      {"Mira Okafor",
       "Copper Season",
       2021,
       false,
       {{"Amber Road", nullptr},
        {"Kettle Song", nullptr},
        {"Brass Orchard", nullptr},
        {"Slow Ember", nullptr},
        {"Paper Kites", nullptr},
        {"The Long Field", nullptr},
        {"Copper Season", nullptr}}},
      {"The Velvet Arcade",
       "Neon Parables",
       2017,
       false,
       {{"Static Bloom", nullptr},
        {"Midnight Tram", nullptr},
        {"Arcade Saints", nullptr},
        {"Glass Telephone", nullptr},
        {"Violet Hour", nullptr},
        {"Pixel Rain", nullptr},
        {"Cathode Heart", nullptr},
        {"Last Token", nullptr}}},
      {"Juniper Vale",
       "Snowline",
       2015,
       false,
       {{"First Frost", nullptr},
        {"Pine Needle Hymn", nullptr},
        {"Timberline", nullptr},
        {"Cold Creek", nullptr},
        {"Winter Orchard", nullptr},
        {"Avalanche Prayer", nullptr},
        {"Snowline", nullptr}}},
      {"Desmond Achterberg Trio",
       "Blue Hours",
       2012,
       false,
       {{"Late Train Blues", nullptr},
        {"Sixth Avenue", nullptr},
        {"Smoke Rings", nullptr},
        {"Rain on Lenox", nullptr},
        {"Nightcap", nullptr},
        {"Brushwork", nullptr},
        {"Blue Hours", nullptr}}},
      {"Various Artists",
       "Roadside Radio",
       2020,
       true,
       {{"Dust and Chrome", "Coyote Static"},
        {"Motel Neon", "Lila Brandt"},
        {"Mile Marker Nine", "The Dry Counties"},
        {"Gas Station Roses", "Ruby Calloway"},
        {"Tumbleweed Static", "Coyote Static"},
        {"Highway Psalm", "Otis Fairweather"},
        {"Last Exit Lullaby", "Lila Brandt"}}},
  };
  return albums;
}

uint32_t SeedOf(size_t album, int32_t track) {
  return 1000 + static_cast<uint32_t>(album) * 100 + static_cast<uint32_t>(track);
}

std::string TrackArtist(const AlbumText& a, int32_t track) {
  const char* own = a.tracks[static_cast<size_t>(track - 1)].second;
  return own ? own : a.artist;
}
std::string Title(const AlbumText& a, int32_t track) {
  return a.tracks[static_cast<size_t>(track - 1)].first;
}
std::string Numbered(int32_t track, const std::string& title) {
  char number[16];
  std::snprintf(number, sizeof number, "%02d ", track);
  return number + title;
}

struct TagText {
  std::string artist, album_artist, album, title, track, year, identifier;
};

bool WriteTag(const fs::path& path, const TagText& t, std::string* error) {
  ComPtr<IFileTag> tag;
  if (FAILED(catalog::CreateCatalogFileTag(false, IFileTag::kIid, tag.OutVoid()))) {
    *error = "cannot create a tag";
    return false;
  }
  tag->put_Artist(Bstr::FromUtf8(t.artist).Get());
  tag->put_AlbumArtist(Bstr::FromUtf8(t.album_artist).Get());
  tag->put_AlbumTitle(Bstr::FromUtf8(t.album).Get());
  tag->put_Title(Bstr::FromUtf8(t.title).Get());
  tag->put_TrackNumber(Bstr::FromUtf8(t.track).Get());
  tag->put_Year(Bstr::FromUtf8(t.year).Get());
  tag->put_Identifier(Bstr::FromUtf8(t.identifier).Get());
  const HRESULT hr = catalog::SaveCatalogFileTag(tag.Get(), Bstr::FromUtf8(path.string()).Get());
  if (FAILED(hr)) {
    *error = "cannot write the tags of " + path.string() + " (error " + HresultText(hr) + ")";
    return false;
  }
  return true;
}

TagText FullTag(const AlbumText& a, int32_t track) {
  return {TrackArtist(a, track), a.compilation ? a.artist : "", a.album, Title(a, track),
          std::to_string(track), std::to_string(a.year),        ""};
}

// The library: which catalogue track each file holds and how it is messy.
struct Mess {
  size_t album;   // SIZE_MAX: a piece that is not in the catalogue
  int32_t track;  // 1-based
  enum Kind {
    kProperlyTagged,
    kTrackIdentifier,
    kDiscIdentifier,
    kWrongTag,
    kNamedByFolders,
    kRerendered22k,
    kQuieter44k,
    kRerendered16k,
    kShortClip,
    kNotInCatalogue,
  } kind;
  size_t wrong_album = 0;  // kWrongTag: the tag of this track instead
  int32_t wrong_track = 0;
};

const char* KindText(Mess::Kind kind) {
  switch (kind) {
    case Mess::kProperlyTagged:
      return "properly tagged";
    case Mess::kTrackIdentifier:
      return "tag holds only the track identifier";
    case Mess::kDiscIdentifier:
      return "tag holds only the disc identifier and track number";
    case Mess::kWrongTag:
      return "tagged as another track";
    case Mess::kNamedByFolders:
      return "untagged, Artist/Album/NN Title.wav";
    case Mess::kRerendered22k:
      return "untagged, useless name, 22050 Hz stereo";
    case Mess::kQuieter44k:
      return "properly tagged, 6 dB quieter, 44100 Hz";
    case Mess::kRerendered16k:
      return "untagged, useless name, 16000 Hz";
    case Mess::kShortClip:
      return "properly tagged 6 s clip, too short to fingerprint";
    case Mess::kNotInCatalogue:
      return "tagged, not in the catalogue";
  }
  return "";
}

const std::vector<Mess>& Library() {
  static const std::vector<Mess> library = {
      {0, 1, Mess::kProperlyTagged},  {2, 5, Mess::kProperlyTagged},
      {4, 2, Mess::kProperlyTagged},  {5, 4, Mess::kProperlyTagged},
      {1, 3, Mess::kTrackIdentifier}, {3, 6, Mess::kTrackIdentifier},
      {2, 8, Mess::kDiscIdentifier},  {0, 4, Mess::kWrongTag, 3, 2},
      {1, 6, Mess::kWrongTag, 1, 2},  {5, 1, Mess::kWrongTag, 2, 3},
      {0, 6, Mess::kNamedByFolders},  {1, 1, Mess::kNamedByFolders},
      {3, 3, Mess::kNamedByFolders},  {4, 5, Mess::kNamedByFolders},
      {2, 2, Mess::kRerendered22k},   {3, 7, Mess::kRerendered22k},
      {4, 7, Mess::kQuieter44k},      {5, 6, Mess::kRerendered16k},
      {1, 4, Mess::kShortClip},       {SIZE_MAX, 0, Mess::kNotInCatalogue},
  };
  return library;
}

}  // namespace

bool BuildDemo(const fs::path& dir, IPelkSonquixFingerprinter2* fingerprinter, DemoSet* set,
               std::string* error) {
  const auto& albums = Albums();
  std::error_code ec;
  // Reference audio, tagged as a ripper would, then one catalogue disc per album.
  std::vector<catalog::DiscRecord> discs;
  std::vector<std::vector<fs::path>> reference(albums.size());
  for (size_t a = 0; a < albums.size(); ++a) {
    const AlbumText& album = albums[a];
    const fs::path folder = dir / "reference" / album.artist / album.album;
    fs::create_directories(folder, ec);
    AlbumSpec spec{.artist = album.artist, .album = album.album, .compilation = album.compilation};
    for (int32_t t = 1; t <= static_cast<int32_t>(album.tracks.size()); ++t) {
      const fs::path path = folder / (Numbered(t, Title(album, t)) + ".wav");
      if (!WriteWav(path, RenderPiece(SeedOf(a, t), kRate, kSeconds), kRate, 1, 1.0, error) ||
          !WriteTag(path, FullTag(album, t), error)) {
        return false;
      }
      reference[a].push_back(path);
      spec.files.push_back(path.string());
    }
    catalog::DiscRecord disc;
    std::vector<std::string> warnings;
    if (!BuildAlbum(spec, fingerprinter, &disc, &warnings, error)) return false;
    if (!warnings.empty()) {
      *error = warnings.front();
      return false;
    }
    set->tracks += static_cast<int32_t>(disc.tracks.size());
    discs.push_back(std::move(disc));
  }
  set->albums = static_cast<int32_t>(discs.size());
  set->catalog = dir / "catalog.db";
  {
    auto store =
        catalog::CatalogStore::Open(set->catalog, catalog::CatalogStore::OpenMode::kCreate, error);
    if (!store || !store->AddDiscs(discs, error)) return false;
  }

  // The library.
  int32_t serial = 0;
  for (const Mess& m : Library()) {
    DemoFile file;
    file.kind = KindText(m.kind);
    fs::path path;
    std::function<bool()> write_audio;
    TagText tag;
    bool tagged = false;
    if (m.kind == Mess::kNotInCatalogue) {
      file.artist = "Zephyr Quixote";
      file.title = "Wobbly Kumquat";
      path = dir / "library" / "incoming" / "Zephyr Quixote - Wobbly Kumquat.wav";
      tag = {file.artist, "", "Xylophonic", file.title, "3", "2022", ""};
      tagged = true;
      write_audio = [&] {
        return WriteWav(path, RenderPiece(9001, kRate, kSeconds), kRate, 1, 1.0, error);
      };
    } else {
      const AlbumText& album = albums[m.album];
      const catalog::DiscRecord& disc = discs[m.album];
      file.disc_identifier = disc.identifier;
      file.track = m.track;
      file.artist = TrackArtist(album, m.track);
      file.title = Title(album, m.track);
      const fs::path source = reference[m.album][static_cast<size_t>(m.track - 1)];
      auto render = [&, seed = SeedOf(m.album, m.track)](int32_t rate, int32_t channels,
                                                         double gain, double seconds) {
        return WriteWav(path, RenderPiece(seed, rate, seconds), rate, channels, gain, error);
      };
      auto copy = [&, source] {
        if (fs::copy_file(source, path, fs::copy_options::overwrite_existing, ec)) return true;
        *error = "cannot copy " + source.string() + ": " + ec.message();
        return false;
      };
      char useless[32];
      std::snprintf(useless, sizeof useless, "audio_%03d.wav", ++serial);
      switch (m.kind) {
        case Mess::kProperlyTagged:
          path = dir / "library" / "incoming" / (file.artist + " - " + file.title + ".wav");
          write_audio = copy;
          tag = FullTag(album, m.track);
          tagged = true;
          break;
        case Mess::kTrackIdentifier:
        case Mess::kDiscIdentifier:
          path = dir / "library" / "rips" / useless;
          write_audio = copy;
          tag.identifier = m.kind == Mess::kTrackIdentifier
                               ? disc.tracks[static_cast<size_t>(m.track - 1)].identifier
                               : disc.identifier;
          if (m.kind == Mess::kDiscIdentifier) tag.track = std::to_string(m.track);
          tagged = true;
          break;
        case Mess::kWrongTag: {
          const AlbumText& wrong = albums[m.wrong_album];
          tag = FullTag(wrong, m.wrong_track);
          path = dir / "library" / "incoming" / (tag.artist + " - " + tag.title + ".wav");
          write_audio = copy;
          tagged = true;
          break;
        }
        case Mess::kNamedByFolders:
          path = dir / "library" / album.artist / album.album /
                 (Numbered(m.track, file.title) + ".wav");
          // Rendered again rather than copied: the same audio without the reference's tags.
          write_audio = [=] { return render(kRate, 1, 1.0, kSeconds); };
          break;
        case Mess::kRerendered22k:
          path = dir / "library" / "converted" / useless;
          write_audio = [=] { return render(22050, 2, 1.0, kSeconds); };
          break;
        case Mess::kQuieter44k:
          path = dir / "library" / "converted" / (file.artist + " - " + file.title + ".wav");
          write_audio = [=] { return render(44100, 1, 0.5, kSeconds); };
          tag = FullTag(album, m.track);
          tagged = true;
          break;
        case Mess::kRerendered16k:
          path = dir / "library" / "converted" / useless;
          write_audio = [=] { return render(16000, 1, 1.0, kSeconds); };
          break;
        case Mess::kShortClip:
          path = dir / "library" / "clips" / (file.title + ".wav");
          write_audio = [=] { return render(kRate, 1, 1.0, 6.0); };
          tag = FullTag(album, m.track);
          tagged = true;
          break;
        case Mess::kNotInCatalogue:
          break;
      }
    }
    fs::create_directories(path.parent_path(), ec);
    if (!write_audio() || (tagged && !WriteTag(path, tag, error))) return false;
    file.path = fs::relative(path, dir).string();
    set->files.push_back(std::move(file));
  }
  return true;
}

}  // namespace pelk::cli
