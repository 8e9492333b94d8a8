#include "fingerprint/riff_reader.h"

#include <sys/types.h>

namespace pelk::fingerprint {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

RiffReader::RiffReader(std::FILE* file) : file_(file) {
  if (file_ == nullptr) return;
  if (fseeko(file_, 0, SEEK_END) != 0) {
    std::fclose(file_);
    file_ = nullptr;
    return;
  }
  const off_t end = ftello(file_);
  if (end < 0) {
    std::fclose(file_);
    file_ = nullptr;
    return;
  }
  file_size_ = static_cast<uint64_t>(end);
}

RiffReader::~RiffReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RiffReader::Seek(uint64_t offset) {
  if (file_ == nullptr || offset > file_size_) return false;
  return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

size_t RiffReader::Read(void* buffer, size_t count) {
  if (file_ == nullptr) return 0;
  return std::fread(buffer, 1, count, file_);
}

std::optional<RiffChunk> RiffReader::FindRiff(uint32_t form) {
  return Find(0, file_size_, FourCc("RIFF"), form);
}

std::optional<RiffChunk> RiffReader::FindChunk(const RiffChunk& parent, uint32_t id) {
  return Find(parent.data_offset, parent.data_offset + parent.size, id, 0);
}

std::optional<RiffChunk> RiffReader::Find(uint64_t begin, uint64_t end, uint32_t id,
                                          uint32_t form) {
  if (file_ == nullptr) return std::nullopt;
  if (end > file_size_) end = file_size_;
  uint64_t position = begin;
  for (int walked = 0; walked < kMaxChunks; ++walked) {
    if (position > end || end - position < 8) return std::nullopt;
    uint8_t header[12];
    if (!Seek(position) || Read(header, 8) != 8) return std::nullopt;
    RiffChunk chunk;
    chunk.id = Le32(header);
    chunk.declared_size = Le32(header + 4);
    chunk.offset = position;
    chunk.data_offset = position + 8;
    const uint64_t room = end - chunk.data_offset;
    chunk.size = chunk.declared_size <= room ? chunk.declared_size : room;
    const bool is_list = chunk.id == FourCc("RIFF") || chunk.id == FourCc("LIST");
    if (is_list && chunk.size >= 4 && Read(header + 8, 4) == 4) {
      chunk.form = Le32(header + 8);
      chunk.data_offset += 4;
      chunk.size -= 4;
    }
    if (chunk.id == id && (form == 0 || chunk.form == form)) return chunk;
    // Chunks are padded to an even size. A chunk that runs past its parent ends the walk.
    const uint64_t span = uint64_t{chunk.declared_size} + (chunk.declared_size & 1u);
    if (span > room) return std::nullopt;
    position = chunk.offset + 8 + span;
  }
  return std::nullopt;
}

}  // namespace pelk::fingerprint
