// A catalogue made in the test from synthesized, tagged audio, for the commands that identify
// files through both modules: one album, "Synth" - "Tones", tracks 1-3 ("First Light", "Second
// Wind", "Third Rail"), 16 s each of the music of seeds 11-13, fingerprinted by add-album.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "catalog/file_tag.h"
#include "cli/commands/catalog_command.h"
#include "runtime/bstr.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {

struct Tags {
  std::string artist, album, title, track, identifier;
};

// `seconds` of the music of `seed`, 11025 Hz mono WAV.
inline void WriteMusic(const std::filesystem::path& path, uint32_t seed, double seconds) {
  const int32_t rate = 11025;
  testing::WriteFile(
      path, testing::MakeWav({rate, 16, 1},
                             testing::EncodePcm(
                                 testing::Music(seed, rate, static_cast<int64_t>(seconds * rate)),
                                 16)));
}

// Tags written through the control's own tag object, as a tagger would.
inline void WriteTags(const std::filesystem::path& path, const Tags& t) {
  ComPtr<IFileTag> tag;
  ASSERT_TRUE(SUCCEEDED(catalog::CreateCatalogFileTag(false, IFileTag::kIid, tag.OutVoid())));
  tag->put_Artist(Bstr::FromUtf8(t.artist).Get());
  tag->put_AlbumTitle(Bstr::FromUtf8(t.album).Get());
  tag->put_Title(Bstr::FromUtf8(t.title).Get());
  tag->put_TrackNumber(Bstr::FromUtf8(t.track).Get());
  tag->put_Identifier(Bstr::FromUtf8(t.identifier).Get());
  ASSERT_TRUE(
      SUCCEEDED(catalog::SaveCatalogFileTag(tag.Get(), Bstr::FromUtf8(path.string()).Get())));
}

inline constexpr const char* kToneTitles[] = {"First Light", "Second Wind", "Third Rail"};

// Makes `dir` anew with the album's files in dir/album and the catalogue dir/catalog.db, the
// disc under `identifier`.
inline void MakeTonesCatalog(const std::filesystem::path& dir, const std::string& identifier) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "album");
  std::vector<std::string> args = {"catalog", "add-album", (dir / "catalog.db").string(),
                                   "--identifier", identifier};
  for (int track = 1; track <= 3; ++track) {
    const std::filesystem::path path = dir / "album" / ("0" + std::to_string(track) + ".wav");
    WriteMusic(path, 10 + track, 16);
    WriteTags(path, {"Synth", "Tones", kToneTitles[track - 1], std::to_string(track), ""});
    args.push_back(path.string());
  }
  const Outcome added = RunCommand(AddCatalogCommand, args);
  ASSERT_EQ(added.code, 0) << added.err;
}

}  // namespace pelk::cli
