#include "cli/audio/fingerprint_pool.h"

#include <cctype>
#include <filesystem>
#include <memory>

#include "cli/audio/audio_decoder.h"

namespace pelk::cli {

bool HostFingerprints(const std::string& file) {
  std::string extension = std::filesystem::path(file).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".wav") return true;
  std::string why;
  const std::unique_ptr<AudioDecoder> decoder = AudioDecoder::Open(file, &why);
  return decoder && !decoder->IsPlainWavPcm();  // unreadable: the module reports it
}

FingerprintPool::FingerprintPool(int workers, size_t lookahead)
    : lookahead_(lookahead == 0 ? 1 : lookahead) {
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

FingerprintPool::~FingerprintPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void FingerprintPool::Enqueue(const std::vector<std::string>& files) {
  {
    std::lock_guard lock(mutex_);
    for (const std::string& file : files) {
      if (entries_.emplace(file, Entry{}).second) queue_.push_back(file);
    }
  }
  changed_.notify_all();
}

FileFingerprint FingerprintPool::Compute(IPelkSonquixFingerprinter2* fingerprinter,
                                         const std::string& file) {
  return FingerprintFile(fingerprinter, file, FixedLengthMs(fingerprinter));
}

FileFingerprint FingerprintPool::Take(const std::string& file) {
  std::unique_lock lock(mutex_);
  auto it = entries_.find(file);
  if (it != entries_.end() && it->second.state != State::kQueued) {
    changed_.wait(lock, [&] { return it->second.state == State::kDone; });
    FileFingerprint result = std::move(it->second.result);
    entries_.erase(it);
    --ready_;
    lock.unlock();
    changed_.notify_all();  // a worker held back by the look-ahead may go on
    return result;
  }
  // Not reached by a worker (or never queued): decode here rather than wait behind the queue.
  if (it != entries_.end()) entries_.erase(it);
  lock.unlock();
  const ComPtr<IPelkSonquixFingerprinter2> fingerprinter = NewFingerprinter();
  return Compute(fingerprinter.Get(), file);
}

void FingerprintPool::Work() {
  ComPtr<IPelkSonquixFingerprinter2> fingerprinter;
  try {
    fingerprinter = NewFingerprinter();
  } catch (...) {
    // A worker without a fingerprinter takes nothing: the asking thread decodes what no worker
    // has reached, so no file waits for it.
    return;
  }
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || (!queue_.empty() && ready_ < lookahead_); });
    if (stopping_) return;
    const std::string file = std::move(queue_.front());
    queue_.pop_front();
    auto it = entries_.find(file);
    if (it == entries_.end() || it->second.state != State::kQueued) continue;  // taken already
    it->second.state = State::kWorking;
    ++ready_;  // counted from the start, so the workers together stay within the look-ahead
    lock.unlock();
    FileFingerprint result = Compute(fingerprinter.Get(), file);
    lock.lock();
    it->second.result = std::move(result);  // map nodes are stable; only Take erases a kDone one
    it->second.state = State::kDone;
    changed_.notify_all();
  }
}

}  // namespace pelk::cli
