#include "cli/library/progress_line.h"

#include <cstdio>
#include <string>

namespace pelk::cli {
namespace {

std::string Duration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

std::string ProgressLine::Text(const LibraryCounters& c, Clock::time_point now) const {
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double rate = elapsed > 0 ? c.complete / elapsed : 0;
  char speed[32];
  std::snprintf(speed, sizeof speed, "%.1f", rate);
  std::string text =
      std::to_string(c.complete) + "/" + std::to_string(c.total) + " files, " + speed + " files/s";
  if (rate > 0 && c.total > c.complete) {
    text += ", " + Duration((c.total - c.complete) / rate) + " left";
  }
  text += " | exact " + std::to_string(c.exact) + ", fuzzy " + std::to_string(c.fuzzy) +
          ", no match " + std::to_string(c.no_match) + ", error " + std::to_string(c.error);
  return text;
}

void ProgressLine::Update(const LibraryCounters& counters, Clock::time_point now) {
  const auto interval = terminal_ ? std::chrono::milliseconds(200) : std::chrono::seconds(5);
  if (drawn_ && now - last_ < interval) return;
  if (!terminal_ && now - start_ < interval) return;
  last_ = now;
  if (terminal_) {
    out_ << "\r\033[K" << Text(counters, now) << std::flush;
    drawn_ = true;
  } else {
    out_ << "library: " << Text(counters, now) << std::endl;
    drawn_ = true;
  }
}

void ProgressLine::Clear() {
  if (terminal_ && drawn_) out_ << "\r\033[K" << std::flush;
}

void ProgressLine::Finish(const LibraryCounters& counters, Clock::time_point now, bool stopped) {
  Clear();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  out_ << (stopped ? "library: stopped: " : "library: done: ") << Text(counters, now) << ", in "
       << Duration(elapsed) << std::endl;
}

}  // namespace pelk::cli
