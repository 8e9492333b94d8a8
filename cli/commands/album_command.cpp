#include "cli/commands/album_command.h"

#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/audio/fingerprint_pool.h"
#include "cli/command_support.h"
#include "cli/library/audio_files.h"
#include "cli/library/file_answer.h"
#include "cli/library/manager_event_sink.h"
#include "cli/library/report_writer.h"
#include "cli/module_session.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

struct AlbumOptions {
  std::vector<std::string> paths;
  std::string catalog;
  bool json = false;
};

struct FoundAlbum {
  std::string identifier, artist, album;
  std::vector<FileAnswer> files;
};

struct AlbumOutcome {
  std::vector<FoundAlbum> albums;
  std::vector<FileAnswer> left_over;
};

// Reads AlbumID's result collection. Accepted albums (list code 3) keep their files; every other
// list is a file's own answer. A file is placed once, at its first appearance; files given that
// appear nowhere are left over with an answer saying so.
AlbumOutcome ReadOutcome(IPelkFileInfoLists* lists, const std::vector<std::string>& files,
                         const std::map<std::string, ComPtr<IPelkFileInfo2_6>>& inputs,
                         WaveformCheck* check) {
  AlbumOutcome outcome;
  std::set<std::string> placed;
  auto answer_of = [&](IPelkFileInfo* record) -> std::optional<FileAnswer> {
    Bstr name;
    if (FAILED(record->get_Filename(name.Out()))) return std::nullopt;
    const std::string file = name.Utf8();
    const auto input = inputs.find(file);
    if (input == inputs.end() || !placed.insert(file).second) return std::nullopt;
    return ReadFileAnswer(record, input->second.Get(), check);
  };
  int32_t count = 0;
  if (lists) lists->get_Count(&count);
  for (int32_t i = 1; i <= count; ++i) {
    ComPtr<IPelkFileInfoList> list;
    int32_t code = LIST_MATCH_NONE, n = 0;
    if (FAILED(lists->GetFileInfoList(i, list.Out())) || !list) continue;
    list->GetListMatchCode(&code);
    list->get_Count(&n);
    FoundAlbum album;
    for (int32_t j = 1; j <= n; ++j) {
      ComPtr<IPelkFileInfo> record;
      if (FAILED(list->GetFileInfo(j, record.Out())) || !record) continue;
      std::optional<FileAnswer> answer = answer_of(record.Get());
      if (!answer) continue;
      if (code == LIST_MATCH_ALBUM_SINGLE && answer->identified) {
        if (album.files.empty()) {
          album.identifier = answer->disc_identifier;
          album.artist = answer->artist;
          album.album = answer->album;
        }
        album.files.push_back(std::move(*answer));
      } else {
        outcome.left_over.push_back(std::move(*answer));
      }
    }
    if (!album.files.empty()) outcome.albums.push_back(std::move(album));
  }
  for (const std::string& file : files) {
    if (!placed.count(file)) outcome.left_over.push_back(MissingFileAnswer(file));
  }
  return outcome;
}

void PrintText(const AlbumOutcome& o, size_t given) {
  std::cout << o.albums.size() << (o.albums.size() == 1 ? " album" : " albums") << " found in "
            << given << (given == 1 ? " file" : " files") << '\n';
  for (const FoundAlbum& album : o.albums) {
    std::cout << '\n'
              << album.artist << " - " << album.album << " [" << album.identifier
              << "]: " << album.files.size() << " files, sure (an album accepted by AlbumID)\n";
    for (const FileAnswer& a : album.files) {
      std::cout << "  track " << a.track << " \"" << a.title << "\": " << a.file << "\n"
                << "    " << a.confidence << "; found by " << a.found_by << '\n';
    }
  }
  if (o.left_over.empty()) return;
  std::cout << '\n' << "Left over: " << o.left_over.size() << " files\n";
  for (const FileAnswer& a : o.left_over) {
    std::cout << "  " << a.file << '\n';
    if (a.identified) {
      std::cout << "    " << a.artist << " - " << a.album << " [" << a.disc_identifier
                << "], track " << a.track << " \"" << a.title << "\"\n";
    }
    std::cout << "    " << a.confidence;
    if (a.identified) std::cout << "; found by " << a.found_by;
    std::cout << '\n';
  }
}

void PrintJson(const AlbumOutcome& o, int32_t match_code) {
  nlohmann::json doc = {{"match_code", match_code},
                        {"albums", nlohmann::json::array()},
                        {"left_over", nlohmann::json::array()}};
  for (const FoundAlbum& album : o.albums) {
    nlohmann::json files = nlohmann::json::array();
    for (const FileAnswer& a : album.files) files.push_back(AnswerJson(a));
    doc["albums"].push_back({{"identifier", album.identifier},
                             {"artist", album.artist},
                             {"album", album.album},
                             {"certainty", "sure"},
                             {"files", files}});
  }
  for (const FileAnswer& a : o.left_over) doc["left_over"].push_back(AnswerJson(a));
  std::cout << doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void RunAlbum(const AlbumOptions& o) {
  const AudioFileSet set = CollectAudioFiles(o.paths);
  for (const std::string& missing : set.missing) PrintError(missing + ": no such file or folder");
  for (const UnreadablePath& unreadable : set.unreadable) PrintError(UnreadableText(unreadable));
  if (set.files.empty()) Fail("no audio files found in the paths given");
  const std::unique_ptr<ModuleSession> session = ModuleSession::LoadWithCatalog(o.catalog);

  // Fingerprints of what the module cannot read are decoded ahead by two workers and handed
  // over when the manager asks for them (GetFingerprintInfo, on its identifying or prefetch
  // thread), so decoding overlaps the lookups instead of preceding them.
  FingerprintPool pool(2);
  std::vector<std::string> host_files;
  for (const std::string& file : set.files) {
    if (HostFingerprints(file)) host_files.push_back(file);
  }
  pool.Enqueue(host_files);
  ManagerEventHandlers handlers;
  handlers.fingerprint_info = [&pool](const std::u16string& file, IPelkFileInfo* record) {
    const FileFingerprint fp = pool.Take(Utf16ToUtf8(file));
    if (fp.fingerprint) record->put_Fingerprint(fp.fingerprint.Get());
    return 0;
  };
  const EventConnection events(session->Manager(), std::move(handlers));
  if (!events.connected()) Fail("the manager refuses the host's event sink");

  const ComPtr<IPelkFileInfoList> list = session->NewList();
  if (!list) Fail("the identification module cannot create a list");
  std::map<std::string, ComPtr<IPelkFileInfo2_6>> inputs;
  for (const std::string& file : set.files) {
    const ComPtr<IPelkFileInfo2_6> record = session->NewRecord();
    if (!record || FAILED(record->put_Filename(Bstr::FromUtf8(file).Get())) ||
        FAILED(list->AddFileInfo(record.Get()))) {
      Fail("cannot queue " + file);
    }
    inputs.emplace(file, record);
  }
  int32_t match_code = 1;
  ComPtr<IPelkFileInfoLists> lists;
  const HRESULT hr =
      session->Manager()->AlbumID(list.Get(), SONQUIX_DEFAULT_OPTIONS, &match_code, lists.Out());
  if (FAILED(hr) && !lists) PrintError("AlbumID failed (error " + HresultText(hr) + ")");
  const std::unique_ptr<WaveformCheck> check = WaveformCheck::Open(session->CatalogLocation());
  const AlbumOutcome outcome = ReadOutcome(lists.Get(), set.files, inputs, check.get());
  o.json ? PrintJson(outcome, match_code) : PrintText(outcome, set.files.size());
  std::cout.flush();
  if (FAILED(hr) || !set.missing.empty() || !set.unreadable.empty()) throw CLI::RuntimeError(1);
}

}  // namespace

void AddAlbumCommand(CLI::App& app) {
  auto o = std::make_shared<AlbumOptions>();
  CLI::App* command = app.add_subcommand(
      "album",
      "Identify the audio files of the folders (recursively) and files given as albums with the "
      "manager's AlbumID: each album found (artist, title, disc identifier), the track each of "
      "its files was given, then the files left over with their own answers and how each was "
      "found. Every file given is printed exactly once");
  command->add_option("PATH", o->paths, "Folders and audio files")->required();
  command->add_option("--catalog", o->catalog,
                      "Catalogue file or postgresql:// location (default: $PELK_CATALOG, else "
                      "$XDG_DATA_HOME/pelk/catalog.db)");
  command->add_flag("--json", o->json, "Print one JSON document");
  command->callback([o] { RunAlbum(*o); });
}

}  // namespace pelk::cli
