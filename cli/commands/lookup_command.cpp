#include "cli/commands/lookup_command.h"

#include <array>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/audio/file_fingerprint.h"
#include "cli/command_support.h"
#include "cli/module_session.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/error_info.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

struct ModeName {
  const char* name;
  int32_t bits;
};

constexpr std::array<ModeName, 6> kModeNames = {{
    {"waveform", WAVEFORM_LOOKUP},
    {"text", TEXT_LOOKUP},
    {"local", TEXT_LOCAL},
    {"multi-exact", TEXT_HINT_MULTI_EXACT},
    {"multi-fuzzy", TEXT_HINT_MULTI_FUZZY},
    {"fuzzy", TEXT_HINT_FUZZY},
}};

struct LookupOptions {
  std::string file;
  std::string catalog;
  std::string mode = "waveform,text";
  bool json = false;
};

struct CommittedDisc {
  std::string identifier, artist, album, title;
  int32_t track = 0;
};

template <class I>
std::string Text(I* object, HRESULT (I::*get)(BSTR*)) {
  Bstr value;
  if (!object || FAILED((object->*get)(value.Out()))) return {};
  return value.Utf8();
}

CommittedDisc ReadDisc(IDiscInfo* disc) {
  CommittedDisc d;
  d.identifier = Text(disc, &IDiscInfo::get_Identifier);
  d.artist = Text(disc, &IDiscInfo::get_Artist);
  d.album = Text(disc, &IDiscInfo::get_AlbumTitle);
  disc->get_CurrentTrack(&d.track);
  Bstr title;
  if (d.track > 0 && SUCCEEDED(disc->GetTrackTitle(d.track, title.Out()))) d.title = title.Utf8();
  return d;
}

// What the engine keeps after LookupFile: its single disc for match code 3, its collection for
// 2 and 5.
std::vector<CommittedDisc> ReadCommitted(const ModuleSession& session, int32_t match_code) {
  std::vector<CommittedDisc> discs;
  if (match_code == 3) {
    ComPtr<IDiscInfo> disc;
    if (SUCCEEDED(session.Control()->GetSingleMatch(disc.Out())) && disc) {
      discs.push_back(ReadDisc(disc.Get()));
    }
  } else if (match_code == 2 || match_code == 5) {
    ComPtr<IDiscList> list;
    int32_t count = 0;
    if (SUCCEEDED(session.Control()->GetMatchCollection(list.Out())) && list &&
        SUCCEEDED(list->get_Count(&count))) {
      for (int32_t i = 1; i <= count; ++i) {
        ComPtr<IDiscInfo> disc;
        if (SUCCEEDED(list->get_Item(i, disc.Out())) && disc) discs.push_back(ReadDisc(disc.Get()));
      }
    }
  }
  return discs;
}

std::string MatchCodeText(int32_t match_code) {
  switch (match_code) {
    case 1:
      return "no match";
    case 2:
      return "several candidates";
    case 3:
      return "one disc";
    case 5:
      return "several close candidates";
    default:
      return "match code " + std::to_string(match_code);
  }
}

void RunLookup(const LookupOptions& o) {
  const int32_t mode = LookupModeOf(o.mode);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(o.file, ec)) Fail(o.file + ": no such file");
  const std::string full = std::filesystem::absolute(o.file, ec).lexically_normal().string();
  const std::unique_ptr<ModuleSession> session = ModuleSession::LoadWithCatalog(o.catalog);

  // LookupFile does not fingerprint by itself: the host hands it the fingerprint.
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  std::string fingerprint_note = "none";
  if (mode & WAVEFORM_LOOKUP) {
    IPelkSonquixFingerprinter2* fingerprinter = session->Fingerprinter();
    FileFingerprint fp = FingerprintFile(fingerprinter, full, FixedLengthMs(fingerprinter));
    fingerprint = fp.fingerprint;
    fingerprint_note = fingerprint ? "host" : fp.error;
  }

  int32_t match_code = 0;
  const HRESULT hr = session->Manager()->LookupFile(
      fingerprint.Get(), Bstr(Utf8ToUtf16(full)).Get(), nullptr, mode, 0, &match_code);
  const std::string description = Utf16ToUtf8(TakeErrorDescription());
  const std::vector<CommittedDisc> discs =
      SUCCEEDED(hr) ? ReadCommitted(*session, match_code) : std::vector<CommittedDisc>{};

  if (o.json) {
    nlohmann::json line = {{"file", o.file},
                           {"mode", mode},
                           {"result", HresultText(hr)},
                           {"match_code", match_code},
                           {"fingerprint", fingerprint_note},
                           {"committed", nlohmann::json::array()}};
    if (!description.empty()) line["error"] = description;
    for (const CommittedDisc& d : discs) {
      line["committed"].push_back({{"identifier", d.identifier},
                                   {"artist", d.artist},
                                   {"album", d.album},
                                   {"track", d.track},
                                   {"title", d.title}});
    }
    std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    std::cout << o.file << ": " << MatchCodeText(match_code) << " (match code " << match_code
              << ", result " << HresultText(hr) << (description.empty() ? "" : ": " + description)
              << ")\n";
    for (const CommittedDisc& d : discs) {
      std::cout << "  " << d.artist << " - " << d.album << " [" << d.identifier << "]";
      if (d.track > 0) std::cout << ", track " << d.track << ": \"" << d.title << "\"";
      std::cout << '\n';
    }
  }
  // A lookup that found nothing is an answer; a failed call is not.
  if (FAILED(hr) && match_code != 1) throw CLI::RuntimeError(1);
}

}  // namespace

int32_t LookupModeOf(const std::string& text) {
  if (text.empty()) Fail("--mode: empty");
  if (std::isdigit(static_cast<unsigned char>(text.front()))) {
    return static_cast<int32_t>(ParseNumber(text, 0xFF, "--mode"));
  }
  int32_t mode = 0;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find_first_of(",|", start);
    const std::string name =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    bool known = false;
    for (const ModeName& m : kModeNames) {
      if (name == m.name) {
        mode |= m.bits;
        known = true;
      }
    }
    if (!known) Fail("--mode: unknown lookup mode name \"" + name + "\"");
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return mode;
}

void AddLookupCommand(CLI::App& app) {
  auto o = std::make_shared<LookupOptions>();
  CLI::App* command = app.add_subcommand(
      "lookup",
      "Look FILE up with the manager's single-call LookupFile: a waveform and/or text lookup "
      "whose choice is committed to the lookup engine. Prints the match code (1 no match, 2 "
      "several candidates, 3 one disc, 5 several close candidates) and the committed disc or "
      "collection as the control hands it out");
  command->add_option("FILE", o->file, "An audio file (fingerprinted by the host)")->required();
  command->add_option("--catalog", o->catalog,
                      "Catalogue file or postgresql:// location (default: $PELK_CATALOG, else "
                      "$XDG_DATA_HOME/pelk/catalog.db)");
  command->add_option("--mode", o->mode,
                      "Lookup mode bits (decimal or 0x hexadecimal) or names joined by ',': "
                      "waveform (0x1), text (0x2), local (0x4), multi-exact (0x10), multi-fuzzy "
                      "(0x20), fuzzy (0x40); default waveform,text");
  command->add_flag("--json", o->json, "Print one JSON object");
  command->callback([o] { RunLookup(*o); });
}

}  // namespace pelk::cli
