#include "tests/model/list_fixture.h"

namespace pelk::testing {
namespace {

using FileInfoListTest = ListTest;

TEST_F(FileInfoListTest, DefaultsAndArgumentCodes) {
  auto list = ListOf({Named(u"/m/a.mp3")});
  int32_t value = 0;
  ASSERT_HR(S_OK, list->GetListMatchCode(&value));
  EXPECT_EQ(value, LIST_MATCH_NONE);
  ASSERT_HR(S_OK, list->get_Options(&value));
  EXPECT_EQ(value, 0x3310);
  ComPtr<IPelkFileInfo> out;
  ComPtr<CPelkFileInfoList> popped;
  Variant item;
  const std::pair<HRESULT, HRESULT> codes[] = {
      {E_INVALIDARG, list->GetFileInfo(0, out.Out())},
      {E_INVALIDARG, list->GetFileInfo(2, out.Out())},
      {E_INVALIDARG, list->GetFileInfo(1, nullptr)},  // not E_POINTER here
      {E_INVALIDARG,
       list->GetFileInfoFields(2, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)},
      {E_INVALIDARG, list->get_Item(0, &item)},
      {E_FAIL, list->get_Item(2, &item)},
      {E_POINTER, list->get_Item(1, nullptr)},
      {E_POINTER, list->get_Count(nullptr)},
      {E_INVALIDARG, list->AddFileInfo(nullptr)},                // refused, never stored
      {E_FAIL, list->RemoveFileInfo(Named(u"/m/a.mp3").Get())},  // same name, other object
      {E_INVALIDARG, list->RemoveFile(nullptr)},
      {E_FAIL, list->RemoveFile(Bstr(u"/m/b.mp3").Get())},
      {E_POINTER, list->VerifyWFAgainstInfo(1, nullptr)},
      {E_INVALIDARG, list->VerifyWFAgainstInfo(2, &value)},
      {E_POINTER, list->PopFolderList(nullptr)},
      {E_POINTER, list->PopBatch(10, nullptr)},
      {E_INVALIDARG, list->PopBatch(9, popped.Out())},
      {E_INVALIDARG, list->PopBatch(100001, popped.Out())},
  };
  for (size_t i = 0; i < std::size(codes); ++i) EXPECT_HR(codes[i].first, codes[i].second) << i;
  EXPECT_EQ(CountOf(list.Get()), 1);
}

TEST_F(FileInfoListTest, FieldsLateBindingItemsAndEnumerator) {
  auto list = MakeObject<CPelkFileInfoList>();
  ComPtr<IDiscInfo> disc = MakeFakeDisc({blue_, 2, true});
  ASSERT_HR(S_OK, list->AddFileInfoFields(Bstr(u"/m/1.mp3").Get(), nullptr, 9, 2, nullptr,
                                          disc.Get(), SONQUIX_MATCH_EXACT));
  ASSERT_HR(S_OK, list->AddFileInfoFields(nullptr, nullptr, 0, 0, nullptr, nullptr, 0));
  int32_t count = 0, track = -1, code = -1;
  ComPtr<IDiscInfo> disc_out;
  ASSERT_HR(S_OK, list->GetFileInfoFields(1, nullptr, nullptr, &count, &track, nullptr,
                                          disc_out.Out(), &code));
  EXPECT_EQ(std::make_tuple(count, track, code, disc_out), std::make_tuple(9, 2, 1, disc));
  ASSERT_HR(S_OK,
            list->GetFileInfoFields(2, nullptr, nullptr, nullptr, &track, nullptr, nullptr, &code));
  EXPECT_EQ(std::make_pair(track, code), std::make_pair(0, 0));
  std::vector<CPelkFileInfo*> records = Order(list.Get());

  // Late-bound: GetFileInfo(2) with its record as the return value.
  ComPtr<IDispatch> dispatch = list.As<IPelkFileInfoList2_6>().As<IDispatch>();
  Variant result, index(2);
  DISPPARAMS one{&index, nullptr, 1, 0};
  ASSERT_HR(S_OK,
            dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
  EXPECT_TRUE(SameObject(result->pdispVal, records[1]->Identity()));
  result.Clear();  // an out value: the old one would be overwritten, not released
  ASSERT_HR(S_OK, list->get_Item(1, &result));
  EXPECT_TRUE(result->vt == VT_DISPATCH && SameObject(result->pdispVal, records[0]->Identity()));

  // The enumerator walks the entries as they were when it was made.
  ComPtr<IUnknown> unknown;
  ASSERT_HR(S_OK, list->get__NewEnum(unknown.Out()));
  ComPtr<IEnumVARIANT> items = unknown.As<IEnumVARIANT>();
  ASSERT_HR(S_OK, list->Clear());
  VARIANT got[3];
  uint32_t fetched = 0;
  EXPECT_HR(S_FALSE, items->Next(3, got, &fetched));
  ASSERT_EQ(fetched, 2u);
  EXPECT_TRUE(SameObject(got[1].pdispVal, records[1]->Identity()));
  for (uint32_t i = 0; i < fetched; ++i) VariantClear(&got[i]);
  ComPtr<IEnumVARIANT> clone;
  ASSERT_HR(S_OK, items->Reset());
  ASSERT_HR(S_OK, items->Skip(1));
  ASSERT_HR(S_OK, items->Clone(clone.Out()));
  ASSERT_HR(S_OK, clone->Next(1, got, nullptr));
  EXPECT_TRUE(SameObject(got[0].pdispVal, records[1]->Identity()));
  VariantClear(&got[0]);
}

TEST_F(FileInfoListTest, ScoreIsKeptIncrementally) {
  auto low = Scoring(38, MATCH_TYPE_TXT), high = Scoring(62, MATCH_TYPE_TXT);
  auto perfect = Scoring(100, MATCH_TYPE_TXT);
  auto list = ListOf({low, high});
  auto score = [&] {
    int32_t value = -7;
    EXPECT_HR(S_OK, list->GetScore(&value));
    return value;
  };
  EXPECT_EQ(score(), 500000);
  list->AddFileInfo(perfect.Get());
  EXPECT_EQ(score(), 666667);  // 10000 x 200 / 3, rounded to nearest
  list->RemoveFileInfo(perfect.Get());
  EXPECT_EQ(score(), 500000);
  list->AddFileInfo(Named(u"/m/no-disc.mp3").Get());
  EXPECT_EQ(score(), 330000);  // a record without a disc counts -1
  // Removing the last entry forgets the score: the next one is computed afresh.
  for (const auto& record : list->Records()) list->RemoveFileInfo(record.Get());
  EXPECT_EQ(score(), 0);
  list->AddFileInfo(perfect.Get());
  list->AddFileInfo(low.Get());
  EXPECT_EQ(score(), 690000);
  // Clear keeps a computed score, which the next addition brings up to date.
  list->Clear();
  list->AddFileInfo(high.Get());
  EXPECT_EQ(score(), 620000);
}

TEST_F(FileInfoListTest, FileNameAndFolderSearches) {
  const std::u16string long_name = u"/m/" + std::u16string(300, u'n') + u".mp3";
  auto song = Named(u"/Music/Album/Song.mp3"), other = Named(u"/Music/Other/1.mp3");
  auto list = ListOf({song, other, Named(long_name)});
  ComPtr<IPelkFileInfo> found;
  ASSERT_HR(S_OK, list->GetFileInfoByFilename(u"/music/album/song.mp3", found.Out()));
  EXPECT_FALSE(found);  // case-sensitive: not found, out untouched
  EXPECT_FALSE(list->IsFilenameInList(u"/music/album/song.mp3"));
  ASSERT_HR(S_OK, list->GetFileInfoByFilename(u"/Music/Album/Song.mp3", found.Out()));
  EXPECT_TRUE(SameObject(found.Get(), song->Identity()));
  EXPECT_TRUE(list->IsFilenameInList(std::u16string_view(long_name).substr(0, 259)));
  EXPECT_FALSE(list->IsFilenameInList(long_name));  // names are compared cut to 259

  EXPECT_TRUE(list->IsFileInMyFolder(u"/music/ALBUM/02.mp3"));
  EXPECT_FALSE(list->IsFileInMyFolder(u"/Music/Other/02.mp3"));  // only entry 1 counts
  EXPECT_FALSE(list->IsFileInMyFolder(u"02.mp3"));               // no separator
  EXPECT_TRUE(ListOf({Named(u"C:\\M\\A\\1.mp3")})->IsFileInMyFolder(u"c:\\m\\a\\2.mp3"));

  ASSERT_HR(S_OK, list->RemoveFile(Bstr(u"/MUSIC/album/SONG.MP3").Get()));  // ignores case
  ASSERT_HR(S_OK, list->AddFileInfoNoDuplicate(other.Get()));
  ASSERT_HR(S_OK, list->AddFileInfoNoDuplicate(song.Get()));
  EXPECT_EQ(Order(list.Get()).back(), song.Get());
  EXPECT_EQ(CountOf(list.Get()), 3);
}

TEST_F(FileInfoListTest, DiscAlbumArtistAndQuerySearches) {
  FakeDisc court = fake_->AddDisc({.album = u"Court and Spark", .tracks = {{u"Help Me"}}});
  auto on_blue = OnDisc(blue_, 3, MATCH_TYPE_ALBUM_ASSOCIATED);
  on_blue->put_Tag(Tag(u"Joni Mitchell", u"Blue", u"Little Green").Get());
  auto list = ListOf({OnDisc(court, 1, MATCH_TYPE_ALBUM_ASSOCIATED), on_blue});
  // Another object for the same disc at the same track is found; at another track it is not.
  EXPECT_EQ(list->IsDiscInList(MakeFakeDisc({blue_, 3, false}).Get()), 2);
  EXPECT_EQ(list->IsDiscInList(MakeFakeDisc({blue_, 4, true}).Get()), 0);
  ComPtr<IPelkFileInfo> found;
  ASSERT_HR(S_OK, list->GetFileInfoByDisc(MakeFakeDisc({blue_, 8, true}).Get(), found.Out()));
  EXPECT_TRUE(SameObject(found.Get(), on_blue->Identity()));
  found.Reset();  // the disc search ends at an entry without a disc
  ASSERT_HR(S_OK, ListOf({Named(u"/m/x.mp3"), on_blue})
                      ->GetFileInfoByDisc(MakeFakeDisc({blue_, 3, true}).Get(), found.Out()));
  EXPECT_FALSE(found);

  EXPECT_TRUE(list->IsAlbumInList(u"COURT AND SPARK!"));  // normalized, ignoring case
  EXPECT_FALSE(list->IsAlbumInList(u"Ladies of the Canyon"));
  EXPECT_TRUE(list->IsArtistAndTitleInList(Tag(u"joni mitchell", u"", u"Little Green!").Get()));
  EXPECT_FALSE(list->IsArtistAndTitleInList(Tag(u"Joni Mitchell", u"", u"Carey").Get()));

  bool flag = true;
  ASSERT_HR(S_OK, list->HasQueryResults(&flag));
  EXPECT_FALSE(flag);  // album-associated entries only
  list->AddFileInfo(OnDisc(blue_, 2, MATCH_TYPE_TXT).Get());
  ASSERT_HR(S_OK, list->HasQueryResults(&flag));
  EXPECT_TRUE(flag);
}

TEST_F(FileInfoListTest, MergeKeepsTheStrongerMatchPerDiscAndTrack) {
  auto text = OnDisc(blue_, 3, MATCH_TYPE_TXT), waveform = OnDisc(blue_, 3, MATCH_TYPE_WF);
  auto list = ListOf({text});
  ASSERT_HR(S_OK, list->AppendFileInfoListMatchesNoDuplicate(
                      ListOf({waveform, OnDisc(blue_, 4, MATCH_TYPE_TXT),
                              OnDisc(blue_, 5, MATCH_TYPE_WF, SONQUIX_MATCH_NONE),
                              OnDisc(blue_, 6, MATCH_TYPE_WF, SONQUIX_MATCH_ERROR),
                              Named(u"/m/no-disc.mp3")})
                          .Get()));
  EXPECT_EQ(Order(list.Get())[0], waveform.Get());  // replaced the text match
  EXPECT_EQ(CountOf(list.Get()), 2);
  ASSERT_HR(S_OK, list->AppendFileInfoListMatchesNoDuplicate(ListOf({text}).Get()));
  EXPECT_EQ(Order(list.Get())[0], waveform.Get());  // the reverse keeps the waveform match
  ASSERT_HR(S_OK, list->AppendList(list.Get()));    // appended to itself: doubled, in order
  EXPECT_EQ(Order(list.Get())[2], waveform.Get());
  EXPECT_EQ(CountOf(list.Get()), 4);
}

TEST_F(FileInfoListTest, VerifyWaveformAgainstInfo) {
  auto titled = [&](int32_t type, const char16_t* title) {
    auto record = OnDisc(blue_, 1, type);
    record->put_Tag(Tag(u"a", u"b", title).Get());
    return record;
  };
  auto list = ListOf({titled(MATCH_TYPE_TXT, u"Carey!"), titled(MATCH_TYPE_TXT, u"Blue"),
                      titled(MATCH_TYPE_WF, u"carey"), titled(MATCH_TYPE_TXT, u""),
                      titled(MATCH_TYPE_NONE, u"Carey"), OnDisc(blue_, 1, MATCH_TYPE_TXT)});
  // Confirmed by title, contradicted, a waveform entry itself, no title to compare.
  const std::pair<int32_t, int32_t> verdicts[] = {{1, 1}, {2, 0}, {3, 1}, {4, 2}};
  for (auto [index, expected] : verdicts) {
    int32_t result = -1;
    ASSERT_HR(S_OK, list->VerifyWFAgainstInfo(index, &result));
    EXPECT_EQ(result, expected) << index;
  }
  int32_t result = -1;
  EXPECT_HR(E_FAIL, list->VerifyWFAgainstInfo(5, &result));  // MATCH_TYPE_NONE
  EXPECT_EQ(result, 0);
  EXPECT_HR(E_FAIL, list->VerifyWFAgainstInfo(6, &result));  // no tag
  ASSERT_HR(S_OK, ListOf({titled(MATCH_TYPE_TXT, u"Carey")})->VerifyWFAgainstInfo(1, &result));
  EXPECT_EQ(result, 2);  // no waveform entry at all
}

TEST_F(FileInfoListTest, RetrieveDataSharesTheDiscWithLaterEntries) {
  auto first = OnDisc(blue_, 3, MATCH_TYPE_TXT, SONQUIX_MATCH_FUZZY, u"/m/03.mp3");
  auto second = OnDisc(blue_, 6, MATCH_TYPE_TXT, SONQUIX_MATCH_FUZZY, u"/m/06.mp3");
  auto list = ListOf({first, second});
  EXPECT_HR(S_FALSE, list->RetrieveData(0));  // LIST_MATCH_NONE: nothing is done
  EXPECT_FALSE(first->TagAcquired() || second->TagAcquired());

  list->SetListMatchCode(LIST_MATCH_ALBUM_SINGLE);
  ComPtr<IDiscInfo> first_disc, disc;
  first->get_Disc(first_disc.Out());
  ASSERT_HR(S_OK, list->RetrieveData(0));
  ComPtr<IFileTag> tag;
  second->get_Disc(disc.Out());
  second->get_Tag(tag.Out());
  int32_t current = 0;
  disc->get_CurrentTrack(&current);
  EXPECT_NE(disc, first_disc);  // a copy of the first entry's disc, at its own track
  EXPECT_EQ(current, 6);
  EXPECT_EQ(TagDataOf(tag.Get()).texts[u"Title"], u"California");

  second->put_TrackNum(0);
  EXPECT_HR(E_FAIL, list->RetrieveData(0));
  FakeDisc failing = fake_->AddDisc({.tracks = {{u"t"}}, .retrieve_result = E_ACCESSDENIED});
  list = ListOf({OnDisc(failing, 1, MATCH_TYPE_TXT)});
  list->SetListMatchCode(LIST_MATCH_TRACK_SINGLE);
  EXPECT_HR(E_ACCESSDENIED, list->RetrieveData(0));
}

}  // namespace
}  // namespace pelk::testing
