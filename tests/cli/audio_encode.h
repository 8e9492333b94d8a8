// Encodes a WAV file into another audio format with Debian's command-line encoders (the ffmpeg
// command; Musepack's own encoder), so tests make real compressed files at run time.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace pelk::cli {

inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the encoder on `wav`, writing `out`: `codec_args` are the ffmpeg output options ("-c:a",
// "flac", ...), or "mpcenc" and its options for Musepack. True when the encoder succeeded and
// wrote the file.
inline bool EncodeAudio(const std::filesystem::path& wav, const std::filesystem::path& out,
                        const std::vector<std::string>& codec_args) {
  std::string command;
  if (!codec_args.empty() && codec_args[0] == "mpcenc") {
    command = "mpcenc --silent --overwrite";
    for (size_t i = 1; i < codec_args.size(); ++i) command += " " + ShellQuoted(codec_args[i]);
    command += " " + ShellQuoted(wav.string()) + " " + ShellQuoted(out.string());
  } else {
    command = "ffmpeg -nostdin -hide_banner -loglevel error -y -i " + ShellQuoted(wav.string());
    for (const std::string& arg : codec_args) command += " " + ShellQuoted(arg);
    command += " " + ShellQuoted(out.string());
  }
  command += " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 && std::filesystem::exists(out);
}

}  // namespace pelk::cli
