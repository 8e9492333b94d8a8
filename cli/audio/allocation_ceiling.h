// The most FFmpeg may allocate at once while files are decoded. FFmpeg sizes many buffers by
// what a file declares before it reads them (a tag item, a RIFF INFO item, a cover picture, an
// index) and zeroes some of them: a 115-byte WAV declaring a 1.4 GB INFO item made it touch
// 1.4 GB. Its only limit, av_max_alloc, caps each allocation for the whole process, and files
// are decoded side by side on several threads. So each open file holds a ceiling here for as long
// as it is decoded, and FFmpeg's limit is the highest ceiling held: a small file cannot make it
// allocate more than kFloorBytes at once, while a large file's cover picture still fits, even
// with small files decoded beside it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelk::cli {

class AllocationCeiling {
 public:
  // Enough for every buffer an honest audio file needs: decoded frames, packets, and the indexes
  // and pictures of files up to a quarter of this.
  static constexpr size_t kFloorBytes = size_t{64} << 20;

  // What a file of `file_bytes` may need at once: four times its size (the index of a long file
  // of tiny packets outgrows the file), at least kFloorBytes, at most FFmpeg's own limit.
  static size_t ForFile(uint64_t file_bytes);

  // Raises FFmpeg's limit to ForFile(file_bytes) if it is lower, until destroyed; then it falls
  // to the highest ceiling still held (kFloorBytes when none is). Thread-safe.
  // REQUIRES: LoadFfmpeg succeeded.
  explicit AllocationCeiling(uint64_t file_bytes);
  ~AllocationCeiling();
  AllocationCeiling(const AllocationCeiling&) = delete;
  AllocationCeiling& operator=(const AllocationCeiling&) = delete;

  size_t bytes() const { return bytes_; }

 private:
  size_t bytes_;
};

}  // namespace pelk::cli
