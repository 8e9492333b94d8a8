#include "cli/library/tag_writer.h"

#include "cli/command_support.h"
#include "pelk/catalog_control.h"
#include "runtime/bstr.h"

namespace pelk::cli {
namespace {

// Plain function pointers rather than pointers to members: GCC's sanitizer builds see the
// latter's calls through a table as reading an uninitialized index.
struct Field {
  const char* name;
  HRESULT (*get)(IFileTag*, BSTR*);
  HRESULT (*put)(IFileTag*, BSTR);
};

#define PELK_TAG_FIELD(name, property)                               \
  Field {                                                            \
    name, [](IFileTag* t, BSTR* v) { return t->get_##property(v); }, \
        [](IFileTag* t, BSTR v) { return t->put_##property(v); }     \
  }
const Field kFields[] = {
    PELK_TAG_FIELD("artist", Artist),         PELK_TAG_FIELD("album", AlbumTitle),
    PELK_TAG_FIELD("title", Title),           PELK_TAG_FIELD("track", TrackNumber),
    PELK_TAG_FIELD("identifier", Identifier),
};
#undef PELK_TAG_FIELD

}  // namespace

TagChange ApplyAnswerTags(const ModuleSession& session, const FileAnswer& answer, bool write) {
  TagChange change;
  const ComPtr<IFileTag> tag = session.NewTag();
  if (!tag) {
    change.error = "the control cannot create a tag";
    return change;
  }
  const Bstr path = Bstr::FromUtf8(answer.file);
  if (const HRESULT hr = tag->LoadFromFile(path.Get(), 0); FAILED(hr)) {
    change.error = "cannot read the file's tags (error " + HresultText(hr) + ")";
    return change;
  }
  const std::string wanted[] = {answer.artist, answer.album, answer.title,
                                std::to_string(answer.track), answer.track_identifier};
  for (size_t i = 0; i < std::size(kFields); ++i) {
    Bstr current;
    kFields[i].get(tag.Get(), current.Out());
    // A track number stored as "3/12" already says 3.
    const std::string now = current.Utf8();
    if (wanted[i].empty() || now == wanted[i] || (i == 3 && now.rfind(wanted[i] + "/", 0) == 0)) {
      continue;
    }
    change.fields[kFields[i].name] = {now, wanted[i]};
    kFields[i].put(tag.Get(), Bstr::FromUtf8(wanted[i]).Get());
  }
  Bstr disc;
  tag->GetField(Bstr(kDiscIdentifierField).Get(), disc.Out());
  if (!answer.disc_identifier.empty() && disc.Utf8() != answer.disc_identifier) {
    change.fields["disc"] = {disc.Utf8(), answer.disc_identifier};
    tag->PutField(Bstr(kDiscIdentifierField).Get(), Bstr::FromUtf8(answer.disc_identifier).Get());
  }
  if (!write || change.fields.empty()) return change;
  const ComPtr<IFileTagStore> store = ComPtr<IFileTag>(tag).As<IFileTagStore>();
  if (!store) {
    change.error = "the control's tags cannot be written";
    return change;
  }
  const HRESULT hr = store->SaveToFile(path.Get(), 0);
  if (hr == E_ACCESSDENIED) {
    change.error = "the file is read-only: tags not written";
  } else if (FAILED(hr)) {
    change.error = "tags not written (error " + HresultText(hr) + ")";
  } else {
    change.written = true;
  }
  return change;
}

}  // namespace pelk::cli
