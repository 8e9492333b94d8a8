// Catalogue material the benchmarks share: tracks whose signature ladders are drawn like real
// ones (waveform_signatures.h: an item's ladder moved by the track's own offset), and titles,
// artists and albums drawn from a word list with the skewed frequencies of real titles.
#pragma once

#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/waveform_signatures.h"
#include "catalog/catalog_store.h"

namespace pelk::bench {

// Gives the track the drawn rungs (rung 0 its signature, the rest its ladder) and says which
// item and offset they came from, so that lookups can be made from copies of it.
inline SignatureDraw::Track DrawSignatures(const SignatureDraw& draw, std::mt19937& rng,
                                           catalog::TrackRecord* track) {
  SignatureDraw::Track drawn = draw.Next(rng);
  track->signature = drawn.rungs[0];
  track->ladder.assign(drawn.rungs.begin() + 1, drawn.rungs.end());
  return drawn;
}

// Pronounceable words from syllables: enough distinct ones for a large vocabulary, none of them a
// function word the normalization would drop.
inline std::vector<std::string> MakeVocabulary(size_t size) {
  const char* onsets[] = {"b", "br", "c", "d",  "dr", "f", "g",  "gl", "h",  "j", "k", "l",
                          "m", "n",  "p", "pr", "r",  "s", "st", "t",  "tr", "v", "w", "z"};
  const char* vowels[] = {"a", "e", "i", "o", "u", "ai", "ou", "ea"};
  const char* codas[] = {"", "n", "r", "l", "m", "st", "nd", "k"};
  std::mt19937 rng(1);
  std::vector<std::string> words;
  std::map<std::string, bool> seen;
  while (words.size() < size) {
    std::string w;
    const int syllables = 1 + static_cast<int>(rng() % 3);
    for (int s = 0; s < syllables; ++s) {
      w += onsets[rng() % std::size(onsets)];
      w += vowels[rng() % std::size(vowels)];
      if (s == syllables - 1 || rng() % 3 == 0) w += codas[rng() % std::size(codas)];
    }
    if (w.size() < 3 || seen[w]) continue;
    seen[w] = true;
    words.push_back(w);
  }
  return words;
}

// Word ranks drawn with weight 1/(rank + 10) from 20,000 words: the most common word is in about
// 3.5% of three-word titles, as "love" is in real catalogues.
class WordDraw {
 public:
  WordDraw() : words_(MakeVocabulary(20000)) {
    std::vector<double> weights;
    for (size_t r = 0; r < words_.size(); ++r)
      weights.push_back(1.0 / (static_cast<double>(r) + 10));
    dist_ = std::discrete_distribution<size_t>(weights.begin(), weights.end());
  }
  // Words separated by blanks, the first capitalized.
  std::string Phrase(std::mt19937& rng, int words) {
    std::string text;
    for (int i = 0; i < words; ++i) {
      if (i) text += ' ';
      std::string w = words_[dist_(rng)];
      if (i == 0) w[0] = static_cast<char>(w[0] - 'a' + 'A');
      text += w;
    }
    return text;
  }

 private:
  std::vector<std::string> words_;
  std::discrete_distribution<size_t> dist_;
};

}  // namespace pelk::bench
