// One file's answer in plain values, read from a result record of AlbumID or of a library run,
// with a confidence a person can read:
//  - "sure" for an exact match code (an accepted album, an identifier in the tag, a high score),
//    or a waveform match that the catalogue sees as the one clear winner;
//  - "probable" for a fuzzy answer, "candidate", "not identified", "error" otherwise;
//  - the basis in words: the track scorer's grade when the file had tags to compare, the
//    fingerprint distance against the acceptance threshold for a waveform match. The record's
//    own score is never shown: for a waveform match of an untagged file it compares empty
//    texts and says nothing about the match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/library/waveform_check.h"
#include "pelk/file_info_interfaces.h"

namespace pelk::cli {

struct FileAnswer {
  std::string file;
  bool identified = false;  // the record carries a disc
  std::string disc_identifier, artist, album, title, track_identifier;
  int32_t track = 0;
  int32_t track_count = 0;
  int32_t match_code = 0;  // PelkSonquixMatchCode
  int32_t match_type = 0;  // SonquixMatchType
  std::string found_by;    // how the answer was found, in words
  std::string certainty;   // sure, probable, candidate, not identified, error
  bool sure = false;
  std::string confidence;            // the basis of the certainty, in words
  std::optional<int32_t> tag_score;  // track scorer 0-100, only when the file had tag texts
  std::optional<WaveformCloseness> waveform;
};

// Reads result record `result` for the file whose input record is `input` (the record the host
// gave the manager, which holds the file's own tag and fingerprint; may be null). check may be
// null (no waveform distances).
FileAnswer ReadFileAnswer(IPelkFileInfo* result, IPelkFileInfo* input, WaveformCheck* check);

// The answer for a file that came back in no result list at all.
FileAnswer MissingFileAnswer(const std::string& file);

// The answer for a file whose identification failed, with the reason in words.
FileAnswer FailedFileAnswer(const std::string& file, std::string why);

}  // namespace pelk::cli
