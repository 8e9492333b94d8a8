#include "catalog/file_tag.h"

#include <gtest/gtest.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "control/lookup_control.h"
#include "runtime/utf.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

namespace fs = std::filesystem;
using catalog::kTagFileNotFound;

// A scratch folder for one test; sample files are copied into it before anything writes them.
class ScratchDir {
 public:
  ScratchDir() {
    static int counter = 0;
    dir_ = fs::temp_directory_path() /
           ("file_tag_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  ~ScratchDir() { fs::remove_all(dir_); }
  std::string CopySample(const std::string& name) const {
    const fs::path to = dir_ / name;
    fs::copy_file(fs::path(SONQUIX_TEST_DATA_DIR) / name, to);
    return to.string();
  }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return Path(name);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Le(uint32_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// A mono 16-bit 8 kHz WAV of `ms` milliseconds of silence, with an optional RIFF INFO list.
std::string WavBytes(uint32_t ms, const std::vector<std::pair<std::string, std::string>>& info) {
  const uint32_t data_bytes = 8000 * ms / 1000 * 2;
  std::string body = "WAVEfmt " + Le(16, 4) + Le(1, 2) + Le(1, 2) + Le(8000, 4) + Le(16000, 4) +
                     Le(2, 2) + Le(16, 2) + "data" + Le(data_bytes, 4) +
                     std::string(data_bytes, '\0');
  if (!info.empty()) {
    std::string list = "INFO";
    for (const auto& [id, text] : info) {
      list += id + Le(static_cast<uint32_t>(text.size() + 1), 4) + text + '\0';
      if (list.size() % 2) list += '\0';
    }
    body += "LIST" + Le(static_cast<uint32_t>(list.size()), 4) + list;
  }
  return "RIFF" + Le(static_cast<uint32_t>(body.size()), 4) + body;
}

ComPtr<IFileTag> NewTag(bool media = false) {
  ComPtr<IFileTag> tag;
  EXPECT_HR(S_OK, catalog::CreateCatalogFileTag(media, IFileTag::kIid, tag.OutVoid()));
  return tag;
}

template <class I>
std::u16string Read(I* object, HRESULT (I::*get)(BSTR*)) {
  Bstr value;
  EXPECT_HR(S_OK, (object->*get)(value.Out()));
  return std::u16string(value.View());
}

std::u16string Field(IFileTag* tag, std::u16string_view name) {
  Bstr value;
  EXPECT_HR(S_OK, tag->GetField(Bstr(name).Get(), value.Out()));
  return std::u16string(value.View());
}

HRESULT Load(IFileTag* tag, const std::string& path) {
  return tag->LoadFromFile(Bstr::FromUtf8(path).Get(), 0);
}

template <class I>
struct TextProperty {
  HRESULT (I::*get)(BSTR*);
  HRESULT (I::*put)(BSTR);
  std::u16string value;
};

// Every text with a value each format can hold (numbers where MP4 keeps numbers).
const std::vector<TextProperty<IFileTag>> kTexts = {
    {&IFileTag::get_AlbumTitle, &IFileTag::put_AlbumTitle, u"Blue — 東京"},
    {&IFileTag::get_Artist, &IFileTag::put_Artist, u"Jöni"},
    {&IFileTag::get_Title, &IFileTag::put_Title, u"All I Want"},
    {&IFileTag::get_Identifier, &IFileTag::put_Identifier, u"T-0042"},
    {&IFileTag::get_TrackNumber, &IFileTag::put_TrackNumber, u"3/12"},
    {&IFileTag::get_Genre, &IFileTag::put_Genre, u"Folk"},
    {&IFileTag::get_Year, &IFileTag::put_Year, u"1971"},
    {&IFileTag::get_Comment, &IFileTag::put_Comment, u"a comment"},
    {&IFileTag::get_Composer, &IFileTag::put_Composer, u"Composer C"},
    {&IFileTag::get_AlbumArtist, &IFileTag::put_AlbumArtist, u"Album Artist"},
    {&IFileTag::get_DiscNumber, &IFileTag::put_DiscNumber, u"1/2"},
    {&IFileTag::get_Lyricist, &IFileTag::put_Lyricist, u"Lyricist L"},
    {&IFileTag::get_Publisher, &IFileTag::put_Publisher, u"Reprise"},
};
const std::vector<TextProperty<IFileTagExtended>> kExtendedTexts = {
    {&IFileTagExtended::get_Conductor, &IFileTagExtended::put_Conductor, u"Conductor K"},
    {&IFileTagExtended::get_Copyright, &IFileTagExtended::put_Copyright, u"(c) 1971"},
    {&IFileTagExtended::get_EncodedBy, &IFileTagExtended::put_EncodedBy, u"Encoder E"},
    {&IFileTagExtended::get_Isrc, &IFileTagExtended::put_Isrc, u"USRE17100042"},
    {&IFileTagExtended::get_Mood, &IFileTagExtended::put_Mood, u"Calm"},
    {&IFileTagExtended::get_Bpm, &IFileTagExtended::put_Bpm, u"120"},
    {&IFileTagExtended::get_SortArtist, &IFileTagExtended::put_SortArtist, u"Joni"},
    {&IFileTagExtended::get_SortAlbum, &IFileTagExtended::put_SortAlbum, u"Blue"},
    {&IFileTagExtended::get_SortTitle, &IFileTagExtended::put_SortTitle, u"All I Want"},
};

class FileTagFormatTest : public ::testing::TestWithParam<std::string> {
 protected:
  // The sample of this format in the scratch folder (the WAV is made here).
  std::string Sample() {
    if (GetParam() == "wav") return scratch_.Write("sample.wav", WavBytes(1000, {}));
    return scratch_.CopySample("tag_sample." + GetParam());
  }
  ScratchDir scratch_;
};

TEST_P(FileTagFormatTest, EveryTextAndNamedFieldSurvivesTheFile) {
  const std::string path = Sample();
  ComPtr<IFileTag> tag = NewTag(/*media=*/true);
  ASSERT_HR(S_OK, Load(tag.Get(), path));
  EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Title), u"");
  // Without a stored length, "TLEN" is the audio length (the samples last about one second).
  const int length_ms = std::stoi(Utf16ToUtf8(Field(tag.Get(), u"TLEN")));
  EXPECT_GE(length_ms, 900);
  EXPECT_LE(length_ms, 1300);

  ComPtr<IFileTagExtended> extended = tag.As<IFileTagExtended>();
  for (const auto& text : kTexts) ASSERT_HR(S_OK, (tag.Get()->*text.put)(Bstr(text.value).Get()));
  for (const auto& text : kExtendedTexts) (extended.Get()->*text.put)(Bstr(text.value).Get());
  tag->PutField(Bstr(u"iTunes_PELK_IDs").Get(), Bstr(u"12+A+B").Get());
  tag->PutField(Bstr(u"TLEN").Get(), Bstr(u"5000").Get());
  tag->PutField(Bstr(u"PELK_Custom").Get(), Bstr(u"x é").Get());
  ASSERT_HR(S_OK, tag.As<IFileTagStore>()->SaveToFile(nullptr, 0));  // to the attached file

  ComPtr<IFileTag> read = NewTag();
  ASSERT_HR(S_OK, Load(read.Get(), path));
  for (const auto& text : kTexts) EXPECT_EQ(Read(read.Get(), text.get), text.value);
  ComPtr<IFileTagExtended> read_extended = read.As<IFileTagExtended>();
  for (const auto& text : kExtendedTexts) {
    EXPECT_EQ(Read(read_extended.Get(), text.get), text.value);
  }
  EXPECT_EQ(Field(read.Get(), u"iTunes_PELK_IDs"), u"12+A+B");
  EXPECT_EQ(Field(read.Get(), u"TLEN"), u"5000");
  EXPECT_EQ(Field(read.Get(), u"pelk_custom"), u"x é");
  Bstr mp3_field;
  ASSERT_HR(S_OK,
            read.As<IMp3Fields>()->GetMp3Field(Bstr(u"iTunes_PELK_IDs").Get(), mp3_field.Out()));
  EXPECT_EQ(mp3_field.View(), u"12+A+B");

  // Emptied texts and fields leave the file; the rest stays.
  read->put_Title(Bstr(u"").Get());
  read->PutField(Bstr(u"iTunes_PELK_IDs").Get(), Bstr(u"").Get());
  ASSERT_HR(S_OK, catalog::SaveCatalogFileTag(read.Get(), Bstr::FromUtf8(path).Get()));
  ComPtr<IFileTag> again = NewTag();
  ASSERT_HR(S_OK, Load(again.Get(), path));
  EXPECT_EQ(Read(again.Get(), &IFileTag::get_Title), u"");
  EXPECT_EQ(Field(again.Get(), u"iTunes_PELK_IDs"), u"");
  EXPECT_EQ(Read(again.Get(), &IFileTag::get_Artist), u"Jöni");
}

INSTANTIATE_TEST_SUITE_P(Formats, FileTagFormatTest,
                         ::testing::Values("mp3", "flac", "ogg", "opus", "m4a", "wma", "wav",
                                           "aiff", "wv"),
                         [](const auto& info) { return info.param; });

class FileTagTest : public ::testing::Test {
 protected:
  // Saves a tag holding a title, the store identifiers and a length into the file.
  void SaveFields(const std::string& path) {
    ComPtr<IFileTag> tag = NewTag();
    tag->put_Title(Bstr(u"Song").Get());
    tag->put_Identifier(Bstr(u"T-7").Get());
    tag->PutField(Bstr(u"iTunes_PELK_IDs").Get(), Bstr(u"9+A+B").Get());
    tag->PutField(Bstr(u"TLEN").Get(), Bstr(u"4321").Get());
    ASSERT_HR(S_OK, catalog::SaveCatalogFileTag(tag.Get(), Bstr::FromUtf8(path).Get()));
  }
  ScratchDir scratch_;
};

TEST_F(FileTagTest, FieldsAreStoredAsEachFormatStoresThem) {
  const std::string mp3 = scratch_.CopySample("tag_sample.mp3");
  SaveFields(mp3);
  TagLib::MPEG::File mpeg(mp3.c_str());
  auto* id3 = mpeg.ID3v2Tag();
  ASSERT_TRUE(id3);
  auto* ids = TagLib::ID3v2::UserTextIdentificationFrame::find(id3, "iTunes_PELK_IDs");
  ASSERT_TRUE(ids);
  EXPECT_EQ(ids->fieldList().back(), "9+A+B");
  EXPECT_TRUE(TagLib::ID3v2::UserTextIdentificationFrame::find(id3, "PELK_Identifier"));
  ASSERT_FALSE(id3->frameList("TLEN").isEmpty());
  EXPECT_EQ(id3->frameList("TLEN").front()->toString(), "4321");

  const std::string ogg = scratch_.CopySample("tag_sample.ogg");
  SaveFields(ogg);
  TagLib::Ogg::Vorbis::File vorbis(ogg.c_str());
  EXPECT_TRUE(vorbis.tag()->contains("ITUNES_PELK_IDS"));
  EXPECT_TRUE(vorbis.tag()->contains("PELK_IDENTIFIER"));

  const std::string m4a = scratch_.CopySample("tag_sample.m4a");
  SaveFields(m4a);
  TagLib::MP4::File mp4(m4a.c_str());
  EXPECT_TRUE(mp4.tag()->contains("----:com.apple.iTunes:iTunes_PELK_IDs"));
  EXPECT_TRUE(mp4.tag()->contains("----:com.apple.iTunes:PELK_Identifier"));

  const std::string wma = scratch_.CopySample("tag_sample.wma");
  SaveFields(wma);
  TagLib::ASF::File asf(wma.c_str());
  EXPECT_TRUE(asf.tag()->contains("iTunes_PELK_IDs"));
  EXPECT_EQ(asf.tag()->title(), "Song");

  const std::string wav = scratch_.Write("a.wav", WavBytes(500, {}));
  SaveFields(wav);
  TagLib::RIFF::WAV::File riff(wav.c_str());
  EXPECT_EQ(riff.InfoTag()->fieldText("INAM"), "Song");
  EXPECT_TRUE(TagLib::ID3v2::UserTextIdentificationFrame::find(riff.ID3v2Tag(), "PELK_Identifier"));
}

TEST_F(FileTagTest, RiffInfoIsReadAndTheLengthIsExact) {
  const std::string wav = scratch_.Write(
      "info.wav",
      WavBytes(1000, {{"INAM", "Info Title"}, {"IART", "Info Artist"}, {"ISFT", "Maker 1.0"}}));
  ComPtr<IFileTag> tag = NewTag();
  ASSERT_HR(S_OK, Load(tag.Get(), wav));
  EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Title), u"Info Title");
  EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Artist), u"Info Artist");
  EXPECT_EQ(Field(tag.Get(), u"ISFT"), u"Maker 1.0");
  EXPECT_EQ(Field(tag.Get(), u"TLEN"), u"1000");
}

TEST_F(FileTagTest, SeveralValuesOfOneFieldKeepTheTagsOrder) {
  // Two ARTIST values in a Vorbis comment, not in alphabetical order, and an empty one between.
  const std::string flac = scratch_.CopySample("tag_sample.flac");
  {
    TagLib::FLAC::File file(flac.c_str());
    TagLib::Ogg::XiphComment* xiph = file.xiphComment(true);
    xiph->removeFields("ARTIST");
    xiph->addField("ARTIST", "Zeta", false);
    xiph->addField("ARTIST", "", false);
    xiph->addField("ARTIST", "Alpha", false);
    xiph->addField("GENRE", "Rock", false);
    xiph->addField("GENRE", "Folk", false);
    ASSERT_TRUE(file.save());
  }
  // Two values in one TPE1 frame, then a second TPE1 frame: all three, frame by frame.
  const std::string mp3 = scratch_.CopySample("tag_sample.mp3");
  {
    TagLib::MPEG::File file(mp3.c_str());
    TagLib::ID3v2::Tag* id3 = file.ID3v2Tag(true);
    id3->removeFrames("TPE1");
    auto first = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>("TPE1");
    first->setText(TagLib::StringList(TagLib::String("Zeta")).append("Mu"));
    auto second = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>("TPE1");
    second->setText("Alpha");
    id3->addFrame(first.release());
    id3->addFrame(second.release());
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone));
  }
  for (int pass = 0; pass < 2; ++pass) {  // the same text every time the file is read
    ComPtr<IFileTag> tag = NewTag();
    ASSERT_HR(S_OK, Load(tag.Get(), flac));
    EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Artist), u"Zeta; Alpha");
    EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Genre), u"Rock; Folk");
    ComPtr<IFileTag> id3 = NewTag();
    ASSERT_HR(S_OK, Load(id3.Get(), mp3));
    EXPECT_EQ(Read(id3.Get(), &IFileTag::get_Artist), u"Zeta; Mu; Alpha");
  }
}

TEST_F(FileTagTest, AnOlderId3v1TagNeverBringsBackAClearedText) {
  const std::string mp3 = scratch_.CopySample("tag_sample.mp3");
  {
    TagLib::MPEG::File mpeg(mp3.c_str());
    mpeg.ID3v1Tag(true)->setTitle("Old Title");
    ASSERT_TRUE(mpeg.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripNone));
  }
  ComPtr<IFileTag> tag = NewTag();
  ASSERT_HR(S_OK, Load(tag.Get(), mp3));
  EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Title), u"Old Title");  // filled from ID3v1
  tag->put_Title(Bstr(u"").Get());
  ASSERT_HR(S_OK, tag.As<IFileTagStore>()->SaveToFile(nullptr, 0));
  ASSERT_HR(S_OK, Load(tag.Get(), mp3));
  EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Title), u"");
}

TEST_F(FileTagTest, FilesThatCannotBeReadFailAndLeaveTheTagAlone) {
  ComPtr<IFileTag> tag = NewTag();
  tag->put_Title(Bstr(u"kept").Get());
  const std::string text(4096, 'x');
  EXPECT_HR(kTagFileNotFound, Load(tag.Get(), scratch_.Path("missing.mp3")));
  EXPECT_HR(E_FAIL, Load(tag.Get(), scratch_.Write("garbage.mp3", text)));
  EXPECT_HR(E_FAIL, Load(tag.Get(), scratch_.Write("garbage.flac", "fLaC" + text)));
  EXPECT_HR(E_FAIL, Load(tag.Get(), scratch_.Write("garbage.xyz", text)));
  EXPECT_HR(E_FAIL, Load(tag.Get(), scratch_.Write("empty.ogg", "")));
  EXPECT_HR(E_FAIL, Load(tag.Get(), scratch_.Path("")));  // a folder
  EXPECT_HR(E_INVALIDARG, tag->LoadFromFile(nullptr, 0));
  ComPtr<IMediaFileTag> media = NewTag(true).As<IMediaFileTag>();
  EXPECT_HR(kTagFileNotFound, media->AttachToFile(Bstr(u"/nonexistent/a.wma").Get(), 0));
  EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Title), u"kept");

  ComPtr<IFileTagStore> store = tag.As<IFileTagStore>();
  EXPECT_HR(E_INVALIDARG, store->SaveToFile(nullptr, 0));  // bound to no file
  const std::string garbage = scratch_.Write("garbage2.mp3", text);
  EXPECT_HR(E_FAIL, store->SaveToFile(Bstr::FromUtf8(garbage).Get(), 0));
  EXPECT_EQ(ReadBytes(garbage), text);
}

TEST_F(FileTagTest, ValuesAFormatCannotHoldAreRefusedBeforeWriting) {
  const std::string m4a = scratch_.CopySample("tag_sample.m4a");
  const std::string before = ReadBytes(m4a);
  ComPtr<IFileTag> tag = NewTag();
  tag->put_TrackNumber(Bstr(u"A1").Get());  // a vinyl side cannot be an MP4 track number
  tag->put_Title(Bstr(u"t").Get());
  EXPECT_HR(E_INVALIDARG, catalog::SaveCatalogFileTag(tag.Get(), Bstr::FromUtf8(m4a).Get()));
  EXPECT_EQ(ReadBytes(m4a), before);

  const std::string ogg = scratch_.CopySample("tag_sample.ogg");
  ComPtr<IFileTag> keyed = NewTag();
  keyed->PutField(Bstr(u"A=B").Get(), Bstr(u"v").Get());
  EXPECT_HR(E_INVALIDARG, catalog::SaveCatalogFileTag(keyed.Get(), Bstr::FromUtf8(ogg).Get()));
}

TEST_F(FileTagTest, ObjectsAnswerTheirInterfacesAndReadEmptyWhenFresh) {
  ComPtr<IFileTag> plain = NewTag(false);
  ComPtr<IFileTag> media = NewTag(true);
  EXPECT_FALSE(plain.As<IMediaFileTag>());
  EXPECT_TRUE(media.As<IMediaFileTag>());
  for (const auto& tag : {plain, media}) {
    EXPECT_TRUE(tag.As<IFileTagExtended>() && tag.As<IMp3Fields>() && tag.As<IFileTagStore>());
  }
  void* none = nullptr;
  EXPECT_HR(E_NOINTERFACE, catalog::CreateCatalogFileTag(false, IMediaFileTag::kIid, &none));
  EXPECT_FALSE(none);

  EXPECT_EQ(Read(plain.Get(), &IFileTag::get_Publisher), u"");
  EXPECT_EQ(Field(plain.Get(), u"TLEN"), u"");  // no file, no length
  Bstr value;
  EXPECT_HR(E_INVALIDARG, plain->GetField(nullptr, value.Out()));
  EXPECT_HR(E_POINTER, plain->GetField(Bstr(u"TLEN").Get(), nullptr));
  EXPECT_HR(E_INVALIDARG, plain->PutField(Bstr(u"").Get(), Bstr(u"v").Get()));

  // The identifier's field name and the ID3 frame ids of texts name the texts.
  plain->PutField(Bstr(u"PELK_Identifier").Get(), Bstr(u"T-1").Get());
  EXPECT_EQ(Read(plain.Get(), &IFileTag::get_Identifier), u"T-1");
  plain->put_Title(Bstr(u"Song").Get());
  ASSERT_HR(S_OK, plain.As<IMp3Fields>()->GetMp3Field(Bstr(u"TIT2").Get(), value.Out()));
  EXPECT_EQ(value.View(), u"Song");
}

TEST_F(FileTagTest, PropertiesAreReachableLateBound) {
  ComPtr<IFileTag> tag = NewTag();
  ComPtr<IDispatch> dispatch = tag.As<IDispatch>();
  OLECHAR name[] = u"title";
  OLECHAR* names[] = {name};
  DISPID id = 0;
  ASSERT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));

  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = SysAllocString(u"Late");
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&arg, &named, 1, 1};
  ASSERT_HR(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put,
                                   nullptr, nullptr, nullptr));
  VariantClear(&arg);
  EXPECT_EQ(Read(tag.Get(), &IFileTag::get_Title), u"Late");

  Variant result;
  DISPPARAMS get{nullptr, nullptr, 0, 0};
  ASSERT_HR(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &get,
                                   result.Get(), nullptr, nullptr));
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(BstrView(result->bstrVal), u"Late");
}

}  // namespace
}  // namespace pelk::testing
