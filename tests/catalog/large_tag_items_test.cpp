// Large unused tag items left out of what TagLib reads: the tag must read exactly as it would
// with the items there, in every ID3v2 version (with the sizes iTunes writes, with an extended
// header), in a FLAC file whose last block is the picture, in the ID3v2 chunk of WAV and AIFF
// files (before their audio chunks), and files without large items must be read as they are.
#include "catalog/large_tag_items.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/wavfile.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "catalog/tag_mapping.h"
#include "runtime/utf.h"
#include "tests/support/hr_matchers.h"
#include "tests/support/test_folder.h"

namespace pelk::catalog {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string BigEndian(uint32_t value, int n) {
  std::string out(n, '\0');
  for (int i = n - 1; i >= 0; --i, value >>= 8) out[i] = static_cast<char>(value & 0xff);
  return out;
}
std::string SynchSafe(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 3; i >= 0; --i, value >>= 7) out[i] = static_cast<char>(value & 0x7f);
  return out;
}

// One ID3v2 frame of `major` version; `plain_size` writes a 2.4 size as iTunes does.
std::string Frame(int major, const std::string& id, const std::string& body,
                  bool plain_size = false) {
  const auto size = static_cast<uint32_t>(body.size());
  if (major == 2) return id + BigEndian(size, 3) + body;
  const std::string size_bytes = major == 4 && !plain_size ? SynchSafe(size) : BigEndian(size, 4);
  return id + size_bytes + std::string(2, '\0') + body;
}
// `extended` puts a 2.4 extended header (six bytes, no flags set) before the frames.
std::string Tag(int major, const std::string& frames, size_t padding, bool extended = false) {
  const std::string header = extended ? SynchSafe(6) + std::string("\1\0", 2) : "";
  return std::string("ID3") + static_cast<char>(major) + '\0' + (extended ? '\x40' : '\0') +
         SynchSafe(static_cast<uint32_t>(header.size() + frames.size() + padding)) + header +
         frames + std::string(padding, '\0');
}
std::string Text(const std::string& text) { return '\0' + text; }  // Latin-1
std::string Picture(int major, size_t bytes) {
  const std::string head =
      major == 2 ? std::string("\0JPG\3", 5) : std::string("\0image/jpeg\0\3", 13);
  return head + '\0' + std::string(bytes, 'P');
}

class LargeTagItemsTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::TestFolder("pelk-large-items"); }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Sample(const std::string& name) {
    return Bytes(fs::path(SONQUIX_TEST_DATA_DIR) / name);
  }
  // The MPEG audio of the MP3 sample, without its (empty) tag.
  static std::string Mpeg() { return Sample("tag_sample.mp3").substr(20); }

  static TagData Read(const fs::path& path) {
    TagData data;
    EXPECT_HR(S_OK, ReadTagFile(Utf8ToUtf16(path.string()), &data));
    return data;
  }
  static size_t Splices(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const size_t n = LargeItemSplices(fd, fs::file_size(path), [](std::string_view name) {
                       return name != "covr";
                     }).size();
    ::close(fd);
    return n;
  }

  fs::path dir_;
};

constexpr size_t kLarge = 2u << 20;

TEST_F(LargeTagItemsTest, EveryId3v2VersionReadsTheTextsAroundALargePicture) {
  struct Case {
    int major;
    const char *title_id, *artist_id, *picture_id;
    bool itunes_sizes, extended;
  };
  for (const Case& c :
       {Case{2, "TT2", "TP1", "PIC", false, false}, Case{3, "TIT2", "TPE1", "APIC", false, false},
        Case{4, "TIT2", "TPE1", "APIC", false, false}, Case{4, "TIT2", "TPE1", "APIC", true, false},
        Case{4, "TIT2", "TPE1", "APIC", false, true}}) {
    SCOPED_TRACE(std::to_string(c.major) + (c.itunes_sizes ? " with iTunes sizes" : "") +
                 (c.extended ? " with an extended header" : ""));
    // A title of 300 bytes: written plainly, its size (0x12C) reads as 172 when synchsafe,
    // and TagLib takes the plain size only when a frame id follows it.
    const std::string title(299, 'n');
    const std::string title_frame = Frame(c.major, c.title_id, Text(title), c.itunes_sizes);
    const std::string artist_frame = Frame(c.major, c.artist_id, Text("Around Artist"));
    const std::string picture = Frame(c.major, c.picture_id, Picture(c.major, kLarge));
    const fs::path without = dir_ / "without.mp3";
    Write(without, Tag(c.major, artist_frame, 64, c.extended) + Mpeg());
    // The picture between the texts, and last (where only its stand-in follows the title).
    for (const std::string& frames :
         {title_frame + picture + artist_frame, artist_frame + title_frame + picture}) {
      const fs::path with = dir_ / "with.mp3";
      Write(with, Tag(c.major, frames, 64, c.extended) + Mpeg());
      EXPECT_EQ(Splices(with), 2u);  // the picture, and the tag's size
      const TagData read = Read(with);
      EXPECT_EQ(read.texts[kTagTitle], Utf8ToUtf16(title));
      EXPECT_EQ(read.texts[kTagArtist], u"Around Artist");
      EXPECT_EQ(read.length_ms, Read(without).length_ms);
    }
  }
}

TEST_F(LargeTagItemsTest, LargePaddingAndFramesTagLibStopsAtAreLeftOutToo) {
  const std::string title = Frame(3, "TIT2", Text("Padded"));
  // A frame whose size runs past the tag: TagLib stops there, and reads nothing after.
  const std::string broken = "TPE1" + BigEndian(0x7fffffff, 4) + std::string(2, '\0');
  const fs::path padded = dir_ / "padded.mp3";
  const fs::path stopped = dir_ / "stopped.mp3";
  Write(padded, Tag(3, title, kLarge) + Mpeg());
  Write(stopped, Tag(3, title + broken + std::string(kLarge, 'x'), 0) + Mpeg());
  for (const fs::path& path : {padded, stopped}) {
    SCOPED_TRACE(path.filename().string());
    EXPECT_EQ(Splices(path), 2u);
    const TagData read = Read(path);
    EXPECT_EQ(read.texts[kTagTitle], u"Padded");
    EXPECT_EQ(read.texts[kTagArtist], u"");
    EXPECT_GT(read.length_ms, 0);
  }
}

TEST_F(LargeTagItemsTest, AFlacWhoseLastBlockIsALargePictureReadsAsWithout) {
  const fs::path plain = dir_ / "plain.flac";
  Write(plain, Sample("tag_sample.flac"));
  TagData texts;
  texts.texts[kTagTitle] = u"Last Block";
  ASSERT_HR(S_OK, WriteTagFile(Utf8ToUtf16(plain.string()), texts));
  // Its blocks rebuilt without padding, a picture block last.
  const std::string bytes = Bytes(plain);
  std::string blocks;
  size_t pos = 4;
  for (bool last = false; !last;) {
    last = static_cast<unsigned char>(bytes[pos]) & 0x80;
    const uint32_t length =
        static_cast<uint32_t>((static_cast<unsigned char>(bytes[pos + 1]) << 16) |
                              (static_cast<unsigned char>(bytes[pos + 2]) << 8) |
                              static_cast<unsigned char>(bytes[pos + 3]));
    if ((bytes[pos] & 0x7f) != 1)
      blocks += static_cast<char>(bytes[pos] & 0x7f) + bytes.substr(pos + 1, 3 + length);
    pos += 4 + length;
  }
  const std::string picture = BigEndian(3, 4) + BigEndian(10, 4) + "image/jpeg" +
                              std::string(20, '\0') + BigEndian(kLarge, 4) +
                              std::string(kLarge, 'P');
  const fs::path last = dir_ / "last.flac";
  Write(last, "fLaC" + blocks + static_cast<char>(0x86) + BigEndian(picture.size(), 3) + picture +
                  bytes.substr(pos));
  EXPECT_EQ(Splices(last), 1u);
  const TagData read = Read(last);
  EXPECT_EQ(read.texts[kTagTitle], u"Last Block");
  EXPECT_EQ(read.length_ms, Read(plain).length_ms);
}

// The file with its ID3v2 chunk moved first (TagLib writes it last): the format and audio
// chunks then come after it, and TagLib finds them only if its walk of the chunks stays in step.
std::string Id3ChunkFirst(const std::string& file, bool big_endian) {
  std::string id3, others;
  for (size_t pos = 12; pos + 8 <= file.size();) {
    std::string size_bytes = file.substr(pos + 4, 4);
    if (!big_endian) size_bytes = std::string(size_bytes.rbegin(), size_bytes.rend());
    uint32_t size = 0;
    for (char c : size_bytes) size = size << 8 | static_cast<unsigned char>(c);
    const size_t total = 8 + size + size % 2;
    (file.compare(pos, 4, "ID3 ") == 0 || file.compare(pos, 4, "id3 ") == 0 ? id3 : others) +=
        file.substr(pos, total);
    pos += total;
  }
  return file.substr(0, 12) + id3 + others;
}

TEST_F(LargeTagItemsTest, TheId3v2ChunkOfWavAndAiffFilesReadsAsWithoutItsLargePicture) {
  for (const std::string extension : {"wav", "aiff"}) {
    const bool wav = extension == "wav";
    // Pictures of both parities: a chunk keeps its padding byte only if an even number of
    // bytes is left out, or the chunks after it are lost.
    for (size_t bytes : {kLarge, kLarge + 1}) {
      SCOPED_TRACE(extension + " with a picture of " + std::to_string(bytes) + " bytes");
      const fs::path plain = dir_ / ("plain." + extension);
      const fs::path big = dir_ / ("big." + extension);
      fs::remove(plain);
      fs::remove(big);
      Write(plain, Sample("tag_sample." + extension));
      TagData texts;
      texts.texts[kTagTitle] = u"Chunk Title";
      texts.texts[kTagArtist] = u"Chunk Artist";
      ASSERT_HR(S_OK, WriteTagFile(Utf8ToUtf16(plain.string()), texts));
      fs::copy_file(plain, big);
      {
        auto picture = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        picture->setMimeType("image/jpeg");
        picture->setPicture(TagLib::ByteVector(static_cast<unsigned>(bytes), 'P'));
        if (wav) {
          TagLib::RIFF::WAV::File file(big.c_str());
          file.ID3v2Tag()->addFrame(picture.release());
          ASSERT_TRUE(file.save());
        } else {
          TagLib::RIFF::AIFF::File file(big.c_str());
          file.tag()->addFrame(picture.release());
          ASSERT_TRUE(file.save());
        }
      }
      for (const fs::path& path : {plain, big}) Write(path, Id3ChunkFirst(Bytes(path), !wav));
      // The picture, the tag's size, the chunk's, the file's (and a byte of padding).
      EXPECT_GE(Splices(big), 4u);
      const TagData without = Read(plain);
      const TagData with = Read(big);
      EXPECT_EQ(with.texts[kTagTitle], u"Chunk Title");
      EXPECT_EQ(with.texts[kTagArtist], u"Chunk Artist");
      EXPECT_EQ(with.texts, without.texts);
      EXPECT_GT(with.length_ms, 0);
      EXPECT_EQ(with.length_ms, without.length_ms);
    }
  }
}

TEST_F(LargeTagItemsTest, FilesWithoutLargeItemsAreReadAsTheyAre) {
  for (const char* sample : {"tag_sample.mp3", "tag_sample.flac", "tag_sample.m4a",
                             "tag_sample.ogg", "tag_sample.wma", "tag_sample.aiff"}) {
    EXPECT_EQ(Splices(fs::path(SONQUIX_TEST_DATA_DIR) / sample), 0u) << sample;
  }
  // A picture below the limit, and large text (a 2 MB title) that the reader uses.
  const fs::path small = dir_ / "small.mp3";
  Write(small, Tag(3,
                   Frame(3, "APIC", Picture(3, kLargeTagItem - 1024)) +
                       Frame(3, "TIT2", Text(std::string(kLarge, 't'))),
                   0) +
                   Mpeg());
  EXPECT_EQ(Splices(small), 0u);
  EXPECT_EQ(Read(small).texts[kTagTitle].size(), kLarge);
}

}  // namespace
}  // namespace pelk::catalog
