#include "catalog/matching.h"

#include <algorithm>
#include <map>
#include <set>

#include "catalog/index_words.h"
#include "runtime/utf.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk::catalog {
namespace {

constexpr size_t kWaveformCandidates = 16;
constexpr size_t kTextCandidates = 200;
constexpr size_t kRankedMatches = 1000;   // a word query matching more is not ranked
constexpr int32_t kTextAccept = 60;       // combined score below this is no candidate
constexpr int32_t kTextClear = 85;        // a best at least this good ...
constexpr int32_t kTextClearMargin = 10;  // ... and this far ahead is one clear answer
constexpr size_t kMaxAnswers = 10;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

std::u16string Trim(std::u16string_view s) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'_' || c == u'\t'; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::u16string(s.substr(b, e - b));
}

// Splits "NN rest", "NN - rest", "NN. rest" into the number and the rest.
int32_t LeadingTrackNumber(std::u16string& text) {
  size_t i = 0;
  int32_t n = 0;
  while (i < text.size() && i < 3 && text[i] >= u'0' && text[i] <= u'9')
    n = n * 10 + (text[i++] - u'0');
  if (i == 0 || i == text.size() ||
      (text[i] != u' ' && text[i] != u'.' && text[i] != u'-' && text[i] != u'_')) {
    return 0;
  }
  while (i < text.size() &&
         (text[i] == u' ' || text[i] == u'.' || text[i] == u'-' || text[i] == u'_')) {
    ++i;
  }
  text = Trim(std::u16string_view(text).substr(i));
  return n;
}

// "A - B" into A and B; false without the separator.
bool SplitDash(std::u16string_view text, std::u16string* left, std::u16string* right) {
  const size_t dash = text.find(u" - ");
  if (dash == std::u16string_view::npos) return false;
  *left = Trim(text.substr(0, dash));
  *right = Trim(text.substr(dash + 3));
  return !left->empty() && !right->empty();
}

struct Field {
  std::u16string raw, normalized;
};

Field MakeField(std::u16string_view raw) {
  return Field{std::u16string(raw), text::StandardNormalized(raw)};
}

int32_t Similarity(const Field& a, std::u16string_view raw) {
  if (a.raw.empty() || raw.empty()) return 0;
  return text::FieldSimilarity(a.raw, a.normalized, raw, text::StandardNormalized(raw));
}

// The words of a normalized field, for the full-text index.
void AddWords(const std::u16string& normalized, std::vector<std::string>* words) {
  size_t start = 0;
  while (start < normalized.size()) {
    size_t end = normalized.find(u' ', start);
    if (end == std::u16string::npos) end = normalized.size();
    if (end - start >= 3) words->push_back(Utf16ToUtf8(normalized.substr(start, end - start)));
    start = end + 1;
  }
}

// The words of a normalized field that the word index holds in the column; words that are not
// there (a misspelling, a word the catalogue lacks) cannot narrow the search and are left to the
// scoring. With last_as_prefix, a last word of three characters or more that is no word of the
// column stands for the words that begin with it: titles cut short (file names, tags of limited
// length) end mid-word.
std::vector<std::string> KnownWords(CatalogStore& store, WordColumn column,
                                    const std::u16string& normalized, bool last_as_prefix) {
  std::vector<std::string> known;
  std::vector<std::string> words = IndexWords(Utf16ToUtf8(normalized));
  for (size_t i = 0; i < words.size(); ++i) {
    std::string& w = words[i];
    if (std::find(known.begin(), known.end(), w) != known.end()) continue;
    if (store.HasWord(column, w)) {
      known.push_back(std::move(w));
    } else if (last_as_prefix && i + 1 == words.size() && w.size() >= 3 &&
               store.HasWord(column, w + '*')) {
      known.push_back(w + '*');
    }
  }
  return known;
}

// The word-index queries of a lookup, narrowest first. The exact title (by the artist, then by
// anyone) needs no ranking: its tracks share the whole title. The rest use only the words the
// index holds and are ranked: every title word by the artist, every title word, all title words
// but one by the artist, the artist's tracks on the album, the artist's tracks, all title words
// but one.
struct RankedQuery {
  WordQuery match;
  bool ranked = true;
};

std::vector<RankedQuery> ExactTitleQueries(const Field& title, const Field& artist) {
  const std::string key = TitleKey(Utf16ToUtf8(title.normalized));
  if (key.empty()) return {};
  const WordQuery exact = AllWordsIn(WordColumn::kTitleKey, {key});
  std::vector<RankedQuery> queries;
  if (!artist.raw.empty()) {
    const WordQuery by_artist =
        AllWordsIn(WordColumn::kArtist, IndexWords(Utf16ToUtf8(artist.normalized)));
    if (!by_artist.empty()) queries.push_back({Both(exact, by_artist), false});
  }
  queries.push_back({exact, false});
  return queries;
}

std::vector<RankedQuery> WordQueries(CatalogStore& store, const Field& title, const Field& artist,
                                     const Field& album) {
  const std::vector<std::string> title_words =
      KnownWords(store, WordColumn::kTitle, title.normalized, true);
  const std::vector<std::string> artist_words =
      artist.raw.empty() ? std::vector<std::string>()
                         : KnownWords(store, WordColumn::kArtist, artist.normalized, false);
  const std::vector<std::string> album_words =
      album.raw.empty() ? std::vector<std::string>()
                        : KnownWords(store, WordColumn::kAlbum, album.normalized, false);
  const WordQuery by_artist = AllWordsIn(WordColumn::kArtist, artist_words);
  const WordQuery on_album = AllWordsIn(WordColumn::kAlbum, album_words);
  const WordQuery all_title = AllWordsIn(WordColumn::kTitle, title_words);
  const WordQuery most_title = AllButOneWordIn(WordColumn::kTitle, title_words);
  std::vector<RankedQuery> queries;
  for (const WordQuery& match : {Both(all_title, by_artist), all_title, Both(most_title, by_artist),
                                 Both(by_artist, on_album), by_artist, most_title}) {
    if (match.empty()) continue;
    if (std::none_of(queries.begin(), queries.end(),
                     [&](const RankedQuery& q) { return q.match == match; })) {
      queries.push_back({match, true});
    }
  }
  return queries;
}

// Candidates from the trigram table, as catalogues without a word index are searched: every title
// word in the title, then any of them, then any word anywhere (words of three characters or more,
// matched as substrings).
std::vector<TextCandidate> TrigramSearch(CatalogStore& store, const Field& title,
                                         const Field& artist, const Field& album) {
  std::vector<std::string> title_words, all_words;
  AddWords(title.normalized, &title_words);
  if (title_words.empty() && !title.normalized.empty()) {
    title_words.push_back(Utf16ToUtf8(title.normalized));
  }
  all_words = title_words;
  AddWords(artist.normalized, &all_words);
  AddWords(album.normalized, &all_words);
  std::vector<TrackHit> hits = store.TextCandidates(title_words, "title", true, kTextCandidates);
  if (hits.empty()) hits = store.TextCandidates(title_words, "title", false, kTextCandidates);
  if (hits.empty()) hits = store.TextCandidates(all_words, "", false, kTextCandidates);

  std::vector<TextCandidate> candidates;
  std::map<int64_t, DiscPtr> discs;
  for (const TrackHit& hit : hits) {
    DiscPtr& disc = discs[hit.disc_id];
    if (!disc) disc = store.DiscById(hit.disc_id);
    const TrackRecord* track = disc ? disc->Track(hit.track) : nullptr;
    if (!track) continue;
    candidates.push_back(TextCandidate{hit.disc_id, hit.track, track->title, track->artist,
                                       disc->artist, disc->album});
  }
  return candidates;
}

}  // namespace

MatchAnswer MatchWaveform(CatalogStore& store, const Signature& signature,
                          const WaveformThresholds& thresholds) {
  MatchAnswer answer;
  const std::vector<TrackHit> hits =
      store.NearestSignatures(signature, thresholds.max_distance, kWaveformCandidates);
  if (hits.empty()) return answer;
  for (const TrackHit& h : hits) {
    const int64_t score = 100 - h.distance * 100 / std::max<int64_t>(1, thresholds.max_distance);
    answer.matches.push_back(Match{h.disc_id, h.track, static_cast<int32_t>(score)});
  }
  const int64_t best = hits[0].distance;
  size_t same = 1;
  while (same < hits.size() && hits[same].distance - best <= thresholds.same_recording) ++same;
  if (same > 1) {
    answer.kind = 5;
    answer.matches.resize(same);
  } else if (hits.size() == 1 || hits[1].distance - best >= thresholds.clear_margin) {
    answer.kind = 3;
    answer.matches.resize(1);
  } else {
    answer.kind = 2;
  }
  return answer;
}

ParsedFileName ParseFileName(std::u16string_view path) {
  ParsedFileName parsed;
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (i > start) parts.emplace_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  if (parts.empty()) return parsed;
  std::u16string name = parts.back();
  if (const size_t dot = name.rfind(u'.'); dot != std::u16string::npos && dot > 0) {
    name.resize(dot);
  }
  name = Trim(name);
  parsed.track = LeadingTrackNumber(name);
  std::u16string left, right;
  if (SplitDash(name, &left, &right)) {
    parsed.artist = left;  // "NN. Artist - Title" or "Artist - Title"
    parsed.title = right;
  } else {
    parsed.title = name;
  }
  if (parts.size() >= 2) {
    const std::u16string& folder = parts[parts.size() - 2];
    if (SplitDash(folder, &left, &right)) {  // "Artist - Album/NN - Title"
      if (parsed.artist.empty()) parsed.artist = left;
      parsed.album = right;
    } else {
      parsed.album = Trim(folder);
      if (parsed.artist.empty() && parts.size() >= 3) parsed.artist = Trim(parts[parts.size() - 3]);
    }
  }
  return parsed;
}

MatchAnswer MatchText(CatalogStore& store, const TextQuery& query, TextSearch search) {
  TextQuery q = query;
  if (q.title.empty() && !q.file_name.empty()) {
    const ParsedFileName parsed = ParseFileName(q.file_name);
    q.title = parsed.title;
    if (q.artist.empty()) q.artist = parsed.artist;
    if (q.album.empty()) q.album = parsed.album;
  }
  MatchAnswer answer;
  if (q.title.empty()) return answer;
  const Field title = MakeField(q.title), artist = MakeField(q.artist), album = MakeField(q.album);
  auto score_of = [&](const TextCandidate& c) {
    // Title counts twice; artist and album count when the query has them.
    int32_t total = 2 * Similarity(title, Utf8ToUtf16(c.title));
    int32_t weight = 2;
    if (!artist.raw.empty()) {
      total +=
          std::max(Similarity(artist, Utf8ToUtf16(c.artist.empty() ? c.disc_artist : c.artist)),
                   Similarity(artist, Utf8ToUtf16(c.disc_artist)));
      ++weight;
    }
    if (!album.raw.empty()) {
      total += Similarity(album, Utf8ToUtf16(c.album));
      ++weight;
    }
    return total / weight;
  };
  std::vector<Match> scored;
  auto add = [&](const TextCandidate& c) {
    if (const int32_t score = score_of(c); score >= kTextAccept) {
      scored.push_back(Match{c.disc_id, c.track, score});
    }
  };

  // Word queries run until one brings a clear match or the candidates are many; each ranks at most
  // kRankedMatches tracks (a broader one hands out its first matches unranked), so the cost follows
  // the query's words, not the catalogue. Measured on generated catalogues
  // (bench/text_lookup_study.cpp). Only when no word query finds a track are the trigrams searched.
  bool words_found = false;
  if (search == TextSearch::kWords && store.HasWordIndex()) {
    std::set<std::pair<int64_t, int32_t>> seen;
    auto run = [&](const RankedQuery& q) {
      // Ranking decides which matches are kept only when there are more than the candidates.
      bool ranked = false;
      if (q.ranked) {
        const size_t count = store.WordMatches(q.match, kRankedMatches + 1);
        if (count == 0) return false;
        ranked = count > kTextCandidates && count <= kRankedMatches;
      }
      for (const TextCandidate& c : store.WordCandidates(q.match, kTextCandidates, ranked)) {
        words_found = true;
        if (seen.insert({c.disc_id, c.track}).second) add(c);
      }
      // Enough: a clear match, or as many candidates as one query may bring (a text that is not
      // in the catalogue must not run every query).
      return seen.size() >= kTextCandidates ||
             std::any_of(scored.begin(), scored.end(),
                         [](const Match& m) { return m.score >= kTextClear; });
    };
    bool clear = false;
    for (const RankedQuery& q : ExactTitleQueries(title, artist)) {
      if ((clear = run(q))) break;
    }
    if (!clear) {
      for (const RankedQuery& q : WordQueries(store, title, artist, album)) {
        if (run(q)) break;
      }
    }
  }
  if (!words_found) {
    for (const TextCandidate& c : TrigramSearch(store, title, artist, album)) add(c);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const Match& a, const Match& b) { return a.score > b.score; });
  if (scored.empty()) return answer;
  if (scored[0].score >= kTextClear &&
      (scored.size() == 1 || scored[1].score <= scored[0].score - kTextClearMargin)) {
    answer.kind = 3;
    answer.matches = {scored[0]};
    return answer;
  }
  answer.kind = 2;
  if (scored.size() > kMaxAnswers) scored.resize(kMaxAnswers);
  answer.matches = std::move(scored);
  return answer;
}

}  // namespace pelk::catalog
