#include "cli/audio/allocation_ceiling.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <set>
#include <string>

#include "cli/audio/ffmpeg_library.h"

namespace pelk::cli {
namespace {

struct Held {
  std::mutex mutex;
  std::multiset<size_t> ceilings;
  size_t applied = 0;  // what FFmpeg was last told (0: nothing yet, its default INT_MAX)
};

Held& Ceilings() {
  static Held held;
  return held;
}

// Tells FFmpeg the highest ceiling held. REQUIRES: held.mutex is locked.
void Apply(Held& held) {
  const size_t limit =
      held.ceilings.empty() ? AllocationCeiling::kFloorBytes : *held.ceilings.rbegin();
  if (limit == held.applied) return;
  std::string unused;
  // One word in libavutil that every allocation reads; raising it before a file's first
  // allocation and lowering it only when no open file needs more keeps each file within its own.
  LoadFfmpeg(&unused)->av_max_alloc(limit);
  held.applied = limit;
}

}  // namespace

size_t AllocationCeiling::ForFile(uint64_t file_bytes) {
  constexpr uint64_t kMost = INT_MAX;
  const uint64_t wanted = file_bytes > kMost / 4 ? kMost : 4 * file_bytes;
  return static_cast<size_t>(std::clamp<uint64_t>(wanted, kFloorBytes, kMost));
}

AllocationCeiling::AllocationCeiling(uint64_t file_bytes) : bytes_(ForFile(file_bytes)) {
  Held& held = Ceilings();
  std::lock_guard lock(held.mutex);
  held.ceilings.insert(bytes_);
  Apply(held);
}

AllocationCeiling::~AllocationCeiling() {
  Held& held = Ceilings();
  std::lock_guard lock(held.mutex);
  held.ceilings.erase(held.ceilings.find(bytes_));
  Apply(held);
}

}  // namespace pelk::cli
