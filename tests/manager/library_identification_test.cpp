#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "runtime/utf.h"
#include "tests/manager/identification_fixture.h"

namespace pelk::testing {
namespace {

// Files whose tags name them fully: looked up by text only, no waveform requests.
constexpr int32_t kByText = SONQUIX_DISABLE_WF_QUERIES | SONQUIX_GET_TAG_FROM_APP;
constexpr int32_t kAlbumMode = SONQUIX_RETURN_SINGLE | kByText;

std::u16string U16(const std::string& text) { return Utf8ToUtf16(text); }

std::vector<std::u16string> NamesOf(IUnknown* object) {
  std::vector<std::u16string> names;
  ComPtr<CPelkFileInfoList> list = ImplOf<CPelkFileInfoList>(object);
  if (!list) return names;
  for (const ComPtr<IPelkFileInfo>& entry : list->Records()) {
    Bstr name;
    entry->get_Filename(name.Out());
    names.emplace_back(name.View());
  }
  return names;
}

// The six counters an event carries, in order.
std::vector<int32_t> CountersOf(const EventCall& call) {
  const size_t first = call.id == kEventLibraryIDComplete ? 0 : 1;
  std::vector<int32_t> counters;
  for (size_t i = first; i < first + 6; ++i) counters.push_back(call.args[i].i4);
  return counters;
}

class LibraryIDTest : public IdentificationTest {
 protected:
  // A file tagged with an album and artist of its own, so that batches may end after it.
  ComPtr<CPelkFileInfo> Song(const std::u16string& folder, int i,
                             const std::u16string& album = u"") {
    const std::u16string n = U16(std::to_string(i));
    const std::u16string album_title = album.empty() ? u"Album " + n : album;
    return TaggedFile(u"/lib/" + folder + u"/" + n + u".wav",
                      {.texts = {{u"Artist", u"Artist of " + album_title},
                                 {u"AlbumTitle", album_title},
                                 {u"Title", u"Song " + n}}});
  }
  void Queue(const std::u16string& folder, int count) {
    for (int i = 0; i < count; ++i) {
      ASSERT_HR(S_OK, manager_->LibraryIDAddFileInfo(Song(folder, i).Get()));
    }
  }
  void SetBatchSize(int32_t size) {
    ComPtr<IPelkSonquixSettings> settings;
    manager_->GetSettings(settings.Out());
    settings->put_LibraryIDBatchSize(size);
  }
  int32_t FilesInQueue() {
    int32_t files = -1;
    manager_->LibraryIDStatus(nullptr, &files);
    return files;
  }
  std::vector<EventCall> CallsOf(DISPID id) const {
    std::vector<EventCall> calls;
    for (const EventCall& call : sink_->Calls()) {
      if (call.id == id) calls.push_back(call);
    }
    return calls;
  }
  // Every file name of the LibraryIDListComplete lists so far, with how often it came.
  std::map<std::u16string, int> Identified() const {
    std::map<std::u16string, int> seen;
    for (const EventCall& call : CallsOf(kEventLibraryIDListComplete)) {
      for (const auto& name : NamesOf(call.args[0].object.Get())) ++seen[name];
    }
    return seen;
  }
};

TEST_F(LibraryIDTest, CallsNeedAQueueAndAnEmptyRunEndsAtOnce) {
  auto fresh = MakeObject<CPELKSonquixManager>();
  EXPECT_HR(E_FAIL, fresh->LibraryIDAdd(Bstr(u"/lib/a.wav").Get()));
  EXPECT_HR(E_FAIL, fresh->LibraryIDStart(0));
  EXPECT_HR(E_FAIL, fresh->LibraryIDRemove(Bstr(u"/lib/a.wav").Get()));

  EXPECT_HR(E_INVALIDARG, manager_->LibraryIDAdd(Bstr(u"").Get()));
  EXPECT_HR(E_INVALIDARG, manager_->LibraryIDAdd(nullptr));
  EXPECT_HR(E_INVALIDARG, manager_->LibraryIDAddFileInfo(nullptr));
  EXPECT_HR(E_INVALIDARG, manager_->LibraryIDStart(SONQUIX_RETURN_SINGLE | SONQUIX_RETURN_ALL));
  EXPECT_HR(E_INVALIDARG, manager_->LibraryID(nullptr, 0));
  EXPECT_HR(E_INVALIDARG, manager_->LibraryID(MakeObject<CPelkFileInfoList>().Get(), 0));
  EXPECT_TRUE(sink_->Calls().empty());

  // Nothing runs: both stops come back, and a start fires one completion with six zeros.
  EXPECT_HR(S_OK, manager_->LibraryIDStop(1));
  EXPECT_HR(S_OK, manager_->LibraryIDStop(0));
  EXPECT_HR(S_OK, manager_->LibraryIDStart(0));
  ASSERT_EQ(sink_->Ids(), (std::vector<DISPID>{kEventLibraryIDComplete}));
  EXPECT_EQ(CountersOf(sink_->Calls()[0]), (std::vector<int32_t>{0, 0, 0, 0, 0, 0}));
  int32_t running = -1;
  EXPECT_HR(S_OK, manager_->LibraryIDStatus(&running, nullptr));
  EXPECT_EQ(running, 0);

  // Removing a file that is nowhere is fine; a queued one leaves.
  ASSERT_HR(S_OK, manager_->LibraryIDAdd(Bstr(u"/lib/a.wav").Get()));
  EXPECT_HR(S_OK, manager_->LibraryIDRemove(Bstr(u"/lib/b.wav").Get()));
  EXPECT_EQ(FilesInQueue(), 1);
  EXPECT_HR(S_OK, manager_->LibraryIDRemove(Bstr(u"/LIB/A.WAV").Get()));
  EXPECT_EQ(FilesInQueue(), 0);
}

TEST_F(LibraryIDTest, TrackModeKeepsTheQueueAndNeverCountsExact) {
  FakeDisc disc = Album(u"The Band", u"Known", {u"Song 0"});
  fake_->ScriptText(u"Song 0", {.kind = kLookupOne, .discs = {{disc, 1}}});
  Queue(u"t", 3);
  ASSERT_HR(S_OK, manager_->LibraryIDStart(SONQUIX_RETURN_ALL | kByText));
  EXPECT_EQ(sink_->CountOf(kEventLibraryIDListStarted), 3u);
  EXPECT_EQ(sink_->CountOf(kEventLibraryIDListComplete), 3u);
  ASSERT_EQ(sink_->CountOf(kEventLibraryIDComplete), 1u);
  for (DISPID id : {kEventLibraryIDListStarted, kEventLibraryIDListComplete,
                    kEventLibraryIDComplete}) {
    for (const EventCall& call : CallsOf(id)) EXPECT_EQ(CountersOf(call)[2], 0);
  }
  const std::vector<int32_t> done = CountersOf(CallsOf(kEventLibraryIDComplete)[0]);
  EXPECT_EQ(done[0], 3);
  EXPECT_EQ(done[1], 3);
  EXPECT_EQ(done[3] + done[4] + done[5], 3);  // fuzzy + no match + error
  EXPECT_EQ(FilesInQueue(), 3);

  // Not consumed: a second run identifies the same files again.
  ASSERT_HR(S_OK, manager_->LibraryIDStart(SONQUIX_RETURN_ALL | kByText));
  EXPECT_EQ(sink_->CountOf(kEventLibraryIDListComplete), 6u);
}

TEST_F(LibraryIDTest, AFolderWithinTheBatchSizeIsOneBatchWithoutTagsFirst) {
  // Tags come from the host on request; none is asked for before the batch starts.
  std::atomic<int> tags_before_start{0};
  std::atomic<bool> started{false};
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id == kEventLibraryIDListStarted) started = true;
    if (call.id == kEventGetTagInfo && !started) ++tags_before_start;
  });
  for (int i = 0; i < 150; ++i) {
    ASSERT_HR(S_OK,
              manager_->LibraryIDAdd(Bstr(u"/lib/one/" + U16(std::to_string(i)) + u".wav").Get()));
  }
  ASSERT_HR(S_OK, manager_->LibraryIDStart(kAlbumMode));
  ASSERT_EQ(sink_->CountOf(kEventLibraryIDListStarted), 1u);
  EXPECT_EQ(NamesOf(CallsOf(kEventLibraryIDListStarted)[0].args[0].object.Get()).size(), 150u);
  EXPECT_EQ(tags_before_start, 0);
  EXPECT_EQ(Identified().size(), 150u);
  EXPECT_EQ(FilesInQueue(), 0);
}

TEST_F(LibraryIDTest, ALargeFolderIsCutAlongAlbumsAfterItsTagsAreAcquired) {
  // 250 untagged files of five albums, interleaved on disk; the host supplies the tags.
  std::map<std::u16string, std::u16string> album_of;
  std::atomic<int> tags_before_start{0};
  std::atomic<bool> started{false};
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id == kEventLibraryIDListStarted) started = true;
    if (call.id != kEventGetTagInfo) return;
    if (!started) ++tags_before_start;
    const std::u16string& album = album_of.at(call.args[0].text);
    ImplOf<CPelkFileInfo>(call.args[1].object.Get())
        ->put_Tag(MakeFakeTag({.texts = {{u"Artist", u"Artist of " + album},
                                         {u"AlbumTitle", album},
                                         {u"Title", call.args[0].text}}})
                      .Get());
  });
  for (int i = 0; i < 250; ++i) {
    const std::u16string name = u"/lib/big/" + U16(std::to_string(1000 + i)) + u".wav";
    album_of[name] = u"Album " + U16(std::to_string(i % 5));
    ASSERT_HR(S_OK, manager_->LibraryIDAdd(Bstr(name).Get()));
  }
  ASSERT_HR(S_OK, manager_->LibraryIDStart(kAlbumMode));
  EXPECT_EQ(tags_before_start, 250);

  // Batch target 125 (250 halved): three whole albums, then the other two.
  std::vector<EventCall> batches = CallsOf(kEventLibraryIDListStarted);
  ASSERT_EQ(batches.size(), 2u);
  std::set<std::u16string> albums_seen;
  std::vector<size_t> sizes;
  for (const EventCall& batch : batches) {
    std::map<std::u16string, int> per_album;
    for (const auto& name : NamesOf(batch.args[0].object.Get())) ++per_album[album_of.at(name)];
    for (const auto& [album, files] : per_album) {
      EXPECT_EQ(files, 50) << Utf16ToUtf8(album);
      EXPECT_TRUE(albums_seen.insert(album).second) << "album split over batches";
    }
    sizes.push_back(NamesOf(batch.args[0].object.Get()).size());
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{150, 100}));
  const std::vector<int32_t> done = CountersOf(CallsOf(kEventLibraryIDComplete).back());
  EXPECT_EQ(done[0], 250);
  EXPECT_EQ(done[1], 250);
  EXPECT_EQ(Identified().size(), 250u);
}

TEST_F(LibraryIDTest, AFileOfTheFolderBeingWorkedOnJoinsItOnce) {
  SetBatchSize(10);
  Queue(u"a", 30);
  std::vector<HRESULT> answers;
  bool first = true;
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id != kEventLibraryIDListStarted || !first) return;
    first = false;
    const std::u16string in_batch = NamesOf(call.args[0].object.Get()).at(0);
    answers.push_back(manager_->LibraryIDAddFileInfo(Song(u"a", 99).Get()));
    answers.push_back(manager_->LibraryIDAddFileInfo(Song(u"a", 99).Get()));
    answers.push_back(manager_->LibraryIDAdd(Bstr(in_batch).Get()));
    answers.push_back(manager_->LibraryIDAddFileInfo(Song(u"b", 1).Get()));
    int32_t files = 0;
    manager_->LibraryIDStatus(nullptr, &files);
    answers.push_back(files);
  });
  ASSERT_HR(S_OK, manager_->LibraryIDStart(kAlbumMode));
  EXPECT_EQ(answers, (std::vector<HRESULT>{S_OK, E_INVALIDARG, E_INVALIDARG, S_OK, 32}));

  // The newcomer went with folder a, before the file of folder b.
  std::vector<std::u16string> order;
  for (const EventCall& call : CallsOf(kEventLibraryIDListComplete)) {
    for (const auto& name : NamesOf(call.args[0].object.Get())) order.push_back(name);
  }
  ASSERT_EQ(order.size(), 32u);
  EXPECT_EQ(order.back(), u"/lib/b/1.wav");
  EXPECT_EQ(std::count(order.begin(), order.end(), u"/lib/a/99.wav"), 1);
  const std::vector<int32_t> done = CountersOf(CallsOf(kEventLibraryIDComplete).back());
  EXPECT_EQ(done[0], 32);
  EXPECT_EQ(done[1], 32);
}

TEST_F(LibraryIDTest, AStoppedAlbumRunContinuesWhereItStopped) {
  SetBatchSize(10);
  Queue(u"a", 30);
  Queue(u"b", 5);
  // The second batch is refused as it starts: the run ends with it popped but not identified.
  sink_->AbortOn(kEventLibraryIDListStarted, 1, 1);
  EXPECT_HR(E_ABORT, manager_->LibraryIDStart(kAlbumMode));
  ASSERT_EQ(sink_->CountOf(kEventLibraryIDComplete), 1u);
  const std::vector<int32_t> stopped = CountersOf(CallsOf(kEventLibraryIDComplete)[0]);
  const int32_t done_first = stopped[0];
  ASSERT_GT(done_first, 0);
  ASSERT_LT(done_first, 30);
  EXPECT_EQ(stopped[1], 35);
  // What is left is spread over the queue, the folder list and the batch list.
  EXPECT_EQ(FilesInQueue(), 35 - done_first);
  const std::vector<std::u16string> pending =
      NamesOf(CallsOf(kEventLibraryIDListStarted)[1].args[0].object.Get());

  sink_->ClearAbort(kEventLibraryIDListStarted);
  ASSERT_HR(S_OK, manager_->LibraryIDStart(kAlbumMode));
  std::vector<EventCall> batches = CallsOf(kEventLibraryIDListStarted);
  ASSERT_GT(batches.size(), 2u);
  EXPECT_EQ(NamesOf(batches[2].args[0].object.Get()), pending);  // the batch left behind first
  const std::vector<int32_t> resumed = CountersOf(CallsOf(kEventLibraryIDComplete)[1]);
  EXPECT_EQ(resumed[0], 35 - done_first);
  EXPECT_EQ(resumed[1], 35 - done_first);
  const std::map<std::u16string, int> seen = Identified();
  EXPECT_EQ(seen.size(), 35u);
  for (const auto& [name, times] : seen) EXPECT_EQ(times, 1) << Utf16ToUtf8(name);
  EXPECT_EQ(FilesInQueue(), 0);
}

TEST_F(LibraryIDTest, ARunRefusesRestartsAndStopsFromItsOwnHandler) {
  SetBatchSize(10);
  Queue(u"a", 30);
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false;
  std::vector<HRESULT> answers;
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id == kEventLibraryIDListStarted && answers.empty()) {
      auto list = MakeObject<CPelkFileInfoList>();
      list->AddFileInfo(Song(u"x", 1).Get());
      answers.push_back(manager_->LibraryIDStart(kAlbumMode | SONQUIX_LOOKUP_ASYNC));
      answers.push_back(manager_->LibraryID(list.Get(), kAlbumMode));
      // On the run's own thread a waiting stop only asks; the run ends at its next test.
      answers.push_back(manager_->LibraryIDStop(1));
    }
    if (call.id == kEventLibraryIDComplete) {
      std::lock_guard lock(mutex);
      ended = true;
      changed.notify_all();
    }
  });
  ASSERT_HR(S_OK, manager_->LibraryIDStart(kAlbumMode | SONQUIX_LOOKUP_ASYNC));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return ended; }));
  }
  EXPECT_EQ(answers, (std::vector<HRESULT>{E_ACCESSDENIED, E_ACCESSDENIED, S_OK}));
  EXPECT_EQ(sink_->CountOf(kEventLibraryIDListComplete), 0u);
  EXPECT_EQ(FilesInQueue(), 30);
  manager_->WaitForBackgroundWork();
  EXPECT_EQ(sink_->CountOf(kEventLibraryIDComplete), 1u);
}

// One thread adds and removes files while runs go; another starts and stops them. Every file
// added and never asked to leave is identified exactly once over all runs, or is still queued
// for the last one; each run's counters agree with the lists it reported.
TEST_F(LibraryIDTest, FilesAreConservedWhileTheHostAddsRemovesStopsAndRestarts) {
  for (int f = 0; f < 8; ++f) Queue(u"f" + U16(std::to_string(f)), 10);
  std::set<std::u16string> added, removal_asked;
  for (int f = 0; f < 8; ++f) {
    for (int i = 0; i < 10; ++i) {
      added.insert(u"/lib/f" + U16(std::to_string(f)) + u"/" + U16(std::to_string(i)) + u".wav");
    }
  }

  std::thread editor([&] {
    std::mt19937 random(7);
    std::vector<std::u16string> names(added.begin(), added.end());
    for (int k = 0; k < 300; ++k) {
      if (random() % 3 == 0 && !names.empty()) {
        const std::u16string name = names[random() % names.size()];
        removal_asked.insert(name);
        manager_->LibraryIDRemove(Bstr(name).Get());
      } else {
        const int folder = static_cast<int>(random() % 10);
        ComPtr<CPelkFileInfo> song = Song(u"f" + U16(std::to_string(folder)), 100 + k);
        Bstr name;
        song->get_Filename(name.Out());
        if (SUCCEEDED(manager_->LibraryIDAddFileInfo(song.Get()))) {
          added.insert(std::u16string(name.View()));
          names.emplace_back(name.View());
        }
      }
      if (k % 16 == 0) std::this_thread::yield();
    }
  });
  std::thread driver([&] {
    std::mt19937 random(11);
    for (int k = 0; k < 60; ++k) {
      switch (random() % 4) {
        case 0:
        case 1: manager_->LibraryIDStart(kAlbumMode | SONQUIX_LOOKUP_ASYNC); break;
        case 2: manager_->LibraryIDStop(1); break;
        default: manager_->LibraryIDStop(0); break;
      }
      for (int spin = static_cast<int>(random() % 2000); spin > 0; --spin) {
        std::this_thread::yield();
      }
    }
  });
  editor.join();
  driver.join();

  // The last run goes to the end of the queue, with nothing changing meanwhile.
  manager_->LibraryIDStop(1);
  ASSERT_HR(S_OK, manager_->LibraryIDStart(kAlbumMode));
  EXPECT_EQ(FilesInQueue(), 0);

  const std::map<std::u16string, int> seen = Identified();
  for (const std::u16string& name : added) {
    const auto it = seen.find(name);
    const int times = it == seen.end() ? 0 : it->second;
    if (removal_asked.count(name)) {
      EXPECT_LE(times, 1) << Utf16ToUtf8(name);
    } else {
      EXPECT_EQ(times, 1) << Utf16ToUtf8(name);
    }
  }
  for (const auto& [name, times] : seen) EXPECT_TRUE(added.count(name)) << Utf16ToUtf8(name);

  // Runs do not overlap: each completion closes the lists reported since the previous one.
  int32_t reported = 0;
  std::vector<int32_t> last;
  for (const EventCall& call : sink_->Calls()) {
    if (call.id == kEventLibraryIDListComplete) {
      reported += static_cast<int32_t>(NamesOf(call.args[0].object.Get()).size());
    } else if (call.id == kEventLibraryIDComplete) {
      last = CountersOf(call);
      EXPECT_EQ(last[0], reported);
      EXPECT_EQ(last[2] + last[3] + last[4] + last[5], last[0]);
      reported = 0;
    }
  }
  ASSERT_EQ(last.size(), 6u);
  EXPECT_EQ(last[0], last[1]);  // the last run did all it counted
}

}  // namespace
}  // namespace pelk::testing
