#include "cli/library/audio_files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <set>
#include <string_view>

namespace pelk::cli {

namespace fs = std::filesystem;

bool IsAudioFileName(const std::string& path) {
  static constexpr std::array kExtensions = {
      ".wav", ".wave", ".flac", ".ogg", ".oga", ".opus", ".mp3", ".aif", ".aiff", ".m4a",
      ".m4b", ".aac",  ".wma",  ".wv",  ".ape", ".mpc",  ".tta", ".mka", ".caf",  ".w64"};
  std::string extension = fs::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::find(kExtensions.begin(), kExtensions.end(), std::string_view(extension)) !=
         kExtensions.end();
}

AudioFileSet CollectAudioFiles(const std::vector<std::string>& paths) {
  AudioFileSet set;
  std::set<std::string> seen;
  auto add = [&](const fs::path& path) {
    std::error_code ec;
    const std::string full = fs::absolute(path, ec).lexically_normal().string();
    if (seen.insert(full).second) set.files.push_back(full);
  };
  for (const std::string& given : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(given, ec);
    if (fs::is_directory(status)) {
      fs::recursive_directory_iterator it(given, fs::directory_options::skip_permission_denied, ec);
      for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_regular_file(type_ec) && IsAudioFileName(it->path().string())) add(it->path());
      }
    } else if (fs::exists(status)) {
      add(given);
    } else {
      set.missing.push_back(given);
    }
  }
  std::sort(set.files.begin(), set.files.end());
  return set;
}

}  // namespace pelk::cli
