// What the catalogue studies measure with: wall clock beside the CPU time of the thread, of the
// process and (for a catalogue on a server of this machine) of the server's processes, the load
// average, and a table of results with a column per run.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pelk::bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double CpuMsOf(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}
inline double ThreadCpuMs() { return CpuMsOf(CLOCK_THREAD_CPUTIME_ID); }
// Every thread of the process (the index build uses two, TrackID has workers).
inline double ProcessCpuMs() { return CpuMsOf(CLOCK_PROCESS_CPUTIME_ID); }

// CPU time other processes of this machine have used so far, ms (0 for one that has ended).
inline double ProcessesCpuMs(const std::vector<int>& pids) {
  double ms = 0;
  for (int pid : pids) {
    const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
    FILE* f = std::fopen(path.c_str(), "r");
    double ns = 0;
    if (f && std::fscanf(f, "%lf", &ns) == 1) ms += ns / 1e6;
    if (f) std::fclose(f);
  }
  return ms;
}

inline double ResidentMb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  char line[256];
  long kb = 0;
  while (f && std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::atol(line + 6);
  }
  if (f) std::fclose(f);
  return static_cast<double>(kb) / 1024;
}

inline std::string LoadAverage() {
  double one = 0, five = 0;
  FILE* f = std::fopen("/proc/loadavg", "r");
  if (f && std::fscanf(f, "%lf %lf", &one, &five) != 2) one = five = 0;
  if (f) std::fclose(f);
  char text[32];
  std::snprintf(text, sizeof text, "%.2f/%.2f", one, five);
  return text;
}

inline std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Wall and CPU times of repeated calls. A server's CPU time is counted when a meter is given:
// with a catalogue on a server the client's thread waits while the server works.
struct Timings {
  std::function<double()> server_ms;  // the server's CPU so far, ms; empty: none
  std::vector<double> wall, cpu, server;
  int right = 0;

  template <class F>
  auto Time(F&& f) {
    const double server_start = server_ms ? server_ms() : 0;
    const double cpu_start = ThreadCpuMs();
    const auto start = Clock::now();
    auto result = f();
    wall.push_back(MsSince(start));
    cpu.push_back(ThreadCpuMs() - cpu_start);
    if (server_ms) server.push_back(server_ms() - server_start);
    return result;
  }
  static std::string Pair(const std::vector<double>& v) {
    return Format("%.3f / %.3f", Percentile(v, 0.5), Percentile(v, 0.99));
  }
  std::string Wall() const { return Pair(wall); }
  std::string Cpu() const { return Pair(cpu); }
  std::string Server() const { return Pair(server); }
  std::string Right() const {
    return Format("%.1f%%", wall.empty() ? 0 : 100.0 * right / static_cast<double>(wall.size()));
  }
};

// A column per run. A row first given in a later column goes after the row given before it, so
// rows only some runs have stay beside their neighbours.
class Table {
 public:
  void Set(const std::string& row, size_t column, const std::string& value) {
    auto at = std::find(rows_.begin(), rows_.end(), row);
    if (at == rows_.end()) {
      const auto previous = std::find(rows_.begin(), rows_.end(), last_);
      at = rows_.insert(previous == rows_.end() ? rows_.end() : previous + 1, row);
    }
    last_ = row;
    auto& cells = cells_[row];
    if (cells.size() <= column) cells.resize(column + 1);
    cells[column] = value;
  }
  void Print(const std::vector<std::string>& columns) const {
    std::printf("\n%-62s", "tracks");
    for (const std::string& c : columns) std::printf(" %22s", c.c_str());
    std::printf("\n");
    for (const std::string& row : rows_) {
      std::printf("%-62s", row.c_str());
      const auto& cells = cells_.at(row);
      for (size_t c = 0; c < columns.size(); ++c) {
        std::printf(" %22s", c < cells.size() && !cells[c].empty() ? cells[c].c_str() : "-");
      }
      std::printf("\n");
    }
  }

 private:
  std::vector<std::string> rows_;
  std::string last_;
  std::map<std::string, std::vector<std::string>> cells_;
};

}  // namespace pelk::bench
