#include "cli/commands/score_command.h"

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "cli/module_session.h"
#include "control/tag_utils.h"
#include "manager/lookup_matching.h"
#include "model/track_scorer.h"
#include "runtime/bstr.h"
#include "runtime/decimal.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

using text::ScorerText;
using text::TrackScorer;

struct ScoreOptions {
  std::string file;
  std::string disc;
  std::string catalog;
  int32_t track = 0;  // 0: the best track
  bool json = false;
  bool distance = false;
};

struct ComparisonInfo {
  TrackScorer::Comparison which;
  const char* name;
  const char* file_side;
  const char* disc_side;
};

// In the order the scorer's table lists them.
constexpr ComparisonInfo kComparisons[] = {
    {TrackScorer::kTagArtist, "tag-artist", "tag artist", "disc artist"},
    {TrackScorer::kTagAlbum, "tag-album", "tag album", "disc album"},
    {TrackScorer::kTagTrackArtist, "tag-track-artist", "tag artist", "track artist"},
    {TrackScorer::kTagTitle, "tag-title", "tag title", "track title"},
    {TrackScorer::kBArtist, "B-artist", "folder B", "disc artist"},
    {TrackScorer::kBAlbum, "B-album", "B1", "disc album"},
    {TrackScorer::kBTrackArtist, "B-track-artist", "B2", "track artist"},
    {TrackScorer::kAArtist, "A-artist", "folder A", "disc artist"},
    {TrackScorer::kAAlbum, "A-album", "A1", "disc album"},
    {TrackScorer::kATrackArtist, "A-track-artist", "A2", "track artist"},
    {TrackScorer::kFArtist, "F-artist", "file name", "disc artist"},
    {TrackScorer::kFAlbum, "F-album", "F1", "disc album"},
    {TrackScorer::kFTrackArtist, "F-track-artist", "F2", "track artist"},
    {TrackScorer::kFTitle, "F-title", "F3", "track title"},
};

const ComparisonInfo& Info(TrackScorer::Comparison which) {
  for (const ComparisonInfo& info : kComparisons) {
    if (info.which == which) return info;
  }
  return kComparisons[0];
}

// Each text the scorer compares, named, with the comparison whose file or disc side holds it.
struct NamedText {
  const char* name;
  const char* meaning;
  TrackScorer::Comparison source;
  bool disc_side;
};
constexpr NamedText kTexts[] = {
    {"tag artist", "the file's tag", TrackScorer::kTagArtist, false},
    {"tag album", "", TrackScorer::kTagAlbum, false},
    {"tag title", "", TrackScorer::kTagTitle, false},
    {"folder A", "second-to-last folder", TrackScorer::kAArtist, false},
    {"folder B", "last folder", TrackScorer::kBArtist, false},
    {"file name", "without its extension", TrackScorer::kFArtist, false},
    {"B1", "folder B without the disc artist", TrackScorer::kBAlbum, false},
    {"B2", "B1 without the disc album", TrackScorer::kBTrackArtist, false},
    {"A1", "folder A without the disc artist", TrackScorer::kAAlbum, false},
    {"A2", "A1 without the disc album", TrackScorer::kATrackArtist, false},
    {"F1", "file name without the disc artist", TrackScorer::kFAlbum, false},
    {"F2", "F1 without the disc album", TrackScorer::kFTrackArtist, false},
    {"F3", "F2 without the track artist", TrackScorer::kFTitle, false},
    {"disc artist", "the catalogue's disc", TrackScorer::kTagArtist, true},
    {"disc album", "", TrackScorer::kTagAlbum, true},
    {"track artist", "", TrackScorer::kTagTrackArtist, true},
    {"track title", "", TrackScorer::kTagTitle, true},
};

constexpr TrackScorer::Comparison kArtistGroup[] = {
    TrackScorer::kTagArtist,    TrackScorer::kBArtist,        TrackScorer::kAArtist,
    TrackScorer::kFArtist,      TrackScorer::kTagTrackArtist, TrackScorer::kBTrackArtist,
    TrackScorer::kATrackArtist, TrackScorer::kFTrackArtist};
constexpr TrackScorer::Comparison kAlbumGroup[] = {TrackScorer::kTagAlbum, TrackScorer::kBAlbum,
                                                   TrackScorer::kAAlbum, TrackScorer::kFAlbum};
constexpr TrackScorer::Comparison kTitleGroup[] = {TrackScorer::kTagTitle, TrackScorer::kFTitle};

struct Winner {
  TrackScorer::Comparison which;
  int32_t value;
};

template <size_t N>
Winner WinnerOf(const TrackScorer& scorer, const TrackScorer::Comparison (&group)[N]) {
  Winner best{group[0], scorer.CachedSimilarity(group[0])};
  for (TrackScorer::Comparison which : group) {
    if (scorer.CachedSimilarity(which) > best.value) best = {which, scorer.CachedSimilarity(which)};
  }
  return best;
}

template <class I>
std::string Text(I* object, HRESULT (I::*get)(BSTR*)) {
  Bstr value;
  if (!object || FAILED((object->*get)(value.Out()))) return {};
  return value.Utf8();
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// What the identifier shortcuts of the score see for one track.
struct Identifiers {
  std::string tag_identifier;    // the tag's track identifier text
  std::string track_identifier;  // the one of the tag built from the disc's track
  bool tag_identifier_match = false;
  bool itunes_present = false;  // the tag's store identifiers parse with a track number
  std::string itunes_disc;      // the identifier they name the disc by
  int32_t itunes_track = 0;
  std::string disc_identifier;
  bool itunes_match = false;
};

Identifiers ReadIdentifiers(std::u16string_view name, IFileTag* tag, IDiscInfo* disc,
                            int32_t track) {
  Identifiers ids;
  ids.disc_identifier = Text(disc, &IDiscInfo::get_Identifier);
  if (!tag) return ids;
  ids.tag_identifier = Text(tag, &IFileTag::get_Identifier);
  if (!ids.tag_identifier.empty()) {
    ComPtr<IFileTag> built;
    if (SUCCEEDED(TagFromDisc(name, disc, track, built.Out())) && built) {
      ids.track_identifier = Text(built.Get(), &IFileTag::get_Identifier);
    }
    ids.tag_identifier_match = ids.track_identifier == ids.tag_identifier;
  }
  std::u16string first, second;
  int32_t itunes_track = 0;
  if (SUCCEEDED(ParseITunesIds(name, tag, &first, 1024, &second, 1024, &itunes_track)) &&
      !first.empty() && itunes_track != 0) {
    ids.itunes_present = true;
    ids.itunes_disc = Utf16ToUtf8(first);
    ids.itunes_track = itunes_track;
    ids.itunes_match = ids.itunes_disc == ids.disc_identifier && itunes_track == track;
  }
  return ids;
}

// Everything the explanation prints.
struct Explanation {
  std::string file;
  std::string tag_status;  // "read", or why there is none
  std::string tag_track_number;
  std::string disc_identifier, disc_artist, album;
  int32_t track_count = 0;
  int32_t track = 0;
  bool best_of_all = false;
  std::vector<int32_t> all_scores;  // by track, with best_of_all
  Identifiers ids;
  int32_t hint = 0;
  std::string hint_source;
  int32_t text_score = 0;  // what the texts alone give (the identifiers left out)
  int32_t score = 0;
  // --distance: how far the older single-call lookups (LookupFile, ResolveLookup) find the
  // track from the file, by both variants, and which of them they use for this file.
  struct Distance {
    int32_t plain = 0;
    int32_t complete_tag = 0;
    bool tag_complete = false;
  };
  std::optional<Distance> distance;
};

void Check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) Fail(what + " (error " + HresultText(hr) + ")");
}

void PrintText(const Explanation& e, const TrackScorer& texts) {
  std::cout << "file     " << e.file << '\n';
  std::cout << "tag      " << e.tag_status;
  if (!e.tag_track_number.empty()) std::cout << ", track number " << Quoted(e.tag_track_number);
  std::cout << '\n'
            << "disc     " << e.disc_identifier << "  " << e.disc_artist << " - " << e.album << ", "
            << e.track_count << " tracks\n"
            << "track    " << e.track << ": "
            << Quoted(Utf16ToUtf8(texts.ComparedTexts(TrackScorer::kTagTitle).second.raw));
  const std::string track_artist =
      Utf16ToUtf8(texts.ComparedTexts(TrackScorer::kTagTrackArtist).second.raw);
  if (!track_artist.empty() && track_artist != e.disc_artist) std::cout << " by " << track_artist;
  if (e.best_of_all) {
    std::cout << "  (the best of " << e.track_count << " tracks; scores by track:";
    for (size_t i = 0; i < e.all_scores.size(); ++i) {
      std::cout << ' ' << i + 1 << ':' << e.all_scores[i];
    }
    std::cout << ')';
  }
  std::cout << "\n\ntexts                                             raw / normalized\n";
  for (const NamedText& t : kTexts) {
    const auto [file, disc] = texts.ComparedTexts(t.source);
    const ScorerText& text = t.disc_side ? disc : file;
    std::string label =
        std::string(t.name) + (*t.meaning ? std::string(" (") + t.meaning + ")" : "");
    std::cout << "  " << std::left << std::setw(48) << label << Quoted(Utf16ToUtf8(text.raw))
              << " / " << Quoted(Utf16ToUtf8(text.normalized)) << '\n';
  }
  std::cout << "\nsimilarities\n";
  for (const ComparisonInfo& c : kComparisons) {
    std::cout << "  " << std::left << std::setw(17) << c.name << std::setw(30)
              << std::string(c.file_side) + " vs " + c.disc_side << std::right << std::setw(4)
              << texts.CachedSimilarity(c.which) << '\n';
  }
  const Winner artist = WinnerOf(texts, kArtistGroup);
  const Winner album = WinnerOf(texts, kAlbumGroup);
  const Winner title = WinnerOf(texts, kTitleGroup);
  std::cout << std::left << "\nartist   " << std::setw(4) << artist.value << "from "
            << Info(artist.which).name << " (the largest of 8)\n"
            << "album    " << std::setw(4) << album.value << "from " << Info(album.which).name
            << " (the largest of 4)\n"
            << "title    " << std::setw(4) << title.value << "from " << Info(title.which).name
            << " (the larger of 2)\n"
            << "         (" << album.value << " + " << title.value << " + " << artist.value
            << ") / 3 = " << (album.value + title.value + artist.value) / 3 << '\n';
  std::cout << "hint     ";
  if (e.hint == 0) {
    std::cout << "none (no track number in the tag or the file name)";
  } else {
    std::cout << "track " << e.hint << " from " << e.hint_source
              << (e.hint == e.track ? ": it is this track, +10 (at most 100)"
                                    : ": not this track, nothing added");
  }
  std::cout << "\nidentifiers\n  tag track identifier  ";
  if (e.ids.tag_identifier.empty()) {
    std::cout << "none in the tag";
  } else {
    std::cout << Quoted(e.ids.tag_identifier) << ", the track's " << Quoted(e.ids.track_identifier)
              << (e.ids.tag_identifier_match ? ": equal, the score is 100" : ": different");
  }
  std::cout << "\n  iTunes identifiers    ";
  if (!e.ids.itunes_present) {
    std::cout << "none in the tag";
  } else {
    std::cout << "disc " << Quoted(e.ids.itunes_disc) << " track " << e.ids.itunes_track
              << ", this disc " << Quoted(e.ids.disc_identifier) << " track " << e.track
              << (e.ids.itunes_match ? ": equal, the score is 100" : ": different");
  }
  std::cout << "\n\ntext score " << e.text_score << "\nscore      " << e.score << '\n';
  if (e.distance) {
    std::cout << "\ntrack distance (the older lookups; 0 the same, 100 unrelated)\n"
              << "  plain         " << e.distance->plain
              << (e.distance->tag_complete ? "" : "  <- used: the tag is not complete") << '\n'
              << "  complete tag  " << e.distance->complete_tag
              << (e.distance->tag_complete ? "  <- used: the tag has artist, album and title" : "")
              << '\n';
  }
}

nlohmann::json TextJson(const ScorerText& text) {
  return {{"raw", Utf16ToUtf8(text.raw)}, {"normalized", Utf16ToUtf8(text.normalized)}};
}

void PrintJson(const Explanation& e, const TrackScorer& texts) {
  nlohmann::json j = {
      {"file", e.file},
      {"tag", e.tag_status},
      {"disc",
       {{"identifier", e.disc_identifier},
        {"artist", e.disc_artist},
        {"album", e.album},
        {"track_count", e.track_count}}},
      {"track", e.track},
      {"track_chosen", e.best_of_all ? "best" : "given"},
  };
  if (e.best_of_all) j["scores_by_track"] = e.all_scores;
  nlohmann::json file_side, disc_side;
  for (const NamedText& t : kTexts) {
    const auto [file, disc] = texts.ComparedTexts(t.source);
    (t.disc_side ? disc_side : file_side)[t.name] = TextJson(t.disc_side ? disc : file);
  }
  j["file_side"] = file_side;
  j["disc_side"] = disc_side;
  nlohmann::json similarities = nlohmann::json::array();
  for (const ComparisonInfo& c : kComparisons) {
    similarities.push_back({{"name", c.name},
                            {"file_side", c.file_side},
                            {"disc_side", c.disc_side},
                            {"value", texts.CachedSimilarity(c.which)}});
  }
  j["similarities"] = similarities;
  for (const auto& [field, winner] : {std::pair{"artist", WinnerOf(texts, kArtistGroup)},
                                      std::pair{"album", WinnerOf(texts, kAlbumGroup)},
                                      std::pair{"title", WinnerOf(texts, kTitleGroup)}}) {
    j[field] = {{"value", winner.value}, {"from", Info(winner.which).name}};
  }
  j["hint"] = {
      {"track", e.hint}, {"source", e.hint_source}, {"adds_10", e.hint != 0 && e.hint == e.track}};
  j["identifiers"] = {
      {"tag_track_identifier", e.ids.tag_identifier},
      {"track_identifier", e.ids.track_identifier},
      {"tag_identifier_match", e.ids.tag_identifier_match},
      {"itunes", e.ids.itunes_present ? nlohmann::json{{"disc", e.ids.itunes_disc},
                                                       {"track", e.ids.itunes_track},
                                                       {"match", e.ids.itunes_match}}
                                      : nlohmann::json()},
  };
  j["text_score"] = e.text_score;
  j["score"] = e.score;
  if (e.distance) {
    j["track_distance"] = {{"plain", e.distance->plain},
                           {"complete_tag", e.distance->complete_tag},
                           {"used", e.distance->tag_complete ? "complete_tag" : "plain"}};
  }
  std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void RunScore(const ScoreOptions& o) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(o.file, ec)) {
    Fail(o.file +
         (std::filesystem::exists(o.file, ec) ? ": not a regular file" : ": no such file"));
  }
  const std::unique_ptr<ModuleSession> session = ModuleSession::LoadWithCatalog(o.catalog);
  // The path as a host hands it to the manager: absolute.
  const std::u16string name = ArgumentText(
      std::filesystem::absolute(o.file, ec).lexically_normal().string(), "the file's path");

  ComPtr<IDiscInfo> found, disc;
  int32_t unused = 0;
  Check(session->Engine()->IdentifierLookup(Bstr(ArgumentText(o.disc, "--disc")).Get(), 0, &unused,
                                            found.Out()),
        "the catalogue cannot look up " + o.disc);
  if (!found) Fail("--disc " + o.disc + ": no disc or track with this identifier in the catalogue");
  Check(session->Engine()->FetchFullDisc(found.Get(), 1, 0, disc.Out()),
        "the catalogue cannot give the whole disc " + o.disc);
  if (!disc) Fail("the catalogue gave no disc for " + o.disc);

  Explanation e;
  e.file = o.file;
  e.disc_identifier = Text(disc.Get(), &IDiscInfo::get_Identifier);
  e.disc_artist = Text(disc.Get(), &IDiscInfo::get_Artist);
  e.album = Text(disc.Get(), &IDiscInfo::get_AlbumTitle);
  Check(disc->get_TrackCount(&e.track_count), "cannot read the disc's track count");
  if (e.track_count < 1) Fail("--disc " + o.disc + ": the disc has no tracks");
  if (o.track != 0 && (o.track < 1 || o.track > e.track_count)) {
    Fail("--track " + std::to_string(o.track) + ": the disc has " + std::to_string(e.track_count) +
         " tracks");
  }

  // The file's tag as the manager reads it: through the control's own tag object.
  ComPtr<IFileTag> tag = session->NewTag();
  if (!tag) Fail("the control module cannot create a tag");
  if (const HRESULT hr = tag->LoadFromFile(Bstr(ArgumentText(o.file, "FILE")).Get(), 0);
      FAILED(hr)) {
    e.tag_status = "none (the file's tags cannot be read, error " + HresultText(hr) + ")";
    tag.Reset();
  } else {
    e.tag_track_number = Text(tag.Get(), &IFileTag::get_TrackNumber);
    const bool empty = e.tag_track_number.empty() &&
                       Text(tag.Get(), &IFileTag::get_Artist).empty() &&
                       Text(tag.Get(), &IFileTag::get_AlbumTitle).empty() &&
                       Text(tag.Get(), &IFileTag::get_Title).empty() &&
                       Text(tag.Get(), &IFileTag::get_Identifier).empty();
    e.tag_status = empty ? "read, empty" : "read";
  }
  // The same texts without the identifiers, so that every similarity is computed even when an
  // identifier decides the score.
  ComPtr<IFileTag> text_tag;
  if (tag) {
    text_tag = session->NewTag();
    if (!text_tag || FAILED(CopyTagFields(text_tag.Get(), tag.Get()))) {
      Fail("the control module cannot copy a tag");
    }
    text_tag->put_Identifier(Bstr(u"").Get());
  }

  const int32_t first = o.track != 0 ? o.track : 1;
  Check(disc->put_CurrentTrack(first), "cannot select track " + std::to_string(first));
  TrackScorer scorer, texts;
  Check(scorer.Prepare(disc.Get(), name, tag.Get()), "the track scorer cannot read the disc");
  Check(texts.Prepare(disc.Get(), name, text_tag.Get()), "the track scorer cannot read the disc");
  e.track = o.track;
  if (o.track == 0) {
    e.best_of_all = true;
    int32_t best = -1;
    for (int32_t t = 1; t <= e.track_count; ++t) {
      int32_t score = 0;
      Check(scorer.SetTrack(t), "cannot select track " + std::to_string(t));
      Check(scorer.Score(&score), "cannot score track " + std::to_string(t));
      e.all_scores.push_back(score);
      if (score > best) best = score, e.track = t;
    }
  }
  Check(scorer.SetTrack(e.track), "cannot select track " + std::to_string(e.track));
  Check(scorer.Score(&e.score), "cannot score track " + std::to_string(e.track));
  Check(texts.SetTrack(e.track), "cannot select track " + std::to_string(e.track));
  Check(texts.Score(&e.text_score), "cannot score track " + std::to_string(e.track));

  Check(disc->put_CurrentTrack(e.track), "cannot select track " + std::to_string(e.track));
  e.ids = ReadIdentifiers(name, tag.Get(), disc.Get(), e.track);
  e.hint = scorer.Hint();
  if (e.hint != 0) {
    e.hint_source = DecimalValue(Utf8ToUtf16(e.tag_track_number)) != 0 ? "the tag's track number"
                                                                       : "the file name";
  }
  if (o.distance) {
    const LookupFileSide side(name, tag.Get());
    e.distance = Explanation::Distance{TrackDistance(disc.Get(), e.track, side),
                                       TrackDistanceCompleteTag(disc.Get(), e.track, side),
                                       side.complete};
  }
  o.json ? PrintJson(e, texts) : PrintText(e, texts);
}

}  // namespace

void AddScoreCommand(CLI::App& app) {
  auto o = std::make_shared<ScoreOptions>();
  CLI::App* command = app.add_subcommand(
      "score",
      "Explain the score of a catalogue disc's track against FILE, field by field: the texts "
      "of the file (tag, folders, file name and their stripped forms) and of the disc, the "
      "fourteen similarities, the winners for artist, album and title, the track-number hint, "
      "the identifier shortcuts and the final score");
  command->add_option("FILE", o->file, "The audio file")->required();
  command->add_option("--disc", o->disc, "The disc's identifier (or one of its tracks')")
      ->required();
  command
      ->add_option("--track", o->track,
                   "The track to explain (default: the best-scoring one, the first of equals)")
      ->check(CLI::PositiveNumber);
  command->add_option("--catalog", o->catalog,
                      "Catalogue file or postgresql:// location (default: $PELK_CATALOG, else "
                      "$XDG_DATA_HOME/pelk/catalog.db)");
  command->add_flag("--json", o->json, "Print one JSON object");
  command->add_flag("--distance", o->distance,
                    "Also the track distance by which LookupFile and ResolveLookup choose a "
                    "track, in both variants (plain and complete tag)");
  command->callback([o] { RunScore(*o); });
}

}  // namespace pelk::cli
