#include "cli/library/tag_writer.h"

#include "catalog/file_tag.h"
#include "cli/command_support.h"
#include "runtime/bstr.h"

namespace pelk::cli {
namespace {

using Getter = HRESULT (IFileTag::*)(BSTR*);
using Setter = HRESULT (IFileTag::*)(BSTR);

struct Field {
  const char* name;
  Getter get;
  Setter put;
};

constexpr Field kFields[] = {
    {"artist", &IFileTag::get_Artist, &IFileTag::put_Artist},
    {"album", &IFileTag::get_AlbumTitle, &IFileTag::put_AlbumTitle},
    {"title", &IFileTag::get_Title, &IFileTag::put_Title},
    {"track", &IFileTag::get_TrackNumber, &IFileTag::put_TrackNumber},
    {"identifier", &IFileTag::get_Identifier, &IFileTag::put_Identifier},
};

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
    (tag.Get()->*kFields[i].get)(current.Out());
    // A track number stored as "3/12" already says 3.
    const std::string now = current.Utf8();
    if (wanted[i].empty() || now == wanted[i] || (i == 3 && now.rfind(wanted[i] + "/", 0) == 0)) {
      continue;
    }
    change.fields[kFields[i].name] = {now, wanted[i]};
    (tag.Get()->*kFields[i].put)(Bstr::FromUtf8(wanted[i]).Get());
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
