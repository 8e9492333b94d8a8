#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "tests/manager/identification_fixture.h"

namespace pelk::testing {
namespace {

using TrackIDTest = IdentificationTest;

TEST_F(TrackIDTest, ArgumentsAreCheckedBeforeAnythingHappens) {
  auto record = File(u"/m/a.wav");
  int32_t code = 0;
  ComPtr<IPelkFileInfoList> list;
  EXPECT_HR(E_INVALIDARG, manager_->TrackID(nullptr, 0, &code, list.Out()));
  EXPECT_HR(E_INVALIDARG, manager_->TrackID(record.Get(), 0x30, &code, list.Out()));
  EXPECT_HR(E_INVALIDARG, manager_->TrackID(record.Get(), 0x100, &code, list.Out()));
  EXPECT_TRUE(sink_->Calls().empty());
  EXPECT_TRUE(fake_->Calls().empty());

  // 0 stands for the default set, which is stored on the record.
  Result result = Identify(record.Get(), 0);
  int32_t options = 0;
  record->get_Options(&options);
  EXPECT_EQ(options, SONQUIX_DEFAULT_OPTIONS);
  EXPECT_HR(S_OK, result.hr);
}

TEST_F(TrackIDTest, AnIdentifierMatchEndsASingleAnswerSearch) {
  FakeDisc disc = Album(u"Joni", u"Blue", {u"All I Want", u"My Old Man", u"River"}, u"D-1");
  fake_->ScriptIdentifier(u"T-3", {disc, 3, true}, 3);
  fake_->SetDefaultAnswer({.kind = kLookupOne, .discs = {{disc, 1}}});  // must not be asked
  auto record = TaggedFile(u"/m/river.wav", {.texts = {{u"Identifier", u"T-3"}}});
  record->put_Fingerprint(Fingerprint("1 2 3").Get());

  Result result = Identify(record.Get(), SONQUIX_RETURN_SINGLE | SONQUIX_GET_TAG_FROM_APP);
  ASSERT_HR(S_OK, result.hr);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(result.list_code, LIST_MATCH_TRACK_SINGLE);
  ASSERT_EQ(result.Count(), 1);
  auto found = result.Entry(1);
  EXPECT_EQ(MatchTypeOf(found.Get()), MATCH_TYPE_TAGID);
  int32_t pelk_code = 0, track = 0;
  found->get_PELKMatchCode(&pelk_code);
  found->get_TrackNum(&track);
  EXPECT_EQ(pelk_code, 3);
  EXPECT_EQ(track, 3);
  EXPECT_EQ(SonquixCodeOf(found.Get()), SONQUIX_MATCH_EXACT);
  EXPECT_EQ(fake_->CountOf("WaveformLookup"), 0u);
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
  // The completion event carries the same answer.
  ASSERT_EQ(sink_->CountOf(kEventTrackIDComplete), 1u);
  EXPECT_EQ(sink_->Calls().back().args[0].i4, 3);
}

TEST_F(TrackIDTest, StoreIdentifiersNameADiscAndATrackOnIt) {
  FakeDisc disc = Album(u"Joni", u"Blue", {u"All I Want", u"My Old Man", u"River", u"Blue"});
  fake_->ScriptIdentifierPair(u"A", u"B", {disc, 0, true});
  const int32_t options = SONQUIX_RETURN_SINGLE | SONQUIX_DISABLE_WF_QUERIES |
                          SONQUIX_DISABLE_TEXT_LOOKUPS | SONQUIX_GET_TAG_FROM_APP;
  auto tagged = [&](const char16_t* track) {
    return TaggedFile(u"/m/x.flac", {.texts = {{u"TrackNumber", track}},
                                     .fields = {{u"iTunes_PELK_IDs", u"12+A+B"}}});
  };
  auto third = tagged(u"3");
  Result result = Identify(third.Get(), options);
  ASSERT_EQ(result.match_code, 3);
  EXPECT_EQ(MatchTypeOf(result.Entry(1).Get()), MATCH_TYPE_ITUNESID);
  int32_t track = 0;
  result.Entry(1)->get_TrackNum(&track);
  EXPECT_EQ(track, 3);

  // Track 7 of 12 by the field, but the disc found has four tracks: no identifier match.
  Result beyond = Identify(tagged(u"7").Get(), options);
  EXPECT_HR(S_OK, beyond.hr);
  EXPECT_EQ(beyond.match_code, 1);
  EXPECT_EQ(beyond.list_code, LIST_MATCH_NONE);
}

// A waveform candidate for a file whose tag names its artist and album; the spelling of the
// title on the file side sets the score: (100 + 100 + title similarity) / 3, no hint.
class WaveformEndTest : public TrackIDTest {
 protected:
  Result IdentifyTitled(const std::u16string& title) {
    FakeDisc disc = Album(u"Nina Simone", u"Pastel Blues", {u"Be My Husband", u"Sinnerman"});
    fake_->ScriptWaveform(u"5 5 5", {.kind = kLookupOne, .discs = {{disc, 2}}});
    fake_->SetDefaultAnswer({.kind = kLookupNone});
    auto record = TaggedFile(u"/x/y/z.wav", {.texts = {{u"Artist", u"Nina Simone"},
                                                       {u"AlbumTitle", u"Pastel Blues"},
                                                       {u"Title", title}}});
    record->put_Fingerprint(Fingerprint("5 5 5").Get());
    return Identify(record.Get(), SONQUIX_RETURN_SINGLE | SONQUIX_GET_FP_FROM_APP);
  }
  static int32_t ScoreOf(const Result& result) {
    int32_t score = -1;
    if (result.Count() == 1) result.Entry(1)->GetScore(&score);
    return score;
  }
};

TEST_F(WaveformEndTest, ACandidateScoringNinetyEndsTheSearch) {
  Result result = IdentifyTitled(u"Sinnernun");  // title similarity 72
  EXPECT_EQ(ScoreOf(result), 90);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(MatchTypeOf(result.Entry(1).Get()), MATCH_TYPE_WF);
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
}

TEST_F(WaveformEndTest, BelowNinetyTheAnswerIsStillTheWaveformCandidate) {
  // In single-answer mode the waveform preferences skip the text lookups after a waveform
  // answer whatever its score; 89 only keeps it from being final at once.
  Result result = IdentifyTitled(u"Tinkerman");  // title similarity 68
  EXPECT_EQ(ScoreOf(result), 89);
  EXPECT_EQ(MatchTypeOf(result.Entry(1).Get()), MATCH_TYPE_WF);
  EXPECT_EQ(SonquixCodeOf(result.Entry(1).Get()), SONQUIX_MATCH_EXACT);  // waveform: 80 is enough
}

TEST_F(TrackIDTest, OwnTagTextLookupRunsWhenTheWaveformFindsNothing) {
  FakeDisc disc = Album(u"Nina Simone", u"Pastel Blues", {u"Be My Husband", u"Sinnerman"});
  fake_->ScriptWaveform(u"9 9", {.kind = kLookupNone});
  fake_->ScriptText(u"Sinnerman", {.kind = kLookupOne, .discs = {{disc, 2}}});
  auto record = TaggedFile(u"/m/s.wav", {.texts = {{u"Title", u"Sinnerman"}}});
  record->put_Fingerprint(Fingerprint("9 9").Get());
  Result result = Identify(record.Get(), SONQUIX_RETURN_ALL | SONQUIX_PREFER_WF_MATCHES |
                                             SONQUIX_GET_FP_FROM_APP | SONQUIX_GET_TAG_FROM_APP);
  EXPECT_EQ(fake_->CountOf("WaveformLookup"), 1u);
  ASSERT_EQ(result.Count(), 1);
  EXPECT_EQ(result.match_code, 2);  // every candidate, even a single one
  EXPECT_EQ(result.list_code, LIST_MATCH_TRACK_MULTIPLE);
  EXPECT_EQ(MatchTypeOf(result.Entry(1).Get()), MATCH_TYPE_TXT);
  EXPECT_EQ(SonquixCodeOf(result.Entry(1).Get()), SONQUIX_MATCH_ALL);
}

TEST_F(TrackIDTest, TextLookupsSendTheFileNameOnlyWithoutATitleAndNeverTheIdentifier) {
  const int32_t options =
      SONQUIX_RETURN_ALL | SONQUIX_DISABLE_WF_QUERIES | SONQUIX_GET_TAG_FROM_APP;
  auto titled = TaggedFile(u"/m/01 a.wav", {.texts = {{u"Title", u"A"}, {u"Identifier", u"?"}}});
  Identify(titled.Get(), options);
  auto untitled = TaggedFile(u"/m/02 b.wav", {.texts = {{u"Artist", u"X"}}});
  Identify(untitled.Get(), options);
  auto unparsed = TaggedFile(u"/m/03 c.wav", {.texts = {{u"Artist", u"X"}}});
  Identify(unparsed.Get(), options | SONQUIX_DISABLE_FILENAME_PARSING);

  std::vector<std::u16string> names;
  for (const FakeCall& call : fake_->Calls()) {
    if (call.op == "TextLookup") names.push_back(call.args[0]);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"(null)", u"/m/02 b.wav", u"(null)"}));
  // The identifier lookup found nothing, and the text lookup emptied the tag's identifier.
  ComPtr<IFileTag> tag;
  titled->get_Tag(tag.Out());
  EXPECT_EQ(TagDataOf(tag.Get()).texts[u"Identifier"], u"");
  EXPECT_EQ(fake_->CountOf("IdentifierLookup"), 1u);
}

TEST_F(TrackIDTest, NothingToLookUpGivesTheFileBackUnidentified) {
  auto record = File(u"/m/unknown.wav");
  Result result = Identify(record.Get(), SONQUIX_RETURN_SINGLE | SONQUIX_DISABLE_TEXT_LOOKUPS);
  EXPECT_HR(S_OK, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(result.list_code, LIST_MATCH_NONE);
  ASSERT_EQ(result.Count(), 1);
  ComPtr<CPelkFileInfo> copy = result.Entry(1);
  EXPECT_NE(copy.Get(), record.Get());
  Bstr name;
  copy->get_Filename(name.Out());
  EXPECT_EQ(name.View(), u"/m/unknown.wav");
}

TEST_F(TrackIDTest, AbortTwoStopsWaveformAndTextStepsButNotIdentifierLookups) {
  FakeDisc disc = Album(u"A", u"B", {u"C", u"D"});
  fake_->ScriptIdentifier(u"T", {disc, 1, true});
  fake_->SetDefaultAnswer({.kind = kLookupOne, .discs = {{disc, 2}}});
  sink_->AbortOn(kEventTrackIDStatusUpdate, 2);
  auto record = TaggedFile(u"/m/c.wav", {.texts = {{u"Identifier", u"T"}}});
  record->put_Fingerprint(Fingerprint("1").Get());

  Result result = Identify(record.Get(), SONQUIX_RETURN_ALL | SONQUIX_GET_TAG_FROM_APP);
  EXPECT_EQ(fake_->CountOf("IdentifierLookup"), 1u);
  EXPECT_EQ(fake_->CountOf("WaveformLookup"), 0u);
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
  // The abort drops what was found: the host gets its file back, and the completion event.
  EXPECT_HR(S_OK, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(result.list_code, LIST_MATCH_NONE);
  EXPECT_EQ(sink_->CountOf(kEventTrackIDComplete), 1u);

  // Abort = 1 stops the identifier lookup too.
  sink_->AbortOn(kEventTrackIDStatusUpdate, 1);
  fake_->ClearCalls();
  Identify(TaggedFile(u"/m/d.wav", {.texts = {{u"Identifier", u"T"}}}).Get(),
           SONQUIX_RETURN_ALL | SONQUIX_GET_TAG_FROM_APP);
  EXPECT_EQ(fake_->CountOf("IdentifierLookup"), 0u);
}

TEST_F(TrackIDTest, WhenEveryLookupFailsTheSelectedErrorComesBackAfterCompletion) {
  constexpr HRESULT kTextError = static_cast<HRESULT>(0x80040111u);
  fake_->SetDefaultAnswer({.hr = kTextError});
  auto record = TaggedFile(u"/m/e.wav", {.texts = {{u"Title", u"E"}}});
  record->put_Fingerprint(Fingerprint("4 4").Get());
  Result result = Identify(record.Get(), SONQUIX_RETURN_ALL | SONQUIX_GET_TAG_FROM_APP);
  EXPECT_HR(kTextError, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(result.list_code, LIST_MATCH_ERROR);
  ASSERT_EQ(result.Count(), 1);
  EXPECT_EQ(SonquixCodeOf(result.Entry(1).Get()), SONQUIX_MATCH_ERROR);
  ASSERT_EQ(sink_->CountOf(kEventTrackIDComplete), 1u);
  const EventCall complete = sink_->Calls().back();
  EXPECT_EQ(complete.id, kEventTrackIDComplete);
  EXPECT_EQ(complete.args[0].i4, 1);
}

TEST_F(TrackIDTest, TextCandidatesOfOneAlbumRunAreAlbumLevel) {
  FakeDisc disc = Album(u"A", u"B", {u"1", u"2", u"3", u"4"});
  FakeDisc other = Album(u"Z", u"Y", {u"1", u"2"});
  // Tracks 1, 2, 3 of one disc at positions 1-3; another disc at position 4.
  fake_->ScriptText(
      u"Q", {.kind = kLookupSeveral, .discs = {{disc, 1}, {disc, 2}, {disc, 3}, {other, 2}}});
  auto record = TaggedFile(u"/m/q.wav", {.texts = {{u"Title", u"Q"}}});
  Result result = Identify(
      record.Get(), SONQUIX_RETURN_ALL | SONQUIX_DISABLE_WF_QUERIES | SONQUIX_GET_TAG_FROM_APP);
  ASSERT_EQ(result.Count(), 4);
  std::map<int32_t, int> types;
  for (int32_t i = 1; i <= 4; ++i) ++types[MatchTypeOf(result.Entry(i).Get())];
  EXPECT_EQ(types[MATCH_TYPE_TXT_ALBUM_LEVEL], 3);
  EXPECT_EQ(types[MATCH_TYPE_TXT], 1);

  // Two candidates never make a run.
  fake_->ScriptText(u"P", {.kind = kLookupSeveral, .discs = {{disc, 1}, {disc, 2}}});
  Result pair = Identify(TaggedFile(u"/m/p.wav", {.texts = {{u"Title", u"P"}}}).Get(),
                         SONQUIX_RETURN_ALL | SONQUIX_DISABLE_WF_QUERIES);
  ASSERT_EQ(pair.Count(), 2);
  EXPECT_EQ(MatchTypeOf(pair.Entry(1).Get()), MATCH_TYPE_TXT);
}

TEST_F(TrackIDTest, ReturnedRecordsCarryFullDiscs) {
  FakeDisc disc = Album(u"A", u"B", {u"One", u"Two", u"Three"});
  fake_->ScriptText(u"Two", {.kind = kLookupOne, .discs = {{disc, 2}}});
  Result result = Identify(TaggedFile(u"/m/two.wav", {.texts = {{u"Title", u"Two"}}}).Get(),
                           SONQUIX_RETURN_SINGLE | SONQUIX_DISABLE_WF_QUERIES);
  ASSERT_EQ(result.Count(), 1);
  ComPtr<IDiscInfo> full;
  result.Entry(1)->get_Disc(full.Out());
  int32_t count = 0, current = 0;
  full->get_TrackCount(&count);
  full->get_CurrentTrack(&current);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(current, 2);
}

TEST_F(TrackIDTest, AsynchronousCallAnswersThroughTheEventOnly) {
  FakeDisc disc = Album(u"A", u"B", {u"One"});
  fake_->ScriptText(u"One", {.kind = kLookupOne, .discs = {{disc, 1}}});
  int32_t code = 77;
  ComPtr<IPelkFileInfoList> list;
  ASSERT_HR(S_OK, manager_->TrackID(
                      TaggedFile(u"/m/1.wav", {.texts = {{u"Title", u"One"}}}).Get(),
                      SONQUIX_LOOKUP_ASYNC | SONQUIX_RETURN_SINGLE | SONQUIX_DISABLE_WF_QUERIES,
                      &code, list.Out()));
  EXPECT_EQ(code, 77);
  EXPECT_FALSE(list);
  manager_->WaitForBackgroundWork();
  ASSERT_EQ(sink_->CountOf(kEventTrackIDComplete), 1u);
  EXPECT_EQ(sink_->Calls().back().args[0].i4, 3);
}

TEST_F(TrackIDTest, ShutdownDuringAnAsynchronousCallEndsItAtTheNextStatusEvent) {
  std::atomic<bool> waiting{false};
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id != kEventTrackIDStatusUpdate || waiting.exchange(true)) return;
    // Hold the worker in its first status event until the host has begun to shut down.
    while (manager_->IsInitialized()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  fake_->SetDefaultAnswer({.kind = kLookupNone});
  ASSERT_HR(S_OK, manager_->TrackID(
                      TaggedFile(u"/m/s.wav", {.texts = {{u"Title", u"S"}}}).Get(),
                      SONQUIX_LOOKUP_ASYNC | SONQUIX_RETURN_ALL | SONQUIX_DISABLE_WF_QUERIES,
                      nullptr, nullptr));
  while (!waiting.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_HR(S_OK, manager_->Shutdown());
  // Shutdown returned only after the worker ended; it made no lookup and still completed.
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
  ASSERT_EQ(sink_->CountOf(kEventTrackIDComplete), 1u);
  EXPECT_EQ(sink_->Calls().back().args[0].i4, 1);
}

}  // namespace
}  // namespace pelk::testing
