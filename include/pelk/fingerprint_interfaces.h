/// @file
/// Public declarations: the fingerprint object and the fingerprinter.
///
/// A fingerprint answers IUnknown, IPelkSonquixFingerprint and IFingerprintImpl only; its
/// operations are those of IFingerprintImpl, which IPelkSonquixFingerprint extends without adding
/// any. A fingerprinter answers IUnknown, IPelkSonquixFingerprinter and IPelkSonquixFingerprinter2.
///
/// Threads: a fingerprint may be read from any thread. A fingerprinter has no lock: it serves one
/// stream at a time and must not be called from two threads at once (make one per thread).
/// Fingerprints handed out carry one reference, which the caller owns.
#pragma once

#include "runtime/dispatch.h"
#include "runtime/unknown.h"

namespace pelk {

/// A waveform fingerprint: the fields of its FINGERPRINT document, each read as text.
struct IFingerprintImpl : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("74BD5D20-CDDF-4872-8360-08709013AAF8");
  using Base = IDispatch;  ///< The interface this one extends.
  /// Takes a private copy of `length` bytes of FINGERPRINT document text and parses it.
  virtual HRESULT SetFPData(const char* data, int32_t length) = 0;
  ///@{
  /// The document's fields as text (a copy the caller frees): type, version, the signature,
  /// channels, sample rate, sample size, offset, duration and the units of the last two.
  virtual HRESULT get_Type(BSTR* value) = 0;
  virtual HRESULT get_Version(BSTR* value) = 0;
  virtual HRESULT get_Signature(BSTR* value) = 0;
  virtual HRESULT get_Channels(BSTR* value) = 0;
  virtual HRESULT get_SampleRate(BSTR* value) = 0;
  virtual HRESULT get_SampleSize(BSTR* value) = 0;
  virtual HRESULT get_Offset(BSTR* value) = 0;
  virtual HRESULT get_Duration(BSTR* value) = 0;
  virtual HRESULT get_Units(BSTR* value) = 0;
  ///@}
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The fingerprint as the manager and records exchange it; the operations are IFingerprintImpl's.
struct IPelkSonquixFingerprint : IFingerprintImpl {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("3A0D29A2-68B1-4830-AB81-2B52C273DFB7");
  using Base = IFingerprintImpl;  ///< The interface this one extends.
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// Computes fingerprints from WAV files, or from PCM a host decodes itself and pushes in.
/// Made by CLSID_PelkSonquixFingerprinter or IPELKSonquixManager::CreateFingerprinter.
struct IPelkSonquixFingerprinter : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("390A1AC9-8D18-4E33-AAF2-5F5D8D40E861");
  using Base = IDispatch;  ///< The interface this one extends.
  /// Fixed facts about the algorithm: "algorithm_name", "algorithm_version", "is_fixed_length",
  /// "fixed_length" (milliseconds of audio one fingerprint covers), "is_unlimited_length".
  /// PELKSonquix_UnknownSetting for any other name.
  virtual HRESULT GetSetting(BSTR name, BSTR* value) = 0;
  /// Accepted and ignored: the settings are fixed.
  virtual HRESULT SetSetting(BSTR name, BSTR value) = 0;
  /// The fingerprint of a ".wav" file; PELKSonquix_UnsupportedFileFormat for other names, E_FAIL
  /// when the file holds too little audio.
  virtual HRESULT GetFileFingerprint(BSTR file_name, IPelkSonquixFingerprint** fingerprint) = 0;
  /// Starts a new stream of PCM (discarding the current one); PELKSonquix_UnsupportedAudioFormat
  /// for no channels, a rate of 0 or fewer than 8 bits.
  virtual HRESULT BeginAudioStream(int32_t sample_rate, int32_t sample_bits,
                                   int32_t channel_count) = 0;
  /// Interleaved little-endian PCM, a whole number of sample frames. S_FALSE once enough audio
  /// has been collected.
  virtual HRESULT WriteAudioData(const void* buffer, int32_t length) = 0;
  /// Ends the stream and hands out its fingerprint (one reference); E_FAIL when too little
  /// audio came.
  virtual HRESULT EndAudioStream(IPelkSonquixFingerprint** fingerprint) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The fingerprinter with a completion flag and the sealed string form of fingerprints.
struct IPelkSonquixFingerprinter2 : IPelkSonquixFingerprinter {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("6BE993A4-C8B5-40D1-9A28-46CF91AA7A69");
  using Base = IPelkSonquixFingerprinter;  ///< The interface this one extends.
  /// WriteAudioData that also sets *complete to 1 once enough audio has been collected, so the
  /// host can stop decoding.
  virtual HRESULT WriteAudioData2(const void* buffer, int32_t length, int32_t* complete) = 0;
  /// The fingerprint as a sealed string ("KZFP..."), to store and read back later.
  virtual HRESULT FingerprintSerialize(IPelkSonquixFingerprint* fingerprint, BSTR* serialized) = 0;
  /// A fingerprint from a sealed string; an error code for corrupt or tampered text.
  virtual HRESULT FingerprintDeserialize(BSTR serialized,
                                         IPelkSonquixFingerprint** fingerprint) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The fingerprinter class (IPelkSonquixFingerprinter2).
inline constexpr CLSID CLSID_PelkSonquixFingerprinter =
    MakeGuid("7CC7C660-BE13-4C2D-A733-690BD6B52F80");
/// The fingerprint class (IPelkSonquixFingerprint), filled with SetFPData.
inline constexpr CLSID CLSID_PelkSonquixFingerprint =
    MakeGuid("EFDCAC4A-1DF2-4D95-8731-DC8633822F69");

}  // namespace pelk

// Late-bound tables. Raw buffers (SetFPData, WriteAudioData) arrive late-bound as strings.
namespace pelk {

inline const DispatchTable& IFingerprintImpl::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IFingerprintImpl::SetFPData>(u"SetFPData", 0x65),
      DispEntry<&IFingerprintImpl::get_Type>(u"Type", 0x66, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_Version>(u"Version", 0x67, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_Signature>(u"Signature", 0x68, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_Channels>(u"Channels", 0x69, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_SampleRate>(u"SampleRate", 0x6A, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_SampleSize>(u"SampleSize", 0x6B, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_Offset>(u"Offset", 0x6C, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_Duration>(u"Duration", 0x6D, DISPATCH_PROPERTYGET),
      DispEntry<&IFingerprintImpl::get_Units>(u"Units", 0x6E, DISPATCH_PROPERTYGET),
  };
  static const DispatchTable table{IFingerprintImpl::kIid, entries, nullptr};
  return table;
}

inline const DispatchTable& IPelkSonquixFingerprint::Table() {
  static const DispatchTable table{IPelkSonquixFingerprint::kIid, {}, &IFingerprintImpl::Table()};
  return table;
}

inline const DispatchTable& IPelkSonquixFingerprinter::Table() {
  using I = IPelkSonquixFingerprinter;
  static const DispatchEntry entries[] = {
      DispEntry<&I::GetSetting>(u"GetSetting", 1),
      DispEntry<&I::SetSetting>(u"SetSetting", 2),
      DispEntry<&I::GetFileFingerprint>(u"GetFileFingerprint", 3),
      DispEntry<&I::BeginAudioStream>(u"BeginAudioStream", 4),
      DispEntry<&I::WriteAudioData>(u"WriteAudioData", 5),
      DispEntry<&I::EndAudioStream>(u"EndAudioStream", 6),
  };
  static const DispatchTable table{I::kIid, entries, nullptr};
  return table;
}

inline const DispatchTable& IPelkSonquixFingerprinter2::Table() {
  using I = IPelkSonquixFingerprinter2;
  static const DispatchEntry entries[] = {
      DispEntry<&I::WriteAudioData2>(u"WriteAudioData2", 0x64),
      DispEntry<&I::FingerprintSerialize>(u"FingerprintSerialize", 0x65),
      DispEntry<&I::FingerprintDeserialize>(u"FingerprintDeserialize", 0x66),
  };
  static const DispatchTable table{I::kIid, entries, &IPelkSonquixFingerprinter::Table()};
  return table;
}

}  // namespace pelk
