// Inputs found by fuzzing or built to exhaust a reader: a catalogue file whose number overflows,
// a tag with a 100 MB picture, a tag with a 1 MB title. Each is refused in words or read within
// bounded memory, and the work around it goes on (the tag's other texts are read).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "catalog/catalog_json.h"
#include "catalog/tag_mapping.h"
#include "runtime/utf.h"
#include "tests/support/hr_matchers.h"

namespace pelk::catalog {
namespace {

namespace fs = std::filesystem;

std::string DataFile(const std::string& name) {
  std::ifstream in(fs::path(SONQUIX_TEST_DATA_DIR) / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CatalogJsonHostileTest, ANumberBeyondADoubleIsRefusedNamingItsLine) {
  // Found by fuzz_catalog_json: the reader threw out of the import instead of refusing.
  std::vector<DiscRecord> discs;
  std::string error;
  EXPECT_FALSE(ParseCatalogJson(DataFile("catalog_json_number_overflow.json"), &discs, &error));
  EXPECT_EQ(error, "line 1: a number is too large (1e999)");
  EXPECT_FALSE(ParseCatalogJson("{\"discs\": [],\n \"version\": -1e400}", &discs, &error));
  EXPECT_EQ(error, "line 2: a number is too large (-1e400)");
  EXPECT_TRUE(discs.empty());
}

// Peak memory of the process so far, in megabytes.
int64_t PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

// What reading a tag in a fresh child process cost and gave.
struct ChildRead {
  HRESULT hr = E_FAIL;
  int64_t grown_mb = -1;  // peak memory above the child's own before the read
  size_t title_length = 0;
  std::u16string artist;
};

ChildRead ReadInChild(const std::string& path) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const int64_t before = PeakMegabytes();
    TagData data;
    ChildRead result;
    result.hr = ReadTagFile(Utf8ToUtf16(path), &data);
    result.grown_mb = PeakMegabytes() - before;
    result.title_length = data.texts[kTagTitle].size();
    char artist[64] = {};
    const std::string a = Utf16ToUtf8(data.texts[kTagArtist]).substr(0, sizeof artist - 1);
    a.copy(artist, a.size());
    const bool ok =
        ::write(fds[1], &result.hr, sizeof result.hr) == sizeof result.hr &&
        ::write(fds[1], &result.grown_mb, sizeof result.grown_mb) == sizeof result.grown_mb &&
        ::write(fds[1], &result.title_length, sizeof result.title_length) ==
            sizeof result.title_length &&
        ::write(fds[1], artist, sizeof artist) == sizeof artist;
    ::_exit(ok ? 0 : 1);
  }
  ::close(fds[1]);
  ChildRead result;
  char artist[64] = {};
  const bool ok =
      ::read(fds[0], &result.hr, sizeof result.hr) == sizeof result.hr &&
      ::read(fds[0], &result.grown_mb, sizeof result.grown_mb) == sizeof result.grown_mb &&
      ::read(fds[0], &result.title_length, sizeof result.title_length) ==
          sizeof result.title_length &&
      ::read(fds[0], artist, sizeof artist) == sizeof artist;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(ok && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  result.artist = Utf8ToUtf16(artist);
  return result;
}

class TagLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pelk-tag-limits-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Copy(const std::string& sample, const std::string& name) {
    const fs::path to = dir_ / name;
    fs::copy_file(fs::path(SONQUIX_TEST_DATA_DIR) / sample, to);
    return to.string();
  }
  fs::path dir_;
};

constexpr unsigned int kHundredMegabytes = 100u << 20;

// (FLAC cannot hold it: a metadata block is at most 16 MB long.)
TEST_F(TagLimitsTest, AHundredMegabytePictureDoesNotStopTheTextsFromBeingRead) {
  const std::string mp3 = Copy("tag_sample.mp3", "picture.mp3");
  {
    TagLib::MPEG::File file(mp3.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->setArtist("Picture Artist");
    auto picture = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
    picture->setMimeType("image/jpeg");
    picture->setPicture(TagLib::ByteVector(kHundredMegabytes, 'P'));
    tag->addFrame(picture.release());
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2));
  }
  ASSERT_GT(fs::file_size(mp3), kHundredMegabytes);
  const ChildRead read = ReadInChild(mp3);
  EXPECT_HR(S_OK, read.hr);
  EXPECT_EQ(read.artist, u"Picture Artist");
  // TagLib holds the tag's bytes while it parses them: the picture is in memory once, never
  // copied again on its way (measured: 102 MB for the 100 MB picture).
  RecordProperty("mp3_picture_read_mb", std::to_string(read.grown_mb));
  EXPECT_LT(read.grown_mb, 160) << "the picture was copied while the tag was read";
}

TEST_F(TagLimitsTest, AOneMegabyteTitleIsReadWhole) {
  const std::string mp3 = Copy("tag_sample.mp3", "title.mp3");
  const std::string title(1u << 20, 'T');
  {
    TagLib::MPEG::File file(mp3.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->setTitle(TagLib::String(title, TagLib::String::UTF8));
    tag->setArtist("Long Title Artist");
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2));
  }
  const ChildRead read = ReadInChild(mp3);
  EXPECT_HR(S_OK, read.hr);
  EXPECT_EQ(read.title_length, title.size());
  EXPECT_EQ(read.artist, u"Long Title Artist");
  RecordProperty("long_title_read_mb", std::to_string(read.grown_mb));
}

TEST_F(TagLimitsTest, NamelessAsfAttributesFromLyingCountsAreNotWrittenBack) {
  // Found by fuzz_tag_file (a timeout while writing): the header's descriptor counts run past
  // its end, and TagLib reads 21,056 empty attributes without a name from 3.6 KB. Writing a
  // tag wrote them all back, a hundred times the file.
  const std::string wma = Copy("asf_descriptor_count_overrun.wma", "overrun.wma");
  const uintmax_t size = fs::file_size(wma);
  TagData data;
  ASSERT_HR(S_OK, ReadTagFile(Utf8ToUtf16(wma), &data));
  data.texts[kTagTitle] = u"Written";
  ASSERT_HR(S_OK, WriteTagFile(Utf8ToUtf16(wma), data));
  EXPECT_LT(fs::file_size(wma), size + 4096);
  TagData again;
  ASSERT_HR(S_OK, ReadTagFile(Utf8ToUtf16(wma), &again));
  EXPECT_EQ(again.texts[kTagTitle], u"Written");
}

}  // namespace
}  // namespace pelk::catalog
