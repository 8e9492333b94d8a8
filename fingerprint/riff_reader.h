// A small RIFF chunk reader on a file stream with 64-bit offsets. Every size read from the file
// is distrusted: chunk extents are clipped to their parent and to the file, bounds are checked
// by subtraction (so no offset arithmetic can overflow), and the number of chunks walked is
// capped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace pelk::fingerprint {

// Four-character code as it appears in the file ("fmt " etc.), read little-endian.
constexpr uint32_t FourCc(const char (&id)[5]) {
  return uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 | uint32_t(uint8_t(id[2])) << 16 |
         uint32_t(uint8_t(id[3])) << 24;
}

struct RiffChunk {
  uint32_t id = 0;
  uint32_t form = 0;           // form type of a RIFF or LIST chunk, else 0
  uint64_t offset = 0;         // of the chunk header
  uint64_t data_offset = 0;    // first content byte (after the form type for RIFF/LIST)
  uint32_t declared_size = 0;  // size field as written
  uint64_t size = 0;           // content bytes actually present, within parent and file
};

class RiffReader {
 public:
  // Chunks walked per search at most; a file with more is treated as malformed.
  static constexpr int kMaxChunks = 1024;

  // Takes ownership of `file` (closed by the destructor). Measures the file size.
  explicit RiffReader(std::FILE* file);
  ~RiffReader();
  RiffReader(const RiffReader&) = delete;
  RiffReader& operator=(const RiffReader&) = delete;

  bool ok() const { return file_ != nullptr; }
  uint64_t file_size() const { return file_size_; }

  // The first top-level "RIFF" chunk whose form type is `form`.
  std::optional<RiffChunk> FindRiff(uint32_t form);
  // The first child chunk of `parent` with this id.
  std::optional<RiffChunk> FindChunk(const RiffChunk& parent, uint32_t id);

  bool Seek(uint64_t offset);
  // Reads up to `count` bytes at the current position; returns the bytes read.
  size_t Read(void* buffer, size_t count);

 private:
  // Searches chunks from `begin` to `end` for `id` (and `form` when not 0).
  std::optional<RiffChunk> Find(uint64_t begin, uint64_t end, uint32_t id, uint32_t form);

  std::FILE* file_;
  uint64_t file_size_ = 0;
};

}  // namespace pelk::fingerprint
