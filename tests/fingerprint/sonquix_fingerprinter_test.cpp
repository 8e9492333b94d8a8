#include "fingerprint/sonquix_fingerprinter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fingerprint/sonquix_fingerprint.h"
#include "fingerprint/stream_extractor.h"
#include "pelk/manager_interfaces.h"
#include "runtime/utf.h"
#include "tests/fingerprint/object_test_util.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

constexpr HRESULT kUnsupportedFileFormat = PELKSonquix_UnsupportedFileFormat;
constexpr HRESULT kUnsupportedAudioFormat = PELKSonquix_UnsupportedAudioFormat;
constexpr HRESULT kUnknownSetting = PELKSonquix_UnknownSetting;

// 44.1 kHz stereo completes when input frame 4 x (156672 - 1) + 44 arrives.
constexpr size_t kCompletingFrame = 4 * (156672 - 1) + 44;

class FingerprinterTest : public ::testing::Test {
 protected:
  std::string Setting(const char16_t* name, HRESULT expected = S_OK) {
    Bstr value;
    const Bstr key(name);
    EXPECT_HR(expected, fp_->GetSetting(key.Get(), value.Out())) << Utf16ToUtf8(name);
    return value.Get() ? value.Utf8() : "<null>";
  }
  HRESULT FileFingerprint(const std::string& path, ComPtr<IPelkSonquixFingerprint>* out) {
    return fp_->GetFileFingerprint(Bstr::FromUtf8(path).Get(), out->Out());
  }

  ComPtr<IPelkSonquixFingerprinter2> fp_ = NewFingerprinter();
};

TEST_F(FingerprinterTest, SettingsAreFixedAnswers) {
  EXPECT_EQ(Setting(u"algorithm_name"), "Wavelattice");
  EXPECT_EQ(Setting(u"Algorithm_Version"), "1.1");
  EXPECT_EQ(Setting(u"is_fixed_length"), "true");
  EXPECT_EQ(Setting(u"FIXED_LENGTH"), "14210");
  EXPECT_EQ(Setting(u"is_unlimited_length"), "false");
  EXPECT_EQ(Setting(u"sample_rate", kUnknownSetting), "<null>");
  EXPECT_EQ(Setting(u"fixed_length ", kUnknownSetting), "<null>");
  EXPECT_HR(kUnknownSetting, fp_->GetSetting(nullptr, Bstr().Out()));
  EXPECT_HR(E_POINTER, fp_->GetSetting(Bstr(u"fixed_length").Get(), nullptr));
  // Setting anything is accepted and changes nothing.
  EXPECT_HR(S_OK, fp_->SetSetting(Bstr(u"fixed_length").Get(), Bstr(u"1000").Get()));
  EXPECT_EQ(Setting(u"fixed_length"), "14210");
}

TEST_F(FingerprinterTest, StreamStatusMapping) {
  ComPtr<IPelkSonquixFingerprint> out;
  const uint8_t pcm[4] = {};
  int32_t complete = 7;
  // No stream yet.
  EXPECT_HR(E_FAIL, fp_->WriteAudioData2(pcm, 4, &complete));
  EXPECT_HR(E_FAIL, fp_->WriteAudioData(pcm, 4));
  EXPECT_HR(E_FAIL, fp_->EndAudioStream(out.Out()));
  EXPECT_EQ(complete, 7);

  EXPECT_HR(kUnsupportedAudioFormat, fp_->BeginAudioStream(44100, 4, 2));
  EXPECT_HR(kUnsupportedAudioFormat, fp_->BeginAudioStream(0, 16, 2));
  EXPECT_HR(kUnsupportedAudioFormat, fp_->BeginAudioStream(44100, 16, 0));
  // The failed stream stays in place and refuses writes.
  EXPECT_HR(E_FAIL, fp_->WriteAudioData(pcm, 4));
  // A rate the resampler cannot be built for is an engine failure, not an audio format.
  EXPECT_HR(E_FAIL, fp_->BeginAudioStream(2147483647, 16, 1));

  ASSERT_HR(S_OK, fp_->BeginAudioStream(44100, 16, 2));
  EXPECT_HR(S_OK, fp_->WriteAudioData2(pcm, 4, &complete));
  EXPECT_EQ(complete, 0);
  EXPECT_HR(E_FAIL, fp_->WriteAudioData2(nullptr, 4, &complete));
  EXPECT_HR(E_FAIL, fp_->WriteAudioData2(pcm, 0, &complete));
  EXPECT_HR(E_POINTER, fp_->WriteAudioData2(pcm, 4, nullptr));
  EXPECT_HR(E_FAIL, fp_->EndAudioStream(out.Out()));  // far too little audio
  EXPECT_HR(E_POINTER, fp_->EndAudioStream(nullptr));
}

TEST_F(FingerprinterTest, CompletionIsReportedOnceEnoughAudioWasWritten) {
  const std::vector<uint8_t> pcm = StereoMusic16(15.0, 3);
  ASSERT_HR(S_OK, fp_->BeginAudioStream(44100, 16, 2));
  const PushResult pushed = Push(fp_.Get(), pcm, 4096);
  EXPECT_HR(S_FALSE, pushed.last);
  // S_FALSE first comes with the 4096-byte write that holds the completing frame.
  EXPECT_EQ(pushed.bytes_written, (kCompletingFrame * 4 + 4095) / 4096 * 4096);
  // Later writes are harmless: complete at once, data unused.
  EXPECT_HR(S_FALSE, fp_->WriteAudioData(pcm.data(), 4096));
  int32_t complete = 0;
  EXPECT_HR(S_OK, fp_->WriteAudioData2(pcm.data(), 4096, &complete));
  EXPECT_EQ(complete, 1);
}

TEST_F(FingerprinterTest, EndAudioStreamHandsOutTheEngineDocument) {
  // One second of silence first, so that the offset is not 0.
  const std::vector<uint8_t> pcm =
      EncodePcm(Interleave({Concat({Silence(44100), Music(5, 44100, 44100 * 15)}),
                            Concat({Silence(44100), Music(6, 44100, 44100 * 15)})}),
                16);
  fingerprint::StreamExtractor reference(44100, 16, 2);
  for (size_t at = 0; at < pcm.size(); at += 4096) {
    if (reference.Write(pcm.data() + at, 4096) != fingerprint::kExtractOk) break;
  }
  std::string_view reference_text;
  ASSERT_EQ(reference.Output(&reference_text), fingerprint::kExtractOk);

  ASSERT_HR(S_OK, fp_->BeginAudioStream(44100, 16, 2));
  ASSERT_HR(S_FALSE, Push(fp_.Get(), pcm, 4096).last);
  ComPtr<IPelkSonquixFingerprint> first, second;
  ASSERT_HR(S_OK, fp_->EndAudioStream(first.Out()));
  ASSERT_HR(S_OK, fp_->EndAudioStream(second.Out()));  // the stream stays
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(ImplOf<CPelkSonquixFingerprint>(first.Get())->DocumentText(),
            ImplOf<CPelkSonquixFingerprint>(second.Get())->DocumentText());

  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_Type), "Wavelattice");
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_Version), "1.1");
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_Signature),
            JoinValues(reference.report().signature));
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_Channels), "2");
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_SampleRate), "44100");
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_SampleSize), "16");
  const int32_t offset = reference.report().offset_ms;
  EXPECT_GT(offset, 990);
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_Offset), std::to_string(offset));
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_Duration), "14210");
  EXPECT_EQ(Read(first.Get(), &IFingerprintImpl::get_Units), "ms");
}

TEST_F(FingerprinterTest, TooShortAndUnconvertibleStreamsFailAtTheEnd) {
  ComPtr<IPelkSonquixFingerprint> out;
  ASSERT_HR(S_OK, fp_->BeginAudioStream(44100, 16, 2));
  EXPECT_HR(S_OK, Push(fp_.Get(), StereoMusic16(10.0, 8), 4096).last);
  EXPECT_HR(E_FAIL, fp_->EndAudioStream(out.Out()));
  EXPECT_FALSE(out);

  // 24-bit audio is accepted but gives no samples, so it never completes.
  const int64_t frames = 44100 * 15;
  ASSERT_HR(S_OK, fp_->BeginAudioStream(44100, 24, 2));
  EXPECT_HR(
      S_OK,
      Push(fp_.Get(), EncodePcm(Interleave({Music(1, 44100, frames), Music(2, 44100, frames)}), 24),
           6 * 1000)
          .last);
  EXPECT_HR(E_FAIL, fp_->EndAudioStream(out.Out()));
}

TEST_F(FingerprinterTest, PartialSampleFrameFailsAndTheStreamGoesOn) {
  const std::vector<uint8_t> pcm = EncodePcm(Music(9, 11025, 11025 * 15), 16);
  const ComPtr<IPelkSonquixFingerprint> clean = StreamFingerprint(pcm, {11025, 16, 1});
  ASSERT_TRUE(clean);

  ASSERT_HR(S_OK, fp_->BeginAudioStream(11025, 16, 1));
  EXPECT_HR(E_FAIL, fp_->WriteAudioData(pcm.data(), 4095));
  ASSERT_HR(S_FALSE, Push(fp_.Get(), pcm, 4096).last);
  ComPtr<IPelkSonquixFingerprint> after;
  ASSERT_HR(S_OK, fp_->EndAudioStream(after.Out()));
  EXPECT_EQ(Read(after.Get(), &IFingerprintImpl::get_Signature),
            Read(clean.Get(), &IFingerprintImpl::get_Signature));
}

TEST_F(FingerprinterTest, BeginAudioStreamDiscardsTheStreamInProgress) {
  const std::vector<uint8_t> pcm = StereoMusic16(15.0, 11);
  ASSERT_HR(S_OK, fp_->BeginAudioStream(44100, 16, 2));
  ASSERT_HR(S_OK, fp_->WriteAudioData(StereoMusic16(5.0, 99).data(), 40000));
  ASSERT_HR(S_OK, fp_->BeginAudioStream(44100, 16, 2));
  ASSERT_HR(S_FALSE, Push(fp_.Get(), pcm, 4096).last);
  ComPtr<IPelkSonquixFingerprint> restarted;
  ASSERT_HR(S_OK, fp_->EndAudioStream(restarted.Out()));
  EXPECT_EQ(Read(restarted.Get(), &IFingerprintImpl::get_Signature),
            Read(StreamFingerprint(pcm).Get(), &IFingerprintImpl::get_Signature));
}

TEST_F(FingerprinterTest, FileFingerprintReadsWavFilesOnly) {
  const std::vector<uint8_t> pcm = StereoMusic16(15.0, 13);
  const ScopedTempFile wav("song.WAV", MakeWav({}, pcm));
  ComPtr<IPelkSonquixFingerprint> from_file;
  ASSERT_HR(S_OK, FileFingerprint(wav.str(), &from_file));  // the extension in any case
  EXPECT_EQ(Read(from_file.Get(), &IFingerprintImpl::get_Signature),
            Read(StreamFingerprint(pcm).Get(), &IFingerprintImpl::get_Signature));
  EXPECT_EQ(Read(from_file.Get(), &IFingerprintImpl::get_Duration), "14210");

  ComPtr<IPelkSonquixFingerprint> out;
  const ScopedTempFile mp3("song.mp3", MakeWav({}, pcm));  // content does not matter
  EXPECT_HR(kUnsupportedFileFormat, FileFingerprint(mp3.str(), &out));
  EXPECT_HR(kUnsupportedFileFormat, FileFingerprint(wav.str() + "x", &out));
  EXPECT_HR(kUnsupportedFileFormat, fp_->GetFileFingerprint(nullptr, out.Out()));
  EXPECT_HR(E_FAIL, FileFingerprint(wav.str() + ".missing.wav", &out));
  const ScopedTempFile no_data("nodata.wav", MakeWav({}, pcm, {.omit_data = true}));
  EXPECT_HR(E_FAIL, FileFingerprint(no_data.str(), &out));
  const ScopedTempFile short_wav("short.wav", MakeWav({}, StereoMusic16(10.0, 4)));
  EXPECT_HR(E_FAIL, FileFingerprint(short_wav.str(), &out));
  const ScopedTempFile four_bit("4bit.wav", MakeWav({44100, 16, 2}, pcm, {.bits = 4}));
  EXPECT_HR(kUnsupportedAudioFormat, FileFingerprint(four_bit.str(), &out));
  EXPECT_FALSE(out);
  EXPECT_HR(E_POINTER, fp_->GetFileFingerprint(Bstr::FromUtf8(wav.str()).Get(), nullptr));
}

// A late-bound client drives the whole stream through the interface pointer (the object does
// not answer IDispatch itself); buffers travel as strings.
TEST_F(FingerprinterTest, EveryOperationIsReachableLateBound) {
  EXPECT_TRUE(fp_.As<IPelkSonquixFingerprinter>());
  EXPECT_FALSE(fp_.As<IDispatch>());
  IDispatch* dispatch = fp_.Get();
  const std::pair<const char16_t*, DISPID> names[] = {
      {u"GetSetting", 1},
      {u"SetSetting", 2},
      {u"getfilefingerprint", 3},
      {u"BeginAudioStream", 4},
      {u"WriteAudioData", 5},
      {u"EndAudioStream", 6},
      {u"WriteAudioData2", 0x64},
      {u"FingerprintSerialize", 0x65},
      {u"FINGERPRINTDESERIALIZE", 0x66},
  };
  for (const auto& [name, expected] : names) {
    OLECHAR* list[] = {const_cast<OLECHAR*>(name)};
    DISPID id = 0;
    EXPECT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, list, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(id, expected) << Utf16ToUtf8(name);
  }
  auto invoke = [&](DISPID id, std::vector<VARIANT> last_first, VARIANT* result) {
    DISPPARAMS params{last_first.data(), nullptr, static_cast<uint32_t>(last_first.size()), 0};
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                            nullptr, nullptr);
  };
  auto i4 = [](int32_t v) {
    VARIANT var;
    var.vt = VT_I4;
    var.lVal = v;
    return var;
  };
  auto bstr = [](BSTR b) {
    VARIANT var;
    var.vt = VT_BSTR;
    var.bstrVal = b;
    return var;
  };

  ASSERT_HR(S_OK, invoke(4, {i4(2), i4(16), i4(44100)}, nullptr));
  const std::vector<uint8_t> pcm = StereoMusic16(15.0, 21);
  HRESULT hr = S_OK;
  for (size_t at = 0; hr == S_OK && at + 4096 <= pcm.size(); at += 4096) {
    Bstr block(std::u16string_view(reinterpret_cast<const char16_t*>(pcm.data() + at), 2048));
    hr = invoke(5, {i4(4096), bstr(block.Get())}, nullptr);
  }
  ASSERT_HR(S_FALSE, hr);
  Variant fingerprint;
  ASSERT_HR(S_OK, invoke(6, {}, &fingerprint));
  ASSERT_EQ(fingerprint->vt, VT_DISPATCH);
  ASSERT_NE(fingerprint->pdispVal, nullptr);
  Variant serialized;
  ASSERT_HR(S_OK, invoke(0x65, {*fingerprint}, &serialized));
  ASSERT_EQ(serialized->vt, VT_BSTR);
  Variant restored;
  ASSERT_HR(S_OK, invoke(0x66, {*serialized}, &restored));
  ASSERT_EQ(restored->vt, VT_DISPATCH);
  ComPtr<IPelkSonquixFingerprint> original, copy;
  ASSERT_HR(S_OK, fingerprint->pdispVal->QueryInterface(IPelkSonquixFingerprint::kIid,
                                                        original.OutVoid()));
  ASSERT_HR(S_OK,
            restored->pdispVal->QueryInterface(IPelkSonquixFingerprint::kIid, copy.OutVoid()));
  EXPECT_EQ(Read(copy.Get(), &IFingerprintImpl::get_Signature),
            Read(StreamFingerprint(pcm).Get(), &IFingerprintImpl::get_Signature));
  Variant setting;
  Bstr name(u"algorithm_name");
  ASSERT_HR(S_OK, invoke(1, {bstr(name.Get())}, &setting));
  EXPECT_EQ(BstrToUtf8(setting->bstrVal), "Wavelattice");
}

}  // namespace
}  // namespace pelk::testing
