#include "cli/commands/fingerprint_command.h"

#include <gtest/gtest.h>

#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "tests/cli/audio_encode.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

using testing::ScopedTempFile;

Outcome RunSonquix(std::vector<std::string> args) {
  return RunCommand(AddFingerprintCommand, std::move(args));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// 44.1 kHz 16-bit stereo "music" of the given length, as interleaved samples.
std::vector<double> Samples(double seconds, uint32_t seed) {
  const int64_t frames = static_cast<int64_t>(seconds * 44100);
  return testing::Interleave(
      {testing::Music(seed, 44100, frames), testing::Music(seed + 1, 44100, frames)});
}

class FingerprintCommandTest : public ::testing::Test {
 protected:
  const std::vector<double> music_ = Samples(15.0, 3);
  const ScopedTempFile wav_{"music.wav", testing::MakeWav({}, testing::EncodePcm(music_, 16))};
  const ScopedTempFile short_{"short.wav",
                              testing::MakeWav({}, testing::EncodePcm(Samples(9.0, 5), 16))};
};

TEST_F(FingerprintCommandTest, OneLinePerFileWithItsSignature) {
  const ScopedTempFile flac("music.flac");
  ASSERT_TRUE(EncodeAudio(wav_.path(), flac.path(), {"-c:a", "flac"}));
  const ScopedTempFile float_wav("float.wav");  // a sample format the module does not read
  ASSERT_TRUE(EncodeAudio(wav_.path(), float_wav.path(), {"-c:a", "pcm_f32le"}));

  const Outcome r = RunSonquix({"fingerprint", wav_.str(), flac.str(), float_wav.str()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  const std::string signature = lines[0].substr(lines[0].find('\t') + 1);
  EXPECT_EQ(lines[0], wav_.str() + "\t" + signature);
  EXPECT_EQ(std::count(signature.begin(), signature.end(), ' '), 29) << signature;
  // Lossless copies decoded by the host give the very same signature.
  EXPECT_EQ(lines[1], flac.str() + "\t" + signature);
  EXPECT_EQ(lines[2], float_wav.str() + "\t" + signature);
}

TEST_F(FingerprintCommandTest, BadFilesGetOneLineEachAndTheRestIsProcessed) {
  const ScopedTempFile text("notes.ogg", std::vector<uint8_t>{'h', 'i'});
  const Outcome r =
      RunSonquix({"fingerprint", short_.str(), wav_.str(), wav_.str() + ".gone.wav", text.str()});
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(Lines(r.out).size(), 1u) << r.out;
  EXPECT_EQ(r.out.rfind(wav_.str() + "\t", 0), 0u);
  const std::vector<std::string> errors = Lines(r.err);
  ASSERT_EQ(errors.size(), 3u) << r.err;
  EXPECT_EQ(errors[0], "sonquix: " + short_.str() +
                           ": too short for a fingerprint: 9.0 s of audio, 14.21 s of sound "
                           "are needed after any leading silence");
  EXPECT_NE(errors[1].find("no such file"), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find("not an audio file that can be decoded"), std::string::npos)
      << errors[2];
}

TEST_F(FingerprintCommandTest, JsonAndXmlForms) {
  const Outcome plain = RunSonquix({"fingerprint", wav_.str()});
  const Outcome json = RunSonquix({"fingerprint", "--json", "--serialize", wav_.str()});
  ASSERT_EQ(json.code, 0) << json.err;
  const nlohmann::json j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j.at("file"), wav_.str());
  EXPECT_EQ(j.at("type"), "Wavelattice");
  EXPECT_EQ(j.at("channels"), 2);
  EXPECT_EQ(j.at("sample_rate"), 44100);
  EXPECT_EQ(j.at("duration_ms"), 14210);
  ASSERT_EQ(j.at("signature").size(), 30u);
  std::string joined;
  for (const auto& v : j.at("signature")) joined += (joined.empty() ? "" : " ") + v.dump();
  EXPECT_EQ(wav_.str() + "\t" + joined + "\n", plain.out);
  EXPECT_EQ(j.at("serialized").get<std::string>().rfind("KZFP", 0), 0u);

  const Outcome xml = RunSonquix({"fingerprint", "--xml", wav_.str()});
  ASSERT_EQ(xml.code, 0) << xml.err;
  EXPECT_EQ(xml.out.rfind("<FINGERPRINT ALG=\"Wavelattice\" VERSION=\"1.1\" BUILD=\"1.3.3\">\n", 0),
            0u);
  EXPECT_NE(xml.out.find(">" + joined + "</DATA>"), std::string::npos);
  EXPECT_NE(xml.out.find("<DURATION UNITS=\"ms\">14210</DURATION>"), std::string::npos);
}

TEST_F(FingerprintCommandTest, DeserializePrintsTypeVersionAndSignature) {
  // Both outputs are "FILE<tab>VALUE" lines.
  auto value = [&](const std::vector<std::string>& args) {
    const std::string line = Lines(RunSonquix(args).out).at(0);
    return line.substr(line.find('\t') + 1);
  };
  const std::string serialized = value({"fingerprint", "--serialize", wav_.str()});
  const std::string signature = value({"fingerprint", wav_.str()});

  const Outcome r = RunSonquix({"fingerprint", "--deserialize", serialized});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "type       Wavelattice\nversion    1.1\nsignature  " + signature + "\n");
  const Outcome j = RunSonquix({"fingerprint", "--json", "--deserialize", serialized});
  EXPECT_EQ(nlohmann::json::parse(j.out).at("signature").size(), 30u);

  std::string tampered = serialized;
  tampered[10] = tampered[10] == 'Q' ? 'R' : 'Q';
  for (const std::string& bad : {tampered, std::string("KZFP"), serialized.substr(4)}) {
    const Outcome f = RunSonquix({"fingerprint", "--deserialize", bad});
    EXPECT_NE(f.code, 0) << bad;
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(Lines(f.err).size(), 1u) << f.err;
  }
  EXPECT_NE(RunSonquix({"fingerprint", "--deserialize", serialized, wav_.str()}).code, 0);
  EXPECT_NE(RunSonquix({"fingerprint"}).code, 0);
}

}  // namespace
}  // namespace pelk::cli
