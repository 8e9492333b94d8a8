#include "model/file_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <thread>

#include "control/control_objects.h"
#include "control/current_control.h"
#include "model/file_info_list.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

// Every score computation builds one score tag, so counting FileTag creations counts them.
std::atomic<int> g_tag_creations{0};
HRESULT CountingGetObject(REFCLSID clsid, REFIID iid, void** object) {
  if (clsid == CLSID_PelkFileTag) ++g_tag_creations;
  return FakeControlGetObject(clsid, iid, object);
}

std::shared_ptr<FakeLookupControl> g_shared_fake;
ComPtr<ILookupControl> FakeSharedControl() {
  return g_shared_fake ? g_shared_fake->Control() : nullptr;
}

class FileInfoTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetLookupControlSource(nullptr);
    g_shared_fake.reset();
  }

  ComPtr<IDiscInfo> Disc(int32_t track) { return MakeFakeDisc({blue_, track, true}); }
  static Bstr Text(std::u16string_view text) { return Bstr(text); }
  ComPtr<IFileTag> Tag(const char16_t* artist, const char16_t* album, const char16_t* title) {
    return MakeFakeTag({.texts = {{u"Artist", artist}, {u"AlbumTitle", album}, {u"Title", title}}});
  }
  // A record for a file of the album, with its own tag, matched to track `track`.
  ComPtr<CPelkFileInfo> Matched(int32_t track, const char16_t* path = u"/m/x.mp3") {
    auto record = MakeObject<CPelkFileInfo>();
    EXPECT_HR(S_OK, record->put_Filename(Text(path).Get()));
    EXPECT_HR(S_OK, record->put_Disc(Disc(track).Get()));
    EXPECT_HR(S_OK, record->put_TrackNum(track));
    return record;
  }
  // A waveform candidate list whose one disc names (artist, title).
  ComPtr<CPelkFileInfoList> Candidates(const char16_t* artist, const char16_t* title) {
    FakeDisc disc = fake_->AddDisc({.album = u"Hints", .artist = artist, .tracks = {{title}}});
    auto list = MakeObject<CPelkFileInfoList>();
    EXPECT_HR(S_OK, list->AddFileInfoFields(nullptr, nullptr, 0, 1, nullptr,
                                            MakeFakeDisc({disc, 1, false}).Get(), 0));
    return list;
  }
  void Hint(CPelkFileInfo* record, const char16_t* artist, const char16_t* title) {
    EXPECT_HR(S_OK, record->PutWFList(Candidates(artist, title).Get()));
  }
  // An integer property read through its getter.
  static int32_t Value(CPelkFileInfo* record, HRESULT (CPelkFileInfo::*get)(int32_t*)) {
    int32_t value = -99;
    EXPECT_HR(S_OK, (record->*get)(&value));
    return value;
  }
  int32_t ScoreOf(CPelkFileInfo* record) {
    int32_t score = -7;
    EXPECT_HR(S_OK, record->GetScore(&score));
    return score;
  }
  std::u16string SortKey(HRESULT (CPelkFileInfo::*get)(char16_t*, size_t), CPelkFileInfo* r,
                         size_t size = CPelkFileInfo::kSortFolderSize) {
    std::u16string buffer(size, u'#');
    EXPECT_HR(S_OK, (r->*get)(buffer.data(), size));
    return buffer.substr(0, std::min(buffer.find(u'\0'), buffer.size()));
  }

  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  ScopedControlLibrary library_{*fake_, &CountingGetObject};
  FakeDisc blue_ = fake_->AddDisc({.album = u"Blue",
                                   .artist = u"Joni Mitchell",
                                   .identifier = u"DISC-BLUE",
                                   .tracks = {{u"All I Want"},
                                              {u"My Old Man"},
                                              {u"Little Green"},
                                              {u"Carey"},
                                              {u"Blue"},
                                              {u"California"},
                                              {u"This Flight Tonight"},
                                              {u"A Case of You"}}});
};

TEST_F(FileInfoTest, NewRecordDefaults) {
  auto record = MakeObject<CPelkFileInfo>();
  EXPECT_EQ(Value(record.Get(), &CPelkFileInfo::get_MatchType), MATCH_TYPE_NONE);
  EXPECT_EQ(Value(record.Get(), &CPelkFileInfo::get_SonquixMatchCode), SONQUIX_MATCH_NONE);
  EXPECT_EQ(Value(record.Get(), &CPelkFileInfo::get_PELKMatchCode), 1);
  EXPECT_EQ(Value(record.Get(), &CPelkFileInfo::get_Options), 0x3310);
  EXPECT_EQ(Value(record.Get(), &CPelkFileInfo::get_TrackNum), 0);
  EXPECT_EQ(ScoreOf(record.Get()), -1);
  BSTR name = reinterpret_cast<BSTR>(1);
  EXPECT_HR(S_OK, record->get_Filename(&name));
  EXPECT_EQ(name, nullptr);
  ComPtr<IFileTag> tag;
  EXPECT_HR(S_OK, record->get_Tag(tag.Out()));
  EXPECT_FALSE(tag);
  EXPECT_FALSE(record->Taken() || record->TagAcquired() || record->FingerprintAcquired());

  EXPECT_HR(E_POINTER, record->get_Filename(nullptr));
  EXPECT_HR(E_POINTER, record->get_Options(nullptr));
  EXPECT_HR(E_POINTER, record->GetScore(nullptr));
  EXPECT_HR(E_POINTER, record->GetWFList(nullptr));
}

TEST_F(FileInfoTest, PublicInterfacesAndLateBinding) {
  ComPtr<IPelkFileInfo> first = MakeObject<CPelkFileInfo>().As<IPelkFileInfo>();
  ComPtr<IPelkFileInfo2_6> latest = first.As<IPelkFileInfo2_6>();
  ASSERT_TRUE(latest);
  EXPECT_TRUE(first.As<IPelkFileInfo2>());
  ComPtr<ISupportErrorInfo> errors = first.As<ISupportErrorInfo>();
  ASSERT_TRUE(errors);
  EXPECT_HR(S_OK, errors->InterfaceSupportsErrorInfo(IPelkFileInfo::kIid));
  EXPECT_HR(S_FALSE, errors->InterfaceSupportsErrorInfo(IPelkFileInfo2_6::kIid));
  EXPECT_TRUE(ImplOf<CPelkFileInfo>(first.Get()));

  ComPtr<IDispatch> dispatch = first.As<IDispatch>();
  auto id_of = [&](const char16_t* name) {
    DISPID id = 0;
    OLECHAR* names[] = {const_cast<OLECHAR*>(name)};
    EXPECT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
  };
  EXPECT_EQ(id_of(u"filename"), 1);
  EXPECT_EQ(id_of(u"SonquixMatchCode"), 7);
  EXPECT_EQ(id_of(u"PutExtDataSerialized"), 0xe);
  EXPECT_EQ(id_of(u"MatchType"), 0x64);
  EXPECT_EQ(id_of(u"RetrieveData"), 0x65);

  // Put TrackNum = 5 late-bound, then read it back.
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_I4;
  arg.lVal = 5;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&arg, &named, 1, 1};
  ASSERT_HR(S_OK, dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put,
                                   nullptr, nullptr, nullptr));
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  ASSERT_HR(S_OK, dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                   &result, nullptr, nullptr));
  EXPECT_EQ(result->lVal, 5);
}

TEST_F(FileInfoTest, ScoreIsCachedUntilFilenameTrackNumDiscOrOrigTagChange) {
  auto record = Matched(3);
  ASSERT_HR(S_OK, record->put_OrigTag(Tag(u"Joni Mitchell", u"Blue", u"Little Green").Get()));
  g_tag_creations = 0;
  const int32_t score = ScoreOf(record.Get());
  EXPECT_GE(score, 0);
  EXPECT_LE(score, 100);
  EXPECT_EQ(g_tag_creations, 1);

  // None of these recompute the score.
  ComPtr<CPelkFileInfoList> list = MakeObject<CPelkFileInfoList>();
  EXPECT_HR(S_OK, record->put_Tag(Tag(u"a", u"b", u"c").Get()));
  EXPECT_HR(S_OK, record->put_MatchType(MATCH_TYPE_WF));
  EXPECT_HR(S_OK, record->PutWFList(list.Get()));
  EXPECT_HR(E_INVALIDARG, record->PutWFList(nullptr));  // keeps the stored list
  ComPtr<IPelkFileInfoList> held;
  ASSERT_HR(S_OK, record->GetWFList(held.Out()));
  EXPECT_TRUE(SameObject(held.Get(), list.Get()));
  EXPECT_HR(S_OK, record->put_TrackCount(12));
  EXPECT_HR(S_OK, record->put_SonquixMatchCode(2));
  EXPECT_HR(S_OK, record->put_PELKMatchCode(4));
  EXPECT_HR(S_OK, record->set_Options(SONQUIX_DISABLE_FILENAME_PARSING));
  EXPECT_HR(S_OK, record->put_Fingerprint(nullptr));
  EXPECT_HR(S_OK, record->PutExtData(nullptr));
  EXPECT_EQ(ScoreOf(record.Get()), score);
  EXPECT_EQ(g_tag_creations, 1);

  // Each of these does.
  int expected = 1;
  auto recomputes = [&](HRESULT set) {
    EXPECT_HR(S_OK, set);
    ScoreOf(record.Get());
    EXPECT_EQ(g_tag_creations, ++expected);
  };
  recomputes(record->put_Filename(Text(u"/m/y.mp3").Get()));
  recomputes(record->put_TrackNum(3));
  recomputes(record->put_Disc(Disc(3).Get()));
  recomputes(record->put_OrigTag(nullptr));

  // A record without a disc scores -1 and builds nothing.
  EXPECT_HR(S_OK, record->put_Disc(nullptr));
  EXPECT_EQ(ScoreOf(record.Get()), -1);
  EXPECT_EQ(g_tag_creations, expected);
}

TEST_F(FileInfoTest, ScoreFailuresGiveZeroAndAreNotCached) {
  auto record = Matched(0);  // a disc without a current track cannot be scored
  int32_t score = 55;
  EXPECT_HR(E_FAIL, record->GetScore(&score));
  EXPECT_EQ(score, 0);
  SetControlGetters(nullptr, nullptr, nullptr);  // no score tag can be made
  ASSERT_HR(S_OK, record->put_Disc(Disc(2).Get()));
  EXPECT_HR(E_FAIL, record->GetScore(&score));
  static int handle;
  SetControlGetters(&handle, &CountingGetObject, nullptr);
  EXPECT_HR(S_OK, record->GetScore(&score));
  EXPECT_GE(score, 0);
}

TEST_F(FileInfoTest, ScoreTagTakesTheWaveformHintUnlessPureWaveform) {
  auto record = Matched(5);
  ASSERT_HR(S_OK, record->put_OrigTag(Tag(u"", u"Blue", u"Own Title").Get()));
  Hint(record.Get(), u"Hint Artist", u"Hint Title");
  // A list without suggestions does not replace the hint.
  ASSERT_HR(S_OK, record->PutWFList(MakeObject<CPelkFileInfoList>().Get()));
  ComPtr<IFileTag> tag;
  ASSERT_HR(S_OK, record->GetTagForScore(tag.Out()));
  FakeTagData data = TagDataOf(tag.Get());
  EXPECT_EQ(data.texts[u"Artist"], u"Hint Artist");  // empty in the file's tag
  EXPECT_EQ(data.texts[u"Title"], u"Own Title");     // the file's own wins
  EXPECT_EQ(data.texts[u"AlbumTitle"], u"Blue");

  ASSERT_HR(S_OK, record->put_MatchType(MATCH_TYPE_WF));
  ASSERT_HR(S_OK, record->GetTagForScore(tag.Out()));
  EXPECT_EQ(TagDataOf(tag.Get()).texts[u"Artist"], u"");
  EXPECT_HR(E_POINTER, record->GetTagForScore(nullptr));
}

TEST_F(FileInfoTest, HighConfidenceThresholdsByMatchType) {
  // Find tags that make the record score exactly 79, 80, 89 and 90, by degrading the title and
  // the artist step by step.
  const std::u16string title = u"This Flight Tonight", artist = u"Joni Mitchell";
  std::map<int32_t, ComPtr<IFileTag>> tag_for_score;
  auto probe = Matched(7);
  for (size_t t = 0; t <= title.size(); ++t) {
    for (size_t a = 0; a <= artist.size(); ++a) {
      const std::u16string bad_title = title.substr(0, title.size() - t) + std::u16string(t, u'x');
      const std::u16string bad_artist =
          artist.substr(0, artist.size() - a) + std::u16string(a, u'q');
      ComPtr<IFileTag> tag = Tag(bad_artist.c_str(), u"Blue", bad_title.c_str());
      ASSERT_HR(S_OK, probe->put_OrigTag(tag.Get()));
      tag_for_score.emplace(ScoreOf(probe.Get()), tag);
    }
  }
  struct Expect {
    int32_t type;
    bool at79, at80, at89, at90;
  };
  const Expect expectations[] = {
      {MATCH_TYPE_TAGID, true, true, true, true},
      {MATCH_TYPE_ITUNESID, true, true, true, true},
      {MATCH_TYPE_WF_HINT, false, true, true, true},
      {MATCH_TYPE_WF, false, true, true, true},
      {MATCH_TYPE_TXT_ON_WF, false, true, true, true},
      {MATCH_TYPE_TXT_HINT, false, false, false, true},
      {MATCH_TYPE_TXT, false, false, false, true},
      {MATCH_TYPE_UNKNOWN, false, false, false, true},
      {MATCH_TYPE_NONE, false, false, false, false},
  };
  for (int32_t score : {79, 80, 89, 90}) {
    ASSERT_TRUE(tag_for_score.count(score)) << "no probe tag scores " << score;
    auto record = Matched(7);
    ASSERT_HR(S_OK, record->put_OrigTag(tag_for_score[score].Get()));
    for (const Expect& e : expectations) {
      ASSERT_HR(S_OK, record->put_MatchType(e.type));
      bool flag = false;
      ASSERT_HR(S_OK, record->IsHighConfidence(&flag));
      const bool expected = score == 79   ? e.at79
                            : score == 80 ? e.at80
                            : score == 89 ? e.at89
                                          : e.at90;
      EXPECT_EQ(flag, expected) << "type " << e.type << " score " << score;
    }
    // The album-associated kind and unknown values keep what the caller passed in.
    for (int32_t type : {int32_t{MATCH_TYPE_ALBUM_ASSOCIATED}, 0, 15}) {
      ASSERT_HR(S_OK, record->put_MatchType(type));
      for (bool passed : {false, true}) {
        bool flag = passed;
        ASSERT_HR(S_OK, record->IsHighConfidence(&flag));
        EXPECT_EQ(flag, passed);
      }
    }
  }
  auto record = Matched(0);
  bool flag = true;
  EXPECT_HR(E_POINTER, record->IsHighConfidence(nullptr));
  EXPECT_HR(E_FAIL, record->IsHighConfidence(&flag));  // the score's failure, flag untouched
  EXPECT_TRUE(flag);
}

TEST_F(FileInfoTest, BestTrackTriesTheHintFirst) {
  ComPtr<IDiscInfo> disc = Disc(1);
  auto record = Matched(1, u"/m/Joni Mitchell/Blue/08 A Case of You.mp3");
  int32_t track = 0, score = 0;
  ASSERT_HR(S_OK, record->GetBestTrackNumForDisc(disc.Get(), &track, &score));
  EXPECT_EQ(track, 8);
  EXPECT_EQ(score, 100);
  // The caller's disc is not moved to the best track.
  int32_t current = 0;
  ASSERT_HR(S_OK, disc->get_CurrentTrack(&current));
  EXPECT_EQ(current, 1);

  // A hint beyond the track count is ignored: every track is scored.
  auto beyond = Matched(1, u"/m/Joni Mitchell/Blue/12 A Case of You.mp3");
  ASSERT_HR(S_OK, beyond->GetBestTrackNumForDisc(disc.Get(), &track, &score));
  EXPECT_EQ(track, 8);
  EXPECT_LT(score, 100);
}

TEST_F(FileInfoTest, BestTrackPassesOverGapsInTheNumbering) {
  // Tracks 2 and 5 of a disc numbered 1..6 are not held; the hint points into a gap.
  FakeDisc gappy = fake_->AddDisc({.album = u"Gaps",
                                   .artist = u"Band",
                                   .tracks = {{u"One"},
                                              {.title = u"Two", .missing = true},
                                              {u"Three"},
                                              {u"Four"},
                                              {.title = u"Five", .missing = true},
                                              {u"Six Feet Under"}}});
  ComPtr<IDiscInfo> disc = MakeFakeDisc({gappy, 1, true});
  auto record = MakeObject<CPelkFileInfo>();
  ASSERT_HR(S_OK, record->put_Filename(Text(u"/m/05 Six Feet Under.mp3").Get()));
  ASSERT_HR(S_OK, record->put_OrigTag(Tag(u"Band", u"Gaps", u"Six Feet Under").Get()));
  int32_t track = 0, score = 0;
  ASSERT_HR(S_OK, record->GetBestTrackNumForDisc(disc.Get(), &track, &score));
  EXPECT_EQ(track, 6);
  EXPECT_GE(score, 90);
}

TEST_F(FileInfoTest, BestTrackTiesKeepTheHintElseTheLowestTrack) {
  FakeDisc same = fake_->AddDisc(
      {.album = u"Loops", .artist = u"Band", .tracks = {{u"Loop"}, {u"Loop"}, {u"Loop"}}});
  ComPtr<IDiscInfo> disc = MakeFakeDisc({same, 1, true});
  auto tied = [&](const char16_t* path) {
    auto record = MakeObject<CPelkFileInfo>();
    EXPECT_HR(S_OK, record->put_Filename(Text(path).Get()));
    // The scorer then sees no file name, hence no hint bonus: all tracks score the same.
    EXPECT_HR(S_OK, record->set_Options(SONQUIX_DISABLE_FILENAME_PARSING));
    // A near title: equal scores below 100, so no track ends the search early.
    EXPECT_HR(S_OK, record->put_OrigTag(Tag(u"Band", u"Loops", u"Loap").Get()));
    int32_t track = -1, score = -1;
    EXPECT_HR(S_OK, record->GetBestTrackNumForDisc(disc.Get(), &track, &score));
    EXPECT_GT(score, 0);
    EXPECT_LT(score, 100);
    return track;
  };
  EXPECT_EQ(tied(u"/m/02 Loop.mp3"), 2);
  EXPECT_EQ(tied(u"/m/Loop.mp3"), 1);
  EXPECT_EQ(tied(u"/m/09 Loop.mp3"), 1);

  // Nothing in common with any track: track 0, score 0.
  auto stranger = MakeObject<CPelkFileInfo>();
  ASSERT_HR(S_OK, stranger->set_Options(SONQUIX_DISABLE_FILENAME_PARSING));
  int32_t track = -1, score = -1;
  ASSERT_HR(S_OK, stranger->GetBestTrackNumForDisc(disc.Get(), &track, &score));
  EXPECT_EQ(track, 0);
  EXPECT_EQ(score, 0);
}

TEST_F(FileInfoTest, BestTrackFailures) {
  auto record = Matched(1);
  int32_t track = -5, score = -5;
  EXPECT_HR(E_INVALIDARG, record->GetBestTrackNumForDisc(nullptr, &track, &score));
  EXPECT_HR(E_POINTER, record->GetBestTrackNumForDisc(Disc(1).Get(), nullptr, &score));
  EXPECT_HR(E_POINTER, record->GetBestTrackNumForDisc(Disc(1).Get(), &track, nullptr));
  FakeDisc empty = fake_->AddDisc({.album = u"Nothing"});
  EXPECT_HR(E_INVALIDARG,
            record->GetBestTrackNumForDisc(MakeFakeDisc({empty, 0, true}).Get(), &track, &score));
  // A disc without a current track cannot be prepared: the outputs stay untouched.
  EXPECT_HR(E_FAIL, record->GetBestTrackNumForDisc(Disc(0).Get(), &track, &score));
  EXPECT_EQ(track, -5);
  EXPECT_EQ(score, -5);
}

TEST_F(FileInfoTest, SortKeysWithEitherSeparator) {
  auto windows = MakeObject<CPelkFileInfo>();
  ASSERT_HR(S_OK, windows->put_Filename(Text(u"D:\\Music\\Album\\01.mp3").Get()));
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFolder, windows.Get()), u"D:\\Music\\Album");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFilename, windows.Get()), u"01.mp3");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFilename, windows.Get(), 5), u"01.m");

  auto posix = MakeObject<CPelkFileInfo>();
  ASSERT_HR(S_OK, posix->put_Filename(Text(u"/music/Album/01.mp3").Get()));
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFolder, posix.Get()), u"/music/Album");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFilename, posix.Get()), u"01.mp3");
  // Filled once: a later file name does not change them.
  ASSERT_HR(S_OK, posix->put_Filename(Text(u"/other/02.mp3").Get()));
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFolder, posix.Get()), u"/music/Album");

  auto bare = MakeObject<CPelkFileInfo>();
  ASSERT_HR(S_OK, bare->put_Filename(Text(u"01.mp3").Get()));
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFolder, bare.Get()), u"01.mp3");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFilename, bare.Get()), u"01.mp3");

  // The folder is found within the first 259 characters only.
  auto deep = MakeObject<CPelkFileInfo>();
  const std::u16string long_dir(300, u'd');
  ASSERT_HR(S_OK, deep->put_Filename(Text(u"/a/" + long_dir + u"/x.mp3").Get()));
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFolder, deep.Get()), u"/a");
}

TEST_F(FileInfoTest, SortAlbumAndArtist) {
  auto record = MakeObject<CPelkFileInfo>();
  // Nothing to sort by yet: the buffer is left as it was.
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortAlbum, record.Get(), 4), u"####");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortFolder, record.Get(), 4), u"####");
  EXPECT_HR(E_POINTER, record->get_SortAlbum(nullptr, 4));

  ASSERT_HR(S_OK, record->put_Tag(Tag(u"", u"Blue", u"River").Get()));
  Hint(record.Get(), u"Hint Artist", u"Hint Title");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortAlbum, record.Get(), 128), u"Blue");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortArtist, record.Get(), 128), u"Hint Artist");

  auto tagged = MakeObject<CPelkFileInfo>();
  ASSERT_HR(S_OK, tagged->put_Tag(Tag(u"Joni", u"", u"River").Get()));
  Hint(tagged.Get(), u"Hint Artist", u"Hint Title");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortArtist, tagged.Get(), 128), u"Joni");
  EXPECT_EQ(SortKey(&CPelkFileInfo::get_SortAlbum, tagged.Get(), 4), u"####");  // empty album
}

TEST_F(FileInfoTest, CopyPropertiesCopiesThroughTheTargetsSetters) {
  auto source = Matched(3, u"/m/03 x.mp3");
  ASSERT_HR(S_OK, source->put_Tag(Tag(u"a", u"b", u"c").Get()));
  ASSERT_HR(S_OK, source->put_OrigTag(Tag(u"own", u"b", u"c").Get()));
  ASSERT_HR(S_OK, source->put_TrackCount(8));
  ASSERT_HR(S_OK, source->put_SonquixMatchCode(2));
  ASSERT_HR(S_OK, source->put_MatchType(MATCH_TYPE_TXT));
  ASSERT_HR(S_OK, source->put_PELKMatchCode(6));
  ASSERT_HR(S_OK, source->set_Options(0x3320));
  source->SetTaken(true);
  Hint(source.Get(), u"wf", u"wf");

  auto target = Matched(5, u"/old.mp3");
  ScoreOf(target.Get());
  g_tag_creations = 0;
  ASSERT_HR(S_OK, source->CopyPropertiesTo(target.Get()));
  BSTR name = nullptr;
  ASSERT_HR(S_OK, target->get_Filename(&name));
  Bstr owned = Bstr::Attach(name);
  EXPECT_EQ(owned.View(), u"/m/03 x.mp3");
  EXPECT_EQ(Value(target.Get(), &CPelkFileInfo::get_TrackNum), 3);
  EXPECT_EQ(Value(target.Get(), &CPelkFileInfo::get_TrackCount), 8);
  EXPECT_EQ(Value(target.Get(), &CPelkFileInfo::get_SonquixMatchCode), 2);
  EXPECT_EQ(Value(target.Get(), &CPelkFileInfo::get_MatchType), MATCH_TYPE_TXT);
  EXPECT_EQ(Value(target.Get(), &CPelkFileInfo::get_PELKMatchCode), 6);
  EXPECT_EQ(Value(target.Get(), &CPelkFileInfo::get_Options), 0x3320);
  EXPECT_TRUE(target->Taken());
  EXPECT_TRUE(target->TagAcquired());
  EXPECT_TRUE(target->FingerprintAcquired());
  ComPtr<IFileTag> orig;
  target->get_OrigTag(orig.Out());
  EXPECT_FALSE(orig);  // not copied
  EXPECT_EQ(target->WFArtist(), u"");
  ScoreOf(target.Get());
  EXPECT_EQ(g_tag_creations, 1);  // the target's score was reset by its setters

  EXPECT_HR(E_INVALIDARG, source->CopyPropertiesTo(nullptr));
}

TEST_F(FileInfoTest, ExtDataIsMadeOnceFromTheDisc) {
  auto record = MakeObject<CPelkFileInfo>();
  ComPtr<IExtData> ext;
  EXPECT_HR(S_OK, record->GetExtData(ext.Out()));
  EXPECT_FALSE(ext);  // no disc
  BSTR text = nullptr;
  EXPECT_HR(E_FAIL, record->GetExtDataSerialized(&text));
  EXPECT_HR(E_POINTER, record->GetExtData(nullptr));

  record = Matched(4);
  ASSERT_HR(S_OK, record->GetExtData(ext.Out()));
  ASSERT_TRUE(ext);
  ComPtr<IExtData> again;
  ASSERT_HR(S_OK, record->GetExtData(again.Out()));
  EXPECT_EQ(ext, again);
  ASSERT_HR(S_OK, record->GetExtDataSerialized(&text));
  EXPECT_EQ(Bstr::Attach(text).View(), u"ext:DISC-BLUE:4");

  // Unreadable text changes nothing; readable text replaces the held data.
  EXPECT_HR(S_OK, record->PutExtDataSerialized(Text(u"garbage").Get()));
  ASSERT_HR(S_OK, record->GetExtData(again.Out()));
  EXPECT_EQ(ext, again);
  EXPECT_HR(S_OK, record->PutExtDataSerialized(Text(u"ext:OTHER:2").Get()));
  ASSERT_HR(S_OK, record->GetExtDataSerialized(&text));
  EXPECT_EQ(Bstr::Attach(text).View(), u"ext:OTHER:2");
  EXPECT_HR(S_OK, record->PutExtData(nullptr));  // cleared: made again from the disc
  ASSERT_HR(S_OK, record->GetExtDataSerialized(&text));
  EXPECT_EQ(Bstr::Attach(text).View(), u"ext:DISC-BLUE:4");
}

TEST_F(FileInfoTest, DataListElementThroughTheSharedControl) {
  fake_->SetDataListElement(3, 1, u"DISC-BLUE", {7, 8});
  auto record = MakeObject<CPelkFileInfo>();
  ComPtr<IDataListElement> element;
  EXPECT_HR(E_POINTER, record->GetDataListElement(3, 1, nullptr));
  EXPECT_HR(TYPE_E_ELEMENTNOTFOUND, record->GetDataListElement(3, 1, element.Out()));
  record = Matched(2);
  EXPECT_HR(E_INVALIDARG, record->GetDataListElement(0, 1, element.Out()));
  EXPECT_HR(E_NOTIMPL, record->GetDataListElement(3, 1, element.Out()));  // no control held

  g_shared_fake = fake_;
  SetLookupControlSource(&FakeSharedControl);
  ASSERT_HR(S_OK, record->GetDataListElement(3, 1, element.Out()));
  ASSERT_TRUE(element);
  int32_t count = 0;
  element->get_Count(&count);
  EXPECT_EQ(count, 2);
  EXPECT_HR(E_FAIL, record->GetDataListElement(4, 1, element.Out()));  // the control's answer
  EXPECT_FALSE(element);
}

TEST_F(FileInfoTest, RetrieveDataRebuildsTheTag) {
  auto record = MakeObject<CPelkFileInfo>();
  ComPtr<IFileTag> kept = Tag(u"kept", u"kept", u"kept");
  ASSERT_HR(S_OK, record->put_Tag(kept.Get()));
  EXPECT_HR(E_INVALIDARG, record->RetrieveData(0));

  FakeDisc failing =
      fake_->AddDisc({.album = u"F", .tracks = {{u"t"}}, .retrieve_result = E_ACCESSDENIED});
  ASSERT_HR(S_OK, record->put_Disc(MakeFakeDisc({failing, 1, true}).Get()));
  ASSERT_HR(S_OK, record->put_TrackNum(1));
  EXPECT_HR(E_ACCESSDENIED, record->RetrieveData(0));
  ComPtr<IFileTag> tag;
  ASSERT_HR(S_OK, record->get_Tag(tag.Out()));
  EXPECT_EQ(tag, kept);
  // The lock was released: another thread gets through at once.
  auto other = std::async(std::launch::async, [&] {
    int32_t n = 0;
    return record->get_TrackNum(&n);
  });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_HR(S_OK, other.get());

  auto matched = Matched(6, u"/m/06.mp3");
  ASSERT_HR(S_OK, matched->RetrieveData(0));
  ASSERT_HR(S_OK, matched->get_Tag(tag.Out()));
  EXPECT_EQ(TagDataOf(tag.Get()).texts[u"Title"], u"California");
  EXPECT_TRUE(matched->TagAcquired());
}

TEST_F(FileInfoTest, TwoThreadsOnOneRecord) {
  auto record = Matched(3, u"/m/Joni Mitchell/Blue/03 Little Green.mp3");
  ComPtr<IDiscInfo> disc = Disc(1);
  ComPtr<CPelkFileInfoList> candidates = Candidates(u"wf", u"wf");
  std::atomic<bool> failed{false};
  auto writer = std::thread([&] {
    for (int i = 0; i < 200; ++i) {
      if (FAILED(record->put_TrackNum(1 + i % 8)) ||
          FAILED(record->put_OrigTag(Tag(u"Joni Mitchell", u"Blue", u"Carey").Get())) ||
          FAILED(record->put_Disc(Disc(1 + i % 8).Get()))) {
        failed = true;
      }
      int32_t score = 0;
      if (FAILED(record->GetScore(&score)) || score < 0 || score > 100) failed = true;
    }
  });
  for (int i = 0; i < 50; ++i) {
    int32_t track = 0, score = 0;
    bool flag = false;
    char16_t buffer[CPelkFileInfo::kSortFolderSize];
    if (FAILED(record->GetBestTrackNumForDisc(disc.Get(), &track, &score)) ||
        FAILED(record->IsHighConfidence(&flag)) ||
        FAILED(record->get_SortFolder(buffer, CPelkFileInfo::kSortFolderSize))) {
      failed = true;
    }
    if (FAILED(record->PutWFList(candidates.Get()))) failed = true;
  }
  writer.join();
  EXPECT_FALSE(failed);
}

}  // namespace
}  // namespace pelk::testing
