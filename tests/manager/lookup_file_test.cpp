// The single-call lookups: LookupFile's argument rules, its waveform and text phases and what
// it commits to the engine (read back from the fake control's call log), ResolveLookup's choice
// under the track-count rule, CompareTrackToFile, and the folder count.
#include <filesystem>
#include <fstream>

#include "manager/lookup_matching.h"
#include "runtime/error_info.h"
#include "runtime/utf.h"
#include "tests/manager/identification_fixture.h"

namespace pelk::testing {
namespace {

constexpr int32_t kWave = WAVEFORM_LOOKUP;
constexpr int32_t kText = TEXT_LOOKUP;

FakeTagData KindOfBlueTag() {
  return {.texts = {{u"Artist", u"Miles Davis"},
                    {u"AlbumTitle", u"Kind of Blue"},
                    {u"Title", u"So What"}}};
}

class LookupFileTest : public IdentificationTest {
 protected:
  void SetUp() override {
    IdentificationTest::SetUp();
    good_ = Album(u"Miles Davis", u"Kind of Blue", {u"So What", u"Freddie Freeloader"});
    poor_ = Album(u"Hank Williams", u"Honky Tonkin", {u"Lovesick Blues", u"Cold Cold Heart"});
    other_ = Album(u"Patsy Cline", u"Showcase", {u"Crazy", u"Walkin After Midnight"});
    fake_->SetDefaultAnswer({.kind = kLookupNone});
  }

  struct Lookup {
    HRESULT hr = S_OK;
    int32_t match_code = -1;
  };
  Lookup Run(int32_t mode, bool with_fp = true, FakeTagData tag = KindOfBlueTag(),
             const std::u16string& name = u"/music/track.mp3", int32_t on_completion = 0) {
    Lookup result;
    ComPtr<IFileTag> file_tag = MakeFakeTag(std::move(tag));
    ComPtr<IPelkSonquixFingerprint> fp = with_fp ? Fingerprint("7 7 7") : nullptr;
    result.hr = manager_->LookupFile(fp.Get(), Bstr(name).Get(), file_tag.Get(), mode,
                                     on_completion, &result.match_code);
    return result;
  }
  void Waveform(FakeAnswer answer) { fake_->ScriptWaveform(u"7 7 7", std::move(answer)); }
  void Text(FakeAnswer answer) { fake_->ScriptText(u"So What", std::move(answer)); }

  // What the engine was told to keep: "disc:<album>", "list:<count>", or "" for nothing.
  std::u16string Committed() const {
    ComPtr<IUnknown> selected = fake_->Selected();
    if (!selected) return u"";
    if (auto disc = selected.As<IDiscInfo>()) {
      Bstr album;
      disc->get_AlbumTitle(album.Out());
      return u"disc:" + std::u16string(album.View());
    }
    if (auto discs = selected.As<IDiscList>()) {
      int32_t count = 0;
      discs->get_Count(&count);
      return u"list:" + Utf8ToUtf16(std::to_string(count));
    }
    return u"?";
  }

  FakeDisc good_, poor_, other_;
};

TEST_F(LookupFileTest, ArgumentRules) {
  int32_t code = -1;
  EXPECT_HR(E_POINTER, manager_->LookupFile(nullptr, nullptr, nullptr, kText, 0, nullptr));
  // Without a fingerprint only a text lookup can run.
  EXPECT_HR(E_INVALIDARG, Run(kWave, false).hr);
  EXPECT_HR(E_INVALIDARG, Run(0x13, true, KindOfBlueTag(), u"/music/track.mp3", 1).hr);
  SetErrorInfo(0, nullptr);
  EXPECT_HR(PELKSonquix_NoTextAvailable,
            manager_->LookupFile(nullptr, Bstr(u"").Get(), nullptr, kText, 0, &code));
  EXPECT_EQ(TakeErrorDescription(), u"No text available");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(fake_->CountOf("WaveformLookup") + fake_->CountOf("TextLookup"), 0u);
  EXPECT_EQ(Committed(), u"");
}

TEST_F(LookupFileTest, TracerBracketsEveryExit) {
  EXPECT_HR(E_INVALIDARG, Run(kWave, false).hr);
  Waveform({.kind = kLookupOne, .discs = {{poor_, 1}}});
  EXPECT_HR(S_OK, Run(kWave).hr);
  std::vector<std::string> trace;
  for (const FakeCall& call : fake_->Calls()) {
    if (call.op == "TracerBegin" || call.op == "TracerEnd") {
      trace.push_back(call.op);
      EXPECT_EQ(call.args.at(0), u"LookupFile");
    }
  }
  EXPECT_EQ(trace,
            (std::vector<std::string>{"TracerBegin", "TracerEnd", "TracerBegin", "TracerEnd"}));
}

TEST_F(LookupFileTest, WaveformOnlyCommitsWhatTheLookupFound) {
  // One disc is committed even when it does not fit the tag.
  Waveform({.kind = kLookupOne, .discs = {{poor_, 1}}});
  Lookup result = Run(kWave);
  EXPECT_HR(S_OK, result.hr);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Honky Tonkin");

  Waveform({.kind = kLookupSeveral, .discs = {{poor_, 1}, {good_, 1}}});
  result = Run(kWave);
  EXPECT_EQ(result.match_code, 2);
  EXPECT_EQ(Committed(), u"list:2");

  Waveform({.kind = kLookupSeveralClose, .discs = {{poor_, 1}, {good_, 1}, {other_, 1}}});
  result = Run(kWave);
  EXPECT_EQ(result.match_code, 5);
  EXPECT_EQ(Committed(), u"list:3");
}

TEST_F(LookupFileTest, NoWaveformAnswerWithoutTextIsNoMatch) {
  Waveform({.kind = kLookupNone});
  Lookup result = Run(kWave);
  EXPECT_HR(S_OK, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
  // A failed lookup without a text fallback is returned as it is.
  Waveform({.hr = E_OUTOFMEMORY});
  result = Run(kWave);
  EXPECT_HR(E_OUTOFMEMORY, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(Committed(), u"");
}

TEST_F(LookupFileTest, CompletionEventPathReturnsTheLookupAtOnce) {
  Waveform({.kind = kLookupOne, .discs = {{good_, 1}}});
  Lookup result = Run(kWave, true, KindOfBlueTag(), u"/music/track.mp3", 1);
  EXPECT_HR(S_OK, result.hr);
  EXPECT_EQ(result.match_code, 1);
  ASSERT_EQ(fake_->CountOf("WaveformLookup"), 1u);
  for (const FakeCall& call : fake_->Calls()) {
    if (call.op == "WaveformLookup") {
      EXPECT_EQ(call.args.at(3), u"1");
    }
  }
  EXPECT_EQ(Committed(), u"");
}

TEST_F(LookupFileTest, AbortGivesFailWithTheMatchCodeSoFar) {
  sink_->AbortOn(kEventTrackIDStatusUpdate, 1);
  Waveform({.kind = kLookupOne, .discs = {{good_, 1}}});
  Lookup result = Run(kWave | kText);
  EXPECT_HR(E_FAIL, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(fake_->CountOf("WaveformLookup"), 0u);
  // The abort after the text query is built stops before the text lookup.
  sink_->AbortOn(kEventTrackIDStatusUpdate, 1, 1);
  result = Run(kText, false);
  EXPECT_HR(E_FAIL, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
}

TEST_F(LookupFileTest, GoodWaveformDiscSkipsTheTextLookup) {
  Waveform({.kind = kLookupOne, .discs = {{good_, 1}}});
  Lookup result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");
  EXPECT_EQ(fake_->CountOf("TextLookup"), 0u);
}

TEST_F(LookupFileTest, PoorWaveformDiscHintsTheTextQuery) {
  Waveform({.kind = kLookupOne, .discs = {{poor_, 2}}});
  Run(kWave | kText);
  // The text query carries the waveform disc's artist and its current track's title.
  bool asked = false;
  for (const FakeCall& call : fake_->Calls()) {
    if (call.op != "TextLookup") continue;
    asked = true;
    EXPECT_EQ(call.args.at(0), u"(null)");
    EXPECT_EQ(call.args.at(1), u"Cold Cold Heart");
  }
  EXPECT_TRUE(asked);
}

// One text disc (X = 3): a good one wins; otherwise the waveform answer stands.
TEST_F(LookupFileTest, OneTextDisc) {
  fake_->ScriptText(u"So What", {.kind = kLookupOne, .discs = {{good_, 1}}});
  Lookup result = Run(kText, false);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");

  // A good text disc wins over a poor waveform disc (whose texts made the query)...
  fake_->ScriptText(u"Lovesick Blues", {.kind = kLookupOne, .discs = {{good_, 1}}});
  Waveform({.kind = kLookupOne, .discs = {{poor_, 1}}});
  result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");
  // ...and over a waveform collection.
  Waveform({.kind = kLookupSeveralClose, .discs = {{poor_, 1}, {other_, 1}}});
  fake_->ScriptText(u"Lovesick Blues", {.kind = kLookupOne, .discs = {{good_, 1}}});
  fake_->ScriptText(u"So What", {.kind = kLookupOne, .discs = {{good_, 1}}});
  result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");

  // A poor text disc loses to the waveform disc...
  fake_->ScriptText(u"Lovesick Blues", {.kind = kLookupOne, .discs = {{other_, 1}}});
  Waveform({.kind = kLookupOne, .discs = {{poor_, 1}}});
  result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Honky Tonkin");
  // ...and to the waveform collection of kind 5, returned as it is without a multi hint...
  fake_->ScriptText(u"So What", {.kind = kLookupOne, .discs = {{other_, 1}}});
  Waveform({.kind = kLookupSeveralClose, .discs = {{poor_, 1}, {good_, 1}}});
  result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 5);
  EXPECT_EQ(Committed(), u"list:2");
  // ...and resolved to its best disc with one.
  result = Run(kWave | kText | TEXT_HINT_MULTI_EXACT);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");
  // Without a waveform answer the text disc is taken whatever it is.
  Waveform({.kind = kLookupNone});
  result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Showcase");
}

// A text collection (X = 2) against each waveform answer.
TEST_F(LookupFileTest, TextCollection) {
  // W = 3 (poor): the waveform disc, unless a fuzzy hint finds a fitting text disc.
  fake_->ScriptText(u"Lovesick Blues",
                    {.kind = kLookupSeveral, .discs = {{other_, 1}, {good_, 1}}});
  Waveform({.kind = kLookupOne, .discs = {{poor_, 1}}});
  Lookup result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Honky Tonkin");
  // The hinted query (poor disc's texts) found the collection; the tag decides within it.
  result = Run(kWave | kText | TEXT_HINT_FUZZY);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");

  // W = 5 without a hint bit keeps the waveform collection; with one the nearer disc wins.
  fake_->ScriptText(u"So What", {.kind = kLookupSeveral, .discs = {{other_, 1}, {poor_, 1}}});
  Waveform({.kind = kLookupSeveralClose, .discs = {{other_, 1}, {good_, 1}, {poor_, 1}}});
  result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 5);
  EXPECT_EQ(Committed(), u"list:3");
  result = Run(kWave | kText | TEXT_HINT_MULTI_EXACT);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");

  // W = 2 reaches the text phase only with the three fuzzy bits; the text side fits here.
  fake_->ScriptText(u"So What", {.kind = kLookupSeveral, .discs = {{other_, 1}, {good_, 1}}});
  Waveform({.kind = kLookupSeveral, .discs = {{other_, 1}, {poor_, 1}}});
  result = Run(kWave | kText | TEXT_HINT_FUZZY | TEXT_HINT_MULTI_FUZZY);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");
  // Nothing fits on either side: the text collection with code 2.
  fake_->ScriptText(u"So What", {.kind = kLookupSeveral, .discs = {{other_, 1}, {poor_, 1}}});
  result = Run(kWave | kText | TEXT_HINT_FUZZY | TEXT_HINT_MULTI_FUZZY);
  EXPECT_EQ(result.match_code, 2);
  EXPECT_EQ(Committed(), u"list:2");

  // No waveform answer: the text collection, resolved with a fuzzy hint.
  fake_->ScriptText(u"So What", {.kind = kLookupSeveral, .discs = {{other_, 1}, {good_, 1}}});
  result = Run(kText, false);
  EXPECT_EQ(result.match_code, 2);
  EXPECT_EQ(Committed(), u"list:2");
  result = Run(kText | TEXT_HINT_FUZZY, false);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");
}

// No text answer (X = 1): the waveform answer stands, or nothing matched.
TEST_F(LookupFileTest, NoTextAnswer) {
  Waveform({.kind = kLookupOne, .discs = {{poor_, 1}}});
  Lookup result = Run(kWave | kText);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Honky Tonkin");

  Waveform({.kind = kLookupSeveralClose, .discs = {{poor_, 1}, {good_, 1}}});
  result = Run(kWave | kText | TEXT_HINT_MULTI_EXACT);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");

  fake_->ClearCalls();
  Waveform({.hr = E_FAIL});  // a failed waveform lookup falls back on the text lookup
  fake_->ScriptText(u"So What", {.hr = E_OUTOFMEMORY});
  result = Run(kWave | kText);
  EXPECT_HR(E_OUTOFMEMORY, result.hr);
  EXPECT_EQ(result.match_code, 1);
  EXPECT_EQ(fake_->CountOf("SelectDisc") + fake_->CountOf("SelectCollection"), 0u);
}

TEST_F(LookupFileTest, UnknownTextKindIsFailure) {
  fake_->ScriptText(u"So What", {.kind = 4});
  Lookup result = Run(kText, false);
  EXPECT_HR(E_FAIL, result.hr);
  EXPECT_EQ(result.match_code, 1);
}

TEST_F(LookupFileTest, LocalResolutionByFileName) {
  const std::u16string name = u"/music/Miles Davis - Kind of Blue - So What.mp3";
  Waveform({.kind = kLookupSeveral, .discs = {{poor_, 1}, {good_, 1}, {other_, 1}}});
  // A kind-2 answer is committed before local resolution unless the fuzzy bits go on.
  Lookup result = Run(kWave | TEXT_LOCAL, true, {}, name);
  EXPECT_EQ(result.match_code, 2);

  Waveform({.kind = kLookupSeveralClose, .discs = {{poor_, 1}, {good_, 1}, {other_, 1}}});
  result = Run(kWave | TEXT_LOCAL | TEXT_HINT_MULTI_EXACT, true, {}, name);
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");

  // With a text lookup the named disc only hints the query.
  fake_->ClearCalls();
  result = Run(kWave | kText | TEXT_LOCAL, true, {}, name);
  for (const FakeCall& call : fake_->Calls()) {
    if (call.op == "TextLookup") {
      EXPECT_EQ(call.args.at(1), u"So What");
    }
  }
  EXPECT_EQ(result.match_code, 3);
  EXPECT_EQ(Committed(), u"disc:Kind of Blue");

  // Without local resolution and without a text lookup there is no answer.
  result = Run(kWave | TEXT_HINT_MULTI_EXACT, true, {}, name);
  EXPECT_HR(E_FAIL, result.hr);
  EXPECT_EQ(result.match_code, 1);
}

TEST_F(LookupFileTest, CollectionHintsTakeTheMostFrequentTexts) {
  auto disc = [&](const FakeDisc& d) { return MakeFakeDisc({d, 1}); };
  FakeDisc again = Album(u"Hank Williams", u"Greatest", {u"Lovesick Blues"});
  ComPtr<IDiscList> discs = MakeFakeDiscList({disc(other_), disc(poor_), disc(again), disc(good_)});
  std::u16string artist, title;
  ASSERT_HR(S_OK, CollectionHints(discs.Get(), &artist, &title));
  EXPECT_EQ(artist, u"Hank Williams");
  EXPECT_EQ(title, u"Lovesick Blues");
  // Ties go to the first entry.
  discs = MakeFakeDiscList({disc(other_), disc(good_)});
  ASSERT_HR(S_OK, CollectionHints(discs.Get(), &artist, &title));
  EXPECT_EQ(artist, u"Patsy Cline");
  EXPECT_EQ(title, u"Crazy");
}

class ResolveLookupTest : public LookupFileTest {
 protected:
  FakeDisc Sized(int32_t count, std::u16string album = u"Kind of Blue") {
    FakeDiscData data{.album = std::move(album), .artist = u"Miles Davis"};
    for (int32_t i = 1; i <= count; ++i) {
      const std::u16string title =
          i == 1 ? std::u16string(u"So What") : u"Track " + Utf8ToUtf16(std::to_string(i));
      data.tracks.push_back({.title = title});
    }
    return fake_->AddDisc(std::move(data));
  }
  HRESULT Resolve(IDiscList* discs, int32_t track_count, FakeTagData tag,
                  const std::u16string& name, std::u16string* album) {
    ComPtr<IFileTag> file_tag = MakeFakeTag(std::move(tag));
    ComPtr<ILegacyDisc> chosen;
    HRESULT hr = manager_->ResolveLookup(discs, track_count, 0, 0, 0, Bstr(name).Get(),
                                         file_tag.Get(), 0, chosen.Out());
    album->clear();
    if (chosen) {
      Bstr text;
      chosen->get_AlbumTitle(text.Out());
      *album = text.View();
    }
    return hr;
  }
};

TEST_F(ResolveLookupTest, TrackCountRuleHolds) {
  FakeDisc ten = Sized(10, u"Kind of Blue Ten");
  FakeDisc twelve = Sized(12, u"Kind of Blue");
  FakeDisc fourteen = Sized(14, u"Kind of Blue Fourteen");
  ComPtr<IDiscList> discs = MakeFakeDiscList(
      {MakeFakeDisc({ten, 1}), MakeFakeDisc({fourteen, 1}), MakeFakeDisc({twelve, 1})});
  std::u16string album;
  EXPECT_HR(S_OK, Resolve(discs.Get(), 12, KindOfBlueTag(), u"/m/a.mp3", &album));
  EXPECT_EQ(album, u"Kind of Blue");
  // The file-name shortcut on disc 1 obeys the rule too.
  EXPECT_HR(S_OK, Resolve(discs.Get(), 12, {}, u"/m/Miles Davis - Kind of Blue Ten - So What.mp3",
                          &album));
  EXPECT_EQ(album, u"Kind of Blue");
  // Only discs of other sizes: no answer rather than a wrong one.
  discs = MakeFakeDiscList({MakeFakeDisc({ten, 1}), MakeFakeDisc({fourteen, 1})});
  SetErrorInfo(0, nullptr);
  EXPECT_HR(PELKSonquix_TextHintsFailed, Resolve(discs.Get(), 12, KindOfBlueTag(), u"", &album));
  EXPECT_EQ(TakeErrorDescription(), u"Text hints failed");
  EXPECT_EQ(album, u"");
}

TEST_F(ResolveLookupTest, ArgumentRules) {
  ComPtr<ILegacyDisc> out;
  EXPECT_HR(E_INVALIDARG,
            manager_->ResolveLookup(nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, out.Out()));
  ComPtr<IDiscList> discs = MakeFakeDiscList({MakeFakeDisc({good_, 1})});
  EXPECT_HR(E_POINTER,
            manager_->ResolveLookup(discs.Get(), 0, 0, 0, 0, nullptr, nullptr, 0, nullptr));
  EXPECT_HR(
      PELKSonquix_NoTextAvailable,
      manager_->ResolveLookup(discs.Get(), 0, 0, 0, 0, Bstr(u"").Get(), nullptr, 0, out.Out()));
  // The nearer disc wins among discs of any size.
  discs = MakeFakeDiscList({MakeFakeDisc({poor_, 1}), MakeFakeDisc({good_, 1})});
  std::u16string album;
  EXPECT_HR(S_OK, Resolve(discs.Get(), 0, KindOfBlueTag(), u"/m/a.mp3", &album));
  EXPECT_EQ(album, u"Kind of Blue");
}

TEST_F(LookupFileTest, CompareTrackToFile) {
  FakeTagData tag = KindOfBlueTag();
  tag.texts[u"TrackNumber"] = u"2";
  FakeDisc disc = Album(u"Miles Davis", u"Kind of Blue", {u"Freddie Freeloader", u"So What"});
  ComPtr<ILegacyDisc> legacy = MakeFakeDisc({disc, 2}).As<ILegacyDisc>();
  ComPtr<IFileTag> file_tag = MakeFakeTag(tag);
  int32_t value = -1;
  EXPECT_HR(S_OK, manager_->CompareTrackToFile(Bstr(u"/m/x.mp3").Get(), file_tag.Get(),
                                               legacy.Get(), 2, &value));
  EXPECT_EQ(value, 100);
  // Another track of the same disc differs in its title.
  EXPECT_HR(S_OK, manager_->CompareTrackToFile(Bstr(u"/m/x.mp3").Get(), file_tag.Get(),
                                               legacy.Get(), 1, &value));
  EXPECT_LT(value, 100);
  EXPECT_GT(value, 50);
  // An unrelated disc grades low.
  legacy = MakeFakeDisc({poor_, 1}).As<ILegacyDisc>();
  EXPECT_HR(S_OK, manager_->CompareTrackToFile(Bstr(u"/m/x.mp3").Get(), file_tag.Get(),
                                               legacy.Get(), 1, &value));
  EXPECT_LT(value, 40);

  EXPECT_HR(E_INVALIDARG,
            manager_->CompareTrackToFile(nullptr, file_tag.Get(), nullptr, 1, &value));
  EXPECT_HR(E_POINTER,
            manager_->CompareTrackToFile(nullptr, file_tag.Get(), legacy.Get(), 1, nullptr));
  EXPECT_HR(PELKSonquix_NoTextAvailable,
            manager_->CompareTrackToFile(nullptr, nullptr, legacy.Get(), 1, &value));
  EXPECT_EQ(value, 0);
}

TEST(FolderFileCountTest, CountsByExtensionWithEitherSeparator) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() /
      ("sonquix_folder_count_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(dir);
  fs::create_directories(dir / "sub.d");
  for (const char* name : {"a.mp3", "b.MP3", "c.wav", "readme", "notes"}) {
    std::ofstream(dir / name) << "x";
  }
  const std::u16string folder = Utf8ToUtf16(dir.string());
  int32_t count = -1;
  EXPECT_HR(S_OK, FolderFileCount(folder + u"/x.mp3", &count));
  EXPECT_EQ(count, 2);
  EXPECT_HR(S_OK, FolderFileCount(folder + u"\\x.wav", &count));
  EXPECT_EQ(count, 1);
  // Without an extension: the entries that have none.
  EXPECT_HR(S_OK, FolderFileCount(folder + u"/track", &count));
  EXPECT_EQ(count, 2);
  // A dot in the folder is not the file's extension.
  EXPECT_HR(S_OK, FolderFileCount(folder + u"/sub.d/track", &count));
  EXPECT_EQ(count, 0);
  EXPECT_HR(E_INVALIDARG, FolderFileCount(folder + u"/missing/x.mp3", &count));
  EXPECT_HR(E_INVALIDARG, FolderFileCount(u"x.mp3", &count));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pelk::testing
