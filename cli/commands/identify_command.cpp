#include "cli/commands/identify_command.h"

#include <unistd.h>

#include <array>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/command_support.h"
#include "cli/module_session.h"
#include "cli/track_identification.h"
#include "pelk/manager_interfaces.h"

namespace pelk::cli {
namespace {

struct OptionFlag {
  const char* name;
  int32_t bits;
  bool clears;  // the flag removes the bits instead of adding them
  const char* help;
};

constexpr std::array<OptionFlag, 8> kOptionFlags = {{
    {"--no-waveform", SONQUIX_DISABLE_WF_QUERIES, false,
     "No fingerprint and no waveform lookup (0x10000)"},
    {"--no-text", SONQUIX_DISABLE_TEXT_QUERIES, false, "No text lookup of any kind (0x20000)"},
    {"--no-tag-lookup", SONQUIX_DISABLE_TEXT_LOOKUPS, false,
     "Never look up the file's own tag by text (0x8000)"},
    {"--no-filename-parsing", SONQUIX_DISABLE_FILENAME_PARSING, false,
     "Never look up or score the file's name and folders (0x100000)"},
    {"--prefer-waveform-matches", SONQUIX_PREFER_WF_MATCHES, false,
     "Skip the own-tag text lookup when there are candidates (0x4000)"},
    {"--prefer-waveform-queries", SONQUIX_PREFER_WF_QUERIES, false,
     "Skip the text lookups on waveform suggestions, and the own-tag one when there are "
     "candidates (0x40000)"},
    {"--extra-text-queries", SONQUIX_EXTRA_TEXT_QUERIES, false,
     "Run those text lookups even when a preference would skip them (0x80000)"},
    {"--no-tags", SONQUIX_GET_TAG_INTERNAL | SONQUIX_GET_TAG_FROM_APP, true,
     "Do not read the files' tags (clears 0x3000)"},
}};

struct IdentifyOptions {
  std::vector<std::string> files;
  std::string catalog;
  std::string raw_options;
  bool all = false;
  bool json = false;
  std::array<bool, kOptionFlags.size()> flags{};
};

nlohmann::json CandidateJson(const Candidate& c) {
  nlohmann::json j = {
      {"disc",
       {{"identifier", c.disc_identifier},
        {"artist", c.disc_artist},
        {"album", c.album},
        {"track_count", c.track_count}}},
      {"track", {{"number", c.track}, {"title", c.title}, {"artist", c.track_artist}}},
      {"match_type", c.match_type},
      {"match_type_name", MatchTypeName(c.match_type)},
      {"match_code", c.match_code},
      {"match_code_name", MatchCodeName(c.match_code)},
      {"score", c.score},
      {"found_by", c.found_by}};
  // No score is null with the reason beside it, never a number that reads as a grade.
  if (c.score < 0) {
    j["score"] = nullptr;
    j["no_score"] = c.no_score;
  }
  return j;
}

void PrintJson(const Identification& r) {
  nlohmann::json line = {{"file", r.file}};
  if (!r.error.empty()) {
    line["error"] = r.error;
  } else {
    line["identified"] = !r.candidates.empty();
    line["match_code"] = r.match_code;
    line["list_match_code"] = r.list_match_code;
    line["fingerprint"] = r.fingerprint;
    line["time_ms"] = r.trackid_ms;
    line["candidates"] = nlohmann::json::array();
    for (const Candidate& c : r.candidates) line["candidates"].push_back(CandidateJson(c));
  }
  std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void PrintText(const Identification& r) {
  if (!r.error.empty()) {
    std::cout << r.file << ": cannot be identified: " << r.error << '\n';
    return;
  }
  if (r.candidates.empty()) {
    std::cout << r.file << ": not identified";
    if (r.fingerprint != "module" && r.fingerprint != "host" && r.fingerprint != "none") {
      std::cout << " (no fingerprint: " << r.fingerprint << ")";
    }
    std::cout << '\n';
    return;
  }
  // TrackID's match code 3 is the one answer of SONQUIX_RETURN_SINGLE.
  const size_t n = r.candidates.size();
  std::cout << r.file << ": "
            << (r.match_code == 3 ? std::string("identified")
                                  : std::to_string(n) + (n == 1 ? " candidate" : " candidates"))
            << '\n';
  for (size_t i = 0; i < r.candidates.size(); ++i) {
    const Candidate& c = r.candidates[i];
    const std::string number = r.candidates.size() > 1 ? std::to_string(i + 1) + ". " : "";
    std::cout << "  " << number << c.disc_artist << " - " << c.album << " [" << c.disc_identifier
              << "], track " << c.track;
    // A count the disc's own track number exceeds is not shown as "track 21 of 15".
    if (c.track_count > 0 && c.track <= c.track_count) std::cout << " of " << c.track_count;
    std::cout << ": \"" << c.title << "\"";
    if (c.track_artist != c.disc_artist) std::cout << " by " << c.track_artist;
    std::cout << '\n'
              << "  " << std::string(number.size(), ' ') << MatchTypeName(c.match_type) << ", "
              << MatchCodeName(c.match_code) << ", "
              << (c.score >= 0 ? "score " + std::to_string(c.score) : "no score: " + c.no_score)
              << "; found by " << c.found_by << '\n';
  }
}

void RunIdentify(const IdentifyOptions& o) {
  std::vector<std::string> flags;
  for (size_t i = 0; i < kOptionFlags.size(); ++i) {
    if (o.flags[i]) flags.push_back(kOptionFlags[i].name);
  }
  const int32_t options = TrackIdOptions(o.raw_options, flags, o.all);
  const std::unique_ptr<ModuleSession> session = ModuleSession::LoadWithCatalog(o.catalog);
  const bool progress = ::isatty(STDERR_FILENO) != 0 && o.files.size() > 1;
  bool failed = false;
  for (size_t i = 0; i < o.files.size(); ++i) {
    if (progress) {
      std::cerr << "\r\033[Kidentifying " << i + 1 << "/" << o.files.size() << ": " << o.files[i]
                << std::flush;
    }
    const Identification r = IdentifyTrack(*session, o.files[i], options);
    if (progress) std::cerr << "\r\033[K" << std::flush;
    failed = failed || !r.error.empty();
    o.json ? PrintJson(r) : PrintText(r);
    std::cout.flush();
  }
  if (failed) throw CLI::RuntimeError(1);
}

}  // namespace

int32_t TrackIdOptions(const std::string& raw, const std::vector<std::string>& flags, bool all) {
  int32_t options = raw.empty() ? SONQUIX_DEFAULT_OPTIONS
                                : static_cast<int32_t>(ParseNumber(raw, 0x3FFFFF, "--options"));
  if (options == SONQUIX_DEFAULT) options = SONQUIX_DEFAULT_OPTIONS;
  for (const std::string& name : flags) {
    bool known = false;
    for (const OptionFlag& flag : kOptionFlags) {
      if (name != flag.name) continue;
      options = flag.clears ? options & ~flag.bits : options | flag.bits;
      known = true;
    }
    if (!known) Fail("unknown option flag " + name);
  }
  if (all) options = (options & ~SONQUIX_RETURN_SINGLE) | SONQUIX_RETURN_ALL;
  if (options & SONQUIX_LOOKUP_ASYNC) {
    Fail("--options: asynchronous identification (0x1) is not offered by this command");
  }
  const int32_t returns = options & (SONQUIX_RETURN_SINGLE | SONQUIX_RETURN_ALL);
  if (returns != SONQUIX_RETURN_SINGLE && returns != SONQUIX_RETURN_ALL) {
    Fail("--options: exactly one of 0x10 (best answer) and 0x20 (every candidate) must be set");
  }
  return options;
}

void AddIdentifyCommand(CLI::App& app) {
  auto o = std::make_shared<IdentifyOptions>();
  CLI::App* command = app.add_subcommand(
      "identify",
      "Identify each FILE against a catalogue with the manager's TrackID: the chosen disc "
      "(artist, album, identifier), the track (number, title, artist), the match type and code, "
      "the score (the track scorer's grade of that track against the file's tag and path, "
      "0-100) and how it was found. A file that cannot be read gets a line saying so, the others "
      "go on, and the exit code is 1");
  command
      ->add_option("FILE", o->files,
                   "Audio files (WAV read by the module; FLAC, Ogg, Opus, "
                   "MP3 decoded and fingerprinted by the host)")
      ->required();
  command->add_option("--catalog", o->catalog,
                      "Catalogue file or postgresql:// location (default: $PELK_CATALOG, else "
                      "$XDG_DATA_HOME/pelk/catalog.db)");
  command->add_flag("--all", o->all,
                    "Print every candidate (SONQUIX_RETURN_ALL instead of SONQUIX_RETURN_SINGLE)");
  command->add_flag("--json", o->json, "Print one JSON object per file and line");
  for (size_t i = 0; i < kOptionFlags.size(); ++i) {
    command->add_flag(kOptionFlags[i].name, o->flags[i], kOptionFlags[i].help);
  }
  command->add_option("--options", o->raw_options,
                      "TrackID option bits to start from instead of the default 0x3310 (decimal "
                      "or 0x hexadecimal; 0 means the default); the flags above apply on top");
  command->callback([o] { RunIdentify(*o); });
}

}  // namespace pelk::cli
