// Shared set-up of the list-of-lists tests: candidates of files on the fake's discs, per-file
// candidate lists, collections, and a status sink that records what it is told.
#pragma once

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "model/file_info_lists.h"
#include "tests/model/list_fixture.h"

namespace pelk::testing {

// Records every status event; answers Abort (1) to event number abort_at (1-based).
struct RecordingStatusSink : AlbumStatusSink {
  using Event = std::tuple<int32_t, std::u16string, int32_t, int32_t>;
  int32_t AlbumIDStatusUpdate(int32_t status, std::u16string_view file_name, int32_t current,
                              int32_t total) override {
    events.emplace_back(status, std::u16string(file_name), current, total);
    return static_cast<int32_t>(events.size()) == abort_at ? 1 : 0;
  }
  std::vector<Event> events;
  int32_t abort_at = 0;
};

class ListsTest : public ListTest {
 public:
  // A candidate of file on track `track` of disc, with a tag naming that track (so the waveform
  // verification can read its title). well: its own tag matches the track, so it scores high;
  // otherwise it scores low.
  static ComPtr<CPelkFileInfo> Candidate(const std::u16string& file, const FakeDisc& disc,
                                         int32_t track, int32_t match_type, bool well = true) {
    auto record = OnDisc(disc, track, match_type, SONQUIX_MATCH_FUZZY, file);
    const bool known = track >= 1 && static_cast<size_t>(track) <= disc->tracks.size();
    const std::u16string title = known ? disc->tracks[static_cast<size_t>(track - 1)].title : u"";
    record->put_Tag(Tag(disc->artist, disc->album, title).Get());
    record->put_OrigTag(well ? Tag(disc->artist, disc->album, title).Get()
                             : Tag(u"Nobody", u"Nothing", u"Zzz").Get());
    return record;
  }
  static ComPtr<CPelkFileInfoList> FileList(std::initializer_list<ComPtr<CPelkFileInfo>> records,
                                            int32_t code = LIST_MATCH_TRACK_MULTIPLE) {
    auto list = ListOf(records);
    list->SetListMatchCode(code);
    return list;
  }
  // A failed file's list, as album identification makes it.
  static ComPtr<CPelkFileInfoList> ErrorList(const std::u16string& file) {
    auto record = Named(file);
    record->put_SonquixMatchCode(SONQUIX_MATCH_ERROR);
    return FileList({record}, LIST_MATCH_ERROR);
  }
  static ComPtr<CPelkFileInfoLists> Collection(
      std::initializer_list<ComPtr<CPelkFileInfoList>> lists) {
    auto collection = MakeObject<CPelkFileInfoLists>();
    for (const auto& list : lists) EXPECT_HR(S_OK, collection->AddFileInfoList(list.Get()));
    return collection;
  }
  // An album collection reading the query results.
  static ComPtr<CPelkFileInfoLists> AlbumsOf(CPelkFileInfoLists* results) {
    auto albums = MakeObject<CPelkFileInfoLists>();
    EXPECT_HR(S_OK, albums->SetResultLists(results));
    return albums;
  }
  using ListTest::CountOf;
  static int32_t CountOf(CPelkFileInfoLists* lists) {
    int32_t count = -1;
    EXPECT_HR(S_OK, lists->get_Count(&count));
    return count;
  }
  static std::vector<IPelkFileInfoList*> ListOrder(CPelkFileInfoLists* lists) {
    std::vector<IPelkFileInfoList*> order;
    for (const auto& list : lists->Lists()) order.push_back(list.Get());
    return order;
  }
  static std::vector<CPelkFileInfo*> Records(IPelkFileInfoList* list) {
    return Order(ImplOf<CPelkFileInfoList>(list).Get());
  }
  static int32_t CodeOf(IPelkFileInfoList* list) {
    int32_t code = 0;
    EXPECT_HR(S_OK, list->GetListMatchCode(&code));
    return code;
  }
  static int32_t ScoreOf(CPelkFileInfo* record) {
    int32_t score = -7;
    EXPECT_HR(S_OK, record->GetScore(&score));
    return score;
  }

  FakeDisc court_ = fake_->AddDisc(
      {.album = u"Court and Spark",
       .artist = u"Joni Mitchell",
       .identifier = u"DISC-COURT",
       .tracks = {
           {u"Court and Spark"}, {u"Help Me"}, {u"Free Man in Paris"}, {u"People's Parties"}}});
};

}  // namespace pelk::testing
