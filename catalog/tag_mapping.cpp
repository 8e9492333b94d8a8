#include "catalog/tag_mapping.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <taglib/aifffile.h>
#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "catalog/asf_header.h"
#include "catalog/large_tag_items.h"
#include "runtime/utf.h"

namespace pelk::catalog {
namespace {

using TagLib::String;
using TagLib::StringList;

// Where one text lives in each format (the table in catalog/file_tag.h).
struct TextFields {
  const char* id3;                  // ID3v2 frame id, or "TXXX:" + description
  std::array<const char*, 3> xiph;  // Vorbis comment keys / property names: first written, all read
  const char* mp4;                  // MP4 atom (Latin-1, © is \251), or the iTunes freeform key
  const char* asf;                  // ASF attribute or content-description field
  const char* info;                 // RIFF INFO id, or null
};

constexpr char kTxxxPrefix[] = "TXXX:";
constexpr char kFreeformPrefix[] = "----:com.apple.iTunes:";

const std::array<TextFields, kTagTextCount> kFields = {{
    {"TALB", {"ALBUM"}, "\251alb", "WM/AlbumTitle", "IPRD"},
    {"TPE1", {"ARTIST"}, "\251ART", "Author", "IART"},
    {"TIT2", {"TITLE"}, "\251nam", "Title", "INAM"},
    {"TXXX:PELK_Identifier",
     {"PELK_IDENTIFIER"},
     "----:com.apple.iTunes:PELK_Identifier",
     "PELK_Identifier",
     nullptr},
    {"TRCK", {"TRACKNUMBER"}, "trkn", "WM/TrackNumber", "IPRT"},
    {"TCON", {"GENRE"}, "\251gen", "WM/Genre", "IGNR"},
    {"TDRC", {"DATE", "YEAR"}, "\251day", "WM/Year", "ICRD"},
    {"COMM", {"COMMENT", "DESCRIPTION"}, "\251cmt", "Description", "ICMT"},
    {"TCOM", {"COMPOSER"}, "\251wrt", "WM/Composer", "IMUS"},
    {"TPE2", {"ALBUMARTIST", "ALBUM ARTIST"}, "aART", "WM/AlbumArtist", nullptr},
    {"TPOS", {"DISCNUMBER"}, "disk", "WM/PartOfSet", nullptr},
    {"TEXT", {"LYRICIST"}, "----:com.apple.iTunes:LYRICIST", "WM/Writer", "IWRI"},
    {"TPUB",
     {"LABEL", "PUBLISHER", "ORGANIZATION"},
     "----:com.apple.iTunes:LABEL",
     "WM/Publisher",
     nullptr},
    {"TPE3", {"CONDUCTOR"}, "----:com.apple.iTunes:CONDUCTOR", "WM/Conductor", nullptr},
    {"TCOP", {"COPYRIGHT"}, "cprt", "Copyright", "ICOP"},
    {"TENC", {"ENCODEDBY"}, "\251too", "WM/EncodedBy", "ITCH"},
    {"TSRC", {"ISRC"}, "----:com.apple.iTunes:ISRC", "WM/ISRC", nullptr},
    {"TMOO", {"MOOD"}, "----:com.apple.iTunes:MOOD", "WM/Mood", nullptr},
    {"TBPM", {"BPM"}, "tmpo", "WM/BeatsPerMinute", nullptr},
    {"TSOP", {"ARTISTSORT"}, "soar", "WM/ArtistSortOrder", nullptr},
    {"TSOA", {"ALBUMSORT"}, "soal", "WM/AlbumSortOrder", nullptr},
    {"TSOT", {"TITLESORT"}, "sonm", "WM/TitleSortOrder", nullptr},
}};

constexpr char16_t FoldAscii(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

String ToTag(std::u16string_view text) { return String(Utf16ToUtf8(text), String::UTF8); }
std::u16string FromTag(const String& text) { return Utf8ToUtf16(text.to8Bit(true)); }
std::u16string FromAscii(std::string_view text) { return Utf8ToUtf16(text); }

// Several values of one field become one text: in the order the tag holds them, empty values
// left out, joined with "; ". Nothing is sorted or removed as a duplicate, so the text is the
// same each time the file is read.
std::u16string Join(const StringList& values) {
  std::u16string out;
  for (const String& value : values) {
    if (value.isEmpty()) continue;
    if (!out.empty()) out += u"; ";
    out += FromTag(value);
  }
  return out;
}

std::u16string Number(long long n) { return FromAscii(std::to_string(n)); }

// The first source of a text wins: the format's main tag is read before its others.
void SetText(TagData& data, int text, std::u16string value) {
  if (data.texts[text].empty()) data.texts[text] = std::move(value);
}
void SetField(TagData& data, std::u16string name, std::u16string value) {
  if (!name.empty() && !value.empty()) data.fields.emplace(std::move(name), std::move(value));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

template <class Match>
std::optional<TagText> FindText(Match match) {
  for (int t = 0; t < kTagTextCount; ++t) {
    if (match(kFields[t])) return static_cast<TagText>(t);
  }
  return std::nullopt;
}

std::optional<TagText> TextOfTxxx(std::u16string_view description) {
  return FindText([&](const TextFields& f) {
    const std::string_view id = f.id3;
    const std::string_view prefix = kTxxxPrefix;
    return StartsWith(id, prefix) &&
           SameFieldName(description, FromAscii(id.substr(prefix.size())));
  });
}

std::optional<TagText> TextOfXiphKey(std::u16string_view key) {
  return FindText([&](const TextFields& f) {
    for (const char* k : f.xiph) {
      if (k && SameFieldName(key, FromAscii(k))) return true;
    }
    return false;
  });
}

std::optional<TagText> TextOfMp4Key(const String& key) {
  const String freeform(kFreeformPrefix);
  return FindText([&](const TextFields& f) {
    const String atom(f.mp4);  // Latin-1, as TagLib names the atoms
    if (!atom.startsWith(freeform)) return key == atom;
    return key.startsWith(freeform) && SameFieldName(FromTag(key.substr(freeform.size())),
                                                     FromTag(atom.substr(freeform.size())));
  });
}

std::optional<TagText> TextOfAsfName(const String& name) {
  return FindText([&](const TextFields& f) { return name == String(f.asf); });
}

std::optional<TagText> TextOfInfoId(std::string_view id) {
  return FindText([&](const TextFields& f) { return f.info && id == f.info; });
}

// "T" or "I" followed by three capitals or digits: a text frame of ID3v2 (other than TXXX) or a
// RIFF INFO id.
bool IsFourCharId(std::u16string_view name, char16_t first) {
  if (name.size() != 4 || name[0] != first) return false;
  for (char16_t c : name) {
    if (!((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))) return false;
  }
  return true;
}
bool IsId3TextFrameId(std::u16string_view name) {
  return IsFourCharId(name, u'T') && name != u"TXXX";
}
bool IsInfoId(std::u16string_view name) { return IsFourCharId(name, u'I'); }

std::string Ascii(std::u16string_view text) { return Utf16ToUtf8(text); }

// "3", "3/12" (as the track and disc numbers of MP4 hold them); nullopt for anything else.
std::optional<std::pair<int, int>> ParseNumberPair(std::u16string_view text) {
  auto read = [&](size_t& i) -> std::optional<int> {
    const size_t start = i;
    long long n = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && i - start < 9) {
      n = n * 10 + (text[i++] - u'0');
    }
    if (i == start || (i < text.size() && text[i] >= u'0' && text[i] <= u'9')) return std::nullopt;
    return static_cast<int>(n);
  };
  size_t i = 0;
  const auto first = read(i);
  if (!first) return std::nullopt;
  if (i == text.size()) return std::pair{*first, 0};
  if (text[i++] != u'/') return std::nullopt;
  const auto second = read(i);
  if (!second || i != text.size()) return std::nullopt;
  return std::pair{*first, *second};
}

// The number a text starts with (the year of "2003-05-01", the track of "3/12"), else 0.
unsigned int LeadingNumber(std::u16string_view text) {
  unsigned int n = 0;
  for (size_t i = 0; i < text.size() && i < 9 && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    n = n * 10 + (text[i] - u'0');
  }
  return n;
}

// --- the basic texts every TagLib tag has ---

void ReadBasic(const TagLib::Tag* tag, TagData& data) {
  if (!tag) return;
  SetText(data, kTagAlbumTitle, FromTag(tag->album()));
  SetText(data, kTagArtist, FromTag(tag->artist()));
  SetText(data, kTagTitle, FromTag(tag->title()));
  SetText(data, kTagGenre, FromTag(tag->genre()));
  SetText(data, kTagComment, FromTag(tag->comment()));
  if (tag->year()) SetText(data, kTagYear, Number(tag->year()));
  if (tag->track()) SetText(data, kTagTrackNumber, Number(tag->track()));
}

// Written to every tag of the file first (ID3v1 and APE beside ID3v2, say), so a secondary tag
// never brings back a value the main tag no longer has; the main tag is written precisely after.
void WriteBasic(TagLib::Tag* tag, const TagData& data) {
  if (!tag) return;
  tag->setAlbum(ToTag(data.texts[kTagAlbumTitle]));
  tag->setArtist(ToTag(data.texts[kTagArtist]));
  tag->setTitle(ToTag(data.texts[kTagTitle]));
  tag->setGenre(ToTag(data.texts[kTagGenre]));
  tag->setComment(ToTag(data.texts[kTagComment]));
  tag->setYear(LeadingNumber(data.texts[kTagYear]));
  tag->setTrack(LeadingNumber(data.texts[kTagTrackNumber]));
}

// --- ID3v2 ---

void ReadId3v2(const TagLib::ID3v2::Tag& tag, TagData& data) {
  using TagLib::ID3v2::TextIdentificationFrame;
  using TagLib::ID3v2::UserTextIdentificationFrame;
  // A field may come as several frames of one id (or TXXX frames of one description) as well as
  // several values in one frame: all of them count, in the order the tag holds them.
  struct Frames {
    bool user;
    std::u16string name;
    StringList values;
  };
  std::vector<Frames> fields;
  auto add = [&](bool user, std::u16string name, const StringList& values) {
    for (Frames& f : fields) {
      if (f.user == user && SameFieldName(f.name, name)) {
        f.values.append(values);
        return;
      }
    }
    fields.push_back({user, std::move(name), values});
  };
  for (TagLib::ID3v2::Frame* frame : tag.frameList()) {
    if (auto* user = dynamic_cast<UserTextIdentificationFrame*>(frame)) {
      StringList values = user->fieldList();
      if (!values.isEmpty()) values.erase(values.begin());  // the description comes first
      add(true, FromTag(user->description()), values);
    } else if (auto* text_frame = dynamic_cast<TextIdentificationFrame*>(frame)) {
      const TagLib::ByteVector id = frame->frameID();
      const std::u16string name = FromAscii(std::string_view(id.data(), id.size()));
      if (name == u"TCON") continue;  // read through genre(), which names numbered genres
      add(false, name, text_frame->fieldList());
    }
  }
  for (const Frames& f : fields) {
    if (auto text = f.user ? TextOfTxxx(f.name) : TextOfId3Frame(f.name)) {
      SetText(data, *text, Join(f.values));
    } else {
      SetField(data, f.name, Join(f.values));
    }
  }
  SetText(data, kTagGenre, FromTag(tag.genre()));
  SetText(data, kTagComment, FromTag(tag.comment()));
}

void SetId3Text(TagLib::ID3v2::Tag* tag, const std::string& id, std::u16string_view value) {
  const TagLib::ByteVector frame_id(id.data(), static_cast<unsigned int>(id.size()));
  tag->removeFrames(frame_id);
  if (value.empty()) return;
  auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(frame_id, String::UTF8);
  frame->setText(ToTag(value));
  tag->addFrame(frame.release());  // the tag owns its frames
}

void SetId3UserText(TagLib::ID3v2::Tag* tag, std::u16string_view description,
                    std::u16string_view value) {
  using TagLib::ID3v2::UserTextIdentificationFrame;
  const TagLib::ID3v2::FrameList frames = tag->frameList("TXXX");  // a copy: removal deletes
  for (TagLib::ID3v2::Frame* frame : frames) {
    auto* user = dynamic_cast<UserTextIdentificationFrame*>(frame);
    if (user && SameFieldName(FromTag(user->description()), description)) tag->removeFrame(frame);
  }
  if (value.empty()) return;
  auto frame =
      std::make_unique<UserTextIdentificationFrame>(ToTag(description), StringList(ToTag(value)));
  tag->addFrame(frame.release());
}

void WriteId3v2(TagLib::ID3v2::Tag* tag, const TagData& data) {
  for (int t = 0; t < kTagTextCount; ++t) {
    const std::string id = kFields[t].id3;
    const std::u16string& value = data.texts[t];
    if (id == "COMM") {
      tag->setComment(ToTag(value));
    } else if (id == "TCON") {
      tag->setGenre(ToTag(value));
    } else if (StartsWith(id, kTxxxPrefix)) {
      SetId3UserText(tag, FromAscii(id.substr(sizeof kTxxxPrefix - 1)), value);
    } else {
      SetId3Text(tag, id, value);
    }
  }
  for (const auto& [name, value] : data.fields) {
    if (IsId3TextFrameId(name)) {
      if (!TextOfId3Frame(name)) SetId3Text(tag, Ascii(name), value);
    } else if (!TextOfTxxx(name)) {
      SetId3UserText(tag, name, value);
    }
  }
}

// --- Vorbis comments ---

bool IsPictureKey(std::u16string_view key) {
  return SameFieldName(key, u"METADATA_BLOCK_PICTURE") || SameFieldName(key, u"COVERART");
}

void ReadXiph(const TagLib::Ogg::XiphComment& xiph, TagData& data) {
  const auto& map = xiph.fieldListMap();
  for (int t = 0; t < kTagTextCount; ++t) {
    for (const char* key : kFields[t].xiph) {
      if (!key) break;
      auto it = map.find(key);
      if (it != map.end()) SetText(data, t, Join(it->second));
    }
  }
  for (const auto& [key, values] : map) {
    const std::u16string name = FromTag(key);
    if (!TextOfXiphKey(name) && !IsPictureKey(name)) SetField(data, name, Join(values));
  }
}

bool XiphKeysValid(const TagData& data) {
  for (const auto& [name, value] : data.fields) {
    if (!TagLib::Ogg::XiphComment::checkKey(ToTag(name))) return false;
  }
  return true;
}

void WriteXiph(TagLib::Ogg::XiphComment* xiph, const TagData& data) {
  for (int t = 0; t < kTagTextCount; ++t) {
    for (const char* key : kFields[t].xiph) {
      if (key) xiph->removeFields(key);
    }
    if (!data.texts[t].empty()) xiph->addField(kFields[t].xiph[0], ToTag(data.texts[t]));
  }
  for (const auto& [name, value] : data.fields) {
    if (TextOfXiphKey(name) || IsPictureKey(name)) continue;
    const String key = ToTag(name).upper();
    xiph->removeFields(key);
    if (!value.empty()) xiph->addField(key, ToTag(value));
  }
}

// --- MP4 ---

bool IsPairAtom(int t) { return t == kTagTrackNumber || t == kTagDiscNumber; }

void ReadMp4(const TagLib::MP4::Tag& tag, TagData& data) {
  const String freeform(kFreeformPrefix);
  for (const auto& [key, item] : tag.itemMap()) {
    if (auto text = TextOfMp4Key(key)) {
      if (IsPairAtom(*text)) {
        const auto pair = item.toIntPair();
        if (pair.first > 0) {
          SetText(data, *text,
                  pair.second > 0 ? Number(pair.first) + u"/" + Number(pair.second)
                                  : Number(pair.first));
        }
      } else if (*text == kTagBpm) {
        if (item.toInt() > 0) SetText(data, *text, Number(item.toInt()));
      } else {
        SetText(data, *text, Join(item.toStringList()));
      }
    } else if (key.startsWith(freeform)) {
      SetField(data, FromTag(key.substr(freeform.size())), Join(item.toStringList()));
    }
  }
}

bool Mp4NumbersValid(const TagData& data) {
  for (int t : {kTagTrackNumber, kTagDiscNumber, kTagBpm}) {
    const std::u16string& value = data.texts[t];
    if (value.empty()) continue;
    const auto pair = ParseNumberPair(value);
    if (!pair || (t == kTagBpm && pair->second != 0)) return false;
  }
  return true;
}

void RemoveMp4Freeform(TagLib::MP4::Tag* tag, std::u16string_view name) {
  const String freeform(kFreeformPrefix);
  std::vector<String> doomed;
  for (const auto& [key, item] : tag->itemMap()) {
    if (key.startsWith(freeform) && SameFieldName(FromTag(key.substr(freeform.size())), name)) {
      doomed.push_back(key);
    }
  }
  for (const String& key : doomed) tag->removeItem(key);
}

void WriteMp4(TagLib::MP4::Tag* tag, const TagData& data) {
  const std::string_view freeform(kFreeformPrefix);
  for (int t = 0; t < kTagTextCount; ++t) {
    const std::string_view atom = kFields[t].mp4;
    const std::u16string& value = data.texts[t];
    if (StartsWith(atom, freeform)) {
      RemoveMp4Freeform(tag, FromAscii(atom.substr(freeform.size())));
    } else {
      tag->removeItem(String(kFields[t].mp4));
    }
    if (value.empty()) continue;
    const String key(kFields[t].mp4);
    const auto pair = ParseNumberPair(value);  // checked by Mp4NumbersValid for number atoms
    if (IsPairAtom(t)) {
      tag->setItem(key, TagLib::MP4::Item(pair->first, pair->second));
    } else if (t == kTagBpm) {
      tag->setItem(key, TagLib::MP4::Item(pair->first));
    } else {
      tag->setItem(key, TagLib::MP4::Item(StringList(ToTag(value))));
    }
  }
  for (const auto& [name, value] : data.fields) {
    const String key = String(kFreeformPrefix) + ToTag(name);
    if (TextOfMp4Key(key)) continue;
    RemoveMp4Freeform(tag, name);
    if (!value.empty()) tag->setItem(key, TagLib::MP4::Item(StringList(ToTag(value))));
  }
}

// --- ASF ---

std::optional<std::u16string> AsfText(const TagLib::ASF::Attribute& attribute) {
  using TagLib::ASF::Attribute;
  switch (attribute.type()) {
    case Attribute::UnicodeType:
      return FromTag(attribute.toString());
    case Attribute::DWordType:
      return Number(attribute.toUInt());
    case Attribute::QWordType:
      return Number(static_cast<long long>(attribute.toULongLong()));
    case Attribute::WordType:
      return Number(attribute.toUShort());
    case Attribute::BoolType:
      return attribute.toBool() ? u"1" : u"0";
    default:
      return std::nullopt;  // bytes and GUIDs are not text
  }
}

void ReadAsf(const TagLib::ASF::Tag& tag, TagData& data) {
  SetText(data, kTagTitle, FromTag(tag.title()));
  SetText(data, kTagArtist, FromTag(tag.artist()));
  SetText(data, kTagComment, FromTag(tag.comment()));
  SetText(data, kTagCopyright, FromTag(tag.copyright()));
  for (const auto& [name, attributes] : tag.attributeListMap()) {
    std::u16string value;
    for (const auto& attribute : attributes) {
      if (auto text = AsfText(attribute); text && !text->empty()) {
        if (!value.empty()) value += u"; ";
        value += *text;
      }
    }
    if (auto text = TextOfAsfName(name)) {
      SetText(data, *text, std::move(value));
    } else {
      SetField(data, FromTag(name), std::move(value));
    }
  }
}

void SetAsfAttribute(TagLib::ASF::Tag* tag, const String& name, std::u16string_view value) {
  tag->removeItem(name);
  if (!value.empty()) tag->setAttribute(name, TagLib::ASF::Attribute(ToTag(value)));
}

void WriteAsf(TagLib::ASF::Tag* tag, const TagData& data) {
  // Attributes without a name are no field of anyone's; TagLib makes thousands of them from a
  // header whose descriptor counts run past its end, and they would be written back.
  tag->removeItem("");
  for (int t = 0; t < kTagTextCount; ++t) {
    const String value = ToTag(data.texts[t]);
    switch (t) {  // the content-description fields
      case kTagTitle:
        tag->setTitle(value);
        break;
      case kTagArtist:
        tag->setArtist(value);
        break;
      case kTagComment:
        tag->setComment(value);
        break;
      case kTagCopyright:
        tag->setCopyright(value);
        break;
      default:
        SetAsfAttribute(tag, String(kFields[t].asf), data.texts[t]);
    }
  }
  for (const auto& [name, value] : data.fields) {
    const String key = ToTag(name);
    if (!TextOfAsfName(key)) SetAsfAttribute(tag, key, value);
  }
}

// --- RIFF INFO (beside the ID3v2 chunk of WAV files) ---

void ReadInfo(const TagLib::RIFF::Info::Tag& tag, TagData& data) {
  for (const auto& [id, value] : tag.fieldListMap()) {
    const std::string name(id.data(), id.size());
    if (auto text = TextOfInfoId(name)) {
      SetText(data, *text, FromTag(value));
    } else {
      SetField(data, FromAscii(name), FromTag(value));
    }
  }
}

void WriteInfo(TagLib::RIFF::Info::Tag* tag, const TagData& data) {
  for (int t = 0; t < kTagTextCount; ++t) {
    if (kFields[t].info) tag->setFieldText(kFields[t].info, ToTag(data.texts[t]));
  }
  for (const auto& [name, value] : data.fields) {
    const std::string id = Ascii(name);
    if (IsInfoId(name) && !TextOfInfoId(id)) tag->setFieldText(id.c_str(), ToTag(value));
  }
}

// --- any other format, through TagLib's property names ---

void ReadProperties(const TagLib::PropertyMap& map, TagData& data) {
  for (int t = 0; t < kTagTextCount; ++t) {
    for (const char* key : kFields[t].xiph) {
      if (!key) break;
      auto it = map.find(key);
      if (it != map.end()) SetText(data, t, Join(it->second));
    }
  }
  for (const auto& [key, values] : map) {
    const std::u16string name = FromTag(key);
    if (!TextOfXiphKey(name)) SetField(data, name, Join(values));
  }
}

void WriteProperties(TagLib::PropertyMap& map, const TagData& data) {
  for (int t = 0; t < kTagTextCount; ++t) {
    for (const char* key : kFields[t].xiph) {
      if (key) map.erase(key);
    }
    if (!data.texts[t].empty()) map.insert(kFields[t].xiph[0], StringList(ToTag(data.texts[t])));
  }
  for (const auto& [name, value] : data.fields) {
    if (TextOfXiphKey(name)) continue;
    const String key = ToTag(name).upper();
    map.erase(key);
    if (!value.empty()) map.insert(key, StringList(ToTag(value)));
  }
}

// --- opening files ---

HRESULT CheckPath(std::u16string_view path, std::string* native) {
  if (path.empty()) return E_INVALIDARG;
  *native = Utf16ToUtf8(path);
  std::error_code error;
  if (!std::filesystem::exists(*native, error)) return kTagFileNotFound;
  return S_OK;
}

// TagLib opens some files that hold no audio it can find (any text named ".mp3", say); those
// are refused too, so that writing never turns a document into a tagged "audio" file.
bool HasAudio(const TagLib::File& file) {
  const TagLib::AudioProperties* audio = file.audioProperties();
  return audio && audio->sampleRate() > 0;
}

bool Mp4ItemUsed(std::string_view name) {
  return name == "----" || TextOfMp4Key(String(std::string(name), String::Latin1)).has_value();
}

HRESULT Read(const std::string& path, TagData& data) {
  // A file whose tag holds a huge picture is read without it (declared before the reference:
  // TagLib reads from it until the reference is gone).
  const TagView view = OpenTagView(path, Mp4ItemUsed);
  if (view.refused) return E_FAIL;
  const TagLib::FileRef ref =
      view.stream ? TagLib::FileRef(view.stream.get(), true, TagLib::AudioProperties::Average)
                  : TagLib::FileRef(path.c_str(), true, TagLib::AudioProperties::Average);
  if (ref.isNull() || !HasAudio(*ref.file())) return E_FAIL;
  TagLib::File* file = ref.file();
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    if (mpeg->hasID3v2Tag()) ReadId3v2(*mpeg->ID3v2Tag(), data);
  } else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
    if (flac->hasXiphComment()) {
      ReadXiph(*flac->xiphComment(), data);
    } else if (flac->hasID3v2Tag()) {
      ReadId3v2(*flac->ID3v2Tag(), data);
    }
  } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
    if (mp4->tag()) ReadMp4(*mp4->tag(), data);
  } else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
    if (asf->tag()) ReadAsf(*asf->tag(), data);
  } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
    if (wav->hasID3v2Tag()) ReadId3v2(*wav->ID3v2Tag(), data);
    if (wav->hasInfoTag()) ReadInfo(*wav->InfoTag(), data);
  } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
    if (aiff->hasID3v2Tag()) ReadId3v2(*aiff->tag(), data);
  } else if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
    ReadXiph(*xiph, data);  // Ogg Vorbis, Opus, Speex, Ogg FLAC
  } else {
    ReadProperties(file->properties(), data);
  }
  ReadBasic(file->tag(), data);
  data.length_ms = file->audioProperties()->lengthInMilliseconds();
  return S_OK;
}

// TagLib opens a file whose extension it does not know by guessing from the content, and can
// take one container for another (a Matroska file holding FLAC opens as FLAC): writing would
// corrupt it. Only files named as a format TagLib knows are written.
bool ExtensionTagLibKnows(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  if (extension.size() < 2) return false;
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return TagLib::FileRef::defaultFileExtensions().contains(extension.substr(1));
}

HRESULT Write(const std::string& path, const TagData& data) {
  if (!ExtensionTagLibKnows(path)) return E_FAIL;
  TagLib::FileRef ref(path.c_str(), true, TagLib::AudioProperties::Fast);
  if (ref.isNull() || !HasAudio(*ref.file())) return E_FAIL;
  TagLib::File* file = ref.file();
  if (file->readOnly()) return E_ACCESSDENIED;

  auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file);
  if (mp4 && !Mp4NumbersValid(data)) return E_INVALIDARG;
  auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag());
  auto* flac = dynamic_cast<TagLib::FLAC::File*>(file);
  if ((xiph || flac) && !XiphKeysValid(data)) return E_INVALIDARG;

  bool saved = false;
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    TagLib::ID3v2::Tag* id3 = mpeg->ID3v2Tag(true);
    WriteBasic(mpeg->tag(), data);
    WriteId3v2(id3, data);
    saved = mpeg->save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4,
                       TagLib::File::DoNotDuplicate);
  } else if (flac) {
    TagLib::Ogg::XiphComment* comment = flac->xiphComment(true);
    WriteBasic(flac->tag(), data);
    WriteXiph(comment, data);
    if (flac->hasID3v2Tag()) WriteId3v2(flac->ID3v2Tag(), data);
    saved = flac->save();
  } else if (mp4) {
    WriteBasic(mp4->tag(), data);
    WriteMp4(mp4->tag(), data);
    saved = mp4->save();
  } else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
    WriteBasic(asf->tag(), data);
    WriteAsf(asf->tag(), data);
    saved = asf->save();
  } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
    WriteBasic(wav->ID3v2Tag(), data);
    WriteId3v2(wav->ID3v2Tag(), data);
    WriteInfo(wav->InfoTag(), data);
    saved = wav->save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4);
  } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
    WriteBasic(aiff->tag(), data);
    WriteId3v2(aiff->tag(), data);
    saved = aiff->save();
  } else if (xiph) {
    WriteBasic(xiph, data);
    WriteXiph(xiph, data);
    saved = file->save();
  } else {
    WriteBasic(file->tag(), data);
    TagLib::PropertyMap map = file->properties();
    WriteProperties(map, data);
    // Keys the format cannot hold come back; refuse rather than drop them silently.
    if (!file->setProperties(map).isEmpty()) return E_INVALIDARG;
    saved = file->save();
  }
  return saved ? S_OK : E_FAIL;
}

}  // namespace

bool FieldNameLess::operator()(std::u16string_view a, std::u16string_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = FoldAscii(a[i]);
    const char16_t y = FoldAscii(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool SameFieldName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::optional<TagText> TextOfId3Frame(std::u16string_view frame_id) {
  return FindText([&](const TextFields& f) {
    return !StartsWith(f.id3, kTxxxPrefix) && frame_id == FromAscii(f.id3);
  });
}

HRESULT ReadTagFile(std::u16string_view path, TagData* data) {
  if (!data) return E_POINTER;
  try {
    std::string native;
    if (HRESULT hr = CheckPath(path, &native); FAILED(hr)) return hr;
    TagData read;
    if (HRESULT hr = Read(native, read); FAILED(hr)) return hr;
    *data = std::move(read);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

namespace {

// A file descriptor closed on every path.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool CopyContent(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

// Writes the tags into a copy of the file in its own folder, flushes the copy, renames it over
// the original and flushes the folder: at every moment the path holds either the old file or
// the complete new one, so an interrupted write never truncates a user's file. The copy keeps
// the original's permission bits and (best effort) its owner. The modification time is that of
// the write: the content changed, and backup and sync tools rely on the time to notice it. A
// symbolic link is followed (the file it names is replaced, the link stays). A file without
// any write permission bit is refused even for a user (root) whom the system would let write:
// the mark says the user wants the file left alone.
HRESULT WriteAtomically(const std::string& path, const TagData& data) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(path, ec);
  if (ec) return kTagFileNotFound;
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return E_FAIL;
  if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) return E_ACCESSDENIED;

  const std::filesystem::path folder = target.parent_path();
  // The copy keeps the extension: TagLib chooses the format by it.
  const std::string extension = target.extension().string();
  std::string name =
      (folder / ("." + target.stem().string() + ".sonquix-XXXXXX")).string() + extension;
  const int copy_fd = ::mkstemps(name.data(), static_cast<int>(extension.size()));
  if (copy_fd < 0) return errno == EACCES || errno == EROFS ? E_ACCESSDENIED : E_FAIL;
  Fd copy(copy_fd);
  bool keep_copy = false;
  struct Cleanup {
    const std::string& name;
    const bool& keep;
    ~Cleanup() {
      if (!keep) ::unlink(name.c_str());
    }
  } cleanup{name, keep_copy};

  {
    const Fd original(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
    if (original.get() < 0 || !CopyContent(original.get(), copy.get())) return E_FAIL;
    // TagLib reads the copy whole before it writes. An ASF header it would build far more from
    // than the file holds is not written; one whose attribute counts run past the end of the
    // file is written with the counts repaired (TagLib would write back what it read there).
    if (TagLibReadsAsAsf(target)) {
      const AsfHeaderPlan asf =
          PlanAsfHeader(original.get(), static_cast<uint64_t>(st.st_size), kLargeTagItem);
      if (asf.refused) return E_FAIL;
      for (const Splice& repair : asf.repairs) {
        if (::pwrite(copy.get(), repair.bytes.data(), repair.bytes.size(),
                     static_cast<off_t>(repair.offset)) !=
            static_cast<ssize_t>(repair.bytes.size())) {
          return E_FAIL;
        }
      }
    }
  }
  ::fchmod(copy.get(), st.st_mode & 07777);
  if (::fchown(copy.get(), st.st_uid, st.st_gid) != 0) {
    // Only the owner may be kept by a privileged writer; the permission bits are kept anyway.
  }
  if (!copy.Close()) return E_FAIL;

  const HRESULT hr = Write(name, data);
  if (FAILED(hr)) return hr;
  {
    const Fd written(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (written.get() < 0 || ::fsync(written.get()) != 0) return E_FAIL;
  }
  if (::rename(name.c_str(), target.c_str()) != 0) {
    return errno == EACCES || errno == EPERM || errno == EROFS ? E_ACCESSDENIED : E_FAIL;
  }
  keep_copy = true;  // it is the file now
  const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return S_OK;
}

}  // namespace

HRESULT WriteTagFile(std::u16string_view path, const TagData& data) {
  try {
    std::string native;
    if (HRESULT hr = CheckPath(path, &native); FAILED(hr)) return hr;
    return WriteAtomically(native, data);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace pelk::catalog
