// The walk of ASF headers against TagLib's own reading: TagLib builds from a file with the plan's
// replacements exactly the attributes the walk counts; well-formed files need nothing; counts that
// run past the end of the file are lowered to the attributes it holds; large pictures are cut and
// the rest reads as before; headers of more items than any real file are refused.
#include "catalog/asf_header.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "catalog/large_tag_items.h"
#include "tests/support/test_folder.h"

namespace pelk::catalog {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

AsfHeaderPlan Plan(const fs::path& path, uint64_t large = kLargeTagItem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const AsfHeaderPlan plan = PlanAsfHeader(fd, fs::file_size(path), large);
  ::close(fd);
  return plan;
}

// What TagLib builds from the file, through the plan's replacements when there is a plan.
struct TagLibRead {
  size_t attributes = 0;
  std::string title;
  bool picture_left_out = false;  // a WM/Picture attribute without a picture
  uint64_t length = 0;            // of what TagLib read
};

TagLibRead ReadWithTagLib(const fs::path& path, const AsfHeaderPlan* plan = nullptr) {
  std::vector<Splice> splices;
  if (plan) {
    splices = plan->repairs;
    splices.insert(splices.end(), plan->cuts.begin(), plan->cuts.end());
  }
  SplicedStream stream(path.string(), ::open(path.c_str(), O_RDONLY | O_CLOEXEC),
                       fs::file_size(path), splices);
  TagLib::ASF::File file(&stream);
  TagLibRead read;
  read.length = static_cast<uint64_t>(stream.length());
  if (!file.tag()) return read;
  read.title = file.tag()->title().to8Bit(true);
  for (const auto& [name, list] : file.tag()->attributeListMap()) {
    read.attributes += list.size();
    for (const auto& attribute : list) {
      if (name == "WM/Picture" && !attribute.toPicture().isValid()) read.picture_left_out = true;
    }
  }
  return read;
}

class AsfHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::TestFolder("pelk-asf-header"); }
  void TearDown() override { fs::remove_all(dir_); }

  static fs::path Data(const std::string& name) { return fs::path(SONQUIX_TEST_DATA_DIR) / name; }

  // The WMA sample with attributes of every type in all three lists (TagLib puts values with a
  // stream in the metadata object, values with a language or over 64 KB in the library) and a
  // picture of `picture` bytes.
  fs::path Rich(const std::string& name, unsigned picture) {
    const fs::path path = dir_ / name;
    fs::copy_file(Data("tag_sample.wma"), path);
    TagLib::ASF::File file(path.c_str());
    TagLib::ASF::Tag* tag = file.tag();
    tag->setTitle("Rich Title");
    tag->setArtist("Rich Artist");
    tag->setAttribute("WM/AlbumTitle", TagLib::ASF::Attribute(TagLib::String("Rich Album")));
    tag->setAttribute("WM/TrackNumber", TagLib::ASF::Attribute(7u));
    tag->setAttribute("Rich/QWord", TagLib::ASF::Attribute(123456789012ULL));
    tag->setAttribute("Rich/Bool", TagLib::ASF::Attribute(true));
    tag->setAttribute("Rich/Word", TagLib::ASF::Attribute(static_cast<unsigned short>(9)));
    tag->setAttribute("Rich/Bytes", TagLib::ASF::Attribute(TagLib::ByteVector(40, 'b')));
    TagLib::ASF::Attribute in_stream(TagLib::String("in stream one"));
    in_stream.setStream(1);
    tag->addAttribute("Rich/Stream", in_stream);
    TagLib::ASF::Attribute in_language(TagLib::String("in language one"));
    in_language.setLanguage(1);
    tag->addAttribute("Rich/Language", in_language);
    TagLib::ASF::Picture cover;
    cover.setMimeType("image/jpeg");
    cover.setType(TagLib::ASF::Picture::FrontCover);
    cover.setPicture(TagLib::ByteVector(picture, 'P'));
    tag->addAttribute("WM/Picture", TagLib::ASF::Attribute(cover));
    EXPECT_TRUE(file.save());
    return path;
  }

  fs::path dir_;
};

TEST_F(AsfHeaderTest, WellFormedFilesNeedNothingAndTagLibBuildsWhatTheWalkCounts) {
  for (const fs::path& path :
       {Data("tag_sample.wma"), Rich("small.wma", 5000), Rich("library.wma", 70000)}) {
    SCOPED_TRACE(path.filename().string());
    const AsfHeaderPlan plan = Plan(path);
    EXPECT_TRUE(plan.asf);
    EXPECT_FALSE(plan.refused);
    EXPECT_TRUE(plan.repairs.empty());
    EXPECT_TRUE(plan.cuts.empty());
    EXPECT_GE(plan.objects, 4u);
    EXPECT_EQ(plan.attributes, ReadWithTagLib(path).attributes);
  }
  EXPECT_EQ(Plan(dir_ / "small.wma").attributes, 9u);  // the nine set in Rich()
  EXPECT_FALSE(Plan(Data("tag_sample.mp3")).asf);
}

TEST_F(AsfHeaderTest, ALargePictureIsCutAndEverythingElseReadsAsBefore) {
  const fs::path path = Rich("cover.wma", 3u << 20);
  const AsfHeaderPlan plan = Plan(path);
  EXPECT_TRUE(plan.repairs.empty());
  // The value and its size; the sizes of the library, the header extension (two) and the header.
  EXPECT_EQ(plan.cuts.size(), 6u);
  const TagLibRead plain = ReadWithTagLib(path);
  const TagLibRead cut = ReadWithTagLib(path, &plan);
  EXPECT_EQ(cut.attributes, plain.attributes);
  EXPECT_EQ(cut.attributes, plan.attributes);
  EXPECT_EQ(cut.title, "Rich Title");
  EXPECT_FALSE(plain.picture_left_out);
  EXPECT_TRUE(cut.picture_left_out);
  EXPECT_LT(cut.length, 1u << 20);

  // The view is a well-formed file in its own right: walked again, nothing is left to do.
  const fs::path view = dir_ / "view.wma";
  {
    std::vector<Splice> splices = plan.cuts;
    SplicedStream stream(path.string(), ::open(path.c_str(), O_RDONLY | O_CLOEXEC),
                         fs::file_size(path), splices);
    const TagLib::ByteVector bytes = stream.readBlock(static_cast<unsigned long>(cut.length));
    std::ofstream(view, std::ios::binary).write(bytes.data(), bytes.size());
  }
  const AsfHeaderPlan again = Plan(view, 1);
  EXPECT_TRUE(again.repairs.empty());
  EXPECT_EQ(again.attributes, plan.attributes);
}

TEST_F(AsfHeaderTest, CountsPastTheEndOfTheFileAreLoweredToTheAttributesItHolds) {
  // Cut off inside the picture, the last attribute of the library.
  const fs::path whole = Rich("whole.wma", 70000);
  const std::string bytes = Bytes(whole);
  const fs::path truncated = dir_ / "truncated.wma";
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.find("PPPP") + 100);
  const AsfHeaderPlan plan = Plan(truncated);
  ASSERT_EQ(plan.repairs.size(), 1u);
  EXPECT_EQ(plan.repairs[0].bytes.size(), 2u);  // a count, replaced in place
  const TagLibRead repaired = ReadWithTagLib(truncated, &plan);
  EXPECT_EQ(repaired.attributes, plan.attributes);
  EXPECT_EQ(repaired.attributes + 1, ReadWithTagLib(truncated).attributes);

  // Found by fuzz_tag_file: TagLib built 21,057 and 40,512 empty attributes from these.
  for (const char* name :
       {"asf_counts_past_end_600b.wma", "asf_counts_past_end_2kb.wma", "asf_extension_past_end.wma",
        "asf_stream_size_lies.wma", "asf_descriptor_count_overrun.wma"}) {
    SCOPED_TRACE(name);
    const AsfHeaderPlan found = Plan(Data(name));
    EXPECT_FALSE(found.refused);
    EXPECT_FALSE(found.repairs.empty());
    EXPECT_LT(found.attributes, 16u);
    EXPECT_EQ(ReadWithTagLib(Data(name), &found).attributes, found.attributes);
  }
}

TEST_F(AsfHeaderTest, MoreObjectsAndAttributesThanAnyRealFileAreRefused) {
  const fs::path path = dir_ / "crowded.wma";
  fs::copy_file(Data("tag_sample.wma"), path);
  {
    TagLib::ASF::File file(path.c_str());
    for (unsigned i = 0; i < kMaxAsfItems; ++i) {
      file.tag()->setAttribute("Crowd/" + TagLib::String::number(static_cast<int>(i)),
                               TagLib::ASF::Attribute(i));
    }
    ASSERT_TRUE(file.save());
  }
  const AsfHeaderPlan plan = Plan(path);
  EXPECT_TRUE(plan.refused);
  EXPECT_GT(plan.objects + plan.attributes, kMaxAsfItems);
  const TagView view = OpenTagView(path.string(), [](std::string_view) { return true; });
  EXPECT_TRUE(view.refused);
  EXPECT_FALSE(view.stream);
}

}  // namespace
}  // namespace pelk::catalog
