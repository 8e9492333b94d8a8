// TrackID as a host runs it, for the catalogue studies: both modules loaded as a host loads them,
// a manager bound to a catalogue control that opened a location (a file or a server), and one
// identification of a catalogue track by the identifier in its tag, by its tag's texts, or by a
// fingerprint the host hands in.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/study_audio.h"
#include "bench/study_measure.h"
#include "bench/waveform_signatures.h"
#include "catalog/catalog_control.h"
#include "fingerprint/fingerprint_document.h"
#include "pelk/fingerprint_interfaces.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/com_create.h"

namespace pelk::bench {

// A catalogue track the lookups look for.
struct Sample {
  std::string identifier, disc_identifier, title, artist, album;
  int32_t track = 0;
  int64_t disc_id = 0;  // once the catalogue is open
  uint32_t item = 0;
  SignatureDraw::Offset offset{};
};

// Both modules, loaded once as a host loads them.
class Modules {
 public:
  using GetObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
  Modules() {
    void* control = dlopen(SONQUIX_CONTROL_MODULE, RTLD_NOW | RTLD_LOCAL);
    void* sonquix = dlopen(SONQUIX_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!control || !sonquix) {
      std::fprintf(stderr, "cannot load the modules: %s\n", dlerror());
      std::exit(1);
    }
    control_get = reinterpret_cast<GetObjectFn>(dlsym(control, "DllGetObject"));
    sonquix_get = reinterpret_cast<GetObjectFn>(dlsym(sonquix, "DllGetObject"));
    using HinstFn = HRESULT (*)(HMODULE);
    reinterpret_cast<HinstFn>(dlsym(sonquix, "DllSetPelkHINST"))(control);
  }
  GetObjectFn control_get = nullptr;
  GetObjectFn sonquix_get = nullptr;
};

// A FINGERPRINT document as the engine writes it, with the signature replaced.
class FingerprintDocuments {
 public:
  FingerprintDocuments() {
    const study::Pcm pcm = study::MakeMusic(1);
    fingerprint::StreamExtractor extractor(pcm.rate, 16, pcm.channels);
    extractor.Write(pcm.samples.data(), static_cast<int32_t>(pcm.samples.size() * 2));
    std::string_view text;
    if (extractor.Output(&text) != fingerprint::kExtractOk) {
      std::fprintf(stderr, "the engine made no fingerprint\n");
      std::exit(1);
    }
    report_ = extractor.report();
  }
  std::string Of(const Signature& s) const {
    fingerprint::FingerprintReport report = report_;
    report.signature.assign(s.begin(), s.end());
    return fingerprint::WriteFingerprintDocument(report, fingerprint::ExtractionConfig());
  }

 private:
  fingerprint::FingerprintReport report_;
};

enum class TrackIdKind { kIdentifier, kText, kFingerprint };
inline const char* TrackIdName(TrackIdKind kind) {
  return kind == TrackIdKind::kIdentifier ? "by identifier"
         : kind == TrackIdKind::kText     ? "by text"
                                          : "by fingerprint";
}

// What TrackID answered: its code and the first record's disc and track.
struct Identified {
  int32_t code = 0;
  std::string disc_identifier;
  int32_t track = 0;
  bool Is(const Sample& s) const {
    return disc_identifier == s.disc_identifier && track == s.track;
  }
  std::string Key() const {
    return std::to_string(code) + " " + disc_identifier + "/" + std::to_string(track);
  }
};

class StudyHost {
 public:
  // Ends the study when the manager does not initialize with the catalogue at location.
  StudyHost(const Modules& modules, const FingerprintDocuments& documents,
            const std::string& location)
      : modules_(modules), documents_(documents) {
    modules.sonquix_get(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid,
                        manager_.OutVoid());
    ComPtr<ILookupControl> control;
    modules.control_get(CLSID_PelkLookupControl, ILookupControl::kIid, control.OutVoid());
    if (!manager_ || !control ||
        FAILED(control.As<catalog::IPelkCatalogControl>()->OpenCatalog(
            Bstr::FromUtf8(location).Get())) ||
        FAILED(manager_->Initialize(control.Get()))) {
      std::fprintf(stderr, "the manager did not initialize with the catalogue %s\n",
                   location.c_str());
      std::exit(1);
    }
  }
  ~StudyHost() { manager_->Shutdown(); }
  StudyHost(const StudyHost&) = delete;
  StudyHost& operator=(const StudyHost&) = delete;

  // One TrackID of the sample, only the call itself timed. By fingerprint, the copy is what the
  // host's fingerprint carries and the file's name says nothing.
  Identified Identify(TrackIdKind kind, const Sample& s, const Signature& copy, Timings& t) {
    const std::string file = "/music/" + s.artist + "/" + s.album + "/" + s.title + ".flac";
    switch (kind) {
      case TrackIdKind::kIdentifier: {
        auto [record, tag] = RecordOf(file);
        tag->put_Identifier(Bstr::FromUtf8(s.identifier).Get());
        return Run(record.Get(), 0, t);
      }
      case TrackIdKind::kText: {
        auto [record, tag] = RecordOf(file);
        tag->put_Artist(Bstr::FromUtf8(s.artist).Get());
        tag->put_Title(Bstr::FromUtf8(s.title).Get());
        return Run(record.Get(), SONQUIX_DEFAULT_OPTIONS | SONQUIX_DISABLE_WF_QUERIES, t);
      }
      case TrackIdKind::kFingerprint:
        return ByFingerprint(copy, t);
    }
    return {};
  }
  Identified ByFingerprint(const Signature& signature, Timings& t) {
    auto [record, tag] = RecordOf("/music/incoming/01.flac");
    ComPtr<IPelkSonquixFingerprint> fingerprint;
    modules_.sonquix_get(CLSID_PelkSonquixFingerprint, IPelkSonquixFingerprint::kIid,
                         fingerprint.OutVoid());
    const std::string document = documents_.Of(signature);
    fingerprint->SetFPData(document.data(), static_cast<int32_t>(document.size()));
    record->put_Fingerprint(fingerprint.Get());
    return Run(record.Get(), 0, t);
  }

 private:
  std::pair<ComPtr<IPelkFileInfo>, ComPtr<IFileTag>> RecordOf(const std::string& file) {
    ComPtr<IPelkFileInfo> record;
    modules_.sonquix_get(CLSID_PelkFileInfo, IPelkFileInfo::kIid, record.OutVoid());
    record->put_Filename(Bstr::FromUtf8(file).Get());
    ComPtr<IFileTag> tag;
    modules_.control_get(CLSID_PelkFileTag, IFileTag::kIid, tag.OutVoid());
    record->put_Tag(tag.Get());
    return {record, tag};
  }
  Identified Run(IPelkFileInfo* record, int32_t options, Timings& t) {
    Identified out;
    ComPtr<IPelkFileInfoList> list;
    t.Time([&] { return manager_->TrackID(record, options, &out.code, list.Out()); });
    ComPtr<IPelkFileInfo> first;
    ComPtr<IDiscInfo> disc;
    Bstr identifier;
    if (!list || FAILED(list->GetFileInfo(1, first.Out())) || !first) return out;
    first->get_TrackNum(&out.track);
    if (FAILED(first->get_Disc(disc.Out())) || !disc) return out;
    disc->get_Identifier(identifier.Out());
    out.disc_identifier = identifier.Utf8();
    return out;
  }

  const Modules& modules_;
  const FingerprintDocuments& documents_;
  ComPtr<IPELKSonquixManager3> manager_;
};

}  // namespace pelk::bench
