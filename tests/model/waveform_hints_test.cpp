#include "model/waveform_hints.h"

#include "tests/model/list_fixture.h"

namespace pelk::testing {
namespace {

using WaveformHintsTest = ListTest;

std::pair<std::u16string, std::u16string> ArtistAndTitle(IPelkFileInfoList* list, int32_t index) {
  ComPtr<IFileTag> tag;
  EXPECT_HR(S_OK, list->GetFileInfoFields(index, nullptr, nullptr, nullptr, nullptr, tag.Out(),
                                          nullptr, nullptr));
  FakeTagData data = TagDataOf(tag.Get());
  return {data.texts[u"Artist"], data.texts[u"Title"]};
}

TEST_F(WaveformHintsTest, PairsAreTalliedAndRanked) {
  FakeDisc single = fake_->AddDisc({.artist = u"Joni Mitchell", .tracks = {{u"River"}}});
  FakeDisc spelled =
      fake_->AddDisc({.artist = u"joni  mitchell", .tracks = {{u"Carey"}, {u"River!"}}});
  FakeDisc various = fake_->AddDisc(
      {.artist = u"Various Artists", .tracks = {{u"River", u"Joni Mitchell"}, {u"Other", u"X"}}});
  auto first = OnDisc(blue_, 4, MATCH_TYPE_WF);
  first->set_Options(0x3320);
  // One-track disc: track 1 whatever the current track; several tracks and none current: skipped.
  auto candidates =
      ListOf({first, OnDisc(single, 0, MATCH_TYPE_WF), OnDisc(spelled, 2, MATCH_TYPE_WF),
              OnDisc(blue_, 0, MATCH_TYPE_WF), OnDisc(various, 1, MATCH_TYPE_WF)});
  std::vector<WaveformPair> tally;
  ASSERT_HR(S_OK, TallyWaveformPairs(candidates.Get(), &tally));
  ASSERT_EQ(tally.size(), 2u);
  EXPECT_EQ(tally[0].artist, u"Joni Mitchell");  // as first spelled
  EXPECT_EQ(tally[0].title, u"River");
  EXPECT_EQ(tally[0].count, 3);
  EXPECT_EQ(tally[1].title, u"Carey");
  EXPECT_EQ(tally[1].count, 1);

  // A lookup's single-track answer carries only its current track: that one names the pair.
  auto answer = Named(u"/m/y.mp3");
  answer->put_Disc(MakeFakeDisc({spelled, 2, false}).Get());
  std::vector<WaveformPair> answered;
  ASSERT_HR(S_OK, TallyWaveformPairs(ListOf({answer}).Get(), &answered));
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].title, u"River!");

  ComPtr<CPelkFileInfoList> suggestions;
  ASSERT_HR(S_OK, WaveformHints(candidates.Get(), suggestions.Out()));
  ASSERT_EQ(CountOf(suggestions.Get()), 2);
  EXPECT_EQ(ArtistAndTitle(suggestions.Get(), 1),
            std::make_pair(std::u16string(u"Joni Mitchell"), std::u16string(u"River")));
  EXPECT_EQ(ArtistAndTitle(suggestions.Get(), 2).second, u"Carey");
  int32_t options = 0;
  Order(suggestions.Get())[1]->get_Options(&options);
  EXPECT_EQ(options, 0x3320);  // candidate 1's

  // The record's hint comes from the first suggestion.
  auto record = Named(u"/m/x.mp3");
  ASSERT_HR(S_OK, record->PutWFList(candidates.Get()));
  EXPECT_EQ(record->WFArtist(), u"Joni Mitchell");
  EXPECT_EQ(record->WFTitle(), u"River");
}

TEST_F(WaveformHintsTest, Failures) {
  FakeDiscData many{.artist = u"Many"};
  for (char16_t i = 1; i <= 21; ++i) {
    many.tracks.push_back(
        {u"Track " + std::u16string{char16_t(u'0' + i / 10), char16_t(u'0' + i % 10)}});
  }
  FakeDisc disc = fake_->AddDisc(many);
  auto twenty = MakeObject<CPelkFileInfoList>();
  for (int32_t i = 1; i <= 20; ++i) twenty->AddFileInfo(OnDisc(disc, i, MATCH_TYPE_WF).Get());
  ComPtr<CPelkFileInfoList> suggestions;
  ASSERT_HR(S_OK, WaveformHints(twenty.Get(), suggestions.Out()));
  EXPECT_EQ(CountOf(suggestions.Get()), 20);
  auto twenty_one = ListOf({});
  twenty_one->AppendList(twenty.Get());
  twenty_one->AddFileInfo(OnDisc(disc, 21, MATCH_TYPE_WF).Get());
  EXPECT_HR(E_OUTOFMEMORY, WaveformHints(twenty_one.Get(), suggestions.Out()));

  // The failure is returned with the list stored and the earlier hint kept.
  auto record = Named(u"/m/x.mp3");
  ASSERT_HR(S_OK, record->PutWFList(twenty.Get()));
  EXPECT_HR(E_OUTOFMEMORY, record->PutWFList(twenty_one.Get()));
  ComPtr<IPelkFileInfoList> held;
  record->GetWFList(held.Out());
  EXPECT_TRUE(SameObject(held.Get(), twenty_one.As<IUnknown>().Get()));
  EXPECT_EQ(record->WFArtist(), u"Many");
  EXPECT_EQ(record->WFTitle(), u"Track 01");
  EXPECT_HR(E_INVALIDARG, record->PutWFList(nullptr));
  record->GetWFList(held.Out());
  EXPECT_TRUE(SameObject(held.Get(), twenty_one.As<IUnknown>().Get()));

  FakeDisc untitled = fake_->AddDisc({.artist = u"A", .tracks = {{u""}}});
  EXPECT_HR(E_INVALIDARG,
            WaveformHints(ListOf({OnDisc(untitled, 1, MATCH_TYPE_WF)}).Get(), suggestions.Out()));
  EXPECT_HR(E_FAIL, WaveformHints(nullptr, suggestions.Out()));
}

}  // namespace
}  // namespace pelk::testing
