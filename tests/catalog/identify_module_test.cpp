// Identification end to end, the way a host runs it: both modules loaded with dlopen, the
// control module handed to the identification module, a catalogue made here from synthesized
// audio, and files identified by identifier, by fingerprint and by text.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "catalog/catalog_control.h"
#include "catalog/catalog_store.h"
#include "pelk/manager_interfaces.h"
#include "runtime/com_create.h"
#include "tests/support/hr_matchers.h"
#include "tests/support/pcm_synth.h"

namespace pelk::catalog {
namespace {

using testing::EncodePcm;
using testing::MakeWav;
using testing::Music;
using GetObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using HinstFn = HRESULT (*)(HMODULE);

class IdentifyModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("pelk-identify-module-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    control_module_ = dlopen(SONQUIX_CONTROL_MODULE, RTLD_NOW | RTLD_LOCAL);
    sonquix_module_ = dlopen(SONQUIX_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(control_module_ && sonquix_module_) << dlerror();
    ASSERT_HR(S_OK, reinterpret_cast<HinstFn>(dlsym(sonquix_module_, "DllSetPelkHINST"))(
                        control_module_));
    auto get_object = reinterpret_cast<GetObjectFn>(dlsym(sonquix_module_, "DllGetObject"));
    ASSERT_HR(S_OK, get_object(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid,
                               manager_.OutVoid()));
    new_record_ = [get_object](const std::filesystem::path& path) {
      ComPtr<IPelkFileInfo> record;
      get_object(CLSID_PelkFileInfo, IPelkFileInfo::kIid, record.OutVoid());
      if (record) record->put_Filename(Bstr::FromUtf8(path.string()).Get());
      return record;
    };
  }
  void TearDown() override {
    if (manager_) manager_->Shutdown();
    manager_.Reset();
    control_.Reset();
    std::filesystem::remove_all(dir_);
  }

  // A 20-second WAV of its own material, and the signature the module computes for it.
  std::string WriteSong(const std::string& name, uint32_t seed) {
    const int32_t rate = 22050;
    const auto pcm = EncodePcm(Music(seed, rate, rate * 20), 16);
    testing::WriteFile(dir_ / name, MakeWav({.sample_rate = rate, .bits = 16, .channels = 1}, pcm));
    ComPtr<IPelkSonquixFingerprinter> fingerprinter;
    ComPtr<IPelkSonquixFingerprint> fingerprint;
    Bstr signature;
    if (SUCCEEDED(manager_->CreateFingerprinter(nullptr, fingerprinter.Out())) &&
        SUCCEEDED(fingerprinter->GetFileFingerprint(Bstr::FromUtf8((dir_ / name).string()).Get(),
                                                    fingerprint.Out()))) {
      fingerprint->get_Signature(signature.Out());
    }
    return signature.Utf8();
  }

  ComPtr<IFileTag> NewTag() {
    ComPtr<IFileTag> tag;
    auto get_object = reinterpret_cast<GetObjectFn>(dlsym(control_module_, "DllGetObject"));
    get_object(CLSID_PelkFileTag, IFileTag::kIid, tag.OutVoid());
    return tag;
  }

  std::filesystem::path dir_;
  void* control_module_ = nullptr;
  void* sonquix_module_ = nullptr;
  ComPtr<IPELKSonquixManager3> manager_;
  ComPtr<ILookupControl> control_;
  std::function<ComPtr<IPelkFileInfo>(const std::filesystem::path&)> new_record_;
};

TEST_F(IdentifyModuleTest, IdentifiesByIdentifierFingerprintAndText) {
  const std::string first = WriteSong("first.wav", 11);
  const std::string second = WriteSong("second.wav", 23);
  ASSERT_FALSE(first.empty());
  DiscRecord disc{
      .identifier = "D-42", .album = "Night Trains", .artist = "The Sleepers", .track_count = 3};
  disc.tracks = {
      {.number = 1, .title = "Departure", .identifier = "T-1", .signature = ParseSignature(first)},
      {.number = 2,
       .title = "Sleeper Car",
       .identifier = "T-2",
       .signature = ParseSignature(second)},
      {.number = 3, .title = "Arrival Hall", .identifier = "T-3"},
  };
  {
    std::string error;
    auto store = CatalogStore::Open(dir_ / "catalog.db", CatalogStore::OpenMode::kCreate, &error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->AddDiscs({disc}, &error)) << error;
  }
  auto control_get = reinterpret_cast<GetObjectFn>(dlsym(control_module_, "DllGetObject"));
  ASSERT_HR(S_OK, control_get(CLSID_PelkLookupControl, ILookupControl::kIid, control_.OutVoid()));
  ASSERT_HR(S_OK, control_.As<IPelkCatalogControl>()->OpenCatalog(
                      Bstr::FromUtf8((dir_ / "catalog.db").string()).Get()));
  ASSERT_HR(S_OK, manager_->Initialize(control_.Get()));

  struct Case {
    std::filesystem::path file;
    ComPtr<IFileTag> tag;  // handed in by the host; null: the module reads the file
    int32_t track;
    int32_t match_type;
  };
  ComPtr<IFileTag> by_id = NewTag();
  by_id->put_Identifier(Bstr(u"T-2").Get());
  ComPtr<IFileTag> by_text = NewTag();
  by_text->put_Artist(Bstr(u"The Sleepers").Get());
  by_text->put_Title(Bstr(u"Arrival Hall").Get());
  std::vector<Case> cases = {
      {dir_ / "second.wav", by_id, 2, MATCH_TYPE_TAGID},
      {dir_ / "first.wav", nullptr, 1, MATCH_TYPE_WF},
      {dir_ / "third.wav", by_text, 3, MATCH_TYPE_TXT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string());
    ComPtr<IPelkFileInfo> record = new_record_(c.file);
    ASSERT_TRUE(record);
    if (c.tag) record->put_Tag(c.tag.Get());
    int32_t match_code = 0;
    ComPtr<IPelkFileInfoList> list;
    ASSERT_HR(S_OK, manager_->TrackID(record.Get(), 0, &match_code, list.Out()));
    EXPECT_EQ(match_code, 3);
    ComPtr<IPelkFileInfo> found;
    ASSERT_HR(S_OK, list->GetFileInfo(1, found.Out()));
    ComPtr<IPelkFileInfo2_6> typed = found.As<IPelkFileInfo2_6>();
    int32_t track = 0, match_type = 0;
    found->get_TrackNum(&track);
    typed->get_MatchType(&match_type);
    EXPECT_EQ(track, c.track);
    EXPECT_EQ(match_type, c.match_type);
    ComPtr<IDiscInfo> found_disc;
    found->get_Disc(found_disc.Out());
    ASSERT_TRUE(found_disc);
    Bstr identifier;
    found_disc->get_Identifier(identifier.Out());
    EXPECT_EQ(identifier.View(), u"D-42");
  }
}

}  // namespace
}  // namespace pelk::catalog
