// Waveform hints: the (artist, title) pairs that the discs of a waveform candidate list name,
// tallied and ranked, turned into suggestion records for text lookups. The record's PutWFList
// takes its waveform hint from the first suggestion.
//
// This lives with the records and lists rather than with the manager because the record calls
// it, and the manager sits above the model.
//
// Locking: the routine holds no lock of its own; it reads the candidate list and its records
// through their operations (list, then record) and fills a new list nobody else sees yet.
#pragma once

#include <string>
#include <vector>

#include "pelk/file_info_interfaces.h"

namespace pelk {

class CPelkFileInfoList;

// At most this many distinct pairs are tallied.
constexpr size_t kMaxWaveformPairs = 20;

struct WaveformPair {
  std::u16string artist;  // as the first candidate naming the pair spelled it
  std::u16string title;
  int32_t count = 0;
};

// Tallies the candidates of list, most frequent pair first (ties keep the order they were first
// seen in). A candidate's pair is the title of its disc's track (track 1 of a one-track disc,
// or its current track when it does not carry track 1, as a lookup's single-track answer; else
// the current track; candidates without a disc or a current track are skipped) and the
// track's artist, or the disc's when the track has none; pairs are the same when their standard
// normalizations are equal. The candidates are read in one step (a consistent snapshot of one
// of our lists, even while another thread changes it). E_INVALIDARG when a pair has an empty
// artist or title; E_OUTOFMEMORY for a 21st distinct pair; a failure to read the list is
// returned.
HRESULT TallyWaveformPairs(IPelkFileInfoList* list, std::vector<WaveformPair>* tally);

// The suggestion list of a waveform candidate list: one record per tallied pair, most frequent
// first, holding only a new tag with that artist and title and the options of candidate 1
// (0x3310 when they cannot be read). E_FAIL for a null list, E_POINTER for a null out. The new
// list is handed out before the tally, so on a later failure *suggestions holds what was made
// so far (the caller releases it either way).
HRESULT WaveformHints(IPelkFileInfoList* list, CPelkFileInfoList** suggestions);

}  // namespace pelk
