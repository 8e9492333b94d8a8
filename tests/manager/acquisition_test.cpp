#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/utf.h"
#include "tests/manager/identification_fixture.h"
#include "tests/support/pcm_synth.h"

namespace pelk::testing {
namespace {

using AcquisitionTest = IdentificationTest;

// The class identifiers the manager asked the control library for, in order.
std::vector<CLSID>& CreatedClasses() {
  static std::vector<CLSID> created;
  return created;
}
HRESULT RecordingGetObject(REFCLSID clsid, REFIID iid, void** object) {
  CreatedClasses().push_back(clsid);
  return FakeControlGetObject(clsid, iid, object);
}

TEST_F(AcquisitionTest, InternalReadersAndFactory) {
  ComPtr<IPelkSonquixFingerprinter> fingerprinter;
  ASSERT_HR(S_OK, manager_->CreateFingerprinter(Bstr(u"any name").Get(), fingerprinter.Out()));
  ComPtr<IPelkSonquixFingerprinter> another;
  ASSERT_HR(S_OK, manager_->CreateFingerprinter(nullptr, another.Out()));
  EXPECT_NE(fingerprinter.Get(), another.Get());

  // A real WAV gets a fingerprint; a missing file gets the fingerprinter's error and nothing.
  const int32_t rate = 11025;
  const auto pcm = EncodePcm(Music(7, rate, rate * 20), 16);
  ScopedTempFile wav("song.wav", MakeWav({.sample_rate = rate, .bits = 16, .channels = 1}, pcm));
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  ASSERT_HR(S_OK,
            manager_->GetFingerprintInternal(Bstr::FromUtf8(wav.str()).Get(), fingerprint.Out()));
  Bstr signature;
  fingerprint->get_Signature(signature.Out());
  EXPECT_FALSE(signature.Empty());
  ComPtr<IPelkSonquixFingerprint> none;
  EXPECT_TRUE(FAILED(manager_->GetFingerprintInternal(Bstr(u"/no/such.wav").Get(), none.Out())));
  EXPECT_FALSE(none);

  // Tags: the media-file class for .wma and .asf, the plain one otherwise.
  fake_->SetFileTag(u"/m/a.WMA", {.texts = {{u"Title", u"W"}}});
  fake_->SetFileTag(u"/m/a.mp3", {.texts = {{u"Title", u"M"}}});
  ScopedControlLibrary recording(*fake_, &RecordingGetObject);
  CreatedClasses().clear();
  ComPtr<IFileTag> media, plain, missing;
  ASSERT_HR(S_OK, manager_->GetTagInternal(Bstr(u"/m/a.WMA").Get(), media.Out()));
  ASSERT_HR(S_OK, manager_->GetTagInternal(Bstr(u"/m/a.mp3").Get(), plain.Out()));
  EXPECT_EQ(CreatedClasses(), (std::vector<CLSID>{CLSID_PelkMediaFileTag, CLSID_PelkFileTag}));
  EXPECT_EQ(TagDataOf(plain.Get()).texts[u"Title"], u"M");
  EXPECT_HR(E_INVALIDARG, manager_->GetTagInternal(Bstr(u"").Get(), missing.Out()));
  EXPECT_HR(E_INVALIDARG, manager_->GetTagInternal(nullptr, missing.Out()));
  EXPECT_HR(E_POINTER, manager_->GetTagInternal(Bstr(u"/m/a.mp3").Get(), nullptr));
}

TEST_F(AcquisitionTest, SourcesAreTriedInOrderOncePerRecord) {
  // The internal reader wins when it finds a tag: the host is not asked.
  fake_->SetFileTag(u"/m/read.mp3", {.texts = {{u"Title", u"Read"}}});
  auto read = File(u"/m/read.mp3");
  ASSERT_HR(S_OK, manager_->AcquireTag(read.Get(), SONQUIX_DEFAULT_OPTIONS));
  EXPECT_EQ(sink_->CountOf(kEventGetTagInfo), 0u);
  ComPtr<IFileTag> orig;
  read->get_OrigTag(orig.Out());
  EXPECT_EQ(TagDataOf(orig.Get()).texts[u"Title"], u"Read");

  // A host that puts a tag on the record in GetTagInfo is not asked GetTag.
  auto hosted = File(u"/m/hosted.mp3");
  sink_->OnEvent([&](const EventCall& call) {
    if (call.id == kEventGetTagInfo) hosted->put_Tag(MakeFakeTag().Get());
  });
  ASSERT_HR(S_OK, manager_->AcquireTag(hosted.Get(), SONQUIX_DEFAULT_OPTIONS));
  EXPECT_EQ(sink_->CountOf(kEventGetTagInfo), 1u);
  EXPECT_EQ(sink_->CountOf(kEventGetTag), 0u);
  sink_->OnEvent(nullptr);

  // Nothing found anywhere: both events once, and never again for this record.
  auto bare = File(u"/m/bare.mp3");
  for (int i = 0; i < 2; ++i) ASSERT_HR(S_OK, manager_->AcquireTag(bare.Get(), 0x3000));
  EXPECT_EQ(sink_->CountOf(kEventGetTagInfo), 2u);
  EXPECT_EQ(sink_->CountOf(kEventGetTag), 1u);

  // A tag the host set before the call is never requested, but becomes the original tag.
  ComPtr<IFileTag> own = MakeFakeTag({.texts = {{u"Title", u"Own"}}});
  auto preset = File(u"/m/preset.mp3");
  preset->put_Tag(own.Get());
  ASSERT_HR(S_OK, manager_->AcquireTag(preset.Get(), SONQUIX_DEFAULT_OPTIONS));
  EXPECT_EQ(sink_->CountOf(kEventGetTagInfo), 2u);
  preset->get_OrigTag(orig.Out());
  EXPECT_EQ(orig.Get(), own.Get());
  EXPECT_EQ(fake_->CountOf("LoadFromFile"), 3u);  // read, hosted and bare; not preset
}

TEST_F(AcquisitionTest, FingerprintRequestsAndAborts) {
  auto record = File(u"/m/f.flac");
  ASSERT_HR(S_OK, manager_->AcquireFingerprint(
                      record.Get(), SONQUIX_DISABLE_WF_QUERIES | SONQUIX_GET_FP_FROM_APP));
  EXPECT_TRUE(sink_->Calls().empty());

  ComPtr<IPelkSonquixFingerprint> given = Fingerprint("1 2");
  // The fingerprint answers no IDispatch request; its interface is one by derivation.
  sink_->ReplyObject(kEventGetFingerprint, static_cast<IDispatch*>(given.Get()));
  ASSERT_HR(S_OK, manager_->AcquireFingerprint(record.Get(), SONQUIX_GET_FP_FROM_APP));
  EXPECT_EQ(sink_->Ids(), (std::vector<DISPID>{kEventTrackIDStatusUpdate, kEventGetFingerprintInfo,
                                               kEventGetFingerprint}));
  EXPECT_EQ(Statuses(), (std::vector<int32_t>{STATUS_SONQUIX_AnalyzingWaveForm}));
  ComPtr<IPelkSonquixFingerprint> held;
  record->get_Fingerprint(held.Out());
  EXPECT_EQ(held.Get(), given.Get());

  // The status event is sent even without a source, and a host abort there ends acquisition.
  auto aborted = File(u"/m/g.flac");
  sink_->AbortOn(kEventTrackIDStatusUpdate, 1);
  EXPECT_HR(E_ABORT, manager_->AcquireFingerprint(aborted.Get(), SONQUIX_RETURN_SINGLE));
  EXPECT_TRUE(aborted->FingerprintAcquired());
  EXPECT_EQ(sink_->CountOf(kEventGetFingerprintInfo), 1u);
}

TEST_F(AcquisitionTest, PrefetchAndTheIdentifyingThreadAcquireEachRecordOnce) {
  auto list = MakeObject<CPelkFileInfoList>();
  std::vector<ComPtr<CPelkFileInfo>> records;
  for (int i = 0; i < 12; ++i) {
    records.push_back(File(u"/m/" + Utf8ToUtf16(std::to_string(i)) + u".flac"));
    list->AddFileInfo(records.back().Get());
  }
  EXPECT_HR(E_INVALIDARG, manager_->StartPrefetch(list.Get(), SONQUIX_RETURN_SINGLE));
  EXPECT_HR(E_INVALIDARG, manager_->StartPrefetch(nullptr, SONQUIX_GET_TAG_FROM_APP));

  const int32_t options = SONQUIX_GET_TAG_FROM_APP | SONQUIX_GET_FP_FROM_APP;
  ASSERT_HR(S_OK, manager_->StartPrefetch(list.Get(), options));
  // The identifying thread walks the same records backwards meanwhile.
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    ASSERT_HR(S_OK, manager_->AcquireTag(it->Get(), options));
    ASSERT_HR(S_OK, manager_->AcquireFingerprint(it->Get(), options));
  }
  EXPECT_HR(S_OK, manager_->StopPrefetch());
  EXPECT_EQ(sink_->CountOf(kEventGetTagInfo), records.size());
  EXPECT_EQ(sink_->CountOf(kEventGetFingerprintInfo), records.size());
}

TEST_F(AcquisitionTest, PrefetchStopsAfterTheCurrentFileOnShutdown) {
  auto list = MakeObject<CPelkFileInfoList>();
  for (int i = 0; i < 5; ++i)
    list->AddFileInfo(File(u"/m/" + Utf8ToUtf16(std::to_string(i))).Get());
  std::atomic<int> asked{0};
  sink_->OnEvent([&](const EventCall& call) {
    // Hold the worker in its first request until the host has begun to shut down.
    if (call.id != kEventGetTagInfo || asked.fetch_add(1) != 0) return;
    while (manager_->IsInitialized()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_HR(S_OK, manager_->StartPrefetch(list.Get(), SONQUIX_GET_TAG_FROM_APP));
  while (asked.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_HR(S_OK, manager_->Shutdown());
  EXPECT_EQ(asked.load(), 1);
}

}  // namespace
}  // namespace pelk::testing
