#include "catalog/catalog_control.h"

#include <charconv>

#include "catalog/catalog_disc.h"
#include "catalog/matching.h"
#include "runtime/bstr.h"
#include "runtime/error_info.h"
#include "runtime/utf.h"

namespace pelk::catalog {

namespace {

HRESULT StoreUnavailable(CatalogSession& session) {
  return ReportError(E_FAIL, ILookupControl::kIid, u"PELKControl",
                     Utf8ToUtf16("catalogue unavailable: " + session.LastError()));
}

// A lookup whose reads failed (the catalogue's server could not be reached) fails in words
// rather than answer "not found". Each lookup first drops a failure an earlier read left.
HRESULT LookupFailed(CatalogStore& store) {
  const std::string why = store.TakeFailure();
  if (why.empty()) return S_OK;
  return ReportError(E_FAIL, ILookupControl::kIid, u"PELKControl",
                     Utf8ToUtf16("catalogue lookup failed: " + why));
}

// Extended data of one catalogue track: "pelk-ext:1:<disc identifier>:<track>".
class CatalogExtData final : public Object<CatalogExtData, Dual<IExtData>> {
 public:
  static constexpr IID kImplIid = MakeGuid("1E2D3C4B-5A69-4788-96A5-B4C3D2E1F001");

  HRESULT InitFromDisc(IDiscInfo* disc, int32_t, int32_t track) override {
    ComPtr<CatalogDisc> impl = ImplOf<CatalogDisc>(disc);
    if (!impl) return E_INVALIDARG;
    const DiscPtr record = impl->Record();
    if (track != 0 && !record->Track(track)) return E_INVALIDARG;
    disc_identifier_ = record->identifier;
    track_ = track;
    return S_OK;
  }
  HRESULT Serialize(BSTR* text) override {
    if (!text) return E_POINTER;
    if (disc_identifier_.empty()) return E_FAIL;  // never initialized
    *text = AllocBstrUtf8("pelk-ext:1:" + disc_identifier_ + ":" + std::to_string(track_));
    return *text ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Deserialize(BSTR text) override {
    const std::string t = BstrToUtf8(text);
    constexpr std::string_view kPrefix = "pelk-ext:1:";
    if (t.rfind(kPrefix, 0) != 0) return E_INVALIDARG;
    const size_t colon = t.rfind(':');
    if (colon <= kPrefix.size()) return E_INVALIDARG;
    int32_t track = 0;
    auto [end, ec] = std::from_chars(t.data() + colon + 1, t.data() + t.size(), track);
    if (ec != std::errc() || end != t.data() + t.size() || track < 0) return E_INVALIDARG;
    disc_identifier_ = t.substr(kPrefix.size(), colon - kPrefix.size());
    track_ = track;
    return S_OK;
  }
  const std::string& DiscIdentifier() const { return disc_identifier_; }

 private:
  std::string disc_identifier_;
  int32_t track_ = 0;
};

class CatalogDataListElement final : public Object<CatalogDataListElement, Dual<IDataListElement>> {
 public:
  explicit CatalogDataListElement(std::vector<int32_t> values) : values_(std::move(values)) {}
  HRESULT get_Count(int32_t* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<int32_t>(values_.size());
    return S_OK;
  }
  HRESULT GetValue(int32_t index, int32_t* value) override {
    if (!value) return E_POINTER;
    if (index < 1 || index > static_cast<int32_t>(values_.size())) return E_INVALIDARG;
    *value = values_[static_cast<size_t>(index - 1)];
    return S_OK;
  }

 private:
  std::vector<int32_t> values_;
};

class CatalogTracer final : public Object<CatalogTracer, Dual<ILookupTracer>> {
 public:
  explicit CatalogTracer(std::shared_ptr<CatalogSession> session) : session_(std::move(session)) {}
  HRESULT Begin(BSTR step) override {
    session_->TraceBegin(BstrToUtf8(step));
    return S_OK;
  }
  HRESULT End(BSTR step) override {
    session_->TraceEnd(BstrToUtf8(step));
    return S_OK;
  }

 private:
  std::shared_ptr<CatalogSession> session_;
};

// Held by managers for as long as they share the control; it keeps the session open.
class CatalogAnchor final : public Object<CatalogAnchor, IErrorInfo> {
 public:
  explicit CatalogAnchor(std::shared_ptr<CatalogSession> session) : session_(std::move(session)) {}
  HRESULT GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetHelpContext(uint32_t*) override { return E_NOTIMPL; }

 private:
  std::shared_ptr<CatalogSession> session_;
};

class CatalogEngine final : public Object<CatalogEngine, Dual<ILookupEngine>> {
 public:
  explicit CatalogEngine(std::shared_ptr<CatalogSession> session) : session_(std::move(session)) {}

  HRESULT WaveformLookup(BSTR, BSTR, BSTR signature, int32_t complete,
                         int32_t* result_kind) override {
    if (!result_kind) return E_POINTER;
    CatalogStore* store = session_->Store();
    if (!store) return StoreUnavailable(*session_);
    store->TakeFailure();
    MatchAnswer answer;
    if (auto parsed = ParseSignature(BstrToUtf8(signature))) {
      answer = MatchWaveform(*store, *parsed);
    }
    return Publish(*store, answer, complete != 0, result_kind);
  }

  HRESULT TextLookup(BSTR file_name, IFileTag* tag, int32_t complete,
                     int32_t* result_kind) override {
    if (!result_kind) return E_POINTER;
    CatalogStore* store = session_->Store();
    if (!store) return StoreUnavailable(*session_);
    store->TakeFailure();
    TextQuery query;
    if (tag) {
      Bstr title, artist, album;
      tag->get_Title(title.Out());
      tag->get_Artist(artist.Out());
      tag->get_AlbumTitle(album.Out());
      query.title = title.View();
      query.artist = artist.View();
      query.album = album.View();
    }
    if (file_name) query.file_name = BstrView(file_name);
    return Publish(*store, MatchText(*store, query), complete != 0, result_kind);
  }

  HRESULT IdentifierLookup(BSTR identifier, int32_t, int32_t* value, IDiscInfo** disc) override {
    if (!disc) return E_POINTER;
    *disc = nullptr;
    CatalogStore* store = session_->Store();
    if (!store) return StoreUnavailable(*session_);
    const std::string id = BstrToUtf8(identifier);
    if (id.empty()) return S_OK;
    store->TakeFailure();
    if (auto hit = store->TrackByIdentifier(id)) {
      DiscPtr d = store->DiscById(hit->disc_id);
      if (const HRESULT failed = LookupFailed(*store); FAILED(failed)) return failed;
      if (value) *value = hit->track;
      *disc = MakeCatalogDisc(session_, d, hit->track, false).Detach();
      return S_OK;
    }
    DiscPtr d = store->DiscByIdentifier(id);
    if (const HRESULT failed = LookupFailed(*store); FAILED(failed)) return failed;
    if (d) {
      if (value) *value = 0;
      *disc = MakeCatalogDisc(session_, d, 0, true).Detach();
    }
    return S_OK;
  }

  HRESULT IdentifierPairLookup(BSTR first, BSTR second, int32_t, int32_t, int32_t,
                               IDiscInfo** disc) override {
    if (!disc) return E_POINTER;
    *disc = nullptr;
    CatalogStore* store = session_->Store();
    if (!store) return StoreUnavailable(*session_);
    store->TakeFailure();
    DiscPtr d = store->DiscByStoreIds(BstrToUtf8(first), BstrToUtf8(second));
    if (const HRESULT failed = LookupFailed(*store); FAILED(failed)) return failed;
    if (d) *disc = MakeCatalogDisc(session_, d, 0, true).Detach();
    return S_OK;
  }

  HRESULT FetchFullDisc(IDiscInfo* disc, int32_t, int32_t, IDiscInfo** full_disc) override {
    if (!full_disc) return E_POINTER;
    *full_disc = nullptr;
    ComPtr<CatalogDisc> impl = ImplOf<CatalogDisc>(disc);
    if (!impl) return E_INVALIDARG;
    *full_disc = MakeCatalogDisc(session_, impl->Record(), impl->Current(), true).Detach();
    return *full_disc ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT IsSameDisc(IDiscInfo* first, IDiscInfo* second, int32_t, int32_t* same) override {
    if (!same) return E_POINTER;
    ComPtr<CatalogDisc> a = ImplOf<CatalogDisc>(first), b = ImplOf<CatalogDisc>(second);
    if (!a || !b) return E_INVALIDARG;
    *same = a->Record()->id == b->Record()->id ? 1 : 0;
    return S_OK;
  }

  HRESULT SelectDisc(IDiscInfo* disc) override {
    session_->SetAnswer(disc, nullptr);
    return S_OK;
  }

  HRESULT SelectCollection(IDiscList* discs) override {
    session_->SetAnswer(nullptr, discs);
    return S_OK;
  }

 private:
  // Makes the answer the control's current one and reports its kind; a lookup whose reads
  // failed answers nothing and fails.
  HRESULT Publish(CatalogStore& store, const MatchAnswer& answer, bool complete,
                  int32_t* result_kind) {
    std::vector<ComPtr<IDiscInfo>> discs;
    for (const Match& m : answer.matches) {
      if (DiscPtr d = store.DiscById(m.disc_id)) {
        discs.push_back(MakeCatalogDisc(session_, d, m.track, complete));
      }
    }
    if (const HRESULT failed = LookupFailed(store); FAILED(failed)) {
      session_->SetAnswer(nullptr, nullptr);
      *result_kind = 1;
      return failed;
    }
    if (discs.empty() || answer.kind == 1) {
      session_->SetAnswer(nullptr, nullptr);
      *result_kind = 1;
      return S_OK;
    }
    if (answer.kind == 3) {
      session_->SetAnswer(discs.front(), nullptr);
    } else {
      session_->SetAnswer(nullptr, MakeObject<CatalogDiscList>(std::move(discs)).As<IDiscList>());
    }
    *result_kind = answer.kind;
    return S_OK;
  }

  std::shared_ptr<CatalogSession> session_;
};

}  // namespace

CatalogControl::CatalogControl()
    : session_(std::make_shared<CatalogSession>()),
      engine_(MakeObject<CatalogEngine>(session_).As<ILookupEngine>()) {}

HRESULT CatalogControl::get_Version(BSTR* version) {
  if (!version) return E_POINTER;
  *version = SysAllocString(kControlVersion);
  return *version ? S_OK : E_OUTOFMEMORY;
}

HRESULT CatalogControl::GetControlObject(int32_t kind, IUnknown** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  switch (kind) {
    case kControlObjectEngine:
      engine_.As<IUnknown>().CopyTo(object);
      return S_OK;
    case kControlObjectTracer:
      *object = MakeObject<CatalogTracer>(session_).As<IUnknown>().Detach();
      return S_OK;
    case kControlObjectAnchor:
      *object = MakeObject<CatalogAnchor>(session_).As<IUnknown>().Detach();
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

HRESULT CatalogControl::GetSingleMatch(IDiscInfo** disc) {
  if (!disc) return E_POINTER;
  session_->Single().CopyTo(disc);
  return *disc ? S_OK : E_FAIL;
}

HRESULT CatalogControl::GetMatchCollection(IDiscList** discs) {
  if (!discs) return E_POINTER;
  session_->Collection().CopyTo(discs);
  return *discs ? S_OK : E_FAIL;
}

HRESULT CatalogControl::GetDataListElement(int32_t list_id, int32_t level, IExtData* ext_data,
                                           IDataListElement** element) {
  if (!element) return E_POINTER;
  *element = nullptr;
  ComPtr<CatalogExtData> ext = ImplOf<CatalogExtData>(ext_data);
  if (!ext) return E_INVALIDARG;
  if (list_id != 1 || level != 0) return S_OK;  // the only list the catalogue keeps
  CatalogStore* store = session_->Store();
  if (!store) return StoreUnavailable(*session_);
  store->TakeFailure();
  DiscPtr disc = store->DiscByIdentifier(ext->DiscIdentifier());
  const auto genre =
      disc && !disc->genre.empty() ? static_cast<int32_t>(store->GenreNumber(disc->genre)) : 0;
  if (const HRESULT failed = LookupFailed(*store); FAILED(failed)) return failed;
  if (!disc || disc->genre.empty()) return S_OK;
  *element = MakeObject<CatalogDataListElement>(std::vector<int32_t>{genre})
                 .As<IDataListElement>()
                 .Detach();
  return S_OK;
}

HRESULT CatalogControl::OpenCatalog(BSTR path) {
  std::string error;
  if (!session_->Open(BstrToUtf8(path), &error)) {
    return ReportError(E_FAIL, IPelkCatalogControl::kIid, u"PELKControl", Utf8ToUtf16(error));
  }
  return S_OK;
}

HRESULT CatalogControl::get_CatalogPath(BSTR* path) {
  if (!path) return E_POINTER;
  CatalogStore* store = session_->Store();
  *path = AllocBstrUtf8(store ? store->Location() : "");
  return *path ? S_OK : E_OUTOFMEMORY;
}

HRESULT CatalogControl::get_TraceLog(BSTR* log) {
  if (!log) return E_POINTER;
  std::string text;
  for (const TraceEntry& e : session_->TraceLog()) {
    text += e.step + "\t" + (e.finished ? std::to_string(e.duration.count()) : "open") + "\n";
  }
  *log = AllocBstrUtf8(text);
  return *log ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateCatalogExtData(REFIID iid, void** object) {
  return CatalogExtData::CreateInstance(nullptr, iid, object);
}

}  // namespace pelk::catalog
