#include "cli/catalog_command.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "catalog/catalog_json.h"
#include "catalog/catalog_store.h"
#include "catalog/file_tag.h"
#include "cli/command_support.h"
#include "cli/file_fingerprint.h"
#include "runtime/bstr.h"
#include "runtime/decimal.h"
#include "runtime/utf.h"
#include "text/md5.h"

namespace pelk::cli {
namespace {

using catalog::CatalogStore;

struct CatalogOptions {
  std::string path;
  std::string json_file;
  bool json = false;
  // add-album
  std::vector<std::string> files;
  std::string artist, album, genre, identifier;
  int32_t year = 0;
  bool compilation = false;
};

std::filesystem::path PathOrDefault(const std::string& path) {
  return path.empty() ? CatalogStore::DefaultPath() : std::filesystem::path(path);
}

std::unique_ptr<CatalogStore> OpenOrFail(const std::string& path, CatalogStore::OpenMode mode) {
  std::string error;
  auto store = CatalogStore::Open(PathOrDefault(path), mode, &error);
  if (!store) Fail(error);
  return store;
}

void RunCreate(const CatalogOptions& o) {
  const auto path = PathOrDefault(o.path);
  if (std::filesystem::exists(path)) Fail(path.string() + " already exists");
  OpenOrFail(o.path, CatalogStore::OpenMode::kCreate);
  std::cout << "created " << path.string() << '\n';
}

void RunImport(const CatalogOptions& o) {
  std::ifstream in(o.json_file, std::ios::binary);
  if (!in) Fail("cannot read " + o.json_file);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<catalog::DiscRecord> discs;
  std::string error;
  if (!catalog::ParseCatalogJson(text.str(), &discs, &error)) Fail(o.json_file + ": " + error);
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kCreate);
  if (!store->AddDiscs(discs, &error)) Fail("nothing imported: " + error);
  size_t tracks = 0;
  for (const auto& d : discs) tracks += d.tracks.size();
  std::cout << "imported " << discs.size() << " discs, " << tracks << " tracks into "
            << store->Path().string() << '\n';
}

// What one audio file's tag says, read with the catalogue's own tags.
struct FileFacts {
  std::string title, artist, album, album_artist, genre, identifier;
  int32_t track = 0;
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
  facts.track = DecimalValue(Utf8ToUtf16(text(&IFileTag::get_TrackNumber)));
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
    while (i < stem.size() && (stem[i] == ' ' || stem[i] == '.' || stem[i] == '-' ||
                               stem[i] == '_')) {
      ++i;
    }
    if (i < stem.size()) stem = stem.substr(i);
  }
  return stem;
}

// A disc identifier that stays the same for the same artist and album.
std::string DiscIdentifierFor(const std::string& artist, const std::string& album) {
  const std::string key = artist + "\n" + album;
  const auto digest = text::Md5({std::span<const uint8_t>(
      reinterpret_cast<const uint8_t*>(key.data()), key.size())});
  std::string id = "D-";
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; digest && i < 6; ++i) {
    id += kHex[(*digest)[i] >> 4];
    id += kHex[(*digest)[i] & 15];
  }
  return id;
}

void RunAddAlbum(const CatalogOptions& o) {
  const ComPtr<IPelkSonquixFingerprinter2> fingerprinter = NewFingerprinter();
  const int32_t needed_ms = FixedLengthMs(fingerprinter.Get());
  catalog::DiscRecord disc;
  std::vector<FileFacts> facts;
  for (const std::string& path : o.files) facts.push_back(ReadFacts(path));
  auto first_of = [&](std::string FileFacts::*field) {
    for (const FileFacts& f : facts) {
      if (!(f.*field).empty()) return f.*field;
    }
    return std::string();
  };
  disc.album = !o.album.empty() ? o.album : first_of(&FileFacts::album);
  disc.artist = !o.artist.empty() ? o.artist : first_of(&FileFacts::album_artist);
  if (disc.artist.empty()) disc.artist = first_of(&FileFacts::artist);
  if (disc.album.empty() || disc.artist.empty()) {
    Fail("the album needs a title and an artist: the files' tags have none, give --album and "
         "--artist");
  }
  disc.genre = !o.genre.empty() ? o.genre : first_of(&FileFacts::genre);
  disc.year = o.year;
  for (const FileFacts& f : facts) {
    if (!disc.year && f.year > 0 && f.year < 10000) disc.year = f.year;
  }
  disc.compilation = o.compilation;
  disc.identifier = !o.identifier.empty() ? o.identifier : DiscIdentifierFor(disc.artist, disc.album);

  std::set<int32_t> numbers;
  for (size_t i = 0; i < o.files.size(); ++i) {
    const FileFacts& f = facts[i];
    catalog::TrackRecord track;
    track.number = f.track > 0 && !numbers.count(f.track) ? f.track : static_cast<int32_t>(i + 1);
    while (numbers.count(track.number)) ++track.number;
    numbers.insert(track.number);
    track.title = !f.title.empty() ? f.title : TitleFromFileName(o.files[i]);
    if (!f.artist.empty() && f.artist != disc.artist) track.artist = f.artist;
    track.length_ms = f.length_ms;
    track.identifier = !f.identifier.empty()
                           ? f.identifier
                           : disc.identifier + "-" + std::to_string(track.number);
    const FileFingerprint fp = FingerprintFile(fingerprinter.Get(), o.files[i], needed_ms);
    if (fp.fingerprint) {
      Bstr signature;
      fp.fingerprint->get_Signature(signature.Out());
      track.signature = catalog::ParseSignature(signature.Utf8());
    }
    if (!track.signature) {
      std::cerr << "sonquix: warning: " << o.files[i] << ": "
                << (fp.error.empty() ? "no fingerprint" : fp.error)
                << "; the track is added without one\n";
    }
    disc.tracks.push_back(std::move(track));
  }
  std::sort(disc.tracks.begin(), disc.tracks.end(),
            [](const auto& a, const auto& b) { return a.number < b.number; });
  disc.track_count = static_cast<int32_t>(disc.tracks.size());
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kCreate);
  std::string error;
  if (!store->AddDiscs({disc}, &error)) Fail("nothing added: " + error);
  size_t fingerprinted = 0;
  for (const auto& t : disc.tracks) fingerprinted += t.signature ? 1 : 0;
  std::cout << "added " << disc.identifier << "  " << disc.artist << " - " << disc.album << ": "
            << disc.tracks.size() << " tracks, " << fingerprinted << " fingerprinted\n";
}

void RunList(const CatalogOptions& o) {
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kExisting);
  const auto discs = store->AllDiscs();
  if (o.json) {
    std::cout << catalog::WriteCatalogJson(discs);
    return;
  }
  for (const auto& d : discs) {
    std::cout << d->identifier << "  " << d->artist << " - " << d->album;
    if (d->year) std::cout << " (" << d->year << ")";
    std::cout << "  [" << d->tracks.size() << "/" << d->track_count << " tracks]\n";
    for (const auto& t : d->tracks) {
      std::cout << "    " << t.number << ". " << t.title;
      if (!t.artist.empty()) std::cout << " - " << t.artist;
      std::cout << (t.signature ? "" : "  (no fingerprint)") << '\n';
    }
  }
}

void RunStats(const CatalogOptions& o) {
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kExisting);
  const catalog::CatalogStats stats = store->Stats();
  if (o.json) {
    std::cout << nlohmann::json{{"path", store->Path().string()},
                                {"discs", stats.discs},
                                {"tracks", stats.tracks},
                                {"fingerprinted_tracks", stats.signatures}}
                     .dump()
              << '\n';
    return;
  }
  std::cout << "catalogue            " << store->Path().string() << '\n'
            << "discs                " << stats.discs << '\n'
            << "tracks               " << stats.tracks << '\n'
            << "fingerprinted tracks " << stats.signatures << '\n';
}

void RunExport(const CatalogOptions& o) {
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kExisting);
  std::cout << catalog::WriteCatalogJson(store->AllDiscs());
}

}  // namespace

void AddCatalogCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("catalog", "Create, fill and inspect a local catalogue");
  cmd->require_subcommand(1);
  auto options = std::make_shared<CatalogOptions>();
  const std::string path_help =
      "Catalogue file (default: $PELK_CATALOG, else $XDG_DATA_HOME/pelk/catalog.db)";

  CLI::App* create = cmd->add_subcommand("create", "Create an empty catalogue");
  create->add_option("path", options->path, path_help);
  create->callback([options] { RunCreate(*options); });

  CLI::App* import = cmd->add_subcommand(
      "import", "Add the discs of a JSON catalogue file (all or nothing)");
  import->add_option("path", options->path, "Catalogue file")->required();
  import->add_option("file", options->json_file, "JSON file to import")
      ->required()
      ->check(CLI::ExistingFile);
  import->callback([options] { RunImport(*options); });

  CLI::App* add = cmd->add_subcommand(
      "add-album", "Add one album from its audio files: tags read, audio fingerprinted");
  add->add_option("path", options->path, "Catalogue file")->required();
  add->add_option("files", options->files, "The album's audio files, in track order")
      ->required()
      ->check(CLI::ExistingFile);
  add->add_option("--artist", options->artist, "Album artist (default: from the tags)");
  add->add_option("--album", options->album, "Album title (default: from the tags)");
  add->add_option("--year", options->year, "Year of release")->check(CLI::Range(0, 9999));
  add->add_option("--genre", options->genre, "Genre");
  add->add_option("--identifier", options->identifier,
                  "Disc identifier (default: derived from artist and album)");
  add->add_flag("--compilation", options->compilation, "The album is a compilation");
  add->callback([options] { RunAddAlbum(*options); });

  CLI::App* list = cmd->add_subcommand("list", "List the discs and tracks");
  list->add_option("path", options->path, path_help);
  list->add_flag("--json", options->json, "Print the catalogue's JSON form");
  list->callback([options] { RunList(*options); });

  CLI::App* stats = cmd->add_subcommand("stats", "Count discs, tracks and fingerprints");
  stats->add_option("path", options->path, path_help);
  stats->add_flag("--json", options->json, "Print a JSON object");
  stats->callback([options] { RunStats(*options); });

  CLI::App* exported = cmd->add_subcommand("export", "Print the catalogue as JSON for import");
  exported->add_option("path", options->path, path_help);
  exported->callback([options] { RunExport(*options); });
}

}  // namespace pelk::cli
