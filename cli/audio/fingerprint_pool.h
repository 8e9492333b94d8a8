// Fingerprints of the files the module cannot read itself, computed ahead of the identification
// by a few worker threads so that decoding runs on the cores the lookups leave idle
// (`sonquix fingerprint` on several files uses it for every file, one worker per core).
//
// The manager asks for a file's fingerprint (GetFingerprintInfo) on its own threads; Take()
// answers from what the workers made, waits for a file a worker is on, and decodes a file no
// worker has reached on the caller's thread. Each worker has its own fingerprinter (one stream
// at a time each). Workers stay at most `lookahead` finished fingerprints ahead of Take(), so a
// stopped run wastes little work and memory stays small.
//
// Thread safety: every operation may be called from any thread. The destructor stops the workers
// (a file being decoded is finished) and joins them.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/audio/file_fingerprint.h"

namespace pelk::cli {

// Whether the host must fingerprint the file: the module reads plain 8- and 16-bit PCM WAV files
// itself; every other format (and other WAV encodings) the host decodes.
bool HostFingerprints(const std::string& file);

class FingerprintPool {
 public:
  // workers 0: no threads; Take() always decodes on the caller's thread.
  explicit FingerprintPool(int workers, size_t lookahead = 64);
  ~FingerprintPool();
  FingerprintPool(const FingerprintPool&) = delete;
  FingerprintPool& operator=(const FingerprintPool&) = delete;

  // Queues files to be fingerprinted in this order (the order the run is expected to ask).
  void Enqueue(const std::vector<std::string>& files);
  // The fingerprint of file (or why there is none), handed out once: a second Take decodes again.
  FileFingerprint Take(const std::string& file);

  int workers() const { return static_cast<int>(threads_.size()); }

 private:
  enum class State { kQueued, kWorking, kDone };
  struct Entry {
    State state = State::kQueued;
    FileFingerprint result;
  };
  void Work();
  static FileFingerprint Compute(IPelkSonquixFingerprinter2* fingerprinter,
                                 const std::string& file);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;  // in order; entries taken early are skipped
  std::map<std::string, Entry> entries_;
  size_t ready_ = 0;  // finished and not yet taken
  size_t lookahead_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace pelk::cli
