// Tags for identified files: what an answer would change in a file's tags, and writing it
// through the control's tag objects (a FileTag loaded from the file, the fields set, saved back
// with the control's atomic write). Written fields: artist, album, title, track number, the
// track's catalogue identifier (so the next run finds the file by it) and the disc identifier
// (named field PELK_DiscIdentifier).
#pragma once

#include <map>
#include <string>
#include <utility>

#include "cli/library/file_answer.h"
#include "cli/module_session.h"

namespace pelk::cli {

inline constexpr char16_t kDiscIdentifierField[] = u"PELK_DiscIdentifier";

struct TagChange {
  // Field name -> (value in the file, value of the answer), only for fields that differ.
  std::map<std::string, std::pair<std::string, std::string>> fields;
  std::string error;  // non-empty when the file's tags cannot be read or written
  bool written = false;
};

// Compares the file's tags with the answer; with write, also writes the differing fields.
// REQUIRES: answer.identified.
TagChange ApplyAnswerTags(const ModuleSession& session, const FileAnswer& answer, bool write);

}  // namespace pelk::cli
