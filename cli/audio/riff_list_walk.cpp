#include "cli/audio/riff_list_walk.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace pelk::cli {
namespace {

// Chunks walked at the top level and in each list. Honest files hold a handful; past this many
// the file is taken as stalling rather than walked further.
constexpr int kMaxChunks = 4096;
constexpr uint64_t kCountWraps = uint64_t{1} << 32;

constexpr uint32_t Id(const char (&id)[5]) {
  return uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 | uint32_t(uint8_t(id[2])) << 16 |
         uint32_t(uint8_t(id[3])) << 24;
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

class Bytes {
 public:
  explicit Bytes(std::FILE* file) : file_(file) {
    if (fseeko(file_, 0, SEEK_END) == 0) {
      const off_t end = ftello(file_);
      if (end > 0) size_ = static_cast<uint64_t>(end);
    }
  }
  uint64_t size() const { return size_; }
  // Reads `count` bytes at `offset`; false past the end of the file.
  bool At(uint64_t offset, void* into, size_t count) {
    return offset <= size_ && size_ - offset >= count &&
           fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fread(into, 1, count, file_) == count;
  }

 private:
  std::FILE* file_;
  uint64_t size_ = 0;
};

// The subchunks of a LIST or INFO chunk whose content starts at `start`, as libsndfile reads
// them: true when its count of the bytes read would wrap.
bool ListStalls(Bytes& bytes, uint64_t start, uint32_t declared) {
  // It clips the length to the file and skips lists of 8 bytes or less whole.
  const uint64_t length = std::min<uint64_t>(declared, bytes.size() - start);
  if (length <= 8) return false;
  uint64_t read = 0;
  for (int walked = 0; read < length; ++walked) {
    if (walked == kMaxChunks) return true;
    uint8_t header[8];
    if (!bytes.At(start + read, header, 4)) return false;
    read += 4;
    const uint32_t id = Le32(header);
    if (id == Id("INFO") || id == Id("adtl")) continue;  // markers without a size
    // It stops at these, or hands the rest to a reader that checks its sizes.
    if (id == 0 || id == Id("data") || id == Id("exif")) return false;
    if (!bytes.At(start + read, header + 4, 4)) return false;
    read += 4;
    const uint64_t size = Le32(header + 4);
    const uint64_t padded = size + (size & 1);
    if (read + padded >= kCountWraps) return true;
    if (read + padded > length) return false;  // it sees the overrun and stops
    read += padded;
  }
  return false;
}

}  // namespace

bool StallsSndfile(const std::string& path) {
  const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  Bytes bytes(file.get());
  uint8_t head[12];
  if (!bytes.At(0, head, sizeof head)) return false;
  const uint32_t form = Le32(head);
  if ((form != Id("RIFF") && form != Id("RF64")) || Le32(head + 8) != Id("WAVE")) return false;
  uint64_t rf64_data_size = 0;  // from the ds64 chunk, for a data chunk whose size says 0xFFFFFFFF
  uint64_t position = sizeof head;
  for (int walked = 0;; ++walked) {
    if (walked == kMaxChunks) return true;
    uint8_t header[8];
    if (!bytes.At(position, header, sizeof header)) return false;
    const uint32_t id = Le32(header);
    const uint32_t declared = Le32(header + 4);
    const uint64_t content = position + sizeof header;
    if ((id == Id("LIST") || id == Id("INFO")) && ListStalls(bytes, content, declared)) {
      return true;
    }
    uint8_t ds64[16];
    if (id == Id("ds64") && declared >= sizeof ds64 && bytes.At(content, ds64, sizeof ds64)) {
      rf64_data_size = uint64_t{Le32(ds64 + 8)} | uint64_t{Le32(ds64 + 12)} << 32;
    }
    uint64_t span = declared;
    if (id == Id("data") && declared == 0xFFFFFFFFu && form == Id("RF64")) span = rf64_data_size;
    if (span > bytes.size() - content) return false;  // nothing follows a chunk that runs past
    span += span & 1;                                 // chunks are padded to an even size
    position = content + span;
  }
}

}  // namespace pelk::cli
