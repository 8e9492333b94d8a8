// Several identifying processes on one catalogue at once, as several hosts would run: each a
// forked child with its own modules' objects, its own connection or file handle and its own
// signature index, identifying its share of the samples through TrackID. The children get ready
// (open the catalogue, build the index) before the clock starts, then identify one kind after
// another, all starting together at each kind.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/study_host.h"
#include "bench/study_measure.h"

namespace pelk::bench {

// One kind of TrackID by every process at once.
struct ProcessRun {
  TrackIdKind kind = TrackIdKind::kIdentifier;
  int identifications = 0, right = 0;
  double wall_s = 0;         // from the start signal to the last process's end
  double client_cpu_s = 0;   // every thread of every process
  double server_cpu_s = -1;  // the server's processes serving them; < 0: not measured
  std::vector<double> wall_p50_ms, cpu_p50_ms;  // each process's median call
};

namespace internal {

struct PhaseReport {
  int32_t identifications = 0, right = 0;
  double cpu_ms = 0, wall_p50_ms = 0, cpu_p50_ms = 0;
};

inline bool ReadAll(int fd, void* data, size_t size) {
  auto* at = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = ::read(fd, at, size);
    if (got <= 0) return false;
    at += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

inline bool WriteAll(int fd, const void* data, size_t size) {
  const auto* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, at, size);
    if (put <= 0) return false;
    at += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// The child: ready, then one share of identifications per start signal.
[[noreturn]] inline void IdentifyingChild(
    int go, int reports, int index, int processes, const Modules& modules,
    const FingerprintDocuments& documents, const std::string& location,
    const std::vector<Sample>& pool, const std::vector<Signature>& copies,
    const Signature& stranger, const std::vector<TrackIdKind>& kinds) {
  {
    StudyHost host(modules, documents, location);
    Timings first;
    host.ByFingerprint(stranger, first);  // builds the signature index
    const char ready = 'r';
    if (!WriteAll(reports, &ready, 1)) ::_exit(1);
    for (TrackIdKind kind : kinds) {
      char start = 0;
      if (!ReadAll(go, &start, 1)) ::_exit(1);
      Timings t;
      const double cpu_start = ProcessCpuMs();
      for (size_t i = static_cast<size_t>(index); i < pool.size();
           i += static_cast<size_t>(processes)) {
        t.right += host.Identify(kind, pool[i], copies[i], t).Is(pool[i]);
      }
      PhaseReport report{static_cast<int32_t>(t.wall.size()), t.right, ProcessCpuMs() - cpu_start,
                         Percentile(t.wall, 0.5), Percentile(t.cpu, 0.5)};
      if (!WriteAll(reports, &report, sizeof report)) ::_exit(1);
    }
    // Connected until the parent has read the server's CPU time: until it closes the pipe.
    char end = 0;
    ReadAll(go, &end, 1);
  }
  ::_exit(0);
}

}  // namespace internal

// The number of threads of this process: a child forked while others run could inherit a lock
// one of them held.
inline size_t ThreadCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// Runs the kinds one after another with `processes` children; sample i goes to child
// i % processes. backends names the server processes serving the children once they are ready
// (empty for a file). Empty when the children could not be run (why on stderr).
inline std::vector<ProcessRun> RunProcesses(
    int processes, const std::string& location, const Modules& modules,
    const FingerprintDocuments& documents, const std::vector<Sample>& pool,
    const std::vector<Signature>& copies, const Signature& stranger,
    const std::vector<TrackIdKind>& kinds, const std::function<std::vector<int>()>& backends) {
  if (const size_t threads = ThreadCount(); threads != 1) {
    std::fprintf(stderr, "not forking: this process runs %zu threads\n", threads);
    return {};
  }
  struct Child {
    pid_t pid;
    int go, reports;
  };
  std::vector<Child> children;
  for (int p = 0; p < processes; ++p) {
    int go[2], reports[2];
    if (::pipe(go) != 0 || ::pipe(reports) != 0) {
      std::perror("pipe");
      std::exit(1);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(go[1]);
      ::close(reports[0]);
      for (const Child& c : children) {
        ::close(c.go);
        ::close(c.reports);
      }
      internal::IdentifyingChild(go[0], reports[1], p, processes, modules, documents, location,
                                 pool, copies, stranger, kinds);
    }
    ::close(go[0]);
    ::close(reports[1]);
    children.push_back({pid, go[1], reports[0]});
  }
  bool failed = false;
  for (const Child& c : children) {
    char ready = 0;
    failed |= !internal::ReadAll(c.reports, &ready, 1);
  }
  const std::vector<int> servers = backends && !failed ? backends() : std::vector<int>();
  std::vector<ProcessRun> runs;
  for (TrackIdKind kind : kinds) {
    if (failed) break;
    ProcessRun run;
    run.kind = kind;
    const double server_start = ProcessesCpuMs(servers);
    const auto start = Clock::now();
    const char go = 'g';
    for (const Child& c : children) failed |= !internal::WriteAll(c.go, &go, 1);
    for (const Child& c : children) {
      internal::PhaseReport report;
      if (!internal::ReadAll(c.reports, &report, sizeof report)) {
        failed = true;
        continue;
      }
      run.identifications += report.identifications;
      run.right += report.right;
      run.client_cpu_s += report.cpu_ms / 1000;
      run.wall_p50_ms.push_back(report.wall_p50_ms);
      run.cpu_p50_ms.push_back(report.cpu_p50_ms);
    }
    run.wall_s = MsSince(start) / 1000;
    if (backends) run.server_cpu_s = (ProcessesCpuMs(servers) - server_start) / 1000;
    runs.push_back(std::move(run));
  }
  for (const Child& c : children) {
    ::close(c.go);
    ::close(c.reports);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
    failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  }
  if (failed) {
    std::fprintf(stderr, "an identifying process failed\n");
    std::exit(1);
  }
  return runs;
}

}  // namespace pelk::bench
