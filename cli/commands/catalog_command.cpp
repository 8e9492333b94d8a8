#include "cli/commands/catalog_command.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "catalog/catalog_json.h"
#include "catalog/catalog_store.h"
#include "cli/album_builder.h"
#include "cli/audio/file_fingerprint.h"
#include "cli/command_support.h"

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
  int32_t disc = 0;
  bool compilation = false;
  bool replace = false;
};

// "Artist - Album, disc 2 of 3": which disc, in words.
std::string DiscName(const catalog::DiscRecord& d) {
  std::string name = d.artist + " - " + d.album;
  if (d.disc_number > 0) {
    name += ", disc " + std::to_string(d.disc_number);
    if (d.disc_count > 0) name += " of " + std::to_string(d.disc_count);
  }
  return name;
}

std::string LocationOrDefault(const std::string& location) {
  return location.empty() ? CatalogStore::DefaultLocation() : location;
}

std::unique_ptr<CatalogStore> OpenOrFail(const std::string& location, CatalogStore::OpenMode mode) {
  std::string error;
  auto store = CatalogStore::Open(LocationOrDefault(location), mode, &error);
  if (!store) Fail(error);
  return store;
}

void RunCreate(const CatalogOptions& o) {
  const std::string location = LocationOrDefault(o.path);
  if (CatalogStore::IsServerLocation(location)) {
    // The database itself is the server administrator's to make; a catalogue is laid out in it.
    std::string ignored;
    if (auto existing = CatalogStore::Open(location, CatalogStore::OpenMode::kExisting, &ignored)) {
      Fail(existing->Location() + " already holds a catalogue");
    }
  } else if (std::filesystem::exists(location)) {
    Fail(location + " already exists");
  }
  auto store = OpenOrFail(location, CatalogStore::OpenMode::kCreate);
  std::cout << "created " << store->Location() << '\n';
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
  if (!store->AddDiscs(discs, &error, o.replace)) {
    Fail("nothing imported: " + error +
         (error.find("already in the catalogue") != std::string::npos && !o.replace
              ? "; use --replace to replace the discs already there"
              : ""));
  }
  size_t tracks = 0;
  for (const auto& d : discs) tracks += d.tracks.size();
  std::cout << "imported " << discs.size() << " discs, " << tracks << " tracks into "
            << store->Location() << '\n';
}

void RunAddAlbum(const CatalogOptions& o) {
  const ComPtr<IPelkSonquixFingerprinter2> fingerprinter = NewFingerprinter();
  const AlbumSpec spec{o.files,      o.artist, o.album,       o.genre,
                       o.identifier, o.year,   o.compilation, o.disc};
  catalog::DiscRecord disc;
  std::vector<std::string> warnings;
  std::string error;
  if (!BuildAlbum(spec, fingerprinter.Get(), &disc, &warnings, &error)) Fail(error);
  for (const std::string& warning : warnings) std::cerr << "sonquix: warning: " << warning << '\n';
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kCreate);
  const catalog::DiscPtr old = store->DiscByIdentifier(disc.identifier);
  if (old && !o.replace) {
    Fail(DiscName(*old) + " is already in the catalogue as " + disc.identifier + " (" +
         std::to_string(old->tracks.size()) +
         " tracks); nothing added: use --replace to replace it");
  }
  if (!store->AddDiscs({disc}, &error, o.replace)) Fail("nothing added: " + error);
  size_t fingerprinted = 0;
  for (const auto& t : disc.tracks) fingerprinted += t.signature ? 1 : 0;
  std::cout << (old ? "replaced " : "added ") << disc.identifier << "  " << DiscName(disc) << ": "
            << disc.tracks.size() << " tracks, " << fingerprinted << " fingerprinted\n";
  const auto release = store->ReleaseDiscs(disc);
  if (release.size() > 1) {
    std::cout << "the catalogue holds " << release.size() << " discs of this release:";
    for (const auto& d : release) {
      std::cout << ' ' << d->identifier;
      if (d->disc_number > 0) std::cout << " (disc " << d->disc_number << ")";
    }
    std::cout << '\n';
  }
}

void RunList(const CatalogOptions& o) {
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kExisting);
  const auto discs = store->AllDiscs();
  if (o.json) {
    std::cout << catalog::WriteCatalogJson(discs);
    return;
  }
  for (const auto& d : discs) {
    std::cout << d->identifier << "  " << DiscName(*d);
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
    std::cout << nlohmann::json{{"path", store->Location()},
                                {"discs", stats.discs},
                                {"tracks", stats.tracks},
                                {"fingerprinted_tracks", stats.fingerprinted_tracks},
                                {"signatures", stats.signatures}}
                     .dump()
              << '\n';
    return;
  }
  std::cout << "catalogue            " << store->Location() << '\n'
            << "discs                " << stats.discs << '\n'
            << "tracks               " << stats.tracks << '\n'
            << "fingerprinted tracks " << stats.fingerprinted_tracks << '\n'
            << "signatures           " << stats.signatures << '\n';
}

void RunExport(const CatalogOptions& o) {
  auto store = OpenOrFail(o.path, CatalogStore::OpenMode::kExisting);
  std::cout << catalog::WriteCatalogJson(store->AllDiscs());
}

}  // namespace

void AddCatalogCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("catalog", "Create, fill and inspect a catalogue: a file, or a PostgreSQL database");
  cmd->require_subcommand(1);
  auto options = std::make_shared<CatalogOptions>();
  const std::string path_help =
      "Catalogue file or postgresql:// location (default: $PELK_CATALOG, else "
      "$XDG_DATA_HOME/pelk/catalog.db)";

  CLI::App* create = cmd->add_subcommand("create", "Create an empty catalogue");
  create->add_option("path", options->path, path_help);
  create->callback([options] { RunCreate(*options); });

  CLI::App* importer =
      cmd->add_subcommand("import", "Add the discs of a JSON catalogue file (all or nothing)");
  importer->add_option("path", options->path, "Catalogue file or postgresql:// location")
      ->required();
  importer->add_option("file", options->json_file, "JSON file to import")
      ->required()
      ->check(CLI::ExistingFile);
  importer->add_flag("--replace", options->replace,
                     "Replace the discs already in the catalogue under the same identifiers");
  importer->callback([options] { RunImport(*options); });

  CLI::App* add = cmd->add_subcommand(
      "add-album", "Add one album from its audio files: tags read, audio fingerprinted");
  add->add_option("path", options->path, "Catalogue file or postgresql:// location")->required();
  add->add_option("files", options->files, "The album's audio files, in track order")
      ->required()
      ->check(CLI::ExistingFile);
  add->add_option("--artist", options->artist, "Album artist (default: from the tags)");
  add->add_option("--album", options->album, "Album title (default: from the tags)");
  add->add_option("--year", options->year, "Year of release")->check(CLI::Range(0, 9999));
  add->add_option("--genre", options->genre, "Genre");
  add->add_option("--identifier", options->identifier,
                  "Disc identifier (default: derived from artist, album and, from disc 2 on, the "
                  "disc number)");
  add->add_option("--disc", options->disc,
                  "Which disc of the release the files are (default: from the tags)")
      ->check(CLI::Range(1, 999));
  add->add_flag("--replace", options->replace,
                "Replace the disc if it is already in the catalogue (its tracks go with it)");
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
