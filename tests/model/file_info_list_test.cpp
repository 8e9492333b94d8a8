#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "tests/model/list_fixture.h"

namespace pelk::testing {
namespace {

using FileInfoListTest = ListTest;

TEST_F(FileInfoListTest, NewListAndArgumentCodes) {
  auto list = MakeObject<CPelkFileInfoList>();
  int32_t value = -1;
  EXPECT_EQ(CountOf(list.Get()), 0);
  ASSERT_HR(S_OK, list->GetListMatchCode(&value));
  EXPECT_EQ(value, LIST_MATCH_NONE);
  ASSERT_HR(S_OK, list->get_Options(&value));
  EXPECT_EQ(value, 0x3310);
  ASSERT_HR(S_OK, list->GetScore(&value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(list->SortedByFolder() || list->SortedByMetadata());
  EXPECT_EQ(list->BatchTarget(), 0);

  auto record = Named(u"/m/a.mp3");
  ASSERT_HR(S_OK, list->AddFileInfo(record.Get()));
  ComPtr<IPelkFileInfo> out;
  VARIANT item;
  bool flag = false;
  ComPtr<CPelkFileInfoList> popped;
  EXPECT_HR(E_INVALIDARG, list->GetFileInfo(0, out.Out()));
  EXPECT_HR(E_INVALIDARG, list->GetFileInfo(2, out.Out()));
  EXPECT_HR(E_INVALIDARG, list->GetFileInfo(1, nullptr));  // not E_POINTER
  EXPECT_HR(E_INVALIDARG, list->GetFileInfoFields(2, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr));
  EXPECT_HR(E_POINTER, list->get_Count(nullptr));
  EXPECT_HR(E_POINTER, list->GetListMatchCode(nullptr));
  EXPECT_HR(E_POINTER, list->get_Options(nullptr));
  EXPECT_HR(E_POINTER, list->GetScore(nullptr));
  EXPECT_HR(E_INVALIDARG, list->AddFileInfo(nullptr));  // rejected, not stored
  EXPECT_HR(E_INVALIDARG, list->RemoveFileInfo(nullptr));
  EXPECT_HR(E_FAIL, list->RemoveFileInfo(Named(u"/m/a.mp3").Get()));  // same name, other object
  EXPECT_HR(E_INVALIDARG, list->RemoveFile(nullptr));
  EXPECT_HR(E_FAIL, list->RemoveFile(Bstr(u"/m/b.mp3").Get()));
  EXPECT_HR(E_POINTER, list->get_Item(1, nullptr));
  EXPECT_HR(E_INVALIDARG, list->get_Item(0, &item));
  EXPECT_HR(E_FAIL, list->get_Item(2, &item));
  EXPECT_HR(E_INVALIDARG, list->GetFileInfoByFilename(u"", out.Out()));
  EXPECT_HR(E_INVALIDARG, list->GetFileInfoByFilename(u"/m/a.mp3", nullptr));
  EXPECT_HR(E_INVALIDARG, list->IsFileInfoInList(nullptr, &flag));
  EXPECT_HR(E_INVALIDARG, list->AddFileInfoNoDuplicate(nullptr));
  EXPECT_HR(E_INVALIDARG, list->GetFileInfoByDisc(nullptr, out.Out()));
  EXPECT_HR(E_POINTER, list->HasQueryResults(nullptr));
  EXPECT_HR(E_POINTER, list->VerifyWFAgainstInfo(1, nullptr));
  EXPECT_HR(E_INVALIDARG, list->VerifyWFAgainstInfo(2, &value));
  EXPECT_HR(E_POINTER, list->PopFolderList(nullptr));
  EXPECT_HR(E_POINTER, list->PopBatch(10, nullptr));
  EXPECT_HR(E_INVALIDARG, list->PopBatch(9, popped.Out()));
  EXPECT_HR(E_INVALIDARG, list->PopBatch(100001, popped.Out()));
  EXPECT_EQ(CountOf(list.Get()), 1);
}

TEST_F(FileInfoListTest, FieldsInAndOut) {
  auto list = MakeObject<CPelkFileInfoList>();
  ComPtr<IDiscInfo> disc = MakeFakeDisc({blue_, 2, true});
  ComPtr<IFileTag> tag = Tag(u"a", u"b", u"c");
  ASSERT_HR(S_OK, list->AddFileInfoFields(Bstr(u"/m/1.mp3").Get(), nullptr, 9, 2, tag.Get(),
                                          disc.Get(), SONQUIX_MATCH_EXACT));
  ASSERT_HR(S_OK, list->AddFileInfoFields(nullptr, nullptr, 0, 0, nullptr, nullptr, 0));
  Bstr name;
  int32_t count = 0, track = -1, code = -1;
  ComPtr<IFileTag> tag_out;
  ComPtr<IDiscInfo> disc_out;
  ASSERT_HR(S_OK, list->GetFileInfoFields(1, name.Out(), nullptr, &count, &track, tag_out.Out(),
                                          disc_out.Out(), &code));
  EXPECT_EQ(name.View(), u"/m/1.mp3");
  EXPECT_EQ(count, 9);
  EXPECT_EQ(track, 2);
  EXPECT_EQ(tag_out, tag);
  EXPECT_EQ(disc_out, disc);
  EXPECT_EQ(code, SONQUIX_MATCH_EXACT);
  ASSERT_HR(S_OK, list->GetFileInfoFields(2, name.Out(), nullptr, nullptr, &track, tag_out.Out(),
                                          nullptr, &code));
  EXPECT_EQ(name.Get(), nullptr);
  EXPECT_EQ(track, 0);
  EXPECT_EQ(code, SONQUIX_MATCH_NONE);
  EXPECT_FALSE(tag_out);
  ComPtr<IPelkFileInfo> second;
  ASSERT_HR(S_OK, list->GetFileInfo(2, second.Out()));
  EXPECT_FALSE(ImplOf<CPelkFileInfo>(second.Get())->TagAcquired());  // put_Tag never ran
}

TEST_F(FileInfoListTest, LateBoundOperationsItemsAndEnumerator) {
  auto first = Named(u"/m/1.mp3"), second = Named(u"/m/2.mp3");
  auto list = ListOf({first, second});
  ComPtr<IDispatch> dispatch = list.As<IPelkFileInfoList2_6>().As<IDispatch>();
  ASSERT_TRUE(dispatch);
  auto id_of = [&](const char16_t* name) {
    DISPID id = 0;
    OLECHAR* names[] = {const_cast<OLECHAR*>(name)};
    EXPECT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
  };
  EXPECT_EQ(id_of(u"getfileinfo"), 1);
  EXPECT_EQ(id_of(u"RemoveFile"), 9);
  EXPECT_EQ(id_of(u"RetrieveData"), 0x64);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  ASSERT_HR(S_OK, dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                   &result, nullptr, nullptr));
  EXPECT_EQ(result->lVal, 2);
  Variant index(2);
  DISPPARAMS one{&index, nullptr, 1, 0};
  ASSERT_HR(S_OK, dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, &result,
                                   nullptr, nullptr));
  ASSERT_EQ(result->vt, VT_DISPATCH);
  EXPECT_TRUE(SameObject(result->pdispVal, second.As<IUnknown>().Get()));

  Variant item;
  ASSERT_HR(S_OK, list->get_Item(1, &item));
  ASSERT_EQ(item->vt, VT_DISPATCH);
  EXPECT_TRUE(SameObject(item->pdispVal, first.As<IUnknown>().Get()));

  // The enumerator sees the list as it was when made.
  ComPtr<IUnknown> unknown;
  ASSERT_HR(S_OK, list->get__NewEnum(unknown.Out()));
  ComPtr<IEnumVARIANT> items = unknown.As<IEnumVARIANT>();
  ASSERT_TRUE(items);
  ASSERT_HR(S_OK, list->RemoveFileInfo(first.Get()));
  VARIANT got[3];
  uint32_t fetched = 0;
  EXPECT_HR(S_FALSE, items->Next(3, got, &fetched));
  ASSERT_EQ(fetched, 2u);
  EXPECT_TRUE(SameObject(got[0].pdispVal, first.As<IUnknown>().Get()));
  EXPECT_TRUE(SameObject(got[1].pdispVal, second.As<IUnknown>().Get()));
  for (uint32_t i = 0; i < fetched; ++i) VariantClear(&got[i]);
  EXPECT_HR(S_OK, items->Reset());
  EXPECT_HR(S_OK, items->Skip(1));
  ComPtr<IEnumVARIANT> clone;
  ASSERT_HR(S_OK, items->Clone(clone.Out()));
  EXPECT_HR(S_FALSE, items->Skip(2));
  ASSERT_HR(S_OK, clone->Next(1, got, nullptr));  // the clone kept its own position
  EXPECT_TRUE(SameObject(got[0].pdispVal, second.As<IUnknown>().Get()));
  VariantClear(&got[0]);
}

TEST_F(FileInfoListTest, ScoreIsKeptIncrementally) {
  auto low = Scoring(38, MATCH_TYPE_TXT), high = Scoring(62, MATCH_TYPE_TXT);
  auto perfect = Scoring(100, MATCH_TYPE_TXT);
  auto list = ListOf({low, high});
  int32_t score = 0;
  ASSERT_HR(S_OK, list->GetScore(&score));
  EXPECT_EQ(score, 500000);
  // 10000 x 200 / 3, rounded: the added record's cached score is all that is read.
  ASSERT_HR(S_OK, list->AddFileInfo(perfect.Get()));
  ASSERT_HR(S_OK, list->GetScore(&score));
  EXPECT_EQ(score, 666667);
  ASSERT_HR(S_OK, list->RemoveFileInfo(perfect.Get()));
  ASSERT_HR(S_OK, list->GetScore(&score));
  EXPECT_EQ(score, 500000);

  // A record without a disc counts -1; an empty list reports 0 and forgets its score, so the
  // next one is computed afresh.
  ASSERT_HR(S_OK, list->AddFileInfo(Named(u"/m/none.mp3").Get()));
  ASSERT_HR(S_OK, list->GetScore(&score));
  EXPECT_EQ(score, 330000);  // 10000 x 99 / 3
  for (const auto& record : list->Records()) ASSERT_HR(S_OK, list->RemoveFileInfo(record.Get()));
  ASSERT_HR(S_OK, list->GetScore(&score));
  EXPECT_EQ(score, 0);
  ASSERT_HR(S_OK, list->AddFileInfo(perfect.Get()));
  ASSERT_HR(S_OK, list->AddFileInfo(low.Get()));
  ASSERT_HR(S_OK, list->GetScore(&score));
  EXPECT_EQ(score, 690000);

  // Clear keeps the computed score, which the next addition brings up to date.
  list->SetListMatchCode(LIST_MATCH_ALBUM_MULTIPLE);
  ASSERT_HR(S_OK, list->Clear());
  ASSERT_HR(S_OK, list->AddFileInfo(high.Get()));
  ASSERT_HR(S_OK, list->GetScore(&score));
  EXPECT_EQ(score, 620000);
  int32_t code = 0;
  list->GetListMatchCode(&code);
  EXPECT_EQ(code, LIST_MATCH_ALBUM_MULTIPLE);
}

TEST_F(FileInfoListTest, FileNameSearchesAndCase) {
  const std::u16string long_name = u"/m/" + std::u16string(300, u'n') + u".mp3";
  auto song = Named(u"/m/Song.mp3"), longer = Named(long_name);
  auto list = ListOf({song, longer});
  ComPtr<IPelkFileInfo> found;
  ASSERT_HR(S_OK, list->GetFileInfoByFilename(u"/m/song.mp3", found.Out()));
  EXPECT_FALSE(found);  // case-sensitive: not found, out untouched
  EXPECT_FALSE(list->IsFilenameInList(u"/m/song.mp3"));
  EXPECT_TRUE(list->IsFilenameInList(u"/m/Song.mp3"));
  ASSERT_HR(S_OK, list->GetFileInfoByFilename(u"/m/Song.mp3", found.Out()));
  EXPECT_TRUE(SameObject(found.Get(), song.As<IUnknown>().Get()));
  // Names are compared as far as 259 characters.
  EXPECT_TRUE(list->IsFilenameInList(std::u16string_view(long_name).substr(0, 259)));
  EXPECT_FALSE(list->IsFilenameInList(long_name));
  ASSERT_HR(S_OK, list->RemoveFile(Bstr(u"/M/SONG.MP3").Get()));  // removal ignores case
  EXPECT_EQ(Order(list.Get()), std::vector<CPelkFileInfo*>{longer.Get()});

  bool flag = true;
  ASSERT_HR(S_OK, list->IsFileInfoInList(song.Get(), &flag));
  EXPECT_FALSE(flag);
  ASSERT_HR(S_OK, list->AddFileInfoNoDuplicate(longer.Get()));
  ASSERT_HR(S_OK, list->AddFileInfoNoDuplicate(song.Get()));
  EXPECT_EQ(CountOf(list.Get()), 2);
}

TEST_F(FileInfoListTest, IsFileInMyFolderConsultsEntryOne) {
  auto list = MakeObject<CPelkFileInfoList>();
  EXPECT_FALSE(list->IsFileInMyFolder(u"/Music/Album/02.mp3"));  // empty list
  list->AddFileInfo(Named(u"/Music/Album/01.mp3").Get());
  list->AddFileInfo(Named(u"/Music/Other/01.mp3").Get());
  EXPECT_TRUE(list->IsFileInMyFolder(u"/music/ALBUM/02.mp3"));
  EXPECT_FALSE(list->IsFileInMyFolder(u"/Music/Other/02.mp3"));  // only entry 1 counts
  EXPECT_FALSE(list->IsFileInMyFolder(u"/Music/Album/Sub/02.mp3"));
  EXPECT_FALSE(list->IsFileInMyFolder(u"02.mp3"));  // no separator
  EXPECT_FALSE(list->IsFileInMyFolder(u""));
  auto windows = ListOf({Named(u"C:\\Music\\Album\\01.mp3")});
  EXPECT_TRUE(windows->IsFileInMyFolder(u"c:\\music\\album\\02.mp3"));
}

TEST_F(FileInfoListTest, DiscAlbumAndArtistSearches) {
  FakeDisc other = fake_->AddDisc({.album = u"Court and Spark",
                                   .artist = u"Joni Mitchell",
                                   .tracks = {{u"Help Me"}, {u"Free Man in Paris"}}});
  auto on_blue = OnDisc(blue_, 3, MATCH_TYPE_TXT);
  on_blue->put_Tag(Tag(u"Joni Mitchell", u"Blue", u"Little Green").Get());
  auto list = ListOf({OnDisc(other, 1, MATCH_TYPE_TXT), on_blue});
  // A different object for the same disc and track is found; another track is not.
  EXPECT_EQ(list->IsDiscInList(MakeFakeDisc({blue_, 3, false}).Get()), 2);
  EXPECT_EQ(list->IsDiscInList(MakeFakeDisc({blue_, 4, true}).Get()), 0);
  EXPECT_EQ(list->IsDiscInList(nullptr), 0);
  ComPtr<IPelkFileInfo> found;
  ASSERT_HR(S_OK, list->GetFileInfoByDisc(MakeFakeDisc({blue_, 8, true}).Get(), found.Out()));
  EXPECT_TRUE(SameObject(found.Get(), on_blue.As<IUnknown>().Get()));
  // The disc search ends at the first entry without a disc.
  auto stopped = ListOf({Named(u"/m/no-disc.mp3"), on_blue});
  found.Reset();
  ASSERT_HR(S_OK, stopped->GetFileInfoByDisc(MakeFakeDisc({blue_, 3, true}).Get(), found.Out()));
  EXPECT_FALSE(found);

  EXPECT_TRUE(list->IsAlbumInList(u"COURT AND SPARK!"));  // normalized, ignoring case
  EXPECT_FALSE(list->IsAlbumInList(u"Ladies of the Canyon"));
  EXPECT_FALSE(list->IsAlbumInList(u""));
  EXPECT_TRUE(list->IsArtistAndTitleInList(Tag(u"joni mitchell", u"", u"Little Green!").Get()));
  EXPECT_FALSE(list->IsArtistAndTitleInList(Tag(u"Joni Mitchell", u"", u"Carey").Get()));
  EXPECT_FALSE(list->IsArtistAndTitleInList(nullptr));
}

TEST_F(FileInfoListTest, HasQueryResults) {
  bool flag = true;
  auto list = MakeObject<CPelkFileInfoList>();
  ASSERT_HR(S_OK, list->HasQueryResults(&flag));
  EXPECT_FALSE(flag);
  list->AddFileInfo(OnDisc(blue_, 1, MATCH_TYPE_ALBUM_ASSOCIATED).Get());
  ASSERT_HR(S_OK, list->HasQueryResults(&flag));
  EXPECT_FALSE(flag);
  list->AddFileInfo(OnDisc(blue_, 2, MATCH_TYPE_TXT).Get());
  ASSERT_HR(S_OK, list->HasQueryResults(&flag));
  EXPECT_TRUE(flag);
}

TEST_F(FileInfoListTest, MergeKeepsTheStrongerMatchPerDiscAndTrack) {
  auto text = OnDisc(blue_, 3, MATCH_TYPE_TXT), waveform = OnDisc(blue_, 3, MATCH_TYPE_WF);
  auto list = ListOf({text});
  auto incoming =
      ListOf({waveform, OnDisc(blue_, 4, MATCH_TYPE_TXT_ALBUM_LEVEL),
              OnDisc(blue_, 5, MATCH_TYPE_WF, SONQUIX_MATCH_NONE),
              OnDisc(blue_, 6, MATCH_TYPE_WF, SONQUIX_MATCH_ERROR), Named(u"/m/no-disc.mp3")});
  ASSERT_HR(S_OK, list->AppendFileInfoListMatchesNoDuplicate(incoming.Get()));
  ASSERT_EQ(CountOf(list.Get()), 2);
  EXPECT_EQ(Order(list.Get())[0], waveform.Get());  // replaced the text match
  // The reverse keeps the waveform match.
  ASSERT_HR(S_OK, list->AppendFileInfoListMatchesNoDuplicate(ListOf({text}).Get()));
  EXPECT_EQ(Order(list.Get())[0], waveform.Get());
  EXPECT_EQ(CountOf(list.Get()), 2);
  EXPECT_HR(S_OK, list->AppendFileInfoListMatchesNoDuplicate(nullptr));

  // A list appended to itself doubles, in order.
  ASSERT_HR(S_OK, list->AppendList(list.Get()));
  EXPECT_EQ(CountOf(list.Get()), 4);
  EXPECT_EQ(Order(list.Get())[2], waveform.Get());
}

TEST_F(FileInfoListTest, VerifyWaveformAgainstInfo) {
  auto with_title = [&](int32_t type, const char16_t* title) {
    auto record = OnDisc(blue_, 1, type);
    record->put_Tag(Tag(u"a", u"b", title).Get());
    return record;
  };
  auto list = ListOf({with_title(MATCH_TYPE_TXT, u"Carey!"), with_title(MATCH_TYPE_TXT, u"Blue"),
                      with_title(MATCH_TYPE_WF, u"carey"), with_title(MATCH_TYPE_TXT, u""),
                      with_title(MATCH_TYPE_NONE, u"Carey"), OnDisc(blue_, 1, MATCH_TYPE_TXT)});
  int32_t result = -1;
  ASSERT_HR(S_OK, list->VerifyWFAgainstInfo(1, &result));
  EXPECT_EQ(result, 1);  // a waveform entry has the title
  ASSERT_HR(S_OK, list->VerifyWFAgainstInfo(2, &result));
  EXPECT_EQ(result, 0);  // waveform entries exist, none with this title
  ASSERT_HR(S_OK, list->VerifyWFAgainstInfo(3, &result));
  EXPECT_EQ(result, 1);  // a waveform entry itself
  ASSERT_HR(S_OK, list->VerifyWFAgainstInfo(4, &result));
  EXPECT_EQ(result, 2);  // no title to compare
  EXPECT_HR(E_FAIL, list->VerifyWFAgainstInfo(5, &result));
  EXPECT_EQ(result, 0);
  EXPECT_HR(E_FAIL, list->VerifyWFAgainstInfo(6, &result));  // no tag
  auto no_waveform = ListOf({with_title(MATCH_TYPE_TXT, u"Carey")});
  ASSERT_HR(S_OK, no_waveform->VerifyWFAgainstInfo(1, &result));
  EXPECT_EQ(result, 2);
}

TEST_F(FileInfoListTest, RetrieveDataSharesTheDiscWithLaterEntries) {
  auto first = OnDisc(blue_, 3, MATCH_TYPE_TXT, SONQUIX_MATCH_FUZZY, u"/m/03.mp3");
  auto second = OnDisc(blue_, 6, MATCH_TYPE_TXT, SONQUIX_MATCH_FUZZY, u"/m/06.mp3");
  auto list = ListOf({first, second});
  EXPECT_HR(S_FALSE, list->RetrieveData(0));  // LIST_MATCH_NONE: nothing is done
  EXPECT_FALSE(first->TagAcquired() || second->TagAcquired());

  list->SetListMatchCode(LIST_MATCH_ALBUM_SINGLE);
  ComPtr<IDiscInfo> first_disc;
  first->get_Disc(first_disc.Out());
  ASSERT_HR(S_OK, list->RetrieveData(0));
  ComPtr<IDiscInfo> disc;
  ComPtr<IFileTag> tag;
  second->get_Disc(disc.Out());
  second->get_Tag(tag.Out());
  EXPECT_NE(disc, first_disc);  // a copy, at the second entry's own track
  int32_t current = 0;
  disc->get_CurrentTrack(&current);
  EXPECT_EQ(current, 6);
  EXPECT_EQ(TagDataOf(tag.Get()).texts[u"Title"], u"California");

  second->put_TrackNum(0);
  EXPECT_HR(E_FAIL, list->RetrieveData(0));
  FakeDisc failing =
      fake_->AddDisc({.album = u"F", .tracks = {{u"t"}}, .retrieve_result = E_ACCESSDENIED});
  auto failing_list = ListOf({OnDisc(failing, 1, MATCH_TYPE_TXT)});
  failing_list->SetListMatchCode(LIST_MATCH_TRACK_SINGLE);
  EXPECT_HR(E_ACCESSDENIED, failing_list->RetrieveData(0));
}

}  // namespace
}  // namespace pelk::testing
