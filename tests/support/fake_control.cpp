#include "tests/support/fake_control.h"

#include <string>

#include "control/control_objects.h"
#include "runtime/bstr.h"
#include "runtime/object.h"
#include "runtime/utf.h"

namespace pelk::testing {
namespace {

int32_t ReportedCount(const FakeDiscData& disc) {
  return disc.track_count > 0 ? disc.track_count : static_cast<int32_t>(disc.tracks.size());
}

HRESULT OutText(std::u16string_view text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = AllocBstr(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

template <class I, class T>
HRESULT OutObject(const ComPtr<T>& object, I** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!object) return S_OK;
  return object->QueryInterface(I::kIid, reinterpret_cast<void**>(out));
}

// --- discs ---

class FakeTrackObject final : public Object<FakeTrackObject, Dual<ITrackInfo>> {
 public:
  FakeTrackObject(FakeDisc disc, int32_t number) : disc_(std::move(disc)), number_(number) {}
  HRESULT get_Artist(BSTR* out) override {
    const FakeTrack& t = Track();
    return OutText(t.artist.empty() ? disc_->artist : t.artist, out);
  }
  HRESULT get_Title(BSTR* out) override { return OutText(Track().title, out); }
  HRESULT get_Number(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = number_;
    return S_OK;
  }
  HRESULT get_Length(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = Track().length_ms;
    return S_OK;
  }
  HRESULT get_Identifier(BSTR* out) override { return OutText(Track().identifier, out); }

 private:
  const FakeTrack& Track() const { return disc_->tracks[static_cast<size_t>(number_ - 1)]; }
  FakeDisc disc_;
  int32_t number_;
};

class FakeReleaseObject final : public Object<FakeReleaseObject, Dual<IReleaseInfo>> {
 public:
  explicit FakeReleaseObject(int32_t year) : year_(year) {}
  HRESULT get_Year(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = year_;
    return S_OK;
  }

 private:
  int32_t year_;
};

class FakeDiscObject final : public Object<FakeDiscObject, Dual<ILegacyDisc>, Dual<IDiscData>> {
 public:
  static constexpr IID kImplIid = MakeGuid("DE5D48D5-F8C8-4250-AEFF-71FC1189E486");
  explicit FakeDiscObject(DiscRef ref) : ref_(std::move(ref)) {}

  HRESULT get_AlbumTitle(BSTR* out) override { return OutText(ref_.disc->album, out); }
  HRESULT get_Artist(BSTR* out) override { return OutText(ref_.disc->artist, out); }
  HRESULT get_TrackCount(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = ref_.full ? ReportedCount(*ref_.disc) : 1;
    return S_OK;
  }
  HRESULT GetTrackTitle(int32_t track, BSTR* out) override {
    if (!out) return E_POINTER;
    if (!Carries(track)) return E_INVALIDARG;
    return OutText(ref_.disc->tracks[static_cast<size_t>(track - 1)].title, out);
  }
  HRESULT GetTrack(int32_t track, ITrackInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Carries(track)) return E_INVALIDARG;
    return OutObject(MakeObject<FakeTrackObject>(ref_.disc, track), out);
  }
  HRESULT get_CurrentTrack(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = ref_.track;
    return S_OK;
  }
  HRESULT put_CurrentTrack(int32_t track) override {
    if (track < 0 || track > static_cast<int32_t>(ref_.disc->tracks.size())) return E_INVALIDARG;
    ref_.track = track;
    return S_OK;
  }
  HRESULT GetNamedText(BSTR name, BSTR* out) override {
    const std::u16string_view key = BstrView(name);
    if (key == u"track_count") {
      return OutText(Utf8ToUtf16(std::to_string(ReportedCount(*ref_.disc))), out);
    }
    if (key == u"certified_level") return OutText(ref_.disc->certified_level, out);
    return OutText(u"", out);
  }
  HRESULT get_Identifier(BSTR* out) override { return OutText(ref_.disc->identifier, out); }
  HRESULT get_ReleaseRank(BSTR* out) override { return OutText(ref_.disc->release_rank, out); }
  HRESULT get_Release(IReleaseInfo** out) override {
    return OutObject(MakeObject<FakeReleaseObject>(ref_.disc->year), out);
  }
  HRESULT get_IsCompilation(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = ref_.disc->compilation ? 1 : 0;
    return S_OK;
  }
  HRESULT Copy(IDiscInfo** out) override {
    if (FAILED(ref_.disc->copy_result)) {
      if (out) *out = nullptr;
      return ref_.disc->copy_result;
    }
    return OutObject(MakeObject<FakeDiscObject>(ref_), out);
  }
  HRESULT RetrieveData(int32_t) override { return ref_.disc->retrieve_result; }

  const DiscRef& Ref() const { return ref_; }

 private:
  bool Carries(int32_t track) const {
    if (track < 1 || track > static_cast<int32_t>(ref_.disc->tracks.size())) return false;
    if (ref_.disc->tracks[static_cast<size_t>(track - 1)].missing) return false;
    return ref_.full || track == ref_.track;
  }
  DiscRef ref_;
};

class FakeDiscListObject final : public Object<FakeDiscListObject, Dual<IDiscList>> {
 public:
  explicit FakeDiscListObject(std::vector<ComPtr<IDiscInfo>> discs) : discs_(std::move(discs)) {}
  HRESULT get_Count(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = static_cast<int32_t>(discs_.size());
    return S_OK;
  }
  HRESULT get_Item(int32_t index, IDiscInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index < 1 || index > static_cast<int32_t>(discs_.size())) return E_INVALIDARG;
    return OutObject(discs_[static_cast<size_t>(index - 1)], out);
  }

 private:
  std::vector<ComPtr<IDiscInfo>> discs_;
};

// --- tags ---

// Views lists the optional tag views the object answers (IFileTagExtended, IMp3Fields).
template <class... Views>
class FakeTagObject final
    : public Object<FakeTagObject<Views...>, Dual<IMediaFileTag>, Dual<Views>...> {
 public:
  // One identifier per instantiation, so ImplOf never takes one kind of tag for the other.
  static constexpr IID kImplIid = [] {
    GUID g = MakeGuid("B548AABF-A811-4DE8-A1F6-AE6F6F040A5C");
    g.Data1 += sizeof...(Views);
    return g;
  }();
  explicit FakeTagObject(FakeTagData data) : data_(std::move(data)) {}

#define PELK_FAKE_TAG_TEXT(Name)                                \
  HRESULT get_##Name(BSTR* out) { return Get(u## #Name, out); } \
  HRESULT put_##Name(BSTR value) { return Put(u## #Name, value); }
  PELK_FAKE_TAG_TEXT(AlbumTitle)
  PELK_FAKE_TAG_TEXT(Artist)
  PELK_FAKE_TAG_TEXT(Title)
  PELK_FAKE_TAG_TEXT(Identifier)
  PELK_FAKE_TAG_TEXT(TrackNumber)
  PELK_FAKE_TAG_TEXT(Genre)
  PELK_FAKE_TAG_TEXT(Year)
  PELK_FAKE_TAG_TEXT(Comment)
  PELK_FAKE_TAG_TEXT(Composer)
  PELK_FAKE_TAG_TEXT(AlbumArtist)
  PELK_FAKE_TAG_TEXT(DiscNumber)
  PELK_FAKE_TAG_TEXT(Lyricist)
  PELK_FAKE_TAG_TEXT(Publisher)
  PELK_FAKE_TAG_TEXT(Conductor)
  PELK_FAKE_TAG_TEXT(Copyright)
  PELK_FAKE_TAG_TEXT(EncodedBy)
  PELK_FAKE_TAG_TEXT(Isrc)
  PELK_FAKE_TAG_TEXT(Mood)
  PELK_FAKE_TAG_TEXT(Bpm)
  PELK_FAKE_TAG_TEXT(SortArtist)
  PELK_FAKE_TAG_TEXT(SortAlbum)
  PELK_FAKE_TAG_TEXT(SortTitle)
#undef PELK_FAKE_TAG_TEXT

  HRESULT GetField(BSTR name, BSTR* out) {
    if (!out) return E_POINTER;
    std::lock_guard lock(mutex_);
    auto it = data_.fields.find(std::u16string(BstrView(name)));
    return OutText(it == data_.fields.end() ? u"" : it->second, out);
  }
  HRESULT PutField(BSTR name, BSTR value) {
    std::lock_guard lock(mutex_);
    data_.fields[std::u16string(BstrView(name))] = BstrView(value);
    return S_OK;
  }
  HRESULT GetMp3Field(BSTR name, BSTR* out) { return GetField(name, out); }
  HRESULT LoadFromFile(BSTR file_name, int32_t) {
    auto control = control_.lock();
    if (!control) return E_FAIL;
    control->Record("LoadFromFile", {std::u16string(BstrView(file_name))});
    auto tag = control->FileTagFor(std::u16string(BstrView(file_name)));
    if (!tag) return E_FAIL;
    std::lock_guard lock(mutex_);
    data_ = *tag;
    return S_OK;
  }
  HRESULT AttachToFile(BSTR file_name, int32_t) {
    const std::u16string attached(BstrView(file_name));
    std::optional<FakeTagData> tag;
    if (auto control = control_.lock()) {
      control->Record("AttachToFile", {attached});
      tag = control->FileTagFor(attached);
    }
    std::lock_guard lock(mutex_);
    attached_ = attached;
    if (tag) data_ = *tag;
    return S_OK;
  }

  FakeTagData Data() const {
    std::lock_guard lock(mutex_);
    return data_;
  }
  void SetControl(std::weak_ptr<FakeLookupControl> control) { control_ = std::move(control); }

 private:
  HRESULT Get(const char16_t* key, BSTR* out) {
    if (!out) return E_POINTER;
    std::lock_guard lock(mutex_);
    auto it = data_.texts.find(key);
    return OutText(it == data_.texts.end() ? u"" : it->second, out);
  }
  HRESULT Put(const char16_t* key, BSTR value) {
    std::lock_guard lock(mutex_);
    data_.texts[key] = BstrView(value);
    return S_OK;
  }

  // Real tags are used from the identifying thread and the prefetch worker at once; so is this.
  mutable std::mutex mutex_;
  FakeTagData data_;
  std::u16string attached_;
  std::weak_ptr<FakeLookupControl> control_;
};

using FullTag = FakeTagObject<IFileTagExtended, IMp3Fields>;

class FakeTagBuilderObject final : public Object<FakeTagBuilderObject, Dual<IDiscTagBuilder>> {
 public:
  HRESULT BuildTag(IDiscInfo* disc, int32_t track, IFileTag** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<FakeDiscObject> impl = ImplOf<FakeDiscObject>(disc);
    if (!impl) return E_INVALIDARG;
    const FakeDisc& d = impl->Ref().disc;
    if (track < 1 || track > static_cast<int32_t>(d->tracks.size())) return E_INVALIDARG;
    const FakeTrack& t = d->tracks[static_cast<size_t>(track - 1)];
    FakeTagData data;
    data.texts[u"AlbumTitle"] = d->album;
    data.texts[u"Artist"] = t.artist.empty() ? d->artist : t.artist;
    data.texts[u"Title"] = t.title;
    data.texts[u"Identifier"] = t.identifier;
    data.texts[u"TrackNumber"] = Utf8ToUtf16(std::to_string(track));
    return OutObject(MakeObject<FullTag>(std::move(data)), out);
  }
};

class FakeExtDataObject final : public Object<FakeExtDataObject, Dual<IExtData>> {
 public:
  static constexpr IID kImplIid = MakeGuid("8859873B-F03A-48BE-B4B7-A45321CE2F1C");
  HRESULT InitFromDisc(IDiscInfo* disc, int32_t, int32_t track) override {
    ComPtr<FakeDiscObject> impl = ImplOf<FakeDiscObject>(disc);
    if (!impl) return E_INVALIDARG;
    text_ = u"ext:" + impl->Ref().disc->identifier + u":" + Utf8ToUtf16(std::to_string(track));
    disc_identifier_ = impl->Ref().disc->identifier;
    return S_OK;
  }
  HRESULT Serialize(BSTR* out) override { return OutText(text_, out); }
  HRESULT Deserialize(BSTR text) override {
    const std::u16string_view t = BstrView(text);
    if (t.substr(0, 4) != u"ext:") return E_INVALIDARG;
    const size_t colon = t.rfind(u':');
    text_ = t;
    disc_identifier_ = t.substr(4, colon - 4);
    return S_OK;
  }
  const std::u16string& DiscIdentifier() const { return disc_identifier_; }

 private:
  std::u16string text_, disc_identifier_;
};

class FakeDataListElementObject final
    : public Object<FakeDataListElementObject, Dual<IDataListElement>> {
 public:
  explicit FakeDataListElementObject(std::vector<int32_t> values) : values_(std::move(values)) {}
  HRESULT get_Count(int32_t* out) override {
    if (!out) return E_POINTER;
    *out = static_cast<int32_t>(values_.size());
    return S_OK;
  }
  HRESULT GetValue(int32_t index, int32_t* out) override {
    if (!out) return E_POINTER;
    if (index < 1 || index > static_cast<int32_t>(values_.size())) return E_INVALIDARG;
    *out = values_[static_cast<size_t>(index - 1)];
    return S_OK;
  }

 private:
  std::vector<int32_t> values_;
};

// --- control, engine, tracer ---

class FakeTracerObject final : public Object<FakeTracerObject, Dual<ILookupTracer>> {
 public:
  explicit FakeTracerObject(std::weak_ptr<FakeLookupControl> fake) : fake_(std::move(fake)) {}
  HRESULT Begin(BSTR step) override { return Log("TracerBegin", step); }
  HRESULT End(BSTR step) override { return Log("TracerEnd", step); }

 private:
  HRESULT Log(const char* op, BSTR step) {
    if (auto f = fake_.lock()) f->Record(op, {std::u16string(BstrView(step))});
    return S_OK;
  }
  std::weak_ptr<FakeLookupControl> fake_;
};

// The kind-9 object: counts itself so tests can see when the last holder let it go.
class FakeAnchorObject final : public Object<FakeAnchorObject, Dual<ILookupTracer>> {
 public:
  explicit FakeAnchorObject(std::shared_ptr<int32_t> live) : live_(std::move(live)) { ++*live_; }
  ~FakeAnchorObject() override { --*live_; }
  HRESULT Begin(BSTR) override { return S_OK; }
  HRESULT End(BSTR) override { return S_OK; }

 private:
  std::shared_ptr<int32_t> live_;
};

}  // namespace

class FakeEngineObject final : public Object<FakeEngineObject, Dual<ILookupEngine>> {
 public:
  explicit FakeEngineObject(std::weak_ptr<FakeLookupControl> fake) : weak_(std::move(fake)) {}

  HRESULT WaveformLookup(BSTR type, BSTR version, BSTR signature, int32_t complete,
                         int32_t* result_kind) override {
    auto f = Fake();
    const std::u16string sig(BstrView(signature));
    f->Record("WaveformLookup", {std::u16string(BstrView(type)), std::u16string(BstrView(version)),
                                 sig, Utf8ToUtf16(std::to_string(complete))});
    return f->Answer(f->AnswerFor("WaveformLookup", sig), result_kind);
  }
  HRESULT TextLookup(BSTR file_name, IFileTag* tag, int32_t complete,
                     int32_t* result_kind) override {
    auto f = Fake();
    std::u16string title;
    if (tag) {
      Bstr t;
      tag->get_Title(t.Out());
      title = t.View();
    }
    const std::u16string name = file_name ? std::u16string(BstrView(file_name)) : u"(null)";
    f->Record("TextLookup", {name, title, Utf8ToUtf16(std::to_string(complete))});
    return f->Answer(f->AnswerFor("TextLookup", title.empty() ? name : title), result_kind);
  }
  HRESULT IdentifierLookup(BSTR identifier, int32_t, int32_t* value, IDiscInfo** disc) override {
    auto f = Fake();
    if (!disc) return E_POINTER;
    *disc = nullptr;
    const std::u16string id(BstrView(identifier));
    f->Record("IdentifierLookup", {id});
    std::lock_guard lock(f->mutex_);
    auto it = f->identifiers_.find(id);
    if (it == f->identifiers_.end()) return S_OK;
    if (value) *value = it->second.second;
    return OutObject(MakeFakeDisc(it->second.first), disc);
  }
  HRESULT IdentifierPairLookup(BSTR first, BSTR second, int32_t, int32_t, int32_t,
                               IDiscInfo** disc) override {
    auto f = Fake();
    if (!disc) return E_POINTER;
    *disc = nullptr;
    const std::u16string a(BstrView(first)), b(BstrView(second));
    f->Record("IdentifierPairLookup", {a, b});
    std::lock_guard lock(f->mutex_);
    auto it = f->pairs_.find({a, b});
    if (it == f->pairs_.end()) return S_OK;
    return OutObject(MakeFakeDisc(it->second), disc);
  }
  HRESULT FetchFullDisc(IDiscInfo* disc, int32_t flag, int32_t reserved,
                        IDiscInfo** full) override {
    auto f = Fake();
    if (!full) return E_POINTER;
    *full = nullptr;
    f->Record("FetchFullDisc",
              {Utf8ToUtf16(std::to_string(flag)), Utf8ToUtf16(std::to_string(reserved))});
    ComPtr<FakeDiscObject> impl = ImplOf<FakeDiscObject>(disc);
    if (!impl) return E_INVALIDARG;
    HRESULT hr;
    {
      std::lock_guard lock(f->mutex_);
      hr = f->full_disc_result_;
    }
    if (FAILED(hr)) return hr;
    DiscRef ref = impl->Ref();
    ref.full = true;
    return OutObject(MakeFakeDisc(ref), full);
  }
  HRESULT IsSameDisc(IDiscInfo* first, IDiscInfo* second, int32_t, int32_t* same) override {
    auto f = Fake();
    if (!same) return E_POINTER;
    f->Record("IsSameDisc", {});
    ComPtr<FakeDiscObject> a = ImplOf<FakeDiscObject>(first);
    ComPtr<FakeDiscObject> b = ImplOf<FakeDiscObject>(second);
    if (!a || !b) return E_INVALIDARG;
    *same = a->Ref().disc == b->Ref().disc ? 1 : 0;
    return S_OK;
  }
  HRESULT SelectDisc(IDiscInfo* disc) override {
    auto f = Fake();
    f->Record("SelectDisc", {});
    std::lock_guard lock(f->mutex_);
    f->selected_ = disc;
    f->last_single_ = disc;
    return S_OK;
  }
  HRESULT SelectCollection(IDiscList* discs) override {
    auto f = Fake();
    f->Record("SelectCollection", {});
    std::lock_guard lock(f->mutex_);
    f->selected_ = discs;
    f->last_collection_ = discs;
    return S_OK;
  }

 private:
  // Every call runs while the test holds the fake; the weak reference avoids a cycle with the
  // fake's cached engine.
  struct Locked {
    std::shared_ptr<FakeLookupControl> fake;
    FakeLookupControl* operator->() const { return fake.get(); }
  };
  Locked Fake() const { return Locked{weak_.lock()}; }
  std::weak_ptr<FakeLookupControl> weak_;
};

class FakeControlObject final : public Object<FakeControlObject, Dual<ILookupControl>> {
 public:
  explicit FakeControlObject(std::weak_ptr<FakeLookupControl> fake) : fake_(std::move(fake)) {}

  HRESULT get_Version(BSTR* out) override {
    auto f = fake_.lock();
    f->Record("get_Version", {});
    std::lock_guard lock(f->mutex_);
    if (FAILED(f->version_result_)) return f->version_result_;
    return OutText(f->version_, out);
  }
  HRESULT GetControlObject(int32_t kind, IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto f = fake_.lock();
    f->Record("GetControlObject", {Utf8ToUtf16(std::to_string(kind))});
    bool available;
    {
      std::lock_guard lock(f->mutex_);
      available = f->available_[kind];
    }
    if (!available) return E_FAIL;
    switch (kind) {
      case kControlObjectEngine:
        return OutObject(f->Engine(), out);
      case kControlObjectTracer:
        return OutObject(MakeObject<FakeTracerObject>(f), out);
      case kControlObjectAnchor:
        return OutObject(MakeObject<FakeAnchorObject>(f->live_anchors_), out);
      default:
        return E_INVALIDARG;
    }
  }
  HRESULT GetSingleMatch(IDiscInfo** out) override {
    auto f = fake_.lock();
    f->Record("GetSingleMatch", {});
    std::lock_guard lock(f->mutex_);
    if (!f->last_single_) return E_FAIL;
    return OutObject(f->last_single_, out);
  }
  HRESULT GetMatchCollection(IDiscList** out) override {
    auto f = fake_.lock();
    f->Record("GetMatchCollection", {});
    std::lock_guard lock(f->mutex_);
    if (!f->last_collection_) return E_FAIL;
    return OutObject(f->last_collection_, out);
  }
  HRESULT GetDataListElement(int32_t list_id, int32_t level, IExtData* ext_data,
                             IDataListElement** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto f = fake_.lock();
    f->Record("GetDataListElement",
              {Utf8ToUtf16(std::to_string(list_id)), Utf8ToUtf16(std::to_string(level))});
    ComPtr<FakeExtDataObject> ext = ImplOf<FakeExtDataObject>(ext_data);
    if (!ext) return E_INVALIDARG;
    std::lock_guard lock(f->mutex_);
    auto it = f->data_lists_.find({list_id, level, ext->DiscIdentifier()});
    if (it == f->data_lists_.end()) return E_FAIL;
    return OutObject(MakeObject<FakeDataListElementObject>(it->second), out);
  }

 private:
  std::weak_ptr<FakeLookupControl> fake_;
};

std::shared_ptr<FakeLookupControl> FakeLookupControl::Create() {
  return std::shared_ptr<FakeLookupControl>(new FakeLookupControl());
}

ComPtr<ILookupControl> FakeLookupControl::Control() {
  std::lock_guard lock(mutex_);
  if (!control_) control_ = MakeObject<FakeControlObject>(weak_from_this()).As<ILookupControl>();
  return control_;
}

ComPtr<ILookupEngine> FakeLookupControl::Engine() {
  std::lock_guard lock(mutex_);
  if (!engine_) engine_ = MakeObject<FakeEngineObject>(weak_from_this()).As<ILookupEngine>();
  return engine_;
}

FakeDisc FakeLookupControl::AddDisc(FakeDiscData data) {
  return std::make_shared<const FakeDiscData>(std::move(data));
}

void FakeLookupControl::SetVersion(std::u16string version) {
  std::lock_guard lock(mutex_);
  version_ = std::move(version);
}

void FakeLookupControl::SetVersionResult(HRESULT hr) {
  std::lock_guard lock(mutex_);
  version_result_ = hr;
}

void FakeLookupControl::SetObjectAvailable(int32_t kind, bool available) {
  std::lock_guard lock(mutex_);
  available_[kind] = available;
}

void FakeLookupControl::ScriptWaveform(std::u16string signature, FakeAnswer answer) {
  std::lock_guard lock(mutex_);
  waveform_[std::move(signature)] = std::move(answer);
}

void FakeLookupControl::ScriptText(std::u16string key, FakeAnswer answer) {
  std::lock_guard lock(mutex_);
  text_[std::move(key)] = std::move(answer);
}

void FakeLookupControl::SetDefaultAnswer(FakeAnswer answer) {
  std::lock_guard lock(mutex_);
  default_answer_ = std::move(answer);
}

void FakeLookupControl::ScriptIdentifier(std::u16string identifier, DiscRef disc, int32_t value) {
  std::lock_guard lock(mutex_);
  identifiers_[std::move(identifier)] = {std::move(disc), value};
}

void FakeLookupControl::ScriptIdentifierPair(std::u16string first, std::u16string second,
                                             DiscRef disc) {
  std::lock_guard lock(mutex_);
  pairs_[{std::move(first), std::move(second)}] = std::move(disc);
}

void FakeLookupControl::SetFullDiscResult(HRESULT hr) {
  std::lock_guard lock(mutex_);
  full_disc_result_ = hr;
}

void FakeLookupControl::SetFileTag(std::u16string file_name, FakeTagData tag) {
  std::lock_guard lock(mutex_);
  file_tags_[std::move(file_name)] = std::move(tag);
}

void FakeLookupControl::SetDataListElement(int32_t list_id, int32_t level,
                                           std::u16string disc_identifier,
                                           std::vector<int32_t> values) {
  std::lock_guard lock(mutex_);
  data_lists_[{list_id, level, std::move(disc_identifier)}] = std::move(values);
}

std::vector<FakeCall> FakeLookupControl::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeLookupControl::CallNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& c : calls_) names.push_back(c.op);
  return names;
}

size_t FakeLookupControl::CountOf(const std::string& op) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& c : calls_) n += c.op == op ? 1 : 0;
  return n;
}

void FakeLookupControl::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

ComPtr<IUnknown> FakeLookupControl::Selected() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

int32_t FakeLookupControl::LiveAnchors() const { return *live_anchors_; }

void FakeLookupControl::Record(std::string op, std::vector<std::u16string> args) {
  std::lock_guard lock(mutex_);
  calls_.push_back(FakeCall{std::move(op), std::move(args)});
}

FakeAnswer FakeLookupControl::AnswerFor(const std::string& op, const std::u16string& key) {
  std::lock_guard lock(mutex_);
  const auto& scripted = op == "WaveformLookup" ? waveform_ : text_;
  if (auto it = scripted.find(key); it != scripted.end()) return it->second;
  return default_answer_.value_or(FakeAnswer{});
}

HRESULT FakeLookupControl::Answer(const FakeAnswer& answer, int32_t* result_kind) {
  // A lookup that reports its completion itself is asked without a result kind.
  int32_t unused_kind = kLookupNone;
  if (!result_kind) result_kind = &unused_kind;
  std::vector<ComPtr<IDiscInfo>> discs;
  for (const DiscRef& ref : answer.discs) discs.push_back(MakeFakeDisc(ref));
  std::lock_guard lock(mutex_);
  last_single_.Reset();
  last_collection_.Reset();
  if (FAILED(answer.hr)) return answer.hr;
  *result_kind = answer.kind;
  if (answer.kind == kLookupOne && !discs.empty()) last_single_ = discs.front();
  if (answer.kind == kLookupSeveral || answer.kind == kLookupSeveralClose) {
    last_collection_ = MakeFakeDiscList(std::move(discs));
  }
  return answer.hr;
}

std::optional<FakeTagData> FakeLookupControl::FileTagFor(const std::u16string& file_name) const {
  std::lock_guard lock(mutex_);
  auto it = file_tags_.find(file_name);
  if (it == file_tags_.end()) return std::nullopt;
  return it->second;
}

ComPtr<IDiscInfo> MakeFakeDisc(const DiscRef& ref) {
  return MakeObject<FakeDiscObject>(ref).As<IDiscInfo>();
}

ComPtr<IFileTag> MakeFakeTag(FakeTagData data, bool with_views) {
  if (with_views) return MakeObject<FullTag>(std::move(data)).As<IFileTag>();
  return MakeObject<FakeTagObject<>>(std::move(data)).As<IFileTag>();
}

FakeTagData TagDataOf(IFileTag* tag) {
  if (auto full = ImplOf<FullTag>(tag)) return full->Data();
  if (auto plain = ImplOf<FakeTagObject<>>(tag)) return plain->Data();
  return {};
}

ComPtr<IDiscList> MakeFakeDiscList(std::vector<ComPtr<IDiscInfo>> discs) {
  return MakeObject<FakeDiscListObject>(std::move(discs)).As<IDiscList>();
}

namespace {
std::mutex g_library_mutex;
std::weak_ptr<FakeLookupControl> g_library;
}  // namespace

void FakeLookupControl::InstallAsLibrary() {
  std::lock_guard lock(g_library_mutex);
  g_library = weak_from_this();
}

HRESULT FakeControlGetObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IUnknown> created;
  if (clsid == CLSID_PelkFileTag || clsid == CLSID_PelkMediaFileTag) {
    ComPtr<FullTag> tag = MakeObject<FullTag>(FakeTagData{});
    std::lock_guard lock(g_library_mutex);
    tag->SetControl(g_library);
    created = tag.As<IUnknown>();
  } else if (clsid == CLSID_PelkDiscTagBuilder) {
    created = MakeObject<FakeTagBuilderObject>().As<IUnknown>();
  } else if (clsid == CLSID_PelkExtData) {
    created = MakeObject<FakeExtDataObject>().As<IUnknown>();
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return created->QueryInterface(iid, object);
}

ScopedControlLibrary::ScopedControlLibrary(FakeLookupControl& fake,
                                           DllGetClassObjectFn get_object) {
  fake.InstallAsLibrary();
  static int handle;  // any non-null module handle
  SetControlGetters(&handle, get_object, nullptr);
  SetControlFallbackDisabled(1);
}

ScopedControlLibrary::~ScopedControlLibrary() {
  SetControlGetters(nullptr, nullptr, nullptr);
  SetControlFallbackDisabled(0);
}

}  // namespace pelk::testing
