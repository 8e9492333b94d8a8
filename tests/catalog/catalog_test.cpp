#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "catalog/catalog_control.h"
#include "catalog/catalog_json.h"
#include "catalog/control_classes.h"
#include "catalog/matching.h"
#include "runtime/error_info.h"
#include "runtime/utf.h"
#include "tests/catalog/store_backends.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::catalog {
namespace {

// A signature whose two halves each sum to 32768, shifted by `seed` so different seeds are far
// apart.
Signature MakeSignature(int seed, int jitter = 0) {
  Signature s{};
  for (size_t half = 0; half < 2; ++half) {
    int32_t left = 32768;
    for (size_t i = 0; i < 15; ++i) {
      const int32_t v = i == 14 ? left : 500 + ((seed * 7 + static_cast<int>(i) * 13) % 29) * 150;
      s[half * 15 + i] = static_cast<int16_t>(v + (i == 0 ? jitter : 0) - (i == 14 ? jitter : 0));
      left -= v;
    }
  }
  return s;
}

constexpr char kCatalogJson[] = R"({
  "format": "pelk-catalog", "version": 1,
  "discs": [
    {"identifier": "D-BLUE", "album": "Blue", "artist": "Joni Mitchell", "year": 1971,
     "genre": "Folk", "certified_level": 2, "release_rank": 1, "store_ids": ["111", "222"],
     "tracks": [
       {"number": 1, "title": "All I Want", "identifier": "T-B1", "length_ms": 214000},
       {"number": 2, "title": "My Old Man", "identifier": "T-B2"},
       {"number": 3, "title": "Little Green", "identifier": "T-B3"},
       {"number": 4, "title": "Carey", "identifier": "T-B4"}]},
    {"identifier": "D-HITS", "album": "Folk Hits", "artist": "Various Artists",
     "compilation": true, "genre": "Folk", "track_count": 20, "disc_number": 1, "disc_count": 2,
     "tracks": [
       {"number": 7, "title": "Carey", "artist": "Joni Mitchell", "identifier": "T-H7"}]},
    {"identifier": "D-OTHER", "album": "Losing Streak", "artist": "R.E.M.", "genre": "Rock",
     "tracks": [
       {"number": 1, "title": "Losing My Religion", "identifier": "T-O1"},
       {"number": 2, "title": "Nightswimming", "identifier": "T-O2"}]}
  ]})";

// The control over a small catalogue of each backend.
class CatalogTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (HasFatalFailure()) return;
    path_ = Location();
    std::vector<DiscRecord> discs;
    std::string error;
    ASSERT_TRUE(ParseCatalogJson(kCatalogJson, &discs, &error)) << error;
    // Signatures: Carey is the same recording on two discs; the others are distinct.
    discs[0].tracks[0].signature = MakeSignature(1);
    discs[0].tracks[1].signature = MakeSignature(2);
    discs[0].tracks[3].signature = MakeSignature(4);
    discs[1].tracks[0].signature = MakeSignature(4, 40);
    discs[2].tracks[0].signature = MakeSignature(9);
    auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kCreate, &error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->AddDiscs(discs, &error)) << error;
    store.reset();

    control_ = MakeObject<CatalogControl>();
    Bstr path = Bstr::FromUtf8(path_.string());
    ASSERT_HR(S_OK, control_->OpenCatalog(path.Get()));
    ComPtr<IUnknown> engine;
    ASSERT_HR(S_OK, control_->GetControlObject(kControlObjectEngine, engine.Out()));
    engine_ = engine.As<ILookupEngine>();
  }
  void TearDown() override {
    engine_.Reset();
    control_.Reset();
  }

  static std::u16string Text(HRESULT (IDiscInfo::*get)(BSTR*), IDiscInfo* disc) {
    Bstr value;
    (disc->*get)(value.Out());
    return std::u16string(value.View());
  }
  static int32_t Number(HRESULT (IDiscInfo::*get)(int32_t*), IDiscInfo* disc) {
    int32_t value = -1;
    (disc->*get)(&value);
    return value;
  }
  int32_t Waveform(const Signature& s) {
    Bstr sig = Bstr::FromUtf8(FormatSignature(s));
    Bstr type(u"Wavelattice"), version(u"1.1");
    int32_t kind = 1;
    EXPECT_HR(S_OK, engine_->WaveformLookup(type.Get(), version.Get(), sig.Get(), 0, &kind))
        << Utf16ToUtf8(TakeErrorDescription());
    return kind;
  }
  int32_t TextLookup(const char16_t* file, testing::FakeTagData tag) {
    ComPtr<IFileTag> t = testing::MakeFakeTag(std::move(tag));
    Bstr name(file ? file : u"");
    int32_t kind = 1;
    EXPECT_HR(S_OK, engine_->TextLookup(file ? name.Get() : nullptr, t.Get(), 0, &kind))
        << Utf16ToUtf8(TakeErrorDescription());
    return kind;
  }
  ComPtr<IDiscInfo> Single() {
    ComPtr<IDiscInfo> disc;
    control_->GetSingleMatch(disc.Out());
    return disc;
  }

  // The catalogue's location: a file path or a postgresql:// location.
  std::filesystem::path path_;
  ComPtr<CatalogControl> control_;
  ComPtr<ILookupEngine> engine_;
};
INSTANTIATE_ON_EVERY_BACKEND(CatalogTest);

// What only a catalogue file has: older schemas to upgrade, counts older builds wrote.
class SqliteCatalogTest : public CatalogTest {};
INSTANTIATE_TEST_SUITE_P(Backends, SqliteCatalogTest, ::testing::Values(Backend::kSqlite),
                         BackendName);

TEST_P(CatalogTest, VersionAndControlObjects) {
  Bstr version;
  ASSERT_HR(S_OK, control_->get_Version(version.Out()));
  EXPECT_EQ(version.View(), u"PELKControl 2.6.0.10");
  for (int32_t kind : {7, 8, 9}) {
    ComPtr<IUnknown> object;
    EXPECT_HR(S_OK, control_->GetControlObject(kind, object.Out()));
    EXPECT_TRUE(object) << kind;
  }
  ComPtr<IUnknown> none;
  EXPECT_HR(E_INVALIDARG, control_->GetControlObject(6, none.Out()));
}

TEST_P(CatalogTest, IdentifierLookups) {
  ComPtr<IDiscInfo> disc;
  int32_t value = -1;
  Bstr track_id(u"T-B3");
  ASSERT_HR(S_OK, engine_->IdentifierLookup(track_id.Get(), 0, &value, disc.Out()));
  ASSERT_TRUE(disc);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(Number(&IDiscInfo::get_CurrentTrack, disc.Get()), 3);
  EXPECT_EQ(Number(&IDiscInfo::get_TrackCount, disc.Get()), 1);  // the matched track only
  Bstr title;
  EXPECT_HR(S_OK, disc->GetTrackTitle(3, title.Out()));
  EXPECT_EQ(title.View(), u"Little Green");
  EXPECT_HR(E_INVALIDARG, disc->GetTrackTitle(1, title.Out()));

  Bstr disc_id(u"D-OTHER");
  ASSERT_HR(S_OK, engine_->IdentifierLookup(disc_id.Get(), 0, &value, disc.Out()));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Number(&IDiscInfo::get_TrackCount, disc.Get()), 2);

  Bstr unknown(u"nope");
  ASSERT_HR(S_OK, engine_->IdentifierLookup(unknown.Get(), 0, &value, disc.Out()));
  EXPECT_FALSE(disc);

  Bstr first(u"111"), second(u"222");
  ASSERT_HR(S_OK, engine_->IdentifierPairLookup(first.Get(), second.Get(), 0, 0, 0, disc.Out()));
  ASSERT_TRUE(disc);
  EXPECT_EQ(Text(&IDiscInfo::get_Identifier, disc.Get()), u"D-BLUE");
  ASSERT_HR(S_OK, engine_->IdentifierPairLookup(second.Get(), first.Get(), 0, 0, 0, disc.Out()));
  EXPECT_FALSE(disc);
}

TEST_P(CatalogTest, WaveformKinds) {
  EXPECT_EQ(Waveform(MakeSignature(1)), kLookupOne);
  ComPtr<IDiscInfo> disc = Single();
  ASSERT_TRUE(disc);
  EXPECT_EQ(Text(&IDiscInfo::get_AlbumTitle, disc.Get()), u"Blue");
  EXPECT_EQ(Number(&IDiscInfo::get_CurrentTrack, disc.Get()), 1);

  // The same recording on two discs: several near-identical candidates.
  EXPECT_EQ(Waveform(MakeSignature(4, 10)), kLookupSeveralClose);
  ComPtr<IDiscList> list;
  ASSERT_HR(S_OK, control_->GetMatchCollection(list.Out()));
  int32_t count = 0;
  list->get_Count(&count);
  EXPECT_EQ(count, 2);
  EXPECT_HR(E_FAIL, control_->GetSingleMatch(disc.Out()));

  Signature far{};
  far.fill(2000);
  EXPECT_EQ(Waveform(far), kLookupNone);
  Bstr garbage(u"1 2 three");
  int32_t kind = 1;
  ASSERT_HR(S_OK, engine_->WaveformLookup(nullptr, nullptr, garbage.Get(), 0, &kind));
  EXPECT_EQ(kind, kLookupNone);
}

TEST_P(CatalogTest, TextLookupByTagAndByFileName) {
  EXPECT_EQ(
      TextLookup(u"/m/x.wav", {.texts = {{u"Title", u"Losing my religion"}, {u"Artist", u"REM"}}}),
      kLookupOne);
  ComPtr<IDiscInfo> disc = Single();
  ASSERT_TRUE(disc);
  EXPECT_EQ(Text(&IDiscInfo::get_Identifier, disc.Get()), u"D-OTHER");
  EXPECT_EQ(Number(&IDiscInfo::get_CurrentTrack, disc.Get()), 1);

  // No title in the tag: the file name is parsed.
  EXPECT_EQ(TextLookup(u"/music/Joni Mitchell/Blue/03 Little Green.flac", {}), kLookupOne);
  disc = Single();
  ASSERT_TRUE(disc);
  EXPECT_EQ(Number(&IDiscInfo::get_CurrentTrack, disc.Get()), 3);

  // "Carey" exists on two discs: several candidates.
  EXPECT_EQ(TextLookup(nullptr, {.texts = {{u"Title", u"Carey"}}}), kLookupSeveral);
  EXPECT_EQ(TextLookup(nullptr, {.texts = {{u"Title", u"Completely Unrelated Words"}}}),
            kLookupNone);
  EXPECT_EQ(TextLookup(nullptr, {}), kLookupNone);
}

TEST_P(CatalogTest, FullDiscSameDiscAndSelection) {
  Bstr id(u"T-B2");
  ComPtr<IDiscInfo> partial, full, other;
  int32_t value = 0;
  engine_->IdentifierLookup(id.Get(), 0, &value, partial.Out());
  ASSERT_HR(S_OK, engine_->FetchFullDisc(partial.Get(), 1, 0, full.Out()));
  EXPECT_EQ(Number(&IDiscInfo::get_TrackCount, full.Get()), 4);
  EXPECT_EQ(Number(&IDiscInfo::get_CurrentTrack, full.Get()), 2);
  Bstr key(u"track_count"), text;
  full->GetNamedText(key.Get(), text.Out());
  EXPECT_EQ(text.View(), u"4");
  int32_t same = 0;
  ASSERT_HR(S_OK, engine_->IsSameDisc(partial.Get(), full.Get(), 0, &same));
  EXPECT_EQ(same, 1);
  Bstr other_id(u"T-H7");
  engine_->IdentifierLookup(other_id.Get(), 0, &value, other.Out());
  ASSERT_HR(S_OK, engine_->IsSameDisc(partial.Get(), other.Get(), 0, &same));
  EXPECT_EQ(same, 0);
  ComPtr<IDiscInfo> foreign = testing::MakeFakeDisc({std::make_shared<testing::FakeDiscData>()});
  EXPECT_HR(E_INVALIDARG, engine_->IsSameDisc(partial.Get(), foreign.Get(), 0, &same));

  ASSERT_HR(S_OK, engine_->SelectDisc(other.Get()));
  EXPECT_EQ(Single(), other);
  ComPtr<IDiscList> list = testing::MakeFakeDiscList({partial, full});
  ASSERT_HR(S_OK, engine_->SelectCollection(list.Get()));
  ComPtr<IDiscList> selected;
  ASSERT_HR(S_OK, control_->GetMatchCollection(selected.Out()));
  EXPECT_EQ(selected, list);

  // A copy moves its current track on its own; the compilation flag and rank read through.
  ComPtr<IDiscInfo> copy;
  ASSERT_HR(S_OK, full->Copy(copy.Out()));
  ASSERT_HR(S_OK, copy->put_CurrentTrack(4));
  EXPECT_EQ(Number(&IDiscInfo::get_CurrentTrack, full.Get()), 2);
  EXPECT_HR(E_INVALIDARG, copy->put_CurrentTrack(9));
  EXPECT_EQ(Number(&IDiscInfo::get_IsCompilation, other.Get()), 1);
  EXPECT_EQ(Text(&IDiscInfo::get_ReleaseRank, full.Get()), u"1");
}

TEST_P(CatalogTest, ExtDataAndDataListElement) {
  Bstr id(u"T-B1");
  ComPtr<IDiscInfo> disc;
  int32_t value = 0;
  engine_->IdentifierLookup(id.Get(), 0, &value, disc.Out());
  ComPtr<IExtData> ext;
  ASSERT_HR(S_OK, CreateCatalogExtData(IExtData::kIid, ext.OutVoid()));
  Bstr text;
  EXPECT_HR(E_FAIL, ext->Serialize(text.Out()));
  ASSERT_HR(S_OK, ext->InitFromDisc(disc.Get(), 1, 1));
  ASSERT_HR(S_OK, ext->Serialize(text.Out()));
  ComPtr<IExtData> back;
  CreateCatalogExtData(IExtData::kIid, back.OutVoid());
  ASSERT_HR(S_OK, back->Deserialize(text.Get()));
  Bstr again;
  back->Serialize(again.Out());
  EXPECT_EQ(again.View(), text.View());
  Bstr bad(u"pelk-ext:1:D-BLUE:x");
  EXPECT_HR(E_INVALIDARG, back->Deserialize(bad.Get()));

  ComPtr<IDataListElement> element;
  ASSERT_HR(S_OK, control_->GetDataListElement(1, 0, ext.Get(), element.Out()));
  ASSERT_TRUE(element);
  int32_t genre = 0;
  ASSERT_HR(S_OK, element->GetValue(1, &genre));
  EXPECT_GT(genre, 0);
  // Another Folk disc has the same genre number.
  Bstr hits(u"T-H7");
  engine_->IdentifierLookup(hits.Get(), 0, &value, disc.Out());
  ext->InitFromDisc(disc.Get(), 1, 7);
  ComPtr<IDataListElement> same;
  control_->GetDataListElement(1, 0, ext.Get(), same.Out());
  int32_t genre2 = 0;
  same->GetValue(1, &genre2);
  EXPECT_EQ(genre2, genre);
  ASSERT_HR(S_OK, control_->GetDataListElement(2, 0, ext.Get(), element.Out()));
  EXPECT_FALSE(element);
}

TEST_P(CatalogTest, RetrieveDataAndTracer) {
  Bstr id(u"T-B1");
  ComPtr<IDiscInfo> disc;
  int32_t value = 0;
  engine_->IdentifierLookup(id.Get(), 0, &value, disc.Out());
  EXPECT_HR(S_OK, disc.As<IDiscData>()->RetrieveData(0));

  ComPtr<IUnknown> object;
  control_->GetControlObject(kControlObjectTracer, object.Out());
  ComPtr<ILookupTracer> tracer = object.As<ILookupTracer>();
  Bstr step(u"TextLookupHelper");
  tracer->Begin(step.Get());
  tracer->End(step.Get());
  Bstr open_step(u"Open");
  tracer->Begin(open_step.Get());
  Bstr log;
  ASSERT_HR(S_OK, control_->get_TraceLog(log.Out()));
  const std::string text = log.Utf8();
  EXPECT_EQ(text.rfind("TextLookupHelper\t", 0), 0u);
  EXPECT_NE(text.find("Open\topen\n"), std::string::npos);
}

TEST_P(CatalogTest, DiscTagBuilderFillsATagFromTheTrack) {
  Bstr id(u"T-H7");
  ComPtr<IDiscInfo> disc;
  int32_t value = 0;
  engine_->IdentifierLookup(id.Get(), 0, &value, disc.Out());
  // The builder comes from the module's class table, as the manager's creation reaches it.
  ComPtr<IClassFactory> factory;
  ASSERT_HR(S_OK, ModuleClassFactory(ControlClassTable(), CLSID_PelkDiscTagBuilder,
                                     IClassFactory::kIid, factory.OutVoid()));
  ComPtr<IDiscTagBuilder> builder;
  ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IDiscTagBuilder::kIid, builder.OutVoid()));
  ComPtr<IFileTag> tag;
  EXPECT_HR(E_INVALIDARG, builder->BuildTag(disc.Get(), 3, tag.Out()));
  ASSERT_HR(S_OK, builder->BuildTag(disc.Get(), 7, tag.Out()));
  auto text = [&](HRESULT (IFileTag::*get)(BSTR*)) {
    Bstr v;
    (tag.Get()->*get)(v.Out());
    return std::u16string(v.View());
  };
  EXPECT_EQ(text(&IFileTag::get_Title), u"Carey");
  EXPECT_EQ(text(&IFileTag::get_Artist), u"Joni Mitchell");  // the track's own artist
  EXPECT_EQ(text(&IFileTag::get_AlbumArtist), u"Various Artists");
  EXPECT_EQ(text(&IFileTag::get_AlbumTitle), u"Folk Hits");
  EXPECT_EQ(text(&IFileTag::get_TrackNumber), u"7");
  EXPECT_EQ(text(&IFileTag::get_Identifier), u"T-H7");
  EXPECT_EQ(text(&IFileTag::get_Genre), u"Folk");
  EXPECT_EQ(text(&IFileTag::get_DiscNumber), u"1/2");
  void* none = nullptr;
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            factory->CreateInstance(builder.As<IUnknown>().Get(), IUnknown::kIid, &none));
}

TEST(CatalogFileTest, RefusedFilesAreLeftUntouched) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("pelk-catalog-refused-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string error;

  const auto text_file = dir / "notes.txt";
  { std::ofstream(text_file) << "just some notes\n"; }
  EXPECT_FALSE(CatalogStore::Open(text_file, CatalogStore::OpenMode::kCreate, &error));
  EXPECT_NE(error.find("not a catalogue"), std::string::npos) << error;
  std::ifstream in(text_file);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "just some notes\n");

  // Another application's database, and a catalogue from a newer program.
  const auto foreign = dir / "foreign.db";
  const auto future = dir / "future.db";
  sqlite3* db = nullptr;
  sqlite3_open(foreign.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_FALSE(CatalogStore::Open(foreign, CatalogStore::OpenMode::kCreate, &error));
  ASSERT_TRUE(CatalogStore::Open(future, CatalogStore::OpenMode::kCreate, &error)) << error;
  sqlite3_open(future.c_str(), &db);
  sqlite3_exec(db, "UPDATE meta SET value = '7' WHERE key = 'schema_version'", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  EXPECT_FALSE(CatalogStore::Open(future, CatalogStore::OpenMode::kCreate, &error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;

  // Through the control the refusal is a failure with a readable description.
  ComPtr<CatalogControl> control = MakeObject<CatalogControl>();
  Bstr path = Bstr::FromUtf8(future.string());
  EXPECT_HR(E_FAIL, control->OpenCatalog(path.Get()));
  EXPECT_NE(Utf16ToUtf8(TakeErrorDescription()).find("newer"), std::string::npos);

  EXPECT_FALSE(CatalogStore::Open(dir / "missing.db", CatalogStore::OpenMode::kExisting, &error));
  std::filesystem::remove_all(dir);
}

TEST(CatalogJsonTest, ErrorsNameTheLineAndField) {
  std::vector<DiscRecord> discs;
  std::string error;
  EXPECT_FALSE(ParseCatalogJson("{\"discs\": [}", &discs, &error));
  EXPECT_EQ(error.rfind("line 1:", 0), 0u) << error;
  const char* unknown =
      "{\"discs\": [\n {\"identifier\": \"D\", \"album\": \"A\", \"artist\": \"B\",\n"
      "  \"colour\": \"red\", \"tracks\": []}]}";
  EXPECT_FALSE(ParseCatalogJson(unknown, &discs, &error));
  EXPECT_EQ(error, "line 3: unknown field \"colour\" in a disc");
  const char* missing = "{\"discs\": [{\"identifier\": \"D\", \"album\": \"A\", \"tracks\": []}]}";
  EXPECT_FALSE(ParseCatalogJson(missing, &discs, &error));
  EXPECT_NE(error.find("\"artist\""), std::string::npos) << error;
  const char* bad_signature =
      "{\"discs\": [{\"identifier\": \"D\", \"album\": \"A\", \"artist\": \"B\", \"tracks\": "
      "[{\"number\": 1, \"title\": \"T\", \"identifier\": \"T1\", \"signature\": \"1 2\"}]}]}";
  EXPECT_FALSE(ParseCatalogJson(bad_signature, &discs, &error));
  EXPECT_TRUE(discs.empty());
}

TEST_P(CatalogTest, ExportImportsBackUnchangedAndDuplicatesAreRefusedWhole) {
  auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, nullptr);
  ASSERT_TRUE(store);
  const std::string exported = WriteCatalogJson(store->AllDiscs());
  std::vector<DiscRecord> discs;
  std::string error;
  ASSERT_TRUE(ParseCatalogJson(exported, &discs, &error)) << error;
  const ScopedCatalogPlace copy_place(GetParam());
  ASSERT_TRUE(copy_place.error().empty()) << copy_place.error();
  auto copy = CatalogStore::Open(copy_place.location(), CatalogStore::OpenMode::kCreate, &error);
  ASSERT_TRUE(copy) << error;
  ASSERT_TRUE(copy->AddDiscs(discs, &error)) << error;
  EXPECT_EQ(WriteCatalogJson(copy->AllDiscs()), exported);

  // Importing the same discs again fails as a whole: nothing is added.
  const CatalogStats before = copy->Stats();
  EXPECT_FALSE(copy->AddDiscs(discs, &error));
  EXPECT_EQ(copy->Stats().tracks, before.tracks);
  EXPECT_EQ(before.discs, 3);
  EXPECT_EQ(before.signatures, 5);
}

TEST_P(SqliteCatalogTest, ACountBelowTheHighestTrackIsRepairedWhenOpened) {
  // An older build counted files: Blue's four tracks under a count of 2, and a disc of tracks
  // 2 and 24 under a count of 2.
  {
    std::string error;
    auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, &error);
    DiscRecord gap{.identifier = "D-GAP", .album = "Partial", .artist = "Gap Band"};
    gap.tracks = {{.number = 2, .title = "Two", .identifier = "T-G2"},
                  {.number = 24, .title = "Twenty-Four", .identifier = "T-G24"}};
    ASSERT_TRUE(store->AddDiscs({gap}, &error)) << error;
  }
  control_.Reset();
  engine_.Reset();
  sqlite3* db = nullptr;
  sqlite3_open(path_.c_str(), &db);
  sqlite3_exec(db, "UPDATE discs SET track_count = 2", nullptr, nullptr, nullptr);
  sqlite3_close(db);

  std::string error;
  auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->DiscByIdentifier("D-BLUE")->track_count, 4);
  EXPECT_EQ(store->DiscByIdentifier("D-GAP")->track_count, 24);
  EXPECT_EQ(store->DiscByIdentifier("D-OTHER")->track_count, 2);  // already sound
  // The file itself is repaired, not only what is read from it.
  sqlite3_open(path_.c_str(), &db);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT track_count FROM discs WHERE identifier = 'D-GAP'", -1, &statement,
                     nullptr);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(statement, 0), 24);
  sqlite3_finalize(statement);
  sqlite3_close(db);

  // The full disc counts to its highest track; a number in the gap is not held.
  auto control = MakeObject<CatalogControl>();
  Bstr path = Bstr::FromUtf8(path_.string());
  ASSERT_HR(S_OK, control->OpenCatalog(path.Get()));
  ComPtr<IUnknown> unknown;
  ASSERT_HR(S_OK, control->GetControlObject(kControlObjectEngine, unknown.Out()));
  auto engine = unknown.As<ILookupEngine>();
  Bstr id(u"T-G24");
  ComPtr<IDiscInfo> partial, full;
  int32_t value = 0;
  ASSERT_HR(S_OK, engine->IdentifierLookup(id.Get(), 0, &value, partial.Out()));
  ASSERT_TRUE(partial);
  ASSERT_HR(S_OK, engine->FetchFullDisc(partial.Get(), 1, 0, full.Out()));
  EXPECT_EQ(Number(&IDiscInfo::get_TrackCount, full.Get()), 24);
  EXPECT_EQ(Number(&IDiscInfo::get_CurrentTrack, full.Get()), 24);
  Bstr title;
  EXPECT_HR(E_INVALIDARG, full->GetTrackTitle(7, title.Out()));
  ASSERT_HR(S_OK, full->GetTrackTitle(24, title.Out()));
  EXPECT_EQ(title.View(), u"Twenty-Four");
}

TEST_P(CatalogTest, DiscsOfOneReleaseAreKeptApartAndListedTogether) {
  std::string error;
  auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, &error);
  ASSERT_TRUE(store) << error;
  // Disc 2 added before disc 1; another release sorts between by artist.
  DiscRecord two{.identifier = "D-S2",
                 .album = "Soundtrack",
                 .artist = "Score Band",
                 .disc_number = 2,
                 .disc_count = 2};
  two.tracks = {{.number = 1, .title = "Reprise", .identifier = "T-S2-1"}};
  DiscRecord one{.identifier = "D-S1",
                 .album = "Soundtrack",
                 .artist = "Score Band",
                 .disc_number = 1,
                 .disc_count = 2};
  one.tracks = {{.number = 1, .title = "Overture", .identifier = "T-S1-1"}};
  ASSERT_TRUE(store->AddDiscs({two}, &error)) << error;
  ASSERT_TRUE(store->AddDiscs({one}, &error)) << error;

  const auto release = store->ReleaseDiscs(*store->DiscByIdentifier("D-S2"));
  ASSERT_EQ(release.size(), 2u);
  EXPECT_EQ(release[0]->identifier, "D-S1");
  EXPECT_EQ(release[1]->identifier, "D-S2");
  EXPECT_EQ(release[1]->disc_number, 2);
  EXPECT_EQ(release[1]->disc_count, 2);
  std::vector<std::string> order;
  for (const auto& d : store->AllDiscs()) order.push_back(d->identifier);
  EXPECT_EQ(order, (std::vector<std::string>{"D-BLUE", "D-OTHER", "D-S1", "D-S2", "D-HITS"}));

  // The numbers survive an export and an import.
  std::vector<DiscRecord> parsed;
  ASSERT_TRUE(ParseCatalogJson(WriteCatalogJson(release), &parsed, &error)) << error;
  EXPECT_EQ(parsed[1].disc_number, 2);
  EXPECT_EQ(parsed[1].disc_count, 2);
  parsed[1].disc_count = 1;  // disc 2 of 1
  std::vector<DiscRecord> refused;
  EXPECT_FALSE(ParseCatalogJson(WriteCatalogJson({std::make_shared<DiscRecord>(parsed[1])}),
                                &refused, &error));
  EXPECT_NE(error.find("\"disc_number\" of disc D-S2 is 2, beyond"), std::string::npos) << error;
}

TEST_P(CatalogTest, ARepeatedDiscIsRefusedInWordsAndReplacedWhole) {
  std::string error;
  auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, &error);
  ASSERT_TRUE(store) << error;
  DiscRecord blue{.identifier = "D-BLUE", .album = "Blue", .artist = "Joni Mitchell"};
  blue.tracks = {{.number = 1, .title = "All I Want", .identifier = "T-B1"},
                 {.number = 2, .title = "California", .identifier = "T-NEW2"}};
  EXPECT_FALSE(store->AddDiscs({blue}, &error));
  EXPECT_EQ(error, "disc Joni Mitchell - Blue (D-BLUE) is already in the catalogue");

  // A track identifier held by another disc is refused in words too, and the old disc stays.
  DiscRecord clash = blue;
  clash.tracks[1].identifier = "T-O1";
  EXPECT_FALSE(store->AddDiscs({clash}, &error, /*replace=*/true));
  EXPECT_EQ(error,
            "track identifier T-O1 of disc D-BLUE is already in the catalogue, on disc R.E.M. - "
            "Losing Streak (D-OTHER)");
  EXPECT_EQ(store->DiscByIdentifier("D-BLUE")->tracks.size(), 4u);

  const CatalogStats before = store->Stats();
  ASSERT_TRUE(store->AddDiscs({blue}, &error, /*replace=*/true)) << error;
  const DiscPtr replaced = store->DiscByIdentifier("D-BLUE");
  ASSERT_TRUE(replaced);
  ASSERT_EQ(replaced->tracks.size(), 2u);
  EXPECT_EQ(replaced->tracks[1].title, "California");
  EXPECT_EQ(store->Stats().discs, before.discs);
  EXPECT_EQ(store->Stats().tracks, before.tracks - 2);
  // The old tracks are gone from every index: identifiers, text and signatures.
  EXPECT_FALSE(store->TrackByIdentifier("T-B3"));
  EXPECT_TRUE(store->TextCandidates({"little", "green"}, "title", true, 10).empty());
  EXPECT_FALSE(store->TextCandidates({"california"}, "title", true, 10).empty());
  for (const TrackHit& hit : store->NearestSignatures(MakeSignature(2), 0, 10)) {
    EXPECT_NE(hit.disc_id, replaced->id);
  }
}

TEST_P(CatalogTest, ATrackCountIsKeptAtLeastTheHighestTrackNumber) {
  std::string error;
  auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, &error);
  ASSERT_TRUE(store) << error;
  DiscRecord gap{.identifier = "D-GAP", .album = "Partial", .artist = "Gap Band", .track_count = 2};
  gap.tracks = {{.number = 2, .title = "Two", .identifier = "T-G2"},
                {.number = 24, .title = "Twenty-Four", .identifier = "T-G24"}};
  ASSERT_TRUE(store->AddDiscs({gap}, &error)) << error;
  EXPECT_EQ(store->DiscByIdentifier("D-GAP")->track_count, 24);

  Bstr id(u"T-G24");
  ComPtr<IDiscInfo> partial, full;
  int32_t value = 0;
  ASSERT_HR(S_OK, engine_->IdentifierLookup(id.Get(), 0, &value, partial.Out()));
  ASSERT_TRUE(partial);
  ASSERT_HR(S_OK, engine_->FetchFullDisc(partial.Get(), 1, 0, full.Out()));
  EXPECT_EQ(Number(&IDiscInfo::get_TrackCount, full.Get()), 24);
  Bstr title;
  EXPECT_HR(E_INVALIDARG, full->GetTrackTitle(7, title.Out()));
}

TEST_P(SqliteCatalogTest, AVersionOneCatalogueIsUpgradedInPlace) {
  control_.Reset();
  engine_.Reset();
  // Lay the file back to the first schema: one signature column, no disc numbers.
  sqlite3* db = nullptr;
  sqlite3_open(path_.c_str(), &db);
  for (const char* sql :
       {"ALTER TABLE tracks ADD COLUMN signature BLOB",
        "UPDATE tracks SET signature = (SELECT signature FROM signatures "
        "WHERE track_id = tracks.id AND rung = 0)",
        "DROP TABLE signatures", "DROP INDEX discs_release",
        "ALTER TABLE discs DROP COLUMN disc_number", "ALTER TABLE discs DROP COLUMN disc_count",
        "UPDATE meta SET value = '1' WHERE key = 'schema_version'"}) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  sqlite3_close(db);

  std::string error;
  auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->Stats().discs, 3);
  EXPECT_EQ(store->Stats().signatures, 5);
  EXPECT_EQ(store->DiscByIdentifier("D-BLUE")->disc_number, 0);
  DiscRecord two{
      .identifier = "D-BLUE-2", .album = "Blue", .artist = "Joni Mitchell", .disc_number = 2};
  two.tracks = {{.number = 1, .title = "Bonus", .identifier = "T-BB1"}};
  ASSERT_TRUE(store->AddDiscs({two}, &error)) << error;
  EXPECT_EQ(store->ReleaseDiscs(two).size(), 2u);
  store.reset();
  sqlite3_open(path_.c_str(), &db);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE key = 'schema_version'", -1, &statement,
                     nullptr);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))), "3");
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

TEST_P(SqliteCatalogTest, AVersionTwoCatalogueKeepsItsSignaturesAsRungZero) {
  control_.Reset();
  engine_.Reset();
  // Lay the file back to the second schema: one signature column in the tracks.
  sqlite3* db = nullptr;
  sqlite3_open(path_.c_str(), &db);
  for (const char* sql :
       {"ALTER TABLE tracks ADD COLUMN signature BLOB",
        "UPDATE tracks SET signature = (SELECT signature FROM signatures "
        "WHERE track_id = tracks.id AND rung = 0)",
        "DROP TABLE signatures", "UPDATE meta SET value = '2' WHERE key = 'schema_version'"}) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  sqlite3_close(db);

  std::string error;
  auto store = CatalogStore::Open(path_, CatalogStore::OpenMode::kExisting, &error);
  ASSERT_TRUE(store) << error;
  const CatalogStats stats = store->Stats();
  EXPECT_EQ(stats.signatures, 5);
  EXPECT_EQ(stats.fingerprinted_tracks, 5);
  const DiscPtr blue = store->DiscByIdentifier("D-BLUE");
  EXPECT_EQ(blue->tracks[0].signature, MakeSignature(1));
  EXPECT_TRUE(blue->tracks[0].ladder.empty());
  EXPECT_FALSE(blue->tracks[2].signature);  // a track without one stays without
  const MatchAnswer answer = MatchWaveform(*store, MakeSignature(2));
  ASSERT_EQ(answer.kind, 3);
  EXPECT_EQ(answer.matches[0].disc_id, blue->id);
  EXPECT_EQ(answer.matches[0].track, 2);

  // Ladders go in beside the migrated signatures, and a replaced disc takes its rungs along.
  DiscRecord ladder{.identifier = "D-LADDER", .album = "Rungs", .artist = "Climber"};
  ladder.tracks = {{.number = 1,
                    .title = "Up",
                    .identifier = "T-L1",
                    .signature = MakeSignature(11),
                    .ladder = {MakeSignature(12), MakeSignature(13)}}};
  ASSERT_TRUE(store->AddDiscs({ladder}, &error)) << error;
  EXPECT_EQ(store->Stats().signatures, 8);
  ladder.tracks[0].ladder.pop_back();
  ASSERT_TRUE(store->AddDiscs({ladder}, &error, true)) << error;
  EXPECT_EQ(store->Stats().signatures, 7);
  EXPECT_EQ(store->NearestSignatures(MakeSignature(13), 0, 10).size(), 0u);
  store.reset();
  sqlite3_open(path_.c_str(), &db);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE key = 'schema_version'", -1, &statement,
                     nullptr);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))), "3");
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

TEST(CatalogJsonTest, VersionOneImportsAndVersionTwoCarriesEveryRung) {
  const std::string one = FormatSignature(MakeSignature(1));
  const std::string two = FormatSignature(MakeSignature(2));
  const std::string three = FormatSignature(MakeSignature(3));
  const auto file = [](int version, const std::string& track_fields) {
    return "{\"format\": \"pelk-catalog\", \"version\": " + std::to_string(version) +
           ", \"discs\": [{\"identifier\": \"D\", \"album\": \"A\", \"artist\": \"B\", "
           "\"tracks\": [{\"number\": 1, \"title\": \"T\", \"identifier\": \"T1\"" +
           track_fields + "}]}]}";
  };
  std::vector<DiscRecord> discs;
  std::string error;
  // Version 1: the one signature is rung 0.
  ASSERT_TRUE(ParseCatalogJson(file(1, ", \"signature\": \"" + one + "\""), &discs, &error))
      << error;
  EXPECT_EQ(discs[0].tracks[0].signature, MakeSignature(1));
  EXPECT_TRUE(discs[0].tracks[0].ladder.empty());
  // Version 1 knows no ladders; version 2 does, rung 0 first.
  EXPECT_FALSE(ParseCatalogJson(file(1, ", \"signatures\": [\"" + one + "\"]"), &discs, &error));
  EXPECT_NE(error.find("\"signatures\""), std::string::npos) << error;
  const std::string ladder =
      file(2, ", \"signatures\": [\"" + one + "\", \"" + two + "\", \"" + three + "\"]");
  ASSERT_TRUE(ParseCatalogJson(ladder, &discs, &error)) << error;
  ASSERT_EQ(discs[0].tracks[0].ladder.size(), 2u);
  EXPECT_EQ(discs[0].tracks[0].signature, MakeSignature(1));
  EXPECT_EQ(discs[0].tracks[0].ladder[1], MakeSignature(3));

  // What export writes imports back with every rung.
  const auto disc = std::make_shared<DiscRecord>(discs[0]);
  std::vector<DiscRecord> again;
  ASSERT_TRUE(ParseCatalogJson(WriteCatalogJson({disc}), &again, &error)) << error;
  EXPECT_NE(WriteCatalogJson({disc}).find("\"version\": 2"), std::string::npos);
  EXPECT_EQ(again[0].tracks[0].signature, discs[0].tracks[0].signature);
  EXPECT_EQ(again[0].tracks[0].ladder, discs[0].tracks[0].ladder);

  // Refused: both forms at once, an empty or broken ladder, a newer version.
  discs.clear();
  EXPECT_FALSE(ParseCatalogJson(
      file(2, ", \"signature\": \"" + one + "\", \"signatures\": [\"" + two + "\"]"), &discs,
      &error));
  EXPECT_NE(error.find("both"), std::string::npos) << error;
  EXPECT_FALSE(ParseCatalogJson(file(2, ", \"signatures\": []"), &discs, &error));
  EXPECT_FALSE(
      ParseCatalogJson(file(2, ", \"signatures\": [\"" + one + "\", \"1 2\"]"), &discs, &error));
  EXPECT_FALSE(ParseCatalogJson(file(3, ""), &discs, &error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
  EXPECT_TRUE(discs.empty());
}

TEST(FileNameParseTest, CommonLayouts) {
  ParsedFileName p = ParseFileName(u"/m/Joni Mitchell/Blue/03 Little Green.flac");
  EXPECT_EQ(p.artist, u"Joni Mitchell");
  EXPECT_EQ(p.album, u"Blue");
  EXPECT_EQ(p.track, 3);
  EXPECT_EQ(p.title, u"Little Green");
  p = ParseFileName(u"C:\\m\\R.E.M. - Out of Time\\11 - Me in Honey.mp3");
  EXPECT_EQ(p.artist, u"R.E.M.");
  EXPECT_EQ(p.album, u"Out of Time");
  EXPECT_EQ(p.track, 11);
  EXPECT_EQ(p.title, u"Me in Honey");
  p = ParseFileName(u"/m/mix/07. Joni Mitchell - Carey.wav");
  EXPECT_EQ(p.artist, u"Joni Mitchell");
  EXPECT_EQ(p.track, 7);
  EXPECT_EQ(p.title, u"Carey");
  p = ParseFileName(u"Song.wav");
  EXPECT_EQ(p.title, u"Song");
  EXPECT_EQ(p.track, 0);
  EXPECT_TRUE(p.album.empty());
}

}  // namespace
}  // namespace pelk::catalog
