#include "cli/commands/fingerprint_command.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/audio/audio_decoder.h"
#include "cli/audio/file_fingerprint.h"
#include "cli/audio/fingerprint_pool.h"
#include "cli/command_support.h"
#include "fingerprint/sonquix_fingerprint.h"
#include "fingerprint/sonquix_fingerprinter.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

struct FingerprintOptions {
  std::vector<std::string> files;
  std::string serialized;
  bool xml = false;
  bool serialize = false;
  bool json = false;
};

std::string Property(IFingerprintImpl* fingerprint, HRESULT (IFingerprintImpl::*getter)(BSTR*)) {
  Bstr value;
  return SUCCEEDED((fingerprint->*getter)(value.Out())) ? value.Utf8() : std::string();
}

// A number property as JSON: the number, or null when the text is not one.
nlohmann::json NumberOrNull(const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return nullptr;
  return value;
}

// The signature as a JSON array of numbers, or as its text when it is not a list of numbers.
nlohmann::json SignatureJson(const std::string& text) {
  nlohmann::json values = nlohmann::json::array();
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find(' ', at), text.size());
    const nlohmann::json value = NumberOrNull(text.substr(at, end - at));
    if (value.is_null()) return text;
    values.push_back(value);
    at = end + 1;
  }
  return values;
}

std::string Serialized(IPelkSonquixFingerprinter2* fingerprinter,
                       IPelkSonquixFingerprint* fingerprint) {
  Bstr text;
  const HRESULT hr = fingerprinter->FingerprintSerialize(fingerprint, text.Out());
  if (FAILED(hr)) Fail("cannot serialize a fingerprint (error " + HresultText(hr) + ")");
  return text.Utf8();
}

std::string DocumentOf(IPelkSonquixFingerprint* fingerprint) {
  const ComPtr<CPelkSonquixFingerprint> object = ImplOf<CPelkSonquixFingerprint>(fingerprint);
  const std::optional<std::string_view> text = object ? object->DocumentText() : std::nullopt;
  return text ? std::string(*text) : std::string();
}

void RunFiles(const FingerprintOptions& options) {
  const ComPtr<IPelkSonquixFingerprinter2> fingerprinter = NewFingerprinter();
  const int32_t needed_ms = FixedLengthMs(fingerprinter.Get());
  // Several files are fingerprinted on every core, ahead of the printing, which keeps the order
  // of the command line.
  std::optional<FingerprintPool> pool;
  if (options.files.size() > 1) {
    const auto cores = static_cast<size_t>(std::max(1u, std::thread::hardware_concurrency()));
    pool.emplace(static_cast<int>(std::min(cores, options.files.size())));
    pool->Enqueue(options.files);
  }
  bool failed = false;
  for (const std::string& path : options.files) {
    const FileFingerprint r =
        pool ? pool->Take(path) : FingerprintFile(fingerprinter.Get(), path, needed_ms);
    if (!r.fingerprint) {
      PrintError(path + ": " + r.error);
      failed = true;
      continue;
    }
    IPelkSonquixFingerprint* fp = r.fingerprint.Get();
    const std::string signature = Property(fp, &IFingerprintImpl::get_Signature);
    if (options.json) {
      nlohmann::json line = {
          {"file", path},
          {"type", Property(fp, &IFingerprintImpl::get_Type)},
          {"version", Property(fp, &IFingerprintImpl::get_Version)},
          {"signature", SignatureJson(signature)},
          {"channels", NumberOrNull(Property(fp, &IFingerprintImpl::get_Channels))},
          {"sample_rate", NumberOrNull(Property(fp, &IFingerprintImpl::get_SampleRate))},
          {"sample_size", NumberOrNull(Property(fp, &IFingerprintImpl::get_SampleSize))},
          {"offset_ms", NumberOrNull(Property(fp, &IFingerprintImpl::get_Offset))},
          {"duration_ms", NumberOrNull(Property(fp, &IFingerprintImpl::get_Duration))},
      };
      if (options.serialize) line["serialized"] = Serialized(fingerprinter.Get(), fp);
      if (options.xml) line["xml"] = DocumentOf(fp);
      std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else if (options.xml) {
      if (options.files.size() > 1) std::cout << "==> " << path << " <==\n";
      std::cout << DocumentOf(fp);
    } else if (options.serialize) {
      std::cout << path << '\t' << Serialized(fingerprinter.Get(), fp) << '\n';
    } else {
      std::cout << path << '\t' << signature << '\n';
    }
    std::cout.flush();
  }
  if (failed) throw CLI::RuntimeError(1);
}

void RunDeserialize(const FingerprintOptions& options) {
  const ComPtr<IPelkSonquixFingerprinter2> fingerprinter = NewFingerprinter();
  const Bstr text(ArgumentText(options.serialized, "the serialized fingerprint"));
  ComPtr<IPelkSonquixFingerprint> fp;
  const HRESULT hr = fingerprinter->FingerprintDeserialize(text.Get(), fp.Out());
  if (FAILED(hr) || !fp) {
    Fail(
        "not a serialized fingerprint: the string does not open as one (it must be copied "
        "whole, starting with KZFP)");
  }
  const std::string type = Property(fp.Get(), &IFingerprintImpl::get_Type);
  const std::string version = Property(fp.Get(), &IFingerprintImpl::get_Version);
  const std::string signature = Property(fp.Get(), &IFingerprintImpl::get_Signature);
  if (options.json) {
    const nlohmann::json result = {
        {"type", type}, {"version", version}, {"signature", SignatureJson(signature)}};
    std::cout << result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return;
  }
  std::cout << "type       " << type << '\n'
            << "version    " << version << '\n'
            << "signature  " << signature << '\n';
}

}  // namespace

void AddFingerprintCommand(CLI::App& app) {
  auto options = std::make_shared<FingerprintOptions>();
  CLI::App* command = app.add_subcommand(
      "fingerprint",
      "Print the waveform fingerprint of each FILE (WAV, FLAC, MP3, AAC/ALAC in M4A, Ogg Vorbis, "
      "Opus, WMA, WavPack, APE, Musepack, ...): one line with "
      "the file and its signature; a file that gives none gets a one-line error and the exit "
      "code is 1");
  CLI::Option* files = command->add_option("FILE", options->files, "Audio files");
  CLI::Option* xml =
      command->add_flag("--xml", options->xml, "Print each file's FINGERPRINT document");
  CLI::Option* serialize = command->add_flag("--serialize", options->serialize,
                                             "Print each fingerprint as its sealed KZFP string");
  command->add_flag("--json", options->json, "Print one JSON object per line");
  CLI::Option* deserialize =
      command->add_option("--deserialize", options->serialized,
                          "Print the type, version and signature of a serialized fingerprint");
  xml->excludes(serialize);
  deserialize->excludes(files)->excludes(xml)->excludes(serialize);
  command->callback([options, deserialize] {
    if (deserialize->count() > 0) return RunDeserialize(*options);
    if (options->files.empty()) Fail("fingerprint: give one or more FILEs, or --deserialize");
    RunFiles(*options);
  });
}

}  // namespace pelk::cli
