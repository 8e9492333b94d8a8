#include "catalog/asf_header.h"

#include <taglib/fileref.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

namespace pelk::catalog {
namespace {

using namespace std::string_view_literals;

// The object GUIDs TagLib tells apart, as they are stored.
constexpr std::string_view kHeaderGuid =
    "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
constexpr std::string_view kFilePropertiesGuid =
    "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;
constexpr std::string_view kStreamPropertiesGuid =
    "\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65"sv;
constexpr std::string_view kContentDescriptionGuid =
    "\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
constexpr std::string_view kExtendedContentDescriptionGuid =
    "\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50"sv;
constexpr std::string_view kHeaderExtensionGuid =
    "\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11\x8E\xE3\x00\xC0\x0C\x20\x53\x65"sv;
constexpr std::string_view kCodecListGuid =
    "\x40\x52\xD1\x86\x1D\x31\xD0\x11\xA3\xA4\x00\xA0\xC9\x03\x48\xF6"sv;
constexpr std::string_view kMetadataGuid =
    "\xEA\xCB\xF8\xC5\xAF\x5B\x77\x48\x84\x67\xAA\x8C\x44\xFA\x4C\xCA"sv;
constexpr std::string_view kMetadataLibraryGuid =
    "\x94\x1C\x23\x44\x98\x94\xD1\x49\xA1\x41\x1D\x13\x4E\x45\x70\x54"sv;

constexpr uint64_t kObjectHeader = 24;  // GUID and 64-bit size

// The attribute lists: extended content description, metadata, metadata library.
enum class ListKind { kExtended, kMetadata, kLibrary };

// Attribute value types.
constexpr uint64_t kBytes = 1, kBool = 2, kDWord = 3, kQWord = 4, kWord = 5, kGuid = 6;

std::string LittleEndianBytes(uint64_t value, int n) {
  std::string out(n, '\0');
  for (int i = 0; i < n; ++i, value >>= 8) out[i] = static_cast<char>(value & 0xff);
  return out;
}

class Source {
 public:
  virtual ~Source() = default;
  // Up to `n` bytes at `at`; fewer at the end.
  virtual std::string Read(uint64_t at, size_t n) = 0;
  virtual uint64_t Size() const = 0;
};

class FileSource : public Source {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  std::string Read(uint64_t at, size_t n) override {
    if (at >= size_) return {};
    std::string out(std::min<uint64_t>(n, size_ - at), '\0');
    size_t got = 0;
    while (got < out.size()) {
      const ssize_t r = ::pread(fd_, out.data() + got, out.size() - got, at + got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
  }
  uint64_t Size() const override { return size_; }

 private:
  int fd_;
  uint64_t size_;
};

class ViewSource : public Source {
 public:
  explicit ViewSource(SplicedStream& view) : view_(view) {}
  std::string Read(uint64_t at, size_t n) override {
    view_.seek(static_cast<long>(at));
    const TagLib::ByteVector block = view_.readBlock(static_cast<unsigned long>(n));
    return std::string(block.data(), block.size());
  }
  uint64_t Size() const override { return static_cast<uint64_t>(view_.length()); }

 private:
  SplicedStream& view_;
};

// Cuts found inside one object, kept only if the object (and every one around it) turns out to
// be laid out as its sizes say.
struct Pending {
  std::vector<Splice> splices;
  uint64_t removed = 0;

  void Add(Splice splice) {
    removed += splice.length - splice.bytes.size();
    splices.push_back(std::move(splice));
  }
  void Merge(Pending&& inner) {
    removed += inner.removed;
    for (Splice& s : inner.splices) splices.push_back(std::move(s));
  }
};

// Walks the header the way TagLib reads it: from one position that only moves forward, reads
// that stop at the end of the file, numbers read short taken as 0, object sizes read as TagLib
// reads them (and ignored where TagLib ignores them).
class Walker {
 public:
  Walker(Source& source, uint64_t large) : source_(source), size_(source.Size()), large_(large) {}

  void Run(AsfHeaderPlan& plan) {
    const std::string head = source_.Read(0, 30);
    if (head.size() < 16 || std::string_view(head).substr(0, 16) != kHeaderGuid) return;
    plan.asf = true;
    if (head.size() < 28) return;  // TagLib refuses it
    pos_ = 16;
    const uint64_t header_size = Number(8);
    const auto count = static_cast<int32_t>(Number(4));
    pos_ += 2;
    Pending top;
    uint64_t removed_in_header = 0;
    for (int32_t i = 0; i < count && !refused_; ++i) {
      Pending object;
      if (!Object(object)) break;
      if (pos_ <= header_size) removed_in_header += object.removed;
      top.Merge(std::move(object));
    }
    plan.refused = refused_;
    plan.objects = objects_;
    plan.attributes = attributes_;
    plan.repairs = std::move(repairs_);
    if (removed_in_header > 0 && header_size <= size_) {
      top.Add({16, 8, LittleEndianBytes(header_size - removed_in_header, 8)});
    }
    plan.cuts = std::move(top.splices);
  }

 private:
  // Moves past `n` bytes, or to the end of the file; false (and a short read) at the end.
  bool Skip(uint64_t n) {
    const uint64_t got = pos_ >= size_ ? 0 : std::min(n, size_ - pos_);
    pos_ += got;
    if (got < n) short_ = true;
    return got == n;
  }
  // A little-endian number, 0 when the file ends inside it (TagLib's readWORD and kin).
  uint64_t Number(int bytes) {
    const std::string b = source_.Read(pos_, static_cast<size_t>(bytes));
    pos_ += b.size();
    if (b.size() < static_cast<size_t>(bytes)) {
      short_ = true;
      return 0;
    }
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(b[i]);
    return value;
  }
  void Count(uint64_t* counter) {
    ++*counter;
    if (objects_ + attributes_ > kMaxAsfItems) refused_ = true;
  }

  // One object of the header, found where the last one ended; false when TagLib stops.
  bool Object(Pending& out) {
    const uint64_t start = pos_;
    const std::string guid = source_.Read(pos_, 16);
    pos_ += guid.size();
    if (guid.size() < 16) return false;
    short_ = false;
    const uint64_t size = Number(8);
    if (short_) return false;
    Count(&objects_);
    if (refused_) return false;
    if (guid == kContentDescriptionGuid) {
      uint64_t lengths[5];
      for (uint64_t& length : lengths) length = Number(2);
      for (uint64_t length : lengths) Skip(length);
    } else if (guid == kExtendedContentDescriptionGuid) {
      AttributeList(ListKind::kExtended, start, size, out);
    } else if (guid == kHeaderExtensionGuid) {
      HeaderExtension(start, size, out);
    } else {
      const bool read =
          guid == kFilePropertiesGuid || guid == kStreamPropertiesGuid || guid == kCodecListGuid;
      Kept(start, size, !read, out);
    }
    return true;
  }

  // An object TagLib keeps whole: read only when its size (cut to 32 bits, as TagLib passes it
  // on) is more than a header and no more than the file.
  void Kept(uint64_t start, uint64_t size, bool unused, Pending& out) {
    const auto size32 = static_cast<uint32_t>(size);
    if (size32 <= kObjectHeader || size32 > static_cast<uint32_t>(size_)) return;
    const bool whole = Skip(size32 - kObjectHeader);
    if (unused && whole && size32 - kObjectHeader >= large_) {
      out.Add({start + 16, size32 - 16, LittleEndianBytes(kObjectHeader, 8)});
    }
  }

  // The header extension: TagLib skips 18 bytes, reads the size of its objects and reads objects
  // until their declared sizes add up to it (each no more than what is left of it), wherever
  // they end.
  void HeaderExtension(uint64_t start, uint64_t declared, Pending& out) {
    pos_ += 18;
    const uint64_t data_at = pos_;
    short_ = false;
    const auto data_size = static_cast<int64_t>(Number(4));
    bool laid_out = !short_;
    int64_t data_pos = 0;
    Pending inner;
    while (data_pos < data_size && !refused_) {
      const uint64_t object = pos_;
      const std::string guid = source_.Read(pos_, 16);
      pos_ += guid.size();
      short_ = false;
      const auto size = static_cast<int64_t>(guid.size() < 16 ? 0 : Number(8));
      if (guid.size() < 16 || short_ || size < 0 || size > data_size - data_pos) {
        laid_out = false;
        break;
      }
      Count(&objects_);
      if (refused_) return;
      if (guid == kMetadataGuid) {
        AttributeList(ListKind::kMetadata, object, static_cast<uint64_t>(size), inner);
      } else if (guid == kMetadataLibraryGuid) {
        AttributeList(ListKind::kLibrary, object, static_cast<uint64_t>(size), inner);
      } else {
        Kept(object, static_cast<uint64_t>(size), true, inner);
      }
      data_pos += size;
    }
    laid_out = laid_out && data_pos == data_size &&
               pos_ == data_at + 4 + static_cast<uint64_t>(data_size) && declared == pos_ - start;
    if (!laid_out || inner.removed == 0) return;
    inner.splices.push_back({start + 16, 8, LittleEndianBytes(declared - inner.removed, 8)});
    inner.splices.push_back(
        {data_at, 4, LittleEndianBytes(static_cast<uint64_t>(data_size) - inner.removed, 4)});
    out.Merge(std::move(inner));
  }

  // A counted list of attributes. The first attribute that the file ends inside, and every one
  // after it, is left out of the count.
  void AttributeList(ListKind kind, uint64_t start, uint64_t declared, Pending& out) {
    const uint64_t count_at = pos_;
    short_ = false;
    const uint64_t count = Number(2);
    bool laid_out = !short_;
    Pending inner;
    for (uint64_t k = 0; k < count && !refused_; ++k) {
      const uint64_t attribute = pos_;
      if (!Attribute(kind, inner)) {
        repairs_.push_back({count_at, 2, LittleEndianBytes(k, 2)});
        pos_ = attribute;
        laid_out = false;
        break;
      }
      Count(&attributes_);
    }
    if (!laid_out || declared != pos_ - start || inner.removed == 0) return;
    inner.splices.push_back({start + 16, 8, LittleEndianBytes(declared - inner.removed, 8)});
    out.Merge(std::move(inner));
  }

  // One attribute as TagLib parses it; false when the file ends inside it. A large binary value
  // (a picture) is cut to an empty one.
  bool Attribute(ListKind kind, Pending& out) {
    short_ = false;
    uint64_t type = 0, size = 0, size_at = 0;
    int size_width = 0;
    if (kind == ListKind::kExtended) {
      Skip(Number(2));  // the name
      type = Number(2);
      size_at = pos_;
      size_width = 2;
      size = Number(2);
    } else {
      Number(2);  // language (reserved in metadata)
      Number(2);  // stream
      const uint64_t name_length = Number(2);
      type = Number(2);
      size_at = pos_;
      size_width = 4;
      size = Number(4);
      Skip(name_length);
    }
    const uint64_t value_at = pos_;
    switch (type) {
      case kBool:
        Skip(kind == ListKind::kExtended ? 4 : 2);
        break;
      case kDWord:
        Skip(4);
        break;
      case kQWord:
        Skip(8);
        break;
      case kWord:
        Skip(2);
        break;
      case 0:  // text
      case kBytes:
      case kGuid:
        Skip(size);
        break;
      default:  // no value read at all
        break;
    }
    if (short_) return false;
    if ((type == kBytes || type == kGuid) && size >= large_) {
      out.Add({size_at, static_cast<uint64_t>(size_width), std::string(size_width, '\0')});
      out.Add({value_at, size, ""});
    }
    return true;
  }

  Source& source_;
  uint64_t size_;
  uint64_t large_;
  uint64_t pos_ = 0;
  bool short_ = false;  // a read since it was cleared met the end of the file
  bool refused_ = false;
  uint64_t objects_ = 0;
  uint64_t attributes_ = 0;
  std::vector<Splice> repairs_;
};

}  // namespace

AsfHeaderPlan PlanAsfHeader(int fd, uint64_t file_size, uint64_t large) {
  AsfHeaderPlan plan;
  FileSource file(fd, file_size);
  Walker(file, large).Run(plan);
  if (!plan.asf || plan.refused || plan.cuts.empty()) return plan;

  // The cuts change the file's length, which TagLib compares object sizes with: they are kept
  // only if TagLib builds the same from the view with them, and finds nothing more to repair.
  const int view_fd = ::dup(fd);
  if (view_fd < 0) {
    plan.cuts.clear();
    return plan;
  }
  std::vector<Splice> all = plan.repairs;
  all.insert(all.end(), plan.cuts.begin(), plan.cuts.end());
  SplicedStream stream("", view_fd, file_size, std::move(all));
  ViewSource view(stream);
  AsfHeaderPlan again;
  Walker(view, std::numeric_limits<uint64_t>::max()).Run(again);
  if (again.refused || !again.repairs.empty() || again.objects != plan.objects ||
      again.attributes != plan.attributes) {
    plan.cuts.clear();
  }
  return plan;
}

bool TagLibReadsAsAsf(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  if (extension.size() < 2) return true;
  extension.erase(0, 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "wma" || extension == "asf" || extension == "wmv" ||
         !TagLib::FileRef::defaultFileExtensions().contains(extension);
}

}  // namespace pelk::catalog
