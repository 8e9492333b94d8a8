#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "tests/model/list_fixture.h"

namespace pelk::testing {
namespace {

using ListPopTest = ListTest;

std::u16string Two(int i) {
  return std::u16string{static_cast<char16_t>(u'0' + i / 10), static_cast<char16_t>(u'0' + i % 10)};
}

TEST_F(ListPopTest, BatchesKeepAlbumsAndArtistsTogether) {
  // 25 albums of 4 files, added shuffled; albums 02, 03 and 04 share one artist.
  std::vector<ComPtr<CPelkFileInfo>> records;
  for (int album = 0; album < 25; ++album) {
    const std::u16string artist = album >= 2 && album <= 4 ? u"Shared" : u"Artist " + Two(album);
    for (int track = 1; track <= 4; ++track) {
      records.push_back(Tagged(u"/lib/" + Two(album) + u"/" + Two(track) + u".mp3", artist,
                               u"Album " + Two(album)));
    }
  }
  std::shuffle(records.begin(), records.end(), std::mt19937(7));
  auto list = MakeObject<CPelkFileInfoList>();
  for (const auto& record : records) list->AddFileInfo(record.Get());

  ComPtr<CPelkFileInfoList> batch;
  ASSERT_HR(S_OK, list->PopBatch(10, batch.Out()));
  EXPECT_EQ(list->BatchTarget(), 7);  // 100, 50, 25, 13, 7
  EXPECT_TRUE(list->SortedByMetadata());
  // 7 entries reach into album 01, whose last file comes along; album 02 has another artist.
  ASSERT_EQ(CountOf(batch.Get()), 8);
  char16_t album[CPelkFileInfo::kSortTextSize] = {};
  Order(batch.Get())[7]->get_SortAlbum(album, CPelkFileInfo::kSortTextSize);
  EXPECT_EQ(std::u16string(album), u"Album 01");
  ASSERT_HR(S_OK, list->PopBatch(10, batch.Out()));
  EXPECT_EQ(CountOf(batch.Get()), 12);  // albums 02-04 by one artist
  EXPECT_EQ(CountOf(list.Get()), 80);

  // An addition forgets the target; popping everything clears the sorted flags.
  list->AddFileInfo(Tagged(u"/lib/new.mp3", u"New", u"New").Get());
  EXPECT_EQ(list->BatchTarget(), 0);
  ASSERT_HR(S_OK, list->PopBatch(100000, batch.Out()));
  EXPECT_EQ(CountOf(batch.Get()), 81);
  EXPECT_EQ(CountOf(list.Get()), 0);
  EXPECT_FALSE(list->SortedByMetadata() || list->SortedByFolder());
}

TEST_F(ListPopTest, UntaggedFilesBatchByTheStartOfTheirNames) {
  auto list = MakeObject<CPelkFileInfoList>();
  for (int i = 0; i < 5; ++i) list->AddFileInfo(Named(u"/x/BBBB" + Two(i) + u".mp3").Get());
  for (int i = 0; i < 7; ++i) list->AddFileInfo(Named(u"/x/aaaa" + Two(i) + u".mp3").Get());
  ComPtr<CPelkFileInfoList> batch;
  ASSERT_HR(S_OK, list->PopBatch(10, batch.Out()));
  EXPECT_EQ(list->BatchTarget(), 6);
  EXPECT_EQ(CountOf(batch.Get()), 7);  // every "aaaa" file, none of the "BBBB" ones
  EXPECT_EQ(CountOf(list.Get()), 5);
}

TEST_F(ListPopTest, PopFolderList) {
  auto single = ListOf({Named(u"/m/a/1.mp3")});
  ComPtr<CPelkFileInfoList> popped;
  ASSERT_HR(S_OK, single->PopFolderList(popped.Out()));
  EXPECT_EQ(CountOf(popped.Get()), 1);
  EXPECT_EQ(CountOf(single.Get()), 0);
  EXPECT_FALSE(single->SortedByFolder() || single->SortedByMetadata());
  ASSERT_HR(S_OK, single->PopFolderList(popped.Out()));  // empty: an empty new list
  EXPECT_EQ(CountOf(popped.Get()), 0);

  auto b1 = Named(u"/m/b/1.mp3"), a1 = Named(u"/m/a/1.mp3"), b2 = Named(u"/M/B/2.mp3");
  auto list = ListOf({b1, a1, b2});
  ASSERT_HR(S_OK, list->PopFolderList(popped.Out()));
  EXPECT_EQ(Order(popped.Get()), std::vector<CPelkFileInfo*>{a1.Get()});
  EXPECT_TRUE(list->SortedByFolder());
  ASSERT_HR(S_OK, list->PopFolderList(popped.Out()));
  EXPECT_EQ(Order(popped.Get()), (std::vector<CPelkFileInfo*>{b1.Get(), b2.Get()}));
}

// Lists that share records, used from two threads at once: each appends the other into itself
// and pops it back down, sorts, scores, and hands it to records as waveform candidates.
TEST_F(ListPopTest, TwoThreadsOnListsThatShareRecords) {
  std::vector<ComPtr<CPelkFileInfo>> records;
  for (int i = 0; i < 12; ++i) {
    auto record = OnDisc(blue_, 1 + i % 8, i % 3 == 0 ? MATCH_TYPE_WF : MATCH_TYPE_TXT,
                         SONQUIX_MATCH_FUZZY, u"/m/" + Two(i % 3) + u"/" + Two(i) + u".mp3");
    record->put_Tag(Tag(u"Joni Mitchell", u"Blue " + Two(i % 2), u"t").Get());
    records.push_back(record);
  }
  auto a = ListOf({records[0], records[1], records[2], records[3], records[4], records[5]});
  auto b = ListOf({records[6], records[7], records[8], records[9], records[10], records[11]});
  std::atomic<bool> failed{false};
  auto work = [&](CPelkFileInfoList* mine, CPelkFileInfoList* theirs, bool by_batch) {
    for (int i = 0; i < 25; ++i) {
      int32_t score = 0;
      bool flag = false;
      ComPtr<CPelkFileInfoList> popped;
      if (FAILED(mine->AppendList(theirs)) ||
          FAILED(mine->AppendFileInfoListMatchesNoDuplicate(theirs)) ||
          FAILED(mine->SortItemsByMatchQuality()) || FAILED(mine->GetScore(&score)) ||
          FAILED(mine->HasQueryResults(&flag)) ||
          FAILED(records[static_cast<size_t>(i) % records.size()]->PutWFList(theirs))) {
        failed = true;
      }
      mine->IsDiscInList(MakeFakeDisc({blue_, 2, true}).Get());
      while (CountOf(mine) > 6) {
        if (FAILED(by_batch ? mine->PopBatch(10, popped.Out()) : mine->PopFolderList(popped.Out())))
          failed = true;
      }
    }
  };
  std::thread other(work, b.Get(), a.Get(), false);
  work(a.Get(), b.Get(), true);
  other.join();
  EXPECT_FALSE(failed);
  // Records now hold the lists as waveform candidates while the lists hold records: emptying
  // the lists breaks those cycles.
  a->Clear();
  b->Clear();
}

}  // namespace
}  // namespace pelk::testing
