#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "model/file_info_lists.h"
#include "runtime/utf.h"
#include "tests/manager/identification_fixture.h"

namespace pelk::testing {
namespace {

// Files whose tags name them fully: looked up by text only, no host requests.
constexpr int32_t kByText = SONQUIX_DISABLE_WF_QUERIES | SONQUIX_GET_TAG_FROM_APP;

class AlbumIDTest : public IdentificationTest {
 protected:
  struct AlbumResult {
    HRESULT hr = S_OK;
    int32_t match_code = 0;
    ComPtr<IPelkFileInfoLists> lists;
    int32_t Count() const {
      int32_t n = 0;
      if (lists) lists->get_Count(&n);
      return n;
    }
    ComPtr<IPelkFileInfoList> List(int32_t i) const {
      ComPtr<IPelkFileInfoList> list;
      if (lists) lists->GetFileInfoList(i, list.Out());
      return list;
    }
    std::vector<int32_t> Codes() const {
      std::vector<int32_t> codes;
      for (int32_t i = 1; i <= Count(); ++i) {
        int32_t code = 0;
        List(i)->GetListMatchCode(&code);
        codes.push_back(code);
      }
      return codes;
    }
  };
  AlbumResult RunAlbum(IPelkFileInfoList* list, int32_t options) {
    AlbumResult result;
    result.hr = manager_->AlbumID(list, options, &result.match_code, result.lists.Out());
    return result;
  }

  // One tagged file per title of a new disc, each answered by a text lookup with its track.
  ComPtr<CPelkFileInfoList> AlbumFiles(const std::u16string& album,
                                       const std::vector<std::u16string>& titles,
                                       bool compilation = false) {
    FakeDiscData data{.album = album, .artist = u"The Band", .compilation = compilation};
    for (const auto& title : titles) data.tracks.push_back({.title = title});
    FakeDisc disc = fake_->AddDisc(std::move(data));
    auto list = MakeObject<CPelkFileInfoList>();
    for (size_t i = 0; i < titles.size(); ++i) {
      const int32_t track = static_cast<int32_t>(i + 1);
      fake_->ScriptText(titles[i], {.kind = kLookupOne, .discs = {{disc, track}}});
      list->AddFileInfo(
          TaggedFile(
              u"/m/" + album + u"/0" + Utf8ToUtf16(std::to_string(track)) + u".wav",
              {.texts = {{u"Artist", u"The Band"}, {u"AlbumTitle", album}, {u"Title", titles[i]}}})
              .Get());
    }
    return list;
  }

  std::vector<std::pair<int32_t, std::u16string>> AlbumStatuses() const {
    std::vector<std::pair<int32_t, std::u16string>> statuses;
    for (const EventCall& call : sink_->Calls()) {
      if (call.id == kEventAlbumIDStatusUpdate)
        statuses.emplace_back(call.args[0].i4, call.args[1].text);
    }
    return statuses;
  }
  std::vector<EventCall> Completions() const {
    std::vector<EventCall> done;
    for (const EventCall& call : sink_->Calls()) {
      if (call.id == kEventAlbumIDComplete) done.push_back(call);
    }
    return done;
  }
};

TEST_F(AlbumIDTest, ArgumentsAreCheckedBeforeAnythingHappens) {
  auto list = AlbumFiles(u"Solo", {u"Alone"});
  auto empty = MakeObject<CPelkFileInfoList>();
  int32_t code = 0;
  ComPtr<IPelkFileInfoLists> lists;
  EXPECT_HR(E_INVALIDARG, manager_->AlbumID(nullptr, 0, &code, lists.Out()));
  EXPECT_HR(E_INVALIDARG, manager_->AlbumID(empty.Get(), 0, &code, lists.Out()));
  EXPECT_HR(E_INVALIDARG, manager_->AlbumID(list.Get(), 0x30 | kByText, &code, lists.Out()));
  EXPECT_HR(E_INVALIDARG, manager_->AlbumID(list.Get(), kByText, &code, lists.Out()));
  EXPECT_TRUE(sink_->Calls().empty());
  EXPECT_TRUE(fake_->Calls().empty());

  // 0 is the default set: single-answer mode, stored on the records; one file is answered alone.
  AlbumResult result = RunAlbum(list.Get(), 0);
  ASSERT_HR(S_OK, result.hr);
  int32_t options = 0;
  ComPtr<IPelkFileInfo> first;
  list->GetFileInfo(1, first.Out());
  ImplOf<CPelkFileInfo>(first.Get())->get_Options(&options);
  EXPECT_EQ(options, SONQUIX_DEFAULT_OPTIONS);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(result.Codes(), (std::vector<int32_t>{LIST_MATCH_TRACK_SINGLE}));
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].args[0].i4, 3);
}

TEST_F(AlbumIDTest, AnAlbumOfFourIsAcceptedAndItsLastFilesJoinWithoutALookup) {
  auto list = AlbumFiles(u"Four", {u"North", u"East", u"South", u"West"});
  AlbumResult result = RunAlbum(list.Get(), SONQUIX_RETURN_SINGLE | kByText);
  ASSERT_HR(S_OK, result.hr);
  EXPECT_EQ(result.match_code, 3);
  ASSERT_EQ(result.Codes(), (std::vector<int32_t>{LIST_MATCH_ALBUM_SINGLE}));

  // The first two files share a disc; the other two score 100 against its tracks.
  EXPECT_EQ(fake_->CountOf("TextLookup"), 2u);
  int32_t querying = 0;
  for (const auto& [status, name] : AlbumStatuses()) querying += status == STATUS_ALBUMID_Querying;
  EXPECT_EQ(querying, 2);

  ComPtr<IPelkFileInfoList> album = result.List(1);
  ASSERT_EQ(ImplOf<CPelkFileInfoList>(album.Get())->Records().size(), 4u);
  int32_t associated = 0;
  for (const ComPtr<IPelkFileInfo>& entry : ImplOf<CPelkFileInfoList>(album.Get())->Records()) {
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get());
    EXPECT_EQ(SonquixCodeOf(record.Get()), SONQUIX_MATCH_EXACT);
    associated += MatchTypeOf(record.Get()) == MATCH_TYPE_ALBUM_ASSOCIATED;
    // Completed onto the full disc at the record's own track.
    ComPtr<IDiscInfo> disc;
    record->get_Disc(disc.Out());
    int32_t tracks = 0, current = 0, track = 0;
    disc->get_TrackCount(&tracks);
    disc->get_CurrentTrack(&current);
    record->get_TrackNum(&track);
    EXPECT_EQ(tracks, 4);
    EXPECT_EQ(current, track);
  }
  EXPECT_EQ(associated, 2);
}

TEST_F(AlbumIDTest, AlbumsBelowTheMinimumAreSplitIntoSingleAnswers) {
  // Two files are no album; four of a compilation are not either (five needed).
  auto pair = AlbumFiles(u"Pair", {u"Left", u"Right"});
  AlbumResult two = RunAlbum(pair.Get(), SONQUIX_RETURN_SINGLE | kByText);
  ASSERT_HR(S_OK, two.hr);
  EXPECT_EQ(two.match_code, 3);
  EXPECT_EQ(two.Codes(), (std::vector<int32_t>(2, LIST_MATCH_TRACK_SINGLE)));

  auto various = AlbumFiles(u"Hits", {u"Spring", u"Summer", u"Autumn", u"Winter"}, true);
  fake_->ClearCalls();
  AlbumResult four = RunAlbum(various.Get(), SONQUIX_RETURN_SINGLE | kByText);
  ASSERT_HR(S_OK, four.hr);
  EXPECT_EQ(four.match_code, 3);
  EXPECT_EQ(four.Codes(), (std::vector<int32_t>(4, LIST_MATCH_TRACK_SINGLE)));
  // The two files that only joined by association are looked up after all.
  EXPECT_EQ(fake_->CountOf("TextLookup"), 4u);
  std::set<std::u16string> files;
  for (int32_t i = 1; i <= four.Count(); ++i) {
    Bstr name;
    four.List(i)->GetFileInfoFields(1, name.Out(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr);
    files.insert(std::u16string(name.View()));
  }
  EXPECT_EQ(files.size(), 4u);
}

TEST_F(AlbumIDTest, AnAbortAtQueryingEndsTheCallWithoutResults) {
  auto list = AlbumFiles(u"Stop", {u"One", u"Two", u"Three"});
  sink_->AbortOn(kEventAlbumIDStatusUpdate, 1);
  AlbumResult result = RunAlbum(list.Get(), SONQUIX_RETURN_SINGLE | kByText);
  EXPECT_HR(E_ABORT, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_FALSE(result.lists);
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
  const auto statuses = AlbumStatuses();
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[0].first, STATUS_ALBUMID_Querying);
  EXPECT_EQ(statuses[1], (std::pair<int32_t, std::u16string>{STATUS_SONQUIX_Error, u""}));
  const auto done = Completions();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].args[0].i4, 1);
  EXPECT_EQ(done[0].args[1].object.As<IUnknown>().Get(), list.As<IUnknown>().Get());
  EXPECT_FALSE(done[0].args[2].object);
}

TEST_F(AlbumIDTest, TheCoreGivenAnEmptyListFailsAfterTheFailureEvents) {
  // The library queue calls the core directly; an empty folder list is a failure, never S_OK.
  auto empty = MakeObject<CPelkFileInfoList>();
  int32_t code = 0;
  EXPECT_HR(E_INVALIDARG,
            manager_->AlbumIDCore(empty.Get(), SONQUIX_RETURN_SINGLE | kByText, &code, nullptr));
  EXPECT_EQ(code, 1);
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].args[0].i4, 1);
  EXPECT_EQ(AlbumStatuses().size(), 1u);
}

TEST_F(AlbumIDTest, AllCandidatesWithoutAnAlbumReportNoMatch) {
  fake_->SetDefaultAnswer({.kind = kLookupNone});
  auto list = MakeObject<CPelkFileInfoList>();
  list->AddFileInfo(TaggedFile(u"/m/x/1.wav", {.texts = {{u"Title", u"Unknown 1"}}}).Get());
  list->AddFileInfo(TaggedFile(u"/m/x/2.wav", {.texts = {{u"Title", u"Unknown 2"}}}).Get());
  AlbumResult result = RunAlbum(list.Get(), SONQUIX_RETURN_ALL | kByText);
  ASSERT_HR(S_OK, result.hr);
  EXPECT_EQ(result.Codes(), (std::vector<int32_t>(2, LIST_MATCH_NONE)));
  EXPECT_EQ(result.match_code, 1);
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].args[0].i4, 1);
  EXPECT_EQ(Completions()[0].args[2].object.As<IUnknown>().Get(),
            result.lists.As<IUnknown>().Get());
}

TEST_F(AlbumIDTest, AnAsynchronousCallAnswersThroughTheEventOnly) {
  auto list = AlbumFiles(u"Later", {u"Soon"});
  std::atomic<bool> returned{false}, returned_before_first_event{false};
  std::atomic<bool> first{true};
  sink_->OnEvent([&](const EventCall&) {
    if (!first.exchange(false)) return;
    // Hold the worker's first event until the call has returned (bounded, so a synchronous
    // implementation fails instead of hanging).
    for (int i = 0; i < 5000 && !returned.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    returned_before_first_event = returned.load();
  });
  int32_t code = 77;
  IPelkFileInfoLists* untouched = reinterpret_cast<IPelkFileInfoLists*>(0x10);
  IPelkFileInfoLists* lists = untouched;
  EXPECT_HR(S_OK,
            manager_->AlbumID(list.Get(), SONQUIX_LOOKUP_ASYNC | SONQUIX_RETURN_SINGLE | kByText,
                              &code, &lists));
  returned = true;
  manager_->WaitForBackgroundWork();
  EXPECT_TRUE(returned_before_first_event);
  EXPECT_EQ(code, 77);
  EXPECT_EQ(lists, untouched);
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].args[0].i4, 3);
}

TEST_F(AlbumIDTest, ShutdownDuringAnAsynchronousCallEndsItWithTheFailureEvents) {
  auto list = AlbumFiles(u"Late", {u"First", u"Second", u"Third"});
  std::atomic<bool> holding{false};
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id != kEventAlbumIDStatusUpdate || holding.exchange(true)) return;
    // Hold the worker in its first status event until the host has begun to shut down.
    while (manager_->IsInitialized()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_HR(S_OK,
            manager_->AlbumID(list.Get(), SONQUIX_LOOKUP_ASYNC | SONQUIX_RETURN_SINGLE | kByText,
                              nullptr, nullptr));
  while (!holding.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_HR(S_OK, manager_->Shutdown());
  // Shutdown returned after the worker ended: no file was looked up, and the host heard the end.
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
  const auto statuses = AlbumStatuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), (std::pair<int32_t, std::u16string>{STATUS_SONQUIX_Error, u""}));
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].args[0].i4, 1);
}

TEST_F(AlbumIDTest, EveryFileFailingReturnsTheLastFailureAfterTheCompletion) {
  constexpr HRESULT kRejected = static_cast<HRESULT>(0x80040155);
  fake_->SetDefaultAnswer({.hr = kRejected});
  auto list = MakeObject<CPelkFileInfoList>();
  for (const char16_t* name : {u"/m/bad/1.wav", u"/m/bad/2.wav"}) {
    list->AddFileInfo(TaggedFile(name, {.texts = {{u"Artist", u"A"}, {u"Title", name}}}).Get());
  }
  // Waveform lookups stay allowed (there is no fingerprint), so every kind of lookup failed.
  AlbumResult result = RunAlbum(list.Get(), SONQUIX_RETURN_SINGLE | SONQUIX_GET_TAG_FROM_APP);
  EXPECT_HR(kRejected, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(result.Codes(), (std::vector<int32_t>(2, LIST_MATCH_ERROR)));
  for (int32_t i = 1; i <= result.Count(); ++i) {
    int32_t sonquix_code = 0;
    result.List(i)->GetFileInfoFields(1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &sonquix_code);
    EXPECT_EQ(sonquix_code, SONQUIX_MATCH_ERROR);
  }
  const auto done = Completions();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].args[0].i4, 1);
  EXPECT_EQ(done[0].args[2].object.As<IUnknown>().Get(), result.lists.As<IUnknown>().Get());
}

// --- the options and stops the library queue's album mode leans on ---

// Where each file given ended up: how many result lists hold it, over the whole collection.
std::map<std::u16string, int> FilesInResult(IPelkFileInfoLists* lists) {
  std::map<std::u16string, int> seen;
  int32_t count = 0;
  lists->get_Count(&count);
  for (int32_t i = 1; i <= count; ++i) {
    ComPtr<IPelkFileInfoList> list;
    lists->GetFileInfoList(i, list.Out());
    std::set<std::u16string> names;  // a file counts once per list
    for (const ComPtr<IPelkFileInfo>& entry : ImplOf<CPelkFileInfoList>(list.Get())->Records()) {
      Bstr name;
      entry->get_Filename(name.Out());
      names.insert(std::u16string(name.View()));
    }
    for (const auto& name : names) ++seen[name];
  }
  return seen;
}

TEST_F(AlbumIDTest, HighConfidenceResultsDropOnlyTheSingleListsOfFilesInAnAlbum) {
  // Four files of one album, each also matching a track of another disc, and a stray file with
  // a single candidate of its own.
  const FakeDisc album = Album(u"The Band", u"Seasons", {u"North", u"East", u"South", u"West"});
  const FakeDisc other = Album(u"Someone", u"Elsewhere", {u"Compass"});
  const FakeDisc lone = Album(u"Loner", u"Alone", {u"Stray"});
  const std::vector<std::u16string> titles{u"North", u"East", u"South", u"West"};
  auto list = MakeObject<CPelkFileInfoList>();
  for (int32_t t = 1; t <= 4; ++t) {
    const std::u16string& title = titles[t - 1];
    fake_->ScriptText(title, {.kind = kLookupSeveral, .discs = {{album, t}, {other, 1}}});
    list->AddFileInfo(TaggedFile(u"/m/seasons/" + title + u".wav",
                                 {.texts = {{u"Artist", u"The Band"}, {u"Title", title}}})
                          .Get());
  }
  fake_->ScriptText(u"Stray", {.kind = kLookupOne, .discs = {{lone, 1}}});
  list->AddFileInfo(TaggedFile(u"/m/stray.wav", {.texts = {{u"Title", u"Stray"}}}).Get());

  AlbumResult plain = RunAlbum(list.Get(), SONQUIX_RETURN_ALL | kByText);
  ASSERT_HR(S_OK, plain.hr);
  EXPECT_EQ(plain.match_code, 2);
  AlbumResult sure =
      RunAlbum(list.Get(), SONQUIX_RETURN_ALL | SONQUIX_HIGH_CONFIDENCE_RESULTS | kByText);
  ASSERT_HR(S_OK, sure.hr);
  EXPECT_EQ(sure.match_code, 2);

  // Without the option the album files also keep their lists of one candidate.
  const auto plain_files = FilesInResult(plain.lists.Get());
  for (const auto& title : titles) EXPECT_GE(plain_files.at(u"/m/seasons/" + title + u".wav"), 2);
  // With it each album file is in the album only; the stray file keeps its list.
  const auto sure_files = FilesInResult(sure.lists.Get());
  for (const auto& title : titles) EXPECT_EQ(sure_files.at(u"/m/seasons/" + title + u".wav"), 1);
  EXPECT_EQ(sure_files.at(u"/m/stray.wav"), 1);
  // The album itself, and the stray file's list.
  EXPECT_EQ(plain.Count(), 6);
  ASSERT_EQ(sure.Count(), 2);
  int32_t album_size = 0;
  sure.List(1)->get_Count(&album_size);
  EXPECT_EQ(album_size, 4);
}

class AlbumPreQueryTest : public AlbumIDTest {
 protected:
  // An identified file, a fully tagged one, and two the tags do not name (one waveform each).
  void SetUp() override {
    AlbumIDTest::SetUp();
    const FakeDisc disc = Album(u"The Band", u"Sounds", {u"Hum", u"Buzz", u"Click", u"Pop"});
    fake_->ScriptIdentifier(u"ID-1", {disc, 1});
    fake_->ScriptWaveform(u"3 3 3", {.kind = kLookupOne, .discs = {{disc, 3}}});
    fake_->ScriptWaveform(u"4 4 4", {.kind = kLookupOne, .discs = {{disc, 4}}});
    fake_->SetDefaultAnswer({.kind = kLookupNone});
    list_->AddFileInfo(TaggedFile(u"/m/s/a.wav", {.texts = {{u"Identifier", u"ID-1"}}}).Get());
    list_->AddFileInfo(
        TaggedFile(u"/m/s/b.wav", {.texts = {{u"Artist", u"The Band"}, {u"Title", u"Buzz"}}})
            .Get());
    auto c = TaggedFile(u"/m/s/c.wav", {.texts = {{u"Title", u"Click"}}});
    c->put_Fingerprint(Fingerprint("3 3 3").Get());
    list_->AddFileInfo(c.Get());
    auto d = TaggedFile(u"/m/s/d.wav", {});
    d->put_Fingerprint(Fingerprint("4 4 4").Get());
    list_->AddFileInfo(d.Get());
    fake_->ClearCalls();
  }
  std::vector<std::u16string> PreQueried() const {
    std::vector<std::u16string> files;
    for (const auto& [status, name] : AlbumStatuses()) {
      if (status == STATUS_ALBUMID_QueryingWF) files.push_back(name);
    }
    return files;
  }
  static constexpr int32_t kOptions = SONQUIX_RETURN_SINGLE | SONQUIX_GET_TAG_FROM_APP;
  ComPtr<CPelkFileInfoList> list_ = MakeObject<CPelkFileInfoList>();
};

TEST_F(AlbumPreQueryTest, OnlyFilesTheirTagsDoNotNameAreLookedUpByWaveformFirst) {
  size_t waveforms_before_querying = 0;
  bool querying_seen = false;
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id == kEventAlbumIDStatusUpdate && call.args[0].i4 == STATUS_ALBUMID_Querying &&
        !querying_seen) {
      querying_seen = true;
      waveforms_before_querying = fake_->CountOf("WaveformLookup");
    }
  });
  AlbumResult result = RunAlbum(list_.Get(), kOptions);
  ASSERT_HR(S_OK, result.hr);
  EXPECT_EQ(PreQueried(), (std::vector<std::u16string>{u"/m/s/c.wav", u"/m/s/d.wav"}));
  EXPECT_EQ(waveforms_before_querying, 2u);
  // The main lookups reuse the candidates the pre-query left on the records.
  EXPECT_EQ(fake_->CountOf("WaveformLookup"), 2u);
  const auto files = FilesInResult(result.lists.Get());
  EXPECT_EQ(files.size(), 4u);
}

TEST_F(AlbumPreQueryTest, DisablingWaveformQueriesSkipsThePreQuery) {
  AlbumResult result = RunAlbum(list_.Get(), kOptions | SONQUIX_DISABLE_WF_QUERIES);
  ASSERT_HR(S_OK, result.hr);
  EXPECT_TRUE(PreQueried().empty());
  EXPECT_EQ(fake_->CountOf("WaveformLookup"), 0u);
}

TEST_F(AlbumPreQueryTest, AnAbortEndsOnlyThePreQueryAndTheCallGoesOn) {
  sink_->AbortOn(kEventAlbumIDStatusUpdate, 1);
  sink_->OnEvent([&](const EventCall& call) {
    // Only the first status (the first waveform pre-query) is answered with Abort.
    if (call.id == kEventAlbumIDStatusUpdate) sink_->ClearAbort(kEventAlbumIDStatusUpdate);
  });
  AlbumResult result = RunAlbum(list_.Get(), kOptions);
  ASSERT_HR(S_OK, result.hr);
  EXPECT_EQ(PreQueried(), (std::vector<std::u16string>{u"/m/s/c.wav"}));
  EXPECT_EQ(result.match_code, 3);
  int32_t querying = 0;
  for (const auto& [status, name] : AlbumStatuses()) querying += status == STATUS_ALBUMID_Querying;
  EXPECT_GE(querying, 1);
  EXPECT_EQ(FilesInResult(result.lists.Get()).size(), 4u);
}

TEST_F(AlbumPreQueryTest, AFileWithoutATagEndsThePreQueryButNotTheCall) {
  auto untagged = File(u"/m/s/e.wav");
  // Tags come from neither the host nor the file, so the record keeps none.
  auto list = MakeObject<CPelkFileInfoList>();
  list->AddFileInfo(untagged.Get());
  for (const ComPtr<IPelkFileInfo>& entry : list_->Records()) list->AddFileInfo(entry.Get());
  AlbumResult result = RunAlbum(list.Get(), SONQUIX_RETURN_SINGLE);
  ASSERT_HR(S_OK, result.hr);
  EXPECT_TRUE(PreQueried().empty());
  EXPECT_EQ(FilesInResult(result.lists.Get()).size(), 5u);
}

// Lookup failures of the facilities 0x2FA to 0x2FD stop the whole call; their neighbours do not.
class AlbumStopTest : public AlbumIDTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(AlbumStopTest, AFailureOfAStoppingFacilityEndsTheCall) {
  const HRESULT failure = static_cast<HRESULT>(0x80000000u | (GetParam() << 16) | 0x12);
  const bool stops = GetParam() >= 0x2FA && GetParam() <= 0x2FD;
  auto list = AlbumFiles(u"Halt", {u"One", u"Two", u"Three"});
  // Every lookup for the second file fails (it is the only one without a scripted answer).
  fake_->ScriptText(u"Two", {.hr = failure});
  fake_->SetDefaultAnswer({.hr = failure});
  // Waveform lookups stay allowed: without a fingerprint they fail too, so the file's whole
  // identification fails with the lookup's code.
  AlbumResult result = RunAlbum(list.Get(), SONQUIX_RETURN_SINGLE | SONQUIX_GET_TAG_FROM_APP);

  bool third_looked_up = false;
  for (const FakeCall& call : fake_->Calls()) {
    for (const auto& arg : call.args) third_looked_up |= arg.find(u"Three") != arg.npos;
  }
  std::vector<int32_t> statuses;
  for (const auto& [status, name] : AlbumStatuses()) {
    if (status == STATUS_ALBUMID_Querying || status == STATUS_ALBUMID_Queried ||
        status == STATUS_SONQUIX_Error)
      statuses.push_back(status);
  }
  if (stops) {
    // The failing file gets no Queried status, the third file is never looked up.
    EXPECT_HR(failure, result.hr);
    EXPECT_EQ(result.match_code, 1);
    EXPECT_FALSE(result.lists);
    EXPECT_FALSE(third_looked_up);
    EXPECT_EQ(statuses,
              (std::vector<int32_t>{STATUS_ALBUMID_Querying, STATUS_ALBUMID_Queried,
                                    STATUS_ALBUMID_Querying, STATUS_SONQUIX_Error}));
    const auto done = Completions();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].args[0].i4, 1);
    EXPECT_FALSE(done[0].args[2].object);
  } else {
    // An ordinary failure: that file becomes an error list and the call goes on.
    EXPECT_HR(S_OK, result.hr);
    EXPECT_TRUE(third_looked_up);
    ASSERT_TRUE(result.lists);
    EXPECT_EQ(FilesInResult(result.lists.Get()).size(), 3u);
    int32_t errors = 0;
    for (int32_t code : result.Codes()) errors += code == LIST_MATCH_ERROR;
    EXPECT_EQ(errors, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Facilities, AlbumStopTest,
                         ::testing::Values(0x2F9u, 0x2FAu, 0x2FBu, 0x2FCu, 0x2FDu, 0x2FEu),
                         [](const auto& info) {
                           char name[16];
                           std::snprintf(name, sizeof name, "Facility%X", info.param);
                           return std::string(name);
                         });

}  // namespace
}  // namespace pelk::testing
