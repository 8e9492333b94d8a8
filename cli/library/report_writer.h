// The library report: JSON lines, one per finished file, appended and flushed as each list of
// files finishes, so that a stop or a crash of the host loses nothing that was finished. The
// lines already in a report name the files a resumed run skips.
//
// Thread safety: Append may be called from any thread (it takes the writer's lock).
#pragma once

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli/library/file_answer.h"

namespace pelk::cli {

// The JSON form of an answer, as report lines and `album --json` print it.
nlohmann::json AnswerJson(const FileAnswer& answer);

// The files an existing report holds an answer for (none when it does not exist): the files its
// lines name, except lines whose certainty is "error" (a failed identification is not an
// answer). Lines that are not JSON objects with a "file" text (a line cut short by a crash) are
// skipped.
std::set<std::string> ReportedFiles(const std::string& path);

class ReportWriter {
 public:
  // Opens path for appending; null with *error set when it cannot.
  static std::unique_ptr<ReportWriter> Open(const std::string& path, std::string* error);
  ~ReportWriter();
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  // Writes one line per object and flushes them to the file (the operating system holds them
  // from then on, whatever happens to this process). False when the write failed.
  bool Append(const std::vector<nlohmann::json>& lines);
  // Flushes the file to the disk (at the end of a run).
  void Sync();

 private:
  explicit ReportWriter(std::FILE* file) : file_(file) {}
  std::mutex mutex_;
  std::FILE* file_;
  bool at_line_start_ = true;
};

}  // namespace pelk::cli
