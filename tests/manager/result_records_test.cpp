#include "manager/result_records.h"

#include "tests/manager/identification_fixture.h"

namespace pelk::testing {
namespace {

using ResultRecordsTest = IdentificationTest;

TEST_F(ResultRecordsTest, AnswersWithoutADiscGiveTheNoMatchRecord) {
  auto source = File(u"/m/a.mp3");
  for (int32_t kind :
       {int32_t{kLookupNone}, 0, 4, int32_t{kLookupOne}}) {  // kind 3 with no disc to fetch
    SCOPED_TRACE(kind);
    ComPtr<CPelkFileInfoList> list;
    ASSERT_HR(S_OK, ResultsToList(*manager_.Get(), u"/m/a.mp3", source.Get(), kind, MATCH_TYPE_TXT,
                                  1, &list));
    int32_t count = 0, code = 0;
    list->get_Count(&count);
    list->GetListMatchCode(&code);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(code, LIST_MATCH_NONE);
    auto none = ImplOf<CPelkFileInfo>(list->Records()[0].Get());
    EXPECT_EQ(MatchTypeOf(none.Get()), MATCH_TYPE_NONE);
    EXPECT_EQ(SonquixCodeOf(none.Get()), SONQUIX_MATCH_NONE);
    // The list of a no-match answer is left as it is.
    EXPECT_HR(S_FALSE, CompleteResultDiscs(*manager_.Get(), list.Get()));
  }
}

TEST_F(ResultRecordsTest, RecordsForADiscCarryItsTrackAndTheSourcesState) {
  FakeDisc disc = Album(u"A", u"B", {u"One", u"Two", u"Three"});
  auto source = File(u"/m/two.mp3");
  ComPtr<IFileTag> own = MakeFakeTag({.texts = {{u"Title", u"Two"}}});
  source->put_OrigTag(own.Get());
  source->set_Options(0x3320);

  ComPtr<CPelkFileInfo> record;
  ASSERT_HR(S_OK, BuildRecordForDisc(*manager_.Get(), u"/m/two.mp3", source.Get(),
                                     MakeFakeDisc({disc, 2}).Get(), &record, false));
  int32_t track = 0, count = 0, options = 0;
  record->get_TrackNum(&track);
  record->get_TrackCount(&count);
  record->get_Options(&options);
  EXPECT_EQ(track, 2);
  EXPECT_EQ(count, 3);  // the album's count, from the partial disc's "track_count"
  EXPECT_EQ(options, 0x3320);
  EXPECT_EQ(MatchTypeOf(record.Get()), MATCH_TYPE_UNKNOWN);
  ComPtr<IFileTag> tag, orig;
  record->get_Tag(tag.Out());
  record->get_OrigTag(orig.Out());
  EXPECT_EQ(TagDataOf(tag.Get()).texts[u"Title"], u"Two");
  EXPECT_EQ(orig.Get(), own.Get());

  EXPECT_HR(E_INVALIDARG,
            BuildRecordForDisc(*manager_.Get(), u"/m/x", source.Get(), nullptr, &record, false));
  // A failing full-disc fetch is returned.
  fake_->SetFullDiscResult(E_OUTOFMEMORY);
  EXPECT_HR(E_OUTOFMEMORY, BuildRecordForDisc(*manager_.Get(), u"/m/x", source.Get(),
                                              MakeFakeDisc({disc, 2}).Get(), &record, true));
}

TEST_F(ResultRecordsTest, ADiscWithoutACurrentTrackGetsTheTrackThatFitsTheFile) {
  FakeDisc disc = Album(u"Joni Mitchell", u"Blue", {u"All I Want", u"My Old Man", u"River"});
  ComPtr<IDiscInfo> named = MakeFakeDisc({disc, 0, true});
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Title", u"river"}}});
  ASSERT_HR(S_OK, EnsureTrackSelected(u"/music/x.mp3", tag.Get(), named.Get()));
  int32_t current = 0;
  named->get_CurrentTrack(&current);
  EXPECT_EQ(current, 3);

  // A track already chosen stays; nothing fits at all: track 1.
  ASSERT_HR(S_OK, EnsureTrackSelected(u"/music/x.mp3", tag.Get(), named.Get()));
  ComPtr<IDiscInfo> unknown = MakeFakeDisc({disc, 0, true});
  ASSERT_HR(S_OK, EnsureTrackSelected(u"/q/z.mp3", MakeFakeTag().Get(), unknown.Get()));
  unknown->get_CurrentTrack(&current);
  EXPECT_EQ(current, 1);
  EXPECT_HR(E_POINTER, EnsureTrackSelected(u"/q/z.mp3", nullptr, nullptr));
}

}  // namespace
}  // namespace pelk::testing
