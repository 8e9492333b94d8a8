// Writing tags into a file replaces it atomically: the audio bytes stay, the permissions stay,
// no copy is left behind, and a file marked read-only is refused and left untouched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "catalog/tag_mapping.h"
#include "runtime/utf.h"
#include "tests/support/pcm_synth.h"

namespace pelk::catalog {
namespace {

namespace fs = std::filesystem;

class AtomicTagWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pelk-atomic-tag-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = dir_ / "song.wav";
    pcm_ = testing::EncodePcm(testing::Music(7, 11025, 11025 * 2), 16);
    testing::WriteFile(file_, testing::MakeWav({11025, 16, 1}, pcm_));
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static TagData Tags(const std::string& title) {
    TagData data;
    data.texts[kTagTitle] = Utf8ToUtf16(title);
    data.texts[kTagArtist] = u"Artist";
    return data;
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }

  fs::path dir_, file_;
  std::vector<uint8_t> pcm_;
};

TEST_F(AtomicTagWriteTest, ReplacesTheFileKeepingAudioAndPermissions) {
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const auto inode_before = fs::hard_link_count(file_);
  ASSERT_EQ(WriteTagFile(Utf8ToUtf16(file_.string()), Tags("New Title")), S_OK);
  TagData read;
  ASSERT_EQ(ReadTagFile(Utf8ToUtf16(file_.string()), &read), S_OK);
  EXPECT_EQ(read.texts[kTagTitle], u"New Title");
  // The PCM bytes are still in the file, unchanged.
  const std::string bytes = Bytes(file_);
  EXPECT_NE(bytes.find(std::string(pcm_.begin(), pcm_.end())), std::string::npos);
  EXPECT_EQ(fs::status(file_).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(fs::hard_link_count(file_), inode_before);
  EXPECT_EQ(Entries(), 1u);  // no copy left behind

  // A symbolic link stays a link; the file it names gets the tags.
  const fs::path link = dir_ / "link.wav";
  fs::create_symlink(file_, link);
  ASSERT_EQ(WriteTagFile(Utf8ToUtf16(link.string()), Tags("Through Link")), S_OK);
  EXPECT_TRUE(fs::is_symlink(link));
  ASSERT_EQ(ReadTagFile(Utf8ToUtf16(file_.string()), &read), S_OK);
  EXPECT_EQ(read.texts[kTagTitle], u"Through Link");
}

TEST_F(AtomicTagWriteTest, AReadOnlyFileIsRefusedAndLeftAlone) {
  const std::string before = Bytes(file_);
  fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(WriteTagFile(Utf8ToUtf16(file_.string()), Tags("Nope")), E_ACCESSDENIED);
  EXPECT_EQ(Bytes(file_), before);
  EXPECT_EQ(Entries(), 1u);
  // A file that is not audio fails without leaving its copy.
  testing::WriteFile(dir_ / "text.wav", std::vector<uint8_t>{'h', 'i'});
  EXPECT_EQ(WriteTagFile(Utf8ToUtf16((dir_ / "text.wav").string()), Tags("x")), E_FAIL);
  EXPECT_EQ(Entries(), 2u);
}

}  // namespace
}  // namespace pelk::catalog
