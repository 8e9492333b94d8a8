#include "model/record_enumerator.h"
#include "tests/model/lists_fixture.h"

namespace pelk::testing {
namespace {

using FileInfoListsTest = ListsTest;

TEST_F(FileInfoListsTest, CollectionArgumentCodes) {
  auto first = FileList({Named(u"/m/a.mp3")}), second = FileList({Named(u"/m/b.mp3")});
  auto lists = Collection({first, second});
  auto sink = std::make_shared<RecordingStatusSink>();
  ComPtr<IPelkFileInfoList> out;
  ComPtr<IPelkFileInfo> seed_out;
  Variant item;
  int32_t code = 0;
  bool flag = false;
  const std::pair<HRESULT, HRESULT> codes[] = {
      {E_INVALIDARG, lists->GetFileInfoList(0, out.Out())},
      {E_INVALIDARG, lists->GetFileInfoList(3, out.Out())},
      {E_INVALIDARG, lists->GetFileInfoList(1, nullptr)},
      {E_POINTER, lists->get_Count(nullptr)},
      {E_INVALIDARG, lists->RemoveFileInfoList(nullptr)},
      {E_INVALIDARG, lists->RemoveFileInfoList(FileList({Named(u"/m/a.mp3")}).Get())},
      {E_INVALIDARG, lists->get_Item(0, &item)},
      {E_FAIL, lists->get_Item(3, &item)},
      {E_POINTER, lists->get_Item(1, nullptr)},
      {E_INVALIDARG, lists->RemoveMatchAndFiles(0)},
      {E_INVALIDARG, lists->RemoveMatchAndFiles(-1)},
      {E_INVALIDARG, lists->RemoveMatchAndFiles(3)},
      {E_INVALIDARG, lists->GetResultLists(nullptr)},
      {E_INVALIDARG, lists->SetResultLists(nullptr)},
      {E_INVALIDARG, lists->SetResultLists(lists.Get())},  // would hold itself
      {E_INVALIDARG, lists->SetOwnerManager({})},
      {E_FAIL, lists->SetResultsListDiscMatches(true)},
      {E_UNEXPECTED,
       lists->BuildAlbumMatch(OnDisc(blue_, 1, MATCH_TYPE_TXT).Get(), out.Out(), &code)},
      {E_INVALIDARG, lists->BuildAlbumMatch(nullptr, out.Out(), &code)},
      {S_OK, lists->BuildAlbumLists(nullptr)},  // nothing to group: nothing done
      {E_INVALIDARG, lists->GetFileInfoListByFilename(u"", out.Out())},
      {E_POINTER, lists->GetFileInfoListByFilename(u"/m/a.mp3", nullptr)},
      {E_POINTER, lists->GetQueryResultCount(nullptr)},
      {E_POINTER, lists->GetQueryResult(1, nullptr)},
      {E_INVALIDARG, lists->GetQueryResult(3, out.Out())},
      {E_INVALIDARG, lists->FileInGoodAlbumIDResult(u"", &flag)},
      {E_INVALIDARG, lists->FileInGoodAlbumIDResult(u"/m/a.mp3", nullptr)},
      {E_INVALIDARG, lists->AddTrackIDResult(nullptr)},
      {E_INVALIDARG, lists->AddTrackIDResult(MakeObject<CPelkFileInfoList>().Get())},  // empty
      {E_FAIL, lists->AddTrackIDResult(FileList({Named(u"")}).Get())},  // entry 1 has no name
      {E_INVALIDARG, lists->AddTrackIDResults(nullptr)},
      {S_OK, lists->InterfaceSupportsErrorInfo(IPelkFileInfoLists::kIid)},
      {S_FALSE, lists->InterfaceSupportsErrorInfo(IPelkFileInfoList::kIid)},
  };
  for (size_t i = 0; i < std::size(codes); ++i) EXPECT_HR(codes[i].first, codes[i].second) << i;
  EXPECT_EQ(ListOrder(lists.Get()), (std::vector<IPelkFileInfoList*>{first.Get(), second.Get()}));

  // With query results but no sink, grouping refuses; an album needs a seed with a disc.
  auto albums = AlbumsOf(lists.Get());
  EXPECT_HR(E_INVALIDARG, albums->BuildAlbumLists(nullptr));
  EXPECT_HR(E_POINTER, albums->BuildAlbumMatch(Named(u"/m/a.mp3").Get(), out.Out(), &code));
  EXPECT_HR(S_OK, albums->SetOwnerManager(sink));

  // A stored null is kept, reads as E_FAIL and comes out of the item access as a null object.
  ASSERT_HR(S_OK, lists->AddFileInfoList(nullptr));
  EXPECT_HR(E_FAIL, lists->GetFileInfoList(3, out.Out()));
  ASSERT_HR(S_OK, lists->get_Item(3, &item));
  EXPECT_TRUE(item->vt == VT_DISPATCH && item->pdispVal == nullptr);
  int32_t count = 0;
  ASSERT_HR(S_OK, lists->get_Count(&count));
  EXPECT_EQ(count, 3);
}

TEST_F(FileInfoListsTest, LateBoundCallsAndEnumerator) {
  auto first = FileList({Named(u"/m/a.mp3")}), second = FileList({Named(u"/m/b.mp3")});
  auto lists = Collection({first});
  ComPtr<IDispatch> dispatch = lists.As<IPelkFileInfoLists>().As<IDispatch>();
  ASSERT_TRUE(dispatch);
  auto id_of = [&](const char16_t* name) {
    DISPID id = 0;
    OLECHAR* names[] = {const_cast<OLECHAR*>(name)};
    EXPECT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
  };
  EXPECT_EQ(id_of(u"getfileinfolist"), 1);
  EXPECT_EQ(id_of(u"Count"), 2);
  EXPECT_EQ(id_of(u"RemoveMatchAndFiles"), 3);
  EXPECT_EQ(id_of(u"RemoveFileInfoList"), 4);
  EXPECT_EQ(id_of(u"AddFileInfoList"), 5);

  // AddFileInfoList(second), then Count and GetFileInfoList(2), all late-bound.
  auto call = [&](DISPID id, uint16_t kind, std::vector<VARIANT> args, VARIANT* result) {
    DISPPARAMS params{args.data(), nullptr, static_cast<uint32_t>(args.size()), 0};
    return dispatch->Invoke(id, IID_NULL, 0, kind, &params, result, nullptr, nullptr);
  };
  VARIANT list_arg;
  VariantInit(&list_arg);
  list_arg.vt = VT_DISPATCH;
  list_arg.pdispVal = second.As<IDispatch>().Get();
  ASSERT_HR(S_OK, call(5, DISPATCH_METHOD, {list_arg}, nullptr));
  Variant result;
  ASSERT_HR(S_OK, call(2, DISPATCH_PROPERTYGET, {}, &result));
  EXPECT_EQ(result->lVal, 2);
  result.Clear();
  ASSERT_HR(S_OK, call(1, DISPATCH_METHOD, {*Variant(2)}, &result));
  EXPECT_TRUE(SameObject(result->pdispVal, second->Identity()));
  EXPECT_HR(E_INVALIDARG, call(3, DISPATCH_METHOD, {*Variant(0)}, nullptr));
  ASSERT_HR(S_OK, call(4, DISPATCH_METHOD, {list_arg}, nullptr));  // by identity
  EXPECT_EQ(ListOrder(lists.Get()), (std::vector<IPelkFileInfoList*>{first.Get()}));

  // The enumerator walks the lists as they were when it was made.
  lists->AddFileInfoList(second.Get());
  ComPtr<IUnknown> unknown;
  ASSERT_HR(S_OK, lists->get__NewEnum(unknown.Out()));
  ComPtr<IEnumVARIANT> items = unknown.As<IEnumVARIANT>();
  ASSERT_HR(S_OK, lists->RemoveFileInfoList(first.Get()));
  VARIANT got[3];
  uint32_t fetched = 0;
  EXPECT_HR(S_FALSE, items->Next(3, got, &fetched));
  ASSERT_EQ(fetched, 2u);
  EXPECT_TRUE(SameObject(got[0].pdispVal, first->Identity()));
  EXPECT_TRUE(SameObject(got[1].pdispVal, second->Identity()));
  for (uint32_t i = 0; i < fetched; ++i) VariantClear(&got[i]);
}

TEST_F(FileInfoListsTest, TrackIDResultsMergePerFile) {
  auto results = MakeObject<CPelkFileInfoLists>();
  auto text = Candidate(u"/m/a.mp3", blue_, 3, MATCH_TYPE_TXT);
  auto first = FileList({text});
  ASSERT_HR(S_OK, results->AddTrackIDResult(first.Get()));
  // A second list for the same file is merged into the first, ordered by match quality.
  auto waveform = Candidate(u"/m/a.mp3", court_, 2, MATCH_TYPE_WF);
  ASSERT_HR(S_OK, results->AddTrackIDResult(FileList({waveform}).Get()));
  ASSERT_EQ(ListOrder(results.Get()), (std::vector<IPelkFileInfoList*>{first.Get()}));
  EXPECT_EQ(Records(first.Get()), (std::vector<CPelkFileInfo*>{waveform.Get(), text.Get()}));

  // Names are case-sensitive: another case is another file.
  auto other_case = FileList({Candidate(u"/M/A.mp3", blue_, 3, MATCH_TYPE_TXT)});
  auto associated = FileList({Candidate(u"/m/c.mp3", blue_, 5, MATCH_TYPE_ALBUM_ASSOCIATED)},
                             LIST_MATCH_ALBUM_SINGLE_ASSOCIATED);
  ASSERT_HR(S_OK, results->AddTrackIDResults(Collection({other_case, associated}).Get()));
  ComPtr<IPelkFileInfoList> found;
  ASSERT_HR(S_OK, results->GetFileInfoListByFilename(u"/M/A.mp3", found.Out()));
  EXPECT_EQ(found.Get(), other_case.Get());
  ASSERT_HR(S_OK, results->GetFileInfoListByFilename(u"/m/none.mp3", found.Out()));
  EXPECT_FALSE(found);

  // The album-associated file has no query result of its own.
  int32_t count = 0;
  ASSERT_HR(S_OK, results->GetQueryResultCount(&count));
  EXPECT_EQ(count, 2);
  ASSERT_HR(S_OK, results->GetQueryResult(2, found.Out()));
  EXPECT_EQ(found.Get(), other_case.Get());
  EXPECT_HR(E_INVALIDARG, results->GetQueryResult(3, found.Out()));

  // A failing list stops AddTrackIDResults at once.
  auto late = FileList({Candidate(u"/m/d.mp3", blue_, 6, MATCH_TYPE_TXT)});
  EXPECT_HR(E_FAIL, results->AddTrackIDResults(Collection({FileList({Named(u"")}), late}).Get()));
  ASSERT_HR(S_OK, results->GetFileInfoListByFilename(u"/m/d.mp3", found.Out()));
  EXPECT_FALSE(found);
}

TEST_F(FileInfoListsTest, HighConfidenceDropsSinglesOfFilesInAlbums) {
  // A name longer than a list's file-name buffer must still be found.
  const std::u16string long_name = u"/m/" + std::u16string(300, u'n') + u".mp3";
  auto album = FileList({Candidate(u"/m/a.mp3", blue_, 1, MATCH_TYPE_TXT),
                         Candidate(long_name, blue_, 2, MATCH_TYPE_TXT)},
                        LIST_MATCH_ALBUM_MULTIPLE);
  auto single_a = FileList({Candidate(u"/m/a.mp3", court_, 1, MATCH_TYPE_TXT)}, LIST_MATCH_NONE);
  auto single_long = FileList({Candidate(long_name, court_, 2, MATCH_TYPE_TXT)}, LIST_MATCH_NONE);
  auto single_c = FileList({Candidate(u"/m/c.mp3", court_, 3, MATCH_TYPE_TXT)}, LIST_MATCH_NONE);
  auto empty = MakeObject<CPelkFileInfoList>();
  auto lists = Collection({single_a, album, single_long, empty, single_c});
  ASSERT_HR(S_OK, lists->HighConfidenceResults());
  EXPECT_EQ(ListOrder(lists.Get()),
            (std::vector<IPelkFileInfoList*>{album.Get(), empty.Get(), single_c.Get()}));
}

TEST_F(FileInfoListsTest, RankingByCodeThenCountThenScore) {
  auto make = [&](int32_t code, int32_t n, bool well) {
    auto list = MakeObject<CPelkFileInfoList>();
    for (int32_t i = 1; i <= n; ++i)
      list->AddFileInfo(Candidate(u"/m/x.mp3", blue_, i, 8, well).Get());
    list->SetListMatchCode(code);
    return list;
  };
  auto none5 = make(LIST_MATCH_NONE, 5, true), multiple1 = make(LIST_MATCH_TRACK_MULTIPLE, 1, true);
  auto error1 = make(LIST_MATCH_ERROR, 1, true),
       library3 = make(LIST_MATCH_LIBRARY_SINGLE, 3, true);
  auto album2_low = make(LIST_MATCH_ALBUM_MULTIPLE, 2, false);
  auto album2_high = make(LIST_MATCH_ALBUM_MULTIPLE, 2, true);
  auto album3 = make(LIST_MATCH_ALBUM_MULTIPLE, 3, false);
  auto accepted = make(LIST_MATCH_ALBUM_SINGLE, 1, false);
  auto tie = make(LIST_MATCH_ALBUM_MULTIPLE, 2, false);  // equal to album2_low: stays after it
  auto lists = Collection({none5, error1, multiple1, MakeObject<CPelkFileInfoList>(), album2_low,
                           library3, album2_high, album3, accepted, tie});
  lists->AddFileInfoList(nullptr);
  ASSERT_HR(S_OK, lists->SortAlbumsByMatchTypeCountScore());
  EXPECT_EQ(ListOrder(lists.Get()),
            (std::vector<IPelkFileInfoList*>{accepted.Get(), album3.Get(), album2_high.Get(),
                                             album2_low.Get(), tie.Get(), multiple1.Get(),
                                             none5.Get(), library3.Get(), error1.Get()}));
}

}  // namespace
}  // namespace pelk::testing
