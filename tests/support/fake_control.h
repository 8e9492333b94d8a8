// A scriptable, in-memory lookup control for tests. Discs and tracks are plain data; each lookup's
// answer (HRESULT, result kind, discs) is programmed per query; every call is recorded in order.
//
//   auto control = pelk::testing::FakeLookupControl::Create();
//   auto album = control->AddDisc({.album = u"Blue", .artist = u"Joni", .tracks = {...}});
//   control->ScriptText(u"River", {.kind = 3, .discs = {{album, 4}}});
//   ... hand control->Control() to the manager ...
//   EXPECT_EQ(control->CallNames(), (std::vector<std::string>{"TextLookup"}));
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "control/lookup_control.h"
#include "runtime/com_create.h"
#include "runtime/com_ptr.h"

namespace pelk::testing {

struct FakeTrack {
  std::u16string title;
  std::u16string artist;  // empty: the disc artist
  std::u16string identifier;
  int32_t length_ms = 0;
  bool missing = false;  // a gap in the disc's numbering: the disc does not hold this track
};

struct FakeDiscData {
  std::u16string album;
  std::u16string artist;
  std::u16string identifier;
  std::u16string certified_level;
  std::u16string release_rank;
  bool compilation = false;
  int32_t year = 0;
  std::vector<FakeTrack> tracks;
  // What the disc reports as its track count (the full disc's count and "track_count"); 0: the
  // number of tracks. A count below the number of tracks makes a catalogue that breaks its own
  // rule, as old catalogues did.
  int32_t track_count = 0;
  HRESULT retrieve_result = S_OK;  // what the data view's RetrieveData answers
  HRESULT copy_result = S_OK;      // what Copy answers (a failure hands out no copy)
};
using FakeDisc = std::shared_ptr<const FakeDiscData>;

// A disc as an answer hands it out: which track is current, and whether every track comes
// along (a full disc) or only the current one (track count 1, as lookups answer).
struct DiscRef {
  FakeDisc disc;
  int32_t track = 0;
  bool full = false;
};

struct FakeAnswer {
  HRESULT hr = S_OK;
  int32_t kind = kLookupNone;
  std::vector<DiscRef> discs;  // one for kind 3, several for kinds 2 and 5
};

struct FakeCall {
  std::string op;
  std::vector<std::u16string> args;
};

// The texts and named fields of a tag, as the fake FileTag stores them.
struct FakeTagData {
  std::map<std::u16string, std::u16string> texts;   // by property name: u"Title", u"Artist"...
  std::map<std::u16string, std::u16string> fields;  // named fields: u"TLEN", u"iTunes_PELK_IDs"
};

class FakeLookupControl : public std::enable_shared_from_this<FakeLookupControl> {
 public:
  static std::shared_ptr<FakeLookupControl> Create();

  // The automation object to hand to the manager (one per fake; it keeps the fake alive).
  ComPtr<ILookupControl> Control();
  ComPtr<ILookupEngine> Engine();

  // --- set-up ---
  // Tags created through FakeControlGetObject read files (LoadFromFile, AttachToFile) from
  // this fake's SetFileTag table.
  void InstallAsLibrary();
  FakeDisc AddDisc(FakeDiscData data);
  void SetVersion(std::u16string version);
  void SetVersionResult(HRESULT hr);
  // Which of the objects of kind 7, 8 and 9 exist (all three by default).
  void SetObjectAvailable(int32_t kind, bool available);
  void ScriptWaveform(std::u16string signature, FakeAnswer answer);
  // Keyed by the tag's title, or by the file name when the tag has no title.
  void ScriptText(std::u16string key, FakeAnswer answer);
  void SetDefaultAnswer(FakeAnswer answer);  // for every lookup without a scripted answer
  void ScriptIdentifier(std::u16string identifier, DiscRef disc, int32_t value = 0);
  void ScriptIdentifierPair(std::u16string first, std::u16string second, DiscRef disc);
  void SetFullDiscResult(HRESULT hr);  // FetchFullDisc's code; S_OK gives the full disc
  // The tags that LoadFromFile / AttachToFile read for a file name.
  void SetFileTag(std::u16string file_name, FakeTagData tag);
  void SetDataListElement(int32_t list_id, int32_t level, std::u16string disc_identifier,
                          std::vector<int32_t> values);

  // --- what was asked ---
  std::vector<FakeCall> Calls() const;
  std::vector<std::string> CallNames() const;
  size_t CountOf(const std::string& op) const;
  void ClearCalls();
  // The answer the engine was last told to commit (SelectDisc / SelectCollection).
  ComPtr<IUnknown> Selected() const;
  // The number of live anchor objects (kind 9) handed out and not yet released.
  int32_t LiveAnchors() const;

  // --- used by the fake's objects ---
  void Record(std::string op, std::vector<std::u16string> args);
  FakeAnswer AnswerFor(const std::string& op, const std::u16string& key);
  HRESULT Answer(const FakeAnswer& answer, int32_t* result_kind);
  std::optional<FakeTagData> FileTagFor(const std::u16string& file_name) const;

 private:
  friend class FakeControlObject;
  friend class FakeEngineObject;
  FakeLookupControl() = default;

  mutable std::mutex mutex_;
  std::u16string version_ = u"PELKControl 2.6.0.10";
  HRESULT version_result_ = S_OK;
  std::map<int32_t, bool> available_{{7, true}, {8, true}, {9, true}};
  std::map<std::u16string, FakeAnswer> waveform_, text_;
  std::optional<FakeAnswer> default_answer_;
  std::map<std::u16string, std::pair<DiscRef, int32_t>> identifiers_;
  std::map<std::pair<std::u16string, std::u16string>, DiscRef> pairs_;
  HRESULT full_disc_result_ = S_OK;
  std::map<std::u16string, FakeTagData> file_tags_;
  std::map<std::tuple<int32_t, int32_t, std::u16string>, std::vector<int32_t>> data_lists_;
  std::vector<FakeCall> calls_;
  ComPtr<IDiscInfo> last_single_;
  ComPtr<IDiscList> last_collection_;
  ComPtr<IUnknown> selected_;
  std::shared_ptr<int32_t> live_anchors_ = std::make_shared<int32_t>(0);
  ComPtr<ILookupControl> control_;
  ComPtr<ILookupEngine> engine_;
};

// Disc and tag objects of the fake, usable without a control.
ComPtr<IDiscInfo> MakeFakeDisc(const DiscRef& ref);
// with_views: the tag also offers the extended and MP3-field views.
ComPtr<IFileTag> MakeFakeTag(FakeTagData data = {}, bool with_views = true);
FakeTagData TagDataOf(IFileTag* tag);
ComPtr<IDiscList> MakeFakeDiscList(std::vector<ComPtr<IDiscInfo>> discs);

// Creates the fake control library's creatable objects by class identifier (FileTag, the
// media-file tag, the disc-tag builder, ExtData), as a control library's DllGetObject does.
HRESULT FakeControlGetObject(REFCLSID clsid, REFIID iid, void** object);

// Installs a fake as the control library for the life of the object: the tags, builders and
// extended data the code under test creates come from get_object (the fake's own by default),
// and the system's object creation is never tried.
class ScopedControlLibrary {
 public:
  explicit ScopedControlLibrary(FakeLookupControl& fake,
                                DllGetClassObjectFn get_object = &FakeControlGetObject);
  ~ScopedControlLibrary();
  ScopedControlLibrary(const ScopedControlLibrary&) = delete;
  ScopedControlLibrary& operator=(const ScopedControlLibrary&) = delete;
};

}  // namespace pelk::testing
