#include "catalog/large_tag_items.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "catalog/asf_header.h"

namespace pelk::catalog {
namespace {

// Up to `n` bytes at `offset`; fewer at the end of the file.
std::string ReadAt(int fd, uint64_t offset, size_t n) {
  std::string out(n, '\0');
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, out.data() + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  out.resize(got);
  return out;
}

uint64_t BigEndian(std::string_view bytes) {
  uint64_t value = 0;
  for (char c : bytes) value = value << 8 | static_cast<unsigned char>(c);
  return value;
}

std::string BigEndianBytes(uint64_t value, int n) {
  std::string out(n, '\0');
  for (int i = n - 1; i >= 0; --i, value >>= 8) out[i] = static_cast<char>(value & 0xff);
  return out;
}

// --- ID3v2 ---

// A 28-bit number in four bytes of seven bits, read as TagLib reads it: when a byte has its top
// bit set, the writer put a plain number there, and it is taken as one.
uint32_t SynchSafe(std::string_view bytes) {
  uint32_t value = 0;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) & 0x80) return static_cast<uint32_t>(BigEndian(bytes));
    value = value << 7 | (static_cast<unsigned char>(c) & 0x7f);
  }
  return value;
}

std::string SynchSafeBytes(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 3; i >= 0; --i, value >>= 7) out[i] = static_cast<char>(value & 0x7f);
  return out;
}

bool IsFrameIdChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The tag objects read text frames (TIT2, TXXX, TCON...) and comments, nothing else.
bool FrameUsed(std::string_view id) { return id[0] == 'T' || id.substr(0, 3) == "COM"; }

struct Id3v2Tag {
  uint64_t end = 0;  // where what follows the tag (and any tags repeated after it) begins
  std::vector<Splice> splices;
  uint64_t removed = 0;  // bytes the splices leave out
};

// The size of the whole ID3v2 tag whose header is `header`, as TagLib takes it (a size it
// refuses counts as 0).
uint64_t CompleteTagSize(std::string_view header) {
  uint64_t size = 10;
  bool valid = true;
  for (int i = 6; i < 10; ++i) valid = valid && !(static_cast<unsigned char>(header[i]) & 0x80);
  if (valid) size += SynchSafe(header.substr(6, 4));
  if (header[5] & 0x10) size += 10;  // a footer
  return size;
}

class Id3v2Walk {
 public:
  // `body` is where the tag's frames start in the file, after its header.
  Id3v2Walk(int fd, uint64_t body, uint32_t tag_size, int major, uint64_t large)
      : fd_(fd),
        body_(body),
        tag_size_(tag_size),
        major_(major),
        header_size_(major < 3 ? 6 : 10),
        large_(large) {}

  // The frames TagLib would parse, in its order and with its stopping rules; the large unused
  // ones become one-byte frames of the same id, so that TagLib's look at the id after a frame
  // (its check of sizes written by iTunes) sees what it saw before.
  std::vector<Splice> Run(uint32_t first_frame, uint64_t* removed) {
    std::vector<Splice> splices;
    uint64_t pos = first_frame;
    while (tag_size_ >= 10 && pos < tag_size_ - 10) {
      const std::string h =
          ReadAt(fd_, body_ + pos, std::min<uint64_t>(header_size_, tag_size_ - pos));
      if (h.empty() || h[0] == '\0' || h.size() < header_size_) break;  // padding, or the end
      std::string id = h.substr(0, major_ < 3 ? 3 : 4);
      const std::optional<uint64_t> size = FrameSize(h, pos);
      if (!size) break;
      if (major_ == 3 && id[3] == '\0') id.resize(3);  // a 2.2 frame in a 2.3 tag (iTunes)
      bool valid = true;
      for (char c : id) valid = valid && IsFrameIdChar(c);
      if (!valid) break;
      const uint64_t total = header_size_ + *size;
      if (!FrameUsed(id) && *size >= large_ && pos + total <= tag_size_) {
        std::string stub = h.substr(0, major_ < 3 ? 3 : 4);
        stub += major_ < 3 ? BigEndianBytes(1, 3) : BigEndianBytes(1, 4);  // 1 in either form
        if (major_ >= 3) stub += std::string(2, '\0');                     // no flags
        stub += '\0';
        *removed += total - stub.size();
        splices.push_back({body_ + pos, total, std::move(stub)});
      }
      pos += total;
    }
    // Past the last frame TagLib parses it reads nothing: padding, or bytes it stopped at.
    if (tag_size_ - std::min<uint64_t>(pos, tag_size_) >= large_) {
      *removed += tag_size_ - pos;
      splices.push_back({body_ + pos, tag_size_ - pos, ""});
    }
    return splices;
  }

 private:
  // The frame's size as TagLib reads it, or nullopt where TagLib stops parsing.
  std::optional<uint64_t> FrameSize(std::string_view h, uint64_t pos) const {
    uint64_t size = 0;
    bool length_indicator = false;
    if (major_ < 3) {
      size = BigEndian(h.substr(3, 3));
    } else if (major_ == 3) {
      size = BigEndian(h.substr(4, 4));
    } else {
      size = SynchSafe(h.substr(4, 4));
      // iTunes writes 2.4 frames with 2.3 sizes: TagLib takes the plain size when the synchsafe
      // one lands on no frame id and the plain one does.
      if (size > 127 && !FrameIdAt(pos + 10 + size)) {
        const uint64_t plain = BigEndian(h.substr(4, 4));
        if (FrameIdAt(pos + 10 + plain)) size = plain;
      }
      length_indicator = h[9] & 0x01;
    }
    if (size <= (length_indicator ? 4u : 0u) || size > tag_size_ - pos) return std::nullopt;
    return size;
  }

  bool FrameIdAt(uint64_t pos) const {
    if (pos + 4 > tag_size_) return false;
    const std::string id = ReadAt(fd_, body_ + pos, 4);
    if (id.size() != 4) return false;
    for (char c : id) {
      if (!IsFrameIdChar(c)) return false;
    }
    return true;
  }

  int fd_;
  uint64_t body_;
  uint64_t tag_size_;
  int major_;
  size_t header_size_;
  uint64_t large_;
};

// The ID3v2 tag at `at` (the start of the file, or of a RIFF or AIFF chunk), if any; it is walked
// only when it ends by `limit`. `even` keeps the bytes left out even (with a byte of padding
// inside the tag), so that a chunk's padding byte stays where it was.
Id3v2Tag PlanId3v2(int fd, uint64_t at, uint64_t limit, uint64_t large, bool even = false) {
  Id3v2Tag tag;
  const std::string header = ReadAt(fd, at, 10);
  if (header.size() < 10 || header.compare(0, 3, "ID3") != 0) return tag;
  tag.end = at + CompleteTagSize(header);
  // TagLib takes ID3v2 tags right after the first as part of it (its padding).
  for (std::string next;
       (next = ReadAt(fd, tag.end, 10)).size() == 10 && next.compare(0, 3, "ID3") == 0;) {
    tag.end += CompleteTagSize(next);
  }

  const int major = static_cast<unsigned char>(header[3]);
  const unsigned char flags = static_cast<unsigned char>(header[5]);
  const bool unsynchronised_whole = (flags & 0x80) && major <= 3;
  if (major < 2 || major > 4 || unsynchronised_whole || (flags & 0x10) ||
      CompleteTagSize(header) < 10 + large || CompleteTagSize(header) > limit - at) {
    return tag;  // no frame can be large, or not walked: read as it is
  }
  const uint32_t tag_size = SynchSafe(header.substr(6, 4));
  uint32_t first_frame = 0;
  if (flags & 0x40) {  // an extended header, whose size TagLib reads as synchsafe
    const uint32_t extended = SynchSafe(ReadAt(fd, at + 10, 4));
    if (extended <= tag_size) first_frame = extended;
  }
  uint64_t removed = 0;
  tag.splices = Id3v2Walk(fd, at + 10, tag_size, major, large).Run(first_frame, &removed);
  if (tag.splices.empty()) return tag;
  if (even && removed % 2 == 1) {
    tag.splices.push_back({at + 10 + tag_size, 0, std::string(1, '\0')});
    --removed;
  }
  tag.removed = removed;
  tag.splices.push_back({at + 6, 4, SynchSafeBytes(static_cast<uint32_t>(tag_size - removed))});
  return tag;
}

// --- RIFF (WAV) and AIFF ---

uint64_t Number(std::string_view bytes, bool big_endian) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const size_t at = big_endian ? i : bytes.size() - 1 - i;
    value = value << 8 | static_cast<unsigned char>(bytes[at]);
  }
  return value;
}

std::string NumberBytes(uint64_t value, bool big_endian) {
  std::string out = BigEndianBytes(value, 4);
  if (!big_endian) std::reverse(out.begin(), out.end());
  return out;
}

bool IsChunkName(std::string_view name) {
  if (name.size() != 4) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u > 127) return false;
  }
  return true;
}

// The first ID3v2 chunk, found among the chunks the way TagLib walks them (a chunk that runs
// past the file or has no name ends the walk; a padding byte follows a chunk of odd size when it
// is 0 or a chunk name follows it). Its large frames are left out, and the sizes of the chunk and
// of the file's outer chunk follow.
void PlanRiff(int fd, uint64_t file_size, uint64_t large, std::vector<Splice>& splices) {
  const std::string head = ReadAt(fd, 0, 12);
  if (head.size() < 12) return;
  const std::string_view outer = std::string_view(head).substr(0, 4);
  const std::string_view form = std::string_view(head).substr(8, 4);
  bool big_endian = false;
  if (outer == "RIFF" && form == "WAVE") {
    big_endian = false;
  } else if (outer == "FORM" && (form == "AIFF" || form == "AIFC")) {
    big_endian = true;
  } else {
    return;
  }
  for (uint64_t offset = 12; offset + 8 <= file_size;) {
    const std::string h = ReadAt(fd, offset, 8);
    const std::string_view name = std::string_view(h).substr(0, 4);
    const uint64_t size = Number(std::string_view(h).substr(4, 4), big_endian);
    if (!IsChunkName(name) || size > file_size - offset - 8) return;
    if (name == "ID3 " || name == "id3 ") {
      const Id3v2Tag tag = PlanId3v2(fd, offset + 8, offset + 8 + size, large, true);
      if (tag.splices.empty()) return;
      splices.insert(splices.end(), tag.splices.begin(), tag.splices.end());
      splices.push_back({offset + 4, 4, NumberBytes(size - tag.removed, big_endian)});
      const uint64_t outer_size = Number(std::string_view(head).substr(4, 4), big_endian);
      if (outer_size >= tag.removed) {
        splices.push_back({4, 4, NumberBytes(outer_size - tag.removed, big_endian)});
      }
      return;
    }
    uint64_t next = offset + 8 + size;
    if (next % 2 == 1) {
      const std::string pad = ReadAt(fd, next, 5);
      if (!pad.empty() && (pad[0] == '\0' || (pad.size() == 5 && IsChunkName(pad.substr(1))))) {
        ++next;
      }
    }
    offset = next;
  }
}

// --- FLAC ---

void PlanFlac(int fd, uint64_t file_size, uint64_t at, uint64_t large,
              std::vector<Splice>& splices) {
  if (ReadAt(fd, at, 4) != "fLaC") return;
  constexpr int kStreamInfo = 0, kPadding = 1, kSeekTable = 3, kVorbisComment = 4;
  bool first = true;
  for (uint64_t pos = at + 4;; first = false) {
    const std::string h = ReadAt(fd, pos, 4);
    if (h.size() < 4) return;
    const int type = static_cast<unsigned char>(h[0]) & 0x7f;
    const bool last = static_cast<unsigned char>(h[0]) & 0x80;
    const uint64_t length = BigEndian(h.substr(1, 3));
    // Where TagLib refuses the file, it refuses it with the blocks before replaced as well.
    if (first && type != kStreamInfo) return;
    if (length == 0 && type != kPadding && type != kSeekTable) return;
    if (length > file_size - pos - 4) return;
    if (type != kStreamInfo && type != kVorbisComment && length >= large) {
      // An empty padding block keeps the mark of the last block where it was.
      std::string stub(4, '\0');
      stub[0] = static_cast<char>((last ? 0x80 : 0) | kPadding);
      splices.push_back({pos, 4 + length, std::move(stub)});
    }
    pos += 4 + length;
    if (last) return;
  }
}

// --- MP4 ---

struct Atom {
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t header = 8;
  bool to_end = false;  // a size of 0: the atom runs to the end of the file
  std::string name;
};

// The atom at `at`, when its size fits before `limit`.
std::optional<Atom> AtomAt(int fd, uint64_t at, uint64_t limit, bool last_may_run_to_end) {
  const std::string h = ReadAt(fd, at, 16);
  if (h.size() < 8 || limit - at < 8) return std::nullopt;
  Atom atom{at, BigEndian(h.substr(0, 4)), 8, false, h.substr(4, 4)};
  if (atom.size == 1) {
    if (h.size() < 16) return std::nullopt;
    atom.size = BigEndian(h.substr(8, 8));
    atom.header = 16;
  } else if (atom.size == 0) {
    if (!last_may_run_to_end) return std::nullopt;
    atom.size = limit - at;
    atom.to_end = true;
  }
  if (atom.size < atom.header || atom.size > limit - at) return std::nullopt;
  return atom;
}

// The child named `name` of the atom, its children starting at `first`.
std::optional<Atom> Child(int fd, const Atom& parent, uint64_t first, std::string_view name) {
  const uint64_t end = parent.offset + parent.size;
  for (uint64_t pos = first; pos < end;) {
    const std::optional<Atom> child = AtomAt(fd, pos, end, false);
    if (!child) return std::nullopt;
    if (child->name == name) return child;
    pos += child->size;
  }
  return std::nullopt;
}

// Where the children of a meta atom start: after its version and flags, unless it has none
// (QuickTime writes it as a plain container, and TagLib tells the two apart this way).
uint64_t MetaChildren(int fd, const Atom& meta) {
  const uint64_t after = meta.offset + meta.header;
  const std::string next = ReadAt(fd, after, 8);
  const std::string_view name = next.size() == 8 ? std::string_view(next).substr(4) : "";
  for (std::string_view child : {"hdlr", "ilst", "mhdr", "ctry", "lang"}) {
    if (name == child) return after;
  }
  return after + 4;
}

void PatchSize(const Atom& atom, uint64_t removed, std::vector<Splice>& splices) {
  if (atom.to_end) return;  // still runs to the end
  if (atom.header == 16) {
    splices.push_back({atom.offset + 8, 8, BigEndianBytes(atom.size - removed, 8)});
  } else {
    splices.push_back({atom.offset, 4, BigEndianBytes(atom.size - removed, 4)});
  }
}

void PlanMp4(int fd, uint64_t file_size, Mp4ItemUsed used, uint64_t large,
             std::vector<Splice>& splices) {
  if (ReadAt(fd, 4, 4) != "ftyp") return;
  std::optional<Atom> moov;
  for (uint64_t pos = 0; pos < file_size && !moov;) {
    const std::optional<Atom> atom = AtomAt(fd, pos, file_size, true);
    if (!atom) return;
    if (atom->name == "moov") moov = atom;
    pos += atom->size;
  }
  if (!moov) return;
  const std::optional<Atom> udta = Child(fd, *moov, moov->offset + moov->header, "udta");
  if (!udta) return;
  const std::optional<Atom> meta = Child(fd, *udta, udta->offset + udta->header, "meta");
  if (!meta) return;
  const std::optional<Atom> ilst = Child(fd, *meta, MetaChildren(fd, *meta), "ilst");
  if (!ilst || ilst->size < large) return;

  std::vector<Splice> items;
  uint64_t removed = 0;
  const uint64_t end = ilst->offset + ilst->size;
  for (uint64_t pos = ilst->offset + ilst->header; pos < end;) {
    const std::optional<Atom> item = AtomAt(fd, pos, end, false);
    if (!item) return;
    if (item->size >= large && !used(item->name)) {
      items.push_back({item->offset, item->size, BigEndianBytes(8, 4) + item->name});
      removed += item->size - 8;
    }
    pos += item->size;
  }
  if (items.empty()) return;
  for (const Atom& atom : {*moov, *udta, *meta, *ilst}) PatchSize(atom, removed, splices);
  splices.insert(splices.end(), items.begin(), items.end());
}

}  // namespace

std::vector<Splice> LargeItemSplices(int fd, uint64_t file_size, Mp4ItemUsed mp4_item_used,
                                     uint64_t large) {
  Id3v2Tag id3v2 = PlanId3v2(fd, 0, file_size, large);
  std::vector<Splice> splices = std::move(id3v2.splices);
  if (id3v2.end <= file_size) PlanFlac(fd, file_size, id3v2.end, large, splices);
  if (id3v2.end == 0) PlanMp4(fd, file_size, mp4_item_used, large, splices);
  if (id3v2.end == 0) PlanRiff(fd, file_size, large, splices);
  return splices;
}

TagView OpenTagView(const std::string& path, Mp4ItemUsed mp4_item_used) {
  TagView view;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return view;
  struct stat st {};
  std::vector<Splice> splices;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const auto size = static_cast<uint64_t>(st.st_size);
    AsfHeaderPlan asf;
    if (TagLibReadsAsAsf(path)) asf = PlanAsfHeader(fd, size, kLargeTagItem);
    if (asf.refused) {
      ::close(fd);
      view.refused = true;
      return view;
    }
    if (asf.asf) {  // none of the other formats' items can be there
      splices = std::move(asf.repairs);
      splices.insert(splices.end(), asf.cuts.begin(), asf.cuts.end());
    } else {
      splices = LargeItemSplices(fd, size, mp4_item_used);
    }
  }
  if (splices.empty()) {
    ::close(fd);
    return view;
  }
  view.stream = std::make_unique<SplicedStream>(path, fd, static_cast<uint64_t>(st.st_size),
                                                std::move(splices));
  return view;
}

}  // namespace pelk::catalog
