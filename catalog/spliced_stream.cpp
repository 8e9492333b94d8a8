#include "catalog/spliced_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace pelk::catalog {

SplicedStream::SplicedStream(std::string path, int fd, uint64_t file_size,
                             std::vector<Splice> splices)
    : path_(std::move(path)), fd_(fd), splices_(std::move(splices)) {
  std::sort(splices_.begin(), splices_.end(),
            [](const Splice& a, const Splice& b) { return a.offset < b.offset; });
  uint64_t file_at = 0;
  auto add = [&](uint64_t length, uint64_t file_offset, const std::string* literal) {
    if (length == 0) return;
    pieces_.push_back({length_, length, file_offset, literal});
    length_ += length;
  };
  for (const Splice& splice : splices_) {
    add(splice.offset - file_at, file_at, nullptr);
    add(splice.bytes.size(), 0, &splice.bytes);
    file_at = splice.offset + splice.length;
  }
  add(file_size - file_at, file_at, nullptr);
}

SplicedStream::~SplicedStream() {
  if (fd_ >= 0) ::close(fd_);
}

TagLib::ByteVector SplicedStream::readBlock(unsigned long length) {
  if (position_ >= length_ || length == 0) return TagLib::ByteVector();
  const uint64_t wanted = std::min<uint64_t>(length, length_ - position_);
  TagLib::ByteVector out(static_cast<unsigned int>(wanted), 0);
  uint64_t done = 0;
  // The first piece that ends after the position.
  auto piece =
      std::upper_bound(pieces_.begin(), pieces_.end(), position_,
                       [](uint64_t at, const Piece& p) { return at < p.start + p.length; });
  for (; piece != pieces_.end() && done < wanted; ++piece) {
    const uint64_t from = position_ + done - piece->start;
    const uint64_t n = std::min(wanted - done, piece->length - from);
    char* to = out.data() + done;
    if (piece->literal) {
      std::copy_n(piece->literal->data() + from, n, to);
    } else {
      for (uint64_t got = 0; got < n;) {
        const ssize_t r = ::pread(fd_, to + got, n - got, piece->file_offset + from + got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {  // the file shrank under us: what was read is all there is
          out.resize(static_cast<unsigned int>(done + got));
          position_ += done + got;
          return out;
        }
        got += static_cast<uint64_t>(r);
      }
    }
    done += n;
  }
  position_ += done;
  return out;
}

void SplicedStream::seek(long offset, Position p) {
  const long base = p == Beginning ? 0
                    : p == Current ? static_cast<long>(position_)
                                   : static_cast<long>(length_);
  if (base + offset >= 0) position_ = static_cast<uint64_t>(base + offset);
}

}  // namespace pelk::catalog
