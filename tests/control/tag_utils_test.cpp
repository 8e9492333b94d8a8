#include <gtest/gtest.h>

#include "control/control_objects.h"
#include "control/tag_utils.h"
#include "pelk/manager_interfaces.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

class TagUtilsTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  ScopedControlLibrary library_{*fake_};
  FakeDisc disc_ = fake_->AddDisc(
      {.album = u"Blue", .artist = u"Joni", .tracks = {{u"All I Want"}, {u"My Old Man"}}});
};

TEST_F(TagUtilsTest, TagFromDiscBuildsFromTheTrack) {
  ComPtr<IDiscInfo> disc = MakeFakeDisc({disc_, 2, true});
  ComPtr<IFileTag> tag;
  EXPECT_HR(E_INVALIDARG, TagFromDisc(u"/m/a.wav", disc.Get(), 0, tag.Out()));
  EXPECT_HR(E_INVALIDARG, TagFromDisc(u"/m/a.wav", nullptr, 2, tag.Out()));
  EXPECT_HR(E_INVALIDARG, TagFromDisc(u"/m/a.wav", disc.Get(), 2, nullptr));
  ASSERT_HR(S_OK, TagFromDisc(u"/m/a.wav", disc.Get(), 2, tag.Out()));
  EXPECT_FALSE(fake_->CountOf("AttachToFile"));
  FakeTagData data = TagDataOf(tag.Get());
  EXPECT_EQ(data.texts[u"Title"], u"My Old Man");
  EXPECT_EQ(data.texts[u"Artist"], u"Joni");
}

TEST_F(TagUtilsTest, MediaFilesGetAnAttachedMediaTag) {
  fake_->SetFileTag(u"/m/a.WMA", {.texts = {{u"Comment", u"kept"}, {u"Title", u"old"}}});
  ComPtr<IDiscInfo> disc = MakeFakeDisc({disc_, 1, true});
  ComPtr<IFileTag> tag;
  ASSERT_HR(S_OK, TagFromDisc(u"/m/a.WMA", disc.Get(), 1, tag.Out()));
  EXPECT_TRUE(tag.As<IMediaFileTag>());
  ASSERT_EQ(fake_->CountOf("AttachToFile"), 1u);
  FakeTagData data = TagDataOf(tag.Get());
  EXPECT_EQ(data.texts[u"Title"], u"All I Want");  // filled from the built tag
  EXPECT_EQ(data.texts[u"Comment"], u"kept");      // what the file had stays

  // Any failure on this path hands out no tag.
  SetControlGetters(nullptr, nullptr, nullptr);
  ComPtr<IFileTag> none;
  EXPECT_HR(E_FAIL, TagFromDisc(u"/m/b.asf", disc.Get(), 1, none.Out()));
  EXPECT_FALSE(none);
}

TEST_F(TagUtilsTest, CopyTagFieldsSkipsEmptySourceFields) {
  ComPtr<IFileTag> source = MakeFakeTag(
      {.texts = {{u"Title", u"New"}, {u"Artist", u""}, {u"Publisher", u"P"}, {u"Mood", u"M"}}});
  ComPtr<IFileTag> destination =
      MakeFakeTag({.texts = {{u"Title", u"Old"}, {u"Artist", u"Kept"}, {u"Mood", u"Calm"}}});
  ASSERT_HR(S_OK, CopyTagFields(destination.Get(), source.Get()));
  FakeTagData data = TagDataOf(destination.Get());
  EXPECT_EQ(data.texts[u"Title"], u"New");
  EXPECT_EQ(data.texts[u"Artist"], u"Kept");
  EXPECT_EQ(data.texts[u"Publisher"], u"P");
  EXPECT_EQ(data.texts[u"Mood"], u"M");  // both offer the extended view

  ComPtr<IFileTag> plain = MakeFakeTag({.texts = {{u"Mood", u"Calm"}}}, /*with_views=*/false);
  ASSERT_HR(S_OK, CopyTagFields(plain.Get(), source.Get()));
  EXPECT_EQ(TagDataOf(plain.Get()).texts[u"Mood"], u"Calm");
  EXPECT_HR(E_INVALIDARG, CopyTagFields(nullptr, source.Get()));
  EXPECT_HR(E_INVALIDARG, CopyTagFields(destination.Get(), nullptr));
}

struct ITunesCase {
  const char16_t* value;
  const char16_t* track_text;
  HRESULT hr;
  const char16_t* first;
  const char16_t* second;
  int32_t track;
};

TEST_F(TagUtilsTest, ITunesIdentifiers) {
  const ITunesCase cases[] = {
      {u"12+A+B", u"3", S_OK, u"B", u"A", 3},
      {u"12+A+B", u"13", S_OK, u"B", u"A", 0},
      {u"12+A+B", u"3/12", S_OK, u"B", u"A", 3},
      {u"12+A+B+C", u"1", S_OK, u"B+C", u"A", 1},
      {u"+A+B", u"1", S_OK, u"B", u"A", 0},  // no count: no track
      {u"12+A", u"3", E_FAIL, u"", u"", -1},
      {u"", u"3", E_FAIL, u"", u"", -1},
  };
  for (const ITunesCase& c : cases) {
    ComPtr<IFileTag> tag = MakeFakeTag(
        {.texts = {{u"TrackNumber", c.track_text}}, .fields = {{u"iTunes_PELK_IDs", c.value}}});
    std::u16string first, second;
    int32_t track = -1;
    EXPECT_HR(c.hr, ParseITunesIds(u"/m/a.m4a", tag.Get(), &first, 1024, &second, 1024, &track));
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
    EXPECT_EQ(track, c.track);
  }
}

TEST_F(TagUtilsTest, ITunesIdentifiersOfMp3FilesNeedTheMp3View) {
  FakeTagData data{.texts = {{u"TrackNumber", u"2"}}, .fields = {{u"iTunes_PELK_IDs", u"9+AB+CD"}}};
  std::u16string first, second;
  int32_t track = 0;
  ComPtr<IFileTag> plain = MakeFakeTag(data, /*with_views=*/false);
  EXPECT_HR(PELKSonquix_PELKControlVersion,
            ParseITunesIds(u"/m/a.mp3", plain.Get(), &first, 1024, &second, 1024, &track));
  ComPtr<IFileTag> full = MakeFakeTag(data);
  ASSERT_HR(S_OK, ParseITunesIds(u"/m/a.MP3", full.Get(), &first, 2, &second, 1024, &track));
  EXPECT_EQ(first, u"C");  // cut to the buffer: size - 1 characters
  EXPECT_EQ(second, u"AB");
  EXPECT_EQ(track, 2);
  EXPECT_HR(E_INVALIDARG, ParseITunesIds(u"", full.Get(), &first, 8, &second, 8, &track));
  EXPECT_HR(E_INVALIDARG,
            ParseITunesIds(u"/m/a.mp3", nullptr, &first, 8, &second, 8, &track));
  EXPECT_HR(E_INVALIDARG, ParseITunesIds(u"/m/a.mp3", full.Get(), &first, 8, &second, 8, nullptr));
}

TEST_F(TagUtilsTest, Extensions) {
  EXPECT_FALSE(HasExtension(u"/music/no_dot", u".mp3"));
  EXPECT_TRUE(HasExtension(u"/music/a.MP3", u".mp3"));
  EXPECT_TRUE(HasExtension(u"C:\\m\\a.b.Wma", u".WMA"));
  EXPECT_FALSE(HasExtension(u"/m/a.mp3.wav", u".mp3"));
  EXPECT_FALSE(HasExtension(u"/m/a.mp", u".mp3"));
  EXPECT_FALSE(HasExtension(static_cast<const char16_t*>(nullptr), u".mp3"));
  EXPECT_FALSE(HasExtension(u"/m/a.mp3", static_cast<const char16_t*>(nullptr)));
}

}  // namespace
}  // namespace pelk::testing
