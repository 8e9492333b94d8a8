// Any bytes as an audio file of any format TagLib opens, read through the catalogue's media-file
// tag as the manager reads tags: every text, the named fields the manager asks for, and (for a
// quarter of the inputs) a write of the tag back into the file followed by a second read. The
// first byte chooses the extension (TagLib picks the format by it) and whether to write; the
// rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "catalog/file_tag.h"
#include "runtime/bstr.h"
#include "runtime/com_ptr.h"

namespace {

constexpr const char* kExtensions[] = {"mp3", "flac", "ogg", "opus", "m4a", "wma",
                                       "wv",  "aiff", "wav", "ape",  "mpc", "spx",
                                       "oga", "tta",  "mp4", "asf",  "aif", "m4b"};
constexpr size_t kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];

// One scratch folder per process, in memory when the machine has /dev/shm (writes are fsynced).
const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::filesystem::path d = base / ("fuzz_tag_file_" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
    return d;
  }();
  return dir;
}

void ReadEverything(pelk::IMediaFileTag* tag) {
  using pelk::Bstr;
  using I = pelk::IFileTag;
  for (HRESULT (I::*get)(BSTR*) :
       {&I::get_AlbumTitle, &I::get_Artist, &I::get_Title, &I::get_Identifier, &I::get_TrackNumber,
        &I::get_Genre, &I::get_Year, &I::get_Comment}) {
    Bstr value;
    if ((tag->*get)(value.Out()) != S_OK) std::abort();
  }
  for (const char16_t* name : {u"TLEN", u"iTunes_PELK_IDs", u"TPOS", u"DISCNUMBER", u"TXXX"}) {
    Bstr value;
    if (tag->GetField(Bstr(name).Get(), value.Out()) != S_OK) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelk;
  if (size < 1) return 0;
  const std::string extension = kExtensions[(data[0] & 0x3F) % kExtensionCount];
  const bool write = (data[0] & 0xC0) == 0xC0;
  const std::filesystem::path path = ScratchDir() / ("input." + extension);
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, file) != size - 1) std::abort();
    std::fclose(file);
  }

  ComPtr<IMediaFileTag> tag;
  if (catalog::CreateCatalogFileTag(true, IMediaFileTag::kIid, tag.OutVoid()) != S_OK) {
    std::abort();
  }
  const Bstr name = Bstr::FromUtf8(path.string());
  const HRESULT read = tag->AttachToFile(name.Get(), 0);
  if (read != S_OK && read != E_FAIL) std::abort();  // the file exists: opens or is refused
  if (read == S_OK) {
    ReadEverything(tag.Get());
    if (write) {
      tag->put_Title(Bstr(u"Fuzzed title \u00e9\u4e2d").Get());
      tag->PutField(Bstr(u"iTunes_PELK_IDs").Get(), Bstr(u"123:456").Get());
      ComPtr<IFileTagStore> store = tag.As<IFileTagStore>();
      if (!store) std::abort();
      if (store->SaveToFile(nullptr, 0) == S_OK) {
        ComPtr<IMediaFileTag> again;
        catalog::CreateCatalogFileTag(true, IMediaFileTag::kIid, again.OutVoid());
        if (again->AttachToFile(name.Get(), 0) == S_OK) ReadEverything(again.Get());
      }
    }
  }
  std::filesystem::remove(path);
  return 0;
}
