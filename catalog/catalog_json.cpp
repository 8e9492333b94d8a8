#include "catalog/catalog_json.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

namespace pelk::catalog {
namespace {

using nlohmann::json;

// The line of the first `"key":` in the text, for error messages (1 when not found).
int LineOf(std::string_view text, std::string_view key) {
  const std::string needle = "\"" + std::string(key) + "\"";
  size_t pos = text.find(needle);
  if (pos == std::string_view::npos) return 1;
  return 1 +
         static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(pos), '\n'));
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  // The format version the file declares: version 2 adds "signatures".
  void SetVersion(int32_t version) { version_ = version; }

  bool Fail(std::string_view key, const std::string& what) {
    if (error_.empty()) {
      error_ = "line " + std::to_string(LineOf(text_, key)) + ": " + what;
    }
    return false;
  }
  const std::string& Error() const { return error_; }

  // Refuses any member not in allowed.
  bool OnlyKnown(const json& object, std::initializer_list<std::string_view> allowed,
                 std::string_view where) {
    for (const auto& [key, value] : object.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        return Fail(key, "unknown field \"" + key + "\" in " + std::string(where));
      }
    }
    return true;
  }

  bool Text(const json& object, std::string_view key, bool required, std::string* out) {
    auto it = object.find(key);
    if (it == object.end())
      return !required || Fail(key, "missing field \"" + std::string(key) + "\"");
    if (!it->is_string()) return Fail(key, "\"" + std::string(key) + "\" must be a string");
    *out = it->get<std::string>();
    if (required && out->empty()) return Fail(key, "\"" + std::string(key) + "\" is empty");
    return true;
  }

  bool Int(const json& object, std::string_view key, bool required, int32_t min, int32_t max,
           int32_t* out) {
    auto it = object.find(key);
    if (it == object.end())
      return !required || Fail(key, "missing field \"" + std::string(key) + "\"");
    if (!it->is_number_integer() || it->get<int64_t>() < min || it->get<int64_t>() > max) {
      return Fail(key, "\"" + std::string(key) + "\" must be an integer from " +
                           std::to_string(min) + " to " + std::to_string(max));
    }
    *out = static_cast<int32_t>(it->get<int64_t>());
    return true;
  }

  bool Bool(const json& object, std::string_view key, bool* out) {
    auto it = object.find(key);
    if (it == object.end()) return true;
    if (!it->is_boolean()) return Fail(key, "\"" + std::string(key) + "\" must be true or false");
    *out = it->get<bool>();
    return true;
  }

  bool Track(const json& j, TrackRecord* t) {
    if (!j.is_object()) return Fail("tracks", "every track must be an object");
    const bool known =
        version_ >= 2
            ? OnlyKnown(j,
                        {"number", "title", "artist", "length_ms", "identifier", "signature",
                         "signatures"},
                        "a track")
            : OnlyKnown(j, {"number", "title", "artist", "length_ms", "identifier", "signature"},
                        "a track of a version 1 file");
    if (!known) return false;
    if (!Int(j, "number", true, 1, 9999, &t->number) || !Text(j, "title", true, &t->title) ||
        !Text(j, "artist", false, &t->artist) ||
        !Int(j, "length_ms", false, 0, INT32_MAX, &t->length_ms) ||
        !Text(j, "identifier", true, &t->identifier)) {
      return false;
    }
    std::string signature;
    if (!Text(j, "signature", false, &signature)) return false;
    if (!signature.empty()) {
      t->signature = ParseSignature(signature);
      if (!t->signature) return Fail("signature", "\"signature\" must hold 30 integers");
    }
    return Signatures(j, t);
  }

  // "signatures": the track's ladder, rung 0 first; never beside "signature".
  bool Signatures(const json& j, TrackRecord* t) {
    auto it = j.find("signatures");
    if (it == j.end()) return true;
    if (j.contains("signature")) {
      return Fail("signatures",
                  "track " + t->identifier + " has both \"signature\" and \"signatures\"");
    }
    if (!it->is_array() || it->empty()) {
      return Fail("signatures", "\"signatures\" must be a list of signature texts, rung 0 first");
    }
    for (const json& item : *it) {
      std::optional<Signature> s;
      if (item.is_string()) s = ParseSignature(item.get<std::string>());
      if (!s) return Fail("signatures", "every entry of \"signatures\" must hold 30 integers");
      if (!t->signature) {
        t->signature = s;
      } else {
        t->ladder.push_back(*s);
      }
    }
    return true;
  }

  bool Disc(const json& j, DiscRecord* d) {
    if (!j.is_object()) return Fail("discs", "every disc must be an object");
    if (!OnlyKnown(
            j,
            {"identifier", "album", "artist", "track_count", "compilation", "certified_level",
             "release_rank", "year", "genre", "store_ids", "disc_number", "disc_count", "tracks"},
            "a disc")) {
      return false;
    }
    if (!Text(j, "identifier", true, &d->identifier) || !Text(j, "album", true, &d->album) ||
        !Text(j, "artist", true, &d->artist) ||
        !Int(j, "track_count", false, 0, 9999, &d->track_count) ||
        !Bool(j, "compilation", &d->compilation) ||
        !Int(j, "certified_level", false, 0, INT32_MAX, &d->certified_level) ||
        !Int(j, "release_rank", false, 0, INT32_MAX, &d->release_rank) ||
        !Int(j, "year", false, 0, 9999, &d->year) || !Text(j, "genre", false, &d->genre) ||
        !Int(j, "disc_number", false, 0, 999, &d->disc_number) ||
        !Int(j, "disc_count", false, 0, 999, &d->disc_count)) {
      return false;
    }
    if (d->disc_count != 0 && d->disc_number > d->disc_count) {
      return Fail("disc_number", "\"disc_number\" of disc " + d->identifier + " is " +
                                     std::to_string(d->disc_number) +
                                     ", beyond its \"disc_count\" " +
                                     std::to_string(d->disc_count));
    }
    if (auto ids = j.find("store_ids"); ids != j.end()) {
      if (!ids->is_array() || ids->size() != 2 || !(*ids)[0].is_string() ||
          !(*ids)[1].is_string()) {
        return Fail("store_ids", "\"store_ids\" must be two strings");
      }
      d->store_id1 = (*ids)[0].get<std::string>();
      d->store_id2 = (*ids)[1].get<std::string>();
    }
    auto tracks = j.find("tracks");
    if (tracks == j.end() || !tracks->is_array()) {
      return Fail("tracks", "disc " + d->identifier + " needs a \"tracks\" array");
    }
    std::set<int32_t> numbers;
    for (const json& tj : *tracks) {
      TrackRecord t;
      if (!Track(tj, &t)) return false;
      if (!numbers.insert(t.number).second) {
        return Fail("number",
                    "track number " + std::to_string(t.number) + " twice on disc " + d->identifier);
      }
      d->tracks.push_back(std::move(t));
    }
    std::sort(d->tracks.begin(), d->tracks.end(),
              [](const TrackRecord& a, const TrackRecord& b) { return a.number < b.number; });
    // A count below the highest number would hand out tracks beyond the disc's own count; such
    // a file is refused rather than guessed at. Without a count the tracks listed decide it.
    if (d->track_count != 0 && d->track_count < d->SoundTrackCount()) {
      return Fail("track_count", "\"track_count\" of disc " + d->identifier + " is " +
                                     std::to_string(d->track_count) +
                                     ", below its highest track number " +
                                     std::to_string(d->HighestTrack()) + " (or its " +
                                     std::to_string(d->tracks.size()) + " tracks listed)");
    }
    d->track_count = d->SoundTrackCount();
    return true;
  }

 private:
  std::string_view text_;
  std::string error_;
  int32_t version_ = 1;
};

}  // namespace

bool ParseCatalogJson(std::string_view text, std::vector<DiscRecord>* discs, std::string* error) {
  json root;
  try {
    root = json::parse(text.begin(), text.end());
  } catch (const json::parse_error& e) {
    const size_t at = std::min(text.size(), static_cast<size_t>(e.byte));
    const int line =
        1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
    *error = "line " + std::to_string(line) + ": not valid JSON";
    return false;
  } catch (const json::exception& e) {
    // A number beyond what a double holds ("1e999"); the message quotes it, which finds its
    // line.
    const std::string what = e.what();
    const size_t close = what.rfind('\'');
    const size_t open =
        close == std::string::npos || close == 0 ? std::string::npos : what.rfind('\'', close - 1);
    const std::string token =
        open == std::string::npos ? std::string() : what.substr(open + 1, close - open - 1);
    const size_t at = token.empty() ? std::string_view::npos : text.find(token);
    const int line = at == std::string_view::npos
                         ? 1
                         : 1 + static_cast<int>(std::count(
                                   text.begin(), text.begin() + static_cast<long>(at), '\n'));
    *error = "line " + std::to_string(line) + ": a number is too large" +
             (token.empty() ? std::string() : " (" + token + ")");
    return false;
  }
  Reader reader(text);
  auto fail = [&] {
    *error = reader.Error();
    return false;
  };
  if (!root.is_object()) {
    reader.Fail("", "the file must hold one JSON object");
    return fail();
  }
  if (!reader.OnlyKnown(root, {"format", "version", "discs"}, "the file")) return fail();
  std::string format;
  int32_t version = 1;
  if (!reader.Text(root, "format", false, &format) ||
      !reader.Int(root, "version", false, 1, INT32_MAX, &version)) {
    return fail();
  }
  if (!format.empty() && format != "pelk-catalog") {
    reader.Fail("format", "\"format\" must be \"pelk-catalog\"");
    return fail();
  }
  if (version > kCatalogJsonVersion) {
    reader.Fail("version", "catalogue files of version " + std::to_string(version) +
                               " are newer than this program reads (" +
                               std::to_string(kCatalogJsonVersion) + ")");
    return fail();
  }
  reader.SetVersion(version);
  auto list = root.find("discs");
  if (list == root.end() || !list->is_array()) {
    reader.Fail("discs", "the file needs a \"discs\" array");
    return fail();
  }
  std::vector<DiscRecord> parsed;
  for (const json& dj : *list) {
    DiscRecord d;
    if (!reader.Disc(dj, &d)) return fail();
    parsed.push_back(std::move(d));
  }
  *discs = std::move(parsed);
  return true;
}

std::string WriteCatalogJson(const std::vector<DiscPtr>& discs) {
  json list = json::array();
  for (const DiscPtr& d : discs) {
    json tracks = json::array();
    for (const TrackRecord& t : d->tracks) {
      json tj = {{"number", t.number}, {"title", t.title}, {"identifier", t.identifier}};
      if (!t.artist.empty()) tj["artist"] = t.artist;
      if (t.length_ms) tj["length_ms"] = t.length_ms;
      if (t.signature) {
        json ladder = json::array({FormatSignature(*t.signature)});
        for (const Signature& s : t.ladder) ladder.push_back(FormatSignature(s));
        tj["signatures"] = std::move(ladder);
      }
      tracks.push_back(std::move(tj));
    }
    json dj = {{"identifier", d->identifier},
               {"album", d->album},
               {"artist", d->artist},
               {"track_count", d->track_count},
               {"compilation", d->compilation},
               {"certified_level", d->certified_level},
               {"release_rank", d->release_rank},
               {"year", d->year},
               {"genre", d->genre}};
    if (!d->store_id1.empty() || !d->store_id2.empty()) {
      dj["store_ids"] = {d->store_id1, d->store_id2};
    }
    if (d->disc_number) dj["disc_number"] = d->disc_number;
    if (d->disc_count) dj["disc_count"] = d->disc_count;
    dj["tracks"] = std::move(tracks);
    list.push_back(std::move(dj));
  }
  json root = {
      {"format", "pelk-catalog"}, {"version", kCatalogJsonVersion}, {"discs", std::move(list)}};
  return root.dump(2) + "\n";
}

}  // namespace pelk::catalog
