// The progress of a library run for a person: on a terminal one line redrawn in place (files
// done / total, files per second, time left, and the counters exact / fuzzy / no match / error);
// elsewhere one plain line every few seconds; a summary at the end.
#pragma once

#include <chrono>
#include <ostream>

#include "cli/library/manager_event_sink.h"

namespace pelk::cli {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  ProgressLine(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

  // Shows the counters now if it is time to (terminal: at most five times a second; otherwise
  // every five seconds). skipped: files a resumed run left out.
  void Update(const LibraryCounters& counters, Clock::time_point now);
  // Clears the live line and prints the summary.
  void Finish(const LibraryCounters& counters, Clock::time_point now, bool stopped);
  // Clears the live line (before another message is printed).
  void Clear();

 private:
  std::string Text(const LibraryCounters& counters, Clock::time_point now) const;

  std::ostream& out_;
  bool terminal_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_{};
  bool drawn_ = false;
};

}  // namespace pelk::cli
