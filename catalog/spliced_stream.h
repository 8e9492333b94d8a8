// A read-only TagLib stream over a file in which some byte ranges are replaced by other bytes
// (usually fewer): TagLib then parses the file as if those bytes were all it held. Used to keep
// huge pictures out of TagLib's reach while it reads the rest of a tag (catalog/large_tag_items.h).
#pragma once

#include <taglib/tiostream.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pelk::catalog {

// One replacement: the file's bytes [offset, offset + length) read as `bytes` instead.
struct Splice {
  uint64_t offset = 0;
  uint64_t length = 0;
  std::string bytes;
};

class SplicedStream : public TagLib::IOStream {
 public:
  // Takes ownership of `fd`, open for reading on the file `path` of `file_size` bytes.
  // REQUIRES: the splices lie within the file and do not overlap.
  SplicedStream(std::string path, int fd, uint64_t file_size, std::vector<Splice> splices);
  ~SplicedStream() override;
  SplicedStream(const SplicedStream&) = delete;
  SplicedStream& operator=(const SplicedStream&) = delete;

  // The file's own name, so that TagLib chooses the format by its extension as it would for
  // the file itself.
  TagLib::FileName name() const override { return path_.c_str(); }
  TagLib::ByteVector readBlock(unsigned long length) override;
  bool readOnly() const override { return true; }
  bool isOpen() const override { return fd_ >= 0; }
  void seek(long offset, Position p = Beginning) override;
  long tell() const override { return static_cast<long>(position_); }
  long length() override { return static_cast<long>(length_); }
  // Writing is refused: the stream only ever serves reading.
  void writeBlock(const TagLib::ByteVector&) override {}
  void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
  void removeBlock(unsigned long, unsigned long) override {}
  void truncate(long) override {}

 private:
  // A run of the stream: file bytes from `file_offset`, or `literal`'s bytes.
  struct Piece {
    uint64_t start = 0;  // in the stream
    uint64_t length = 0;
    uint64_t file_offset = 0;
    const std::string* literal = nullptr;
  };

  std::string path_;
  int fd_;
  std::vector<Splice> splices_;
  std::vector<Piece> pieces_;
  uint64_t length_ = 0;
  uint64_t position_ = 0;
};

}  // namespace pelk::catalog
