// The host's decoding of every format a music library holds, on real files encoded at test time
// from one synthesized WAV: lossless copies must give the WAV's signature, lossy ones a signature
// within the spread that lossy coding gives, far nearer than another recording.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "catalog/tag_mapping.h"
#include "cli/audio/audio_decoder.h"
#include "cli/commands/fingerprint_command.h"
#include "cli/library/audio_files.h"
#include "runtime/utf.h"
#include "tests/cli/audio_encode.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;
using Signature = std::vector<int64_t>;

struct Encoding {
  std::string file;  // the name also chooses the container
  std::vector<std::string> args;
  bool lossless;
  // TagLib reads only ID3 tags of TTA files; the APEv2 tags most TTA writers use are not read.
  bool tags_read = true;
};

// APE has no encoder among Debian's packages, so no APE file is made here.
const Encoding kEncodings[] = {
    {"flac.flac", {"-c:a", "flac"}, true},
    {"alac.m4a", {"-c:a", "alac"}, true},
    {"wavpack.wv", {"-c:a", "wavpack"}, true},
    {"tta.tta", {"-c:a", "tta"}, true, false},
    {"aiff.aiff", {"-c:a", "pcm_s16be", "-write_id3v2", "1"}, true},
    {"float.wav", {"-c:a", "pcm_f32le"}, true},
    {"s24.wav", {"-c:a", "pcm_s24le"}, true},
    {"aac.m4a", {"-c:a", "aac", "-b:a", "160k"}, false},
    {"mp3.mp3", {"-c:a", "libmp3lame", "-b:a", "160k"}, false},
    {"vorbis.ogg", {"-c:a", "libvorbis", "-q:a", "5"}, false},
    {"opus.opus", {"-c:a", "libopus", "-b:a", "128k"}, false},
    {"wma.wma", {"-c:a", "wmav2", "-b:a", "160k"}, false},
    {"musepack.mpc", {"mpcenc", "--title", "Tone Poem", "--artist", "Synth"}, false},
};

// Containers FFmpeg decodes whose tags the control's reader (TagLib) does not read: Matroska,
// Core Audio (CAF); raw AAC (ADTS) and AC-3 streams have no tag at all.
const Encoding kUntaggedEncodings[] = {
    {"flac.mka", {"-c:a", "flac"}, true},
    {"alac.caf", {"-c:a", "alac"}, true},
};

// Sums of absolute differences over the 30 values (the catalogue's waveform distance). Measured
// on this music: the lossy copies lay 160-930 from their source (WMA and Opus, which resamples
// to 48 kHz inside the codec, the farthest), another recording 37000 away. A copy within 2000 is
// the same recording by the catalogue's measure, within 6000 the same track.
constexpr int64_t kLossyBound = 2000;
// 4 KB of garbage inside the stream cost 2100-2500 here.
constexpr int64_t kSameTrack = 6000;

int64_t Distance(const Signature& a, const Signature& b) {
  if (a.size() != b.size()) return INT64_MAX;
  int64_t sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
  return sum;
}

class AudioFormatsTest : public ::testing::Test {
 protected:
  // Every format is encoded once for the suite, from a 15 s stereo 44.1 kHz recording.
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("pelk-cli-formats-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const auto& [name, seed] : {std::pair{"source.wav", 3u}, std::pair{"other.wav", 8u}}) {
      const int64_t frames = 15 * 44100;
      testing::WriteFile(
          dir_ / name,
          testing::MakeWav(
              {}, testing::EncodePcm(testing::Interleave({testing::Music(seed, 44100, frames),
                                                          testing::Music(seed + 1, 44100, frames)}),
                                     16)));
    }
    // Every file is tagged as a ripper would, for the tag reader.
    auto encode = [](const Encoding& e) {
      std::vector<std::string> args = e.args;
      if (args[0] != "mpcenc") {
        args.insert(args.end(), {"-metadata", "title=Tone Poem", "-metadata", "artist=Synth"});
      }
      if (!EncodeAudio(dir_ / "source.wav", dir_ / e.file, args)) failed_.push_back(e.file);
    };
    for (const Encoding& e : kEncodings) encode(e);
    for (const Encoding& e : kUntaggedEncodings) encode(e);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static std::string Path(const std::string& name) { return (dir_ / name).string(); }

  static Outcome Fingerprint(std::vector<std::string> files) {
    files.insert(files.begin(), {"fingerprint", "--json"});
    return RunCommand(AddFingerprintCommand, files);
  }
  // The signature of each file that gave one, by path.
  static std::map<std::string, Signature> Signatures(const Outcome& run) {
    std::map<std::string, Signature> signatures;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
      const nlohmann::json j = nlohmann::json::parse(line);
      signatures[j.at("file")] = j.at("signature").get<Signature>();
    }
    return signatures;
  }
  static std::vector<std::string> ErrorLines(const Outcome& run) {
    std::vector<std::string> lines;
    std::istringstream in(run.err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // A copy of an encoded file under another name, cut to `keep` of its bytes.
  static std::string Copy(const std::string& from, const std::string& to, double keep = 1.0) {
    fs::copy_file(dir_ / from, dir_ / to, fs::copy_options::overwrite_existing);
    fs::resize_file(dir_ / to,
                    static_cast<uintmax_t>(static_cast<double>(fs::file_size(dir_ / from)) * keep));
    return Path(to);
  }

  static std::string Bytes(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static inline fs::path dir_;
  static inline std::vector<std::string> failed_;
};

TEST_F(AudioFormatsTest, EveryFormatGivesItsSourcesSignature) {
  ASSERT_TRUE(failed_.empty()) << "could not encode " << ::testing::PrintToString(failed_)
                               << " (scripts/deps.sh installs the encoders)";
  std::vector<std::string> files = {Path("source.wav"), Path("other.wav")};
  for (const Encoding& e : kEncodings) files.push_back(Path(e.file));
  for (const Encoding& e : kUntaggedEncodings) files.push_back(Path(e.file));
  const Outcome run = Fingerprint(files);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::map<std::string, Signature> signatures = Signatures(run);
  ASSERT_EQ(signatures.size(), files.size()) << run.out;
  const Signature& source = signatures.at(Path("source.wav"));
  ASSERT_EQ(source.size(), 30u);
  // The bound below tells recordings apart only if another one lies well beyond it.
  EXPECT_GT(Distance(source, signatures.at(Path("other.wav"))), 3 * kSameTrack);

  std::vector<Encoding> all(std::begin(kEncodings), std::end(kEncodings));
  all.insert(all.end(), std::begin(kUntaggedEncodings), std::end(kUntaggedEncodings));
  for (const Encoding& e : all) {
    SCOPED_TRACE(e.file);
    const Signature& copy = signatures.at(Path(e.file));
    ASSERT_EQ(copy.size(), source.size());
    if (e.lossless) {
      for (size_t i = 0; i < source.size(); ++i)
        EXPECT_NEAR(copy[i], source[i], 1) << "value " << i;
    } else {
      EXPECT_LE(Distance(copy, source), kLossyBound);
    }
  }
}

TEST_F(AudioFormatsTest, TheControlReadsTheTagsOfEveryFormatButMatroskaCafAndTta) {
  ASSERT_TRUE(failed_.empty());
  for (const Encoding& e : kEncodings) {
    SCOPED_TRACE(e.file);
    catalog::TagData data;
    ASSERT_EQ(catalog::ReadTagFile(Utf8ToUtf16(Path(e.file)), &data), S_OK);
    EXPECT_EQ(data.texts[catalog::kTagTitle], e.tags_read ? u"Tone Poem" : u"");
    EXPECT_EQ(data.texts[catalog::kTagArtist], e.tags_read ? u"Synth" : u"");
    EXPECT_NEAR(data.length_ms, 15000, 100);
  }
  // TagLib takes the Matroska file for FLAC (it holds a FLAC stream) and finds no tags; writing
  // into it would have corrupted it, so the control refuses to write tags of such files.
  for (const Encoding& e : kUntaggedEncodings) {
    SCOPED_TRACE(e.file);
    const std::u16string path = Utf8ToUtf16(Path(e.file));
    catalog::TagData data;
    catalog::ReadTagFile(path, &data);
    EXPECT_EQ(data.texts[catalog::kTagTitle], u"");
    const std::string before = Bytes(e.file);
    data.texts[catalog::kTagTitle] = u"Other";
    EXPECT_EQ(catalog::WriteTagFile(path, data), E_FAIL);
    EXPECT_TRUE(Bytes(e.file) == before);
  }
}

TEST_F(AudioFormatsTest, FolderWalksFindEveryFormat) {
  const AudioFileSet found = CollectAudioFiles({dir_.string()});
  for (const Encoding& e : kEncodings) {
    EXPECT_NE(std::find(found.files.begin(), found.files.end(), Path(e.file)), found.files.end())
        << e.file;
  }
}

TEST_F(AudioFormatsTest, DecoderReportsWhatTheAudioIs) {
  std::string error;
  const auto opus = AudioDecoder::Open(Path("opus.opus"), &error);
  ASSERT_TRUE(opus) << error;
  EXPECT_EQ(opus->sample_rate(), 48000);  // Opus always decodes at 48 kHz
  EXPECT_EQ(opus->channels(), 2);
  EXPECT_NEAR(opus->seconds(), 15.0, 0.1);
  EXPECT_FALSE(opus->IsPlainWavPcm());
  const auto wav = AudioDecoder::Open(Path("source.wav"), &error);
  ASSERT_TRUE(wav) << error;
  EXPECT_TRUE(wav->IsPlainWavPcm());
  EXPECT_FALSE(AudioDecoder::Open(Path("float.wav"), &error)->IsPlainWavPcm());

  // Reading to the end hands out every sample frame once, in blocks of at most 4096.
  const auto aac = AudioDecoder::Open(Path("alac.m4a"), &error);
  ASSERT_TRUE(aac) << error;
  int64_t frames = 0;
  for (;;) {
    const std::vector<uint8_t>& block = aac->ReadBlock();
    if (block.empty()) break;
    ASSERT_LE(block.size(), 4096u * 4);
    frames += static_cast<int64_t>(block.size()) / 4;
  }
  EXPECT_EQ(frames, 15 * 44100);
  EXPECT_TRUE(aac->ReadBlock().empty());
}

TEST_F(AudioFormatsTest, ContentDecidesNotTheExtension) {
  // Audio under another format's extension is decoded as what it is.
  const std::string mp3_as_wav = Copy("mp3.mp3", "really-mp3.wav");
  const std::string flac_as_mp3 = Copy("flac.flac", "really-flac.mp3");
  const Outcome run = Fingerprint({Path("mp3.mp3"), mp3_as_wav, Path("flac.flac"), flac_as_mp3});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto signatures = Signatures(run);
  EXPECT_EQ(signatures.at(mp3_as_wav), signatures.at(Path("mp3.mp3")));
  EXPECT_EQ(signatures.at(flac_as_mp3), signatures.at(Path("flac.flac")));

  // A relative name with a colon is a file name, not a URL.
  Copy("flac.flac", "Artist: Title.flac");
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  const Outcome relative = Fingerprint({"Artist: Title.flac"});
  fs::current_path(cwd);
  ASSERT_EQ(relative.code, 0) << relative.err;
  EXPECT_EQ(Signatures(relative).at("Artist: Title.flac"), signatures.at(Path("flac.flac")));
}

TEST_F(AudioFormatsTest, DamagedAndForeignFilesGetOneLineEach) {
  // Cut short: the decoder hands out what is there, which is too little for a fingerprint.
  const std::string cut_flac = Copy("flac.flac", "cut.flac", 0.4);
  const std::string cut_mp3 = Copy("mp3.mp3", "cut.mp3", 0.4);
  // A cut M4A loses its index (written at the end), so nothing of it can be read.
  const std::string cut_m4a = Copy("aac.m4a", "cut.m4a", 0.6);
  // An image named as audio, and text.
  const fs::path image = dir_ / "cover.m4a";
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=red:s=16x16 "
                         "-frames:v 1 -f image2 -c:v png " +
                         ShellQuoted(image.string()) + " >/dev/null 2>&1")
                            .c_str()),
            0);
  testing::WriteFile(dir_ / "notes.opus", {'h', 'e', 'l', 'l', 'o', '\n'});

  const Outcome run = Fingerprint({cut_flac, cut_mp3, cut_m4a, image.string(), Path("notes.opus")});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  const std::vector<std::string> errors = ErrorLines(run);
  ASSERT_EQ(errors.size(), 5u) << run.err;
  EXPECT_EQ(errors[0].rfind("sonquix: " + cut_flac + ": the audio ends after ", 0), 0u)
      << errors[0];
  EXPECT_NE(errors[0].find("of the 15.0 s the file declares (cut short or damaged)"),
            std::string::npos)
      << errors[0];
  EXPECT_NE(errors[1].find("(cut short or damaged)"), std::string::npos) << errors[1];
  EXPECT_EQ(errors[2],
            "sonquix: " + cut_m4a +
                ": not an audio file that can be decoded (unrecognised or damaged data)");
  EXPECT_EQ(errors[3], "sonquix: " + image.string() +
                           ": not an audio file that can be decoded (not an audio format)");
  EXPECT_EQ(errors[4],
            "sonquix: " + Path("notes.opus") +
                ": not an audio file that can be decoded (unrecognised or damaged data)");
}

TEST_F(AudioFormatsTest, DamageInsideTheStreamKeepsTheAudioAroundIt) {
  // 4 KB of garbage a quarter of the way into the MP3 and the FLAC: the damaged frames are
  // skipped, the rest decodes, and the fingerprint stays near the intact file's.
  for (const std::string name : {"mp3.mp3", "flac.flac"}) {
    SCOPED_TRACE(name);
    const std::string damaged = Copy(name, "damaged-" + name);
    std::vector<uint8_t> bytes(fs::file_size(damaged));
    {
      FILE* f = std::fopen(damaged.c_str(), "r+b");
      ASSERT_NE(f, nullptr);
      ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
      for (size_t i = bytes.size() / 4; i < bytes.size() / 4 + 4096; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
      }
      std::rewind(f);
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      std::fclose(f);
    }
    const Outcome run = Fingerprint({Path(name), damaged});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto signatures = Signatures(run);
    EXPECT_LE(Distance(signatures.at(damaged), signatures.at(Path(name))), kSameTrack);
  }
}

}  // namespace
}  // namespace pelk::cli
