#include "cli/library/audio_files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "runtime/utf.h"

namespace pelk::cli {

namespace fs = std::filesystem;

namespace {

// The system's words for an error, as a phrase: "permission denied".
std::string Reason(const std::error_code& ec) {
  std::string text = ec.message();
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// Module calls take paths as UTF-16: a name that is not UTF-8 cannot reach them intact.
bool IsUtf8(const std::string& text) { return Utf16ToUtf8(Utf8ToUtf16(text)) == text; }

class Walk {
 public:
  Walk(AudioFileSet& set, const FolderVisit& visit) : set_(set), visit_(visit) {}

  void Given(const std::string& given) {
    if (!IsUtf8(given)) return Unreadable(given, "its name is not UTF-8");
    std::error_code ec;
    const fs::file_status status = fs::status(given, ec);
    if (status.type() == fs::file_type::not_found) {
      set_.missing.push_back(given);
    } else if (ec) {
      Unreadable(given, Reason(ec));
    } else if (fs::is_directory(status)) {
      Tree(given);
    } else {
      Add(given);
    }
  }

 private:
  // Depth first with a stack of the folders still to read, so that a failure in one folder
  // ends only that folder.
  void Tree(const fs::path& root) {
    std::vector<fs::path> pending{root};
    while (!pending.empty()) {
      const fs::path folder = std::move(pending.back());
      pending.pop_back();
      if (visit_) visit_(folder.string());
      std::error_code ec;
      fs::directory_iterator it(folder, ec);
      size_t entries = 0;
      for (; !ec && it != fs::directory_iterator(); it.increment(ec), ++entries) {
        Entry(*it, pending);
      }
      if (!ec) continue;
      if (entries == 0) {
        Unreadable(folder, Reason(ec));
      } else {
        Unreadable(folder,
                   Reason(ec) + " after " + std::to_string(entries) + " entries, which are kept");
      }
    }
  }

  void Entry(const fs::directory_entry& entry, std::vector<fs::path>& pending) {
    const std::string path = entry.path().string();
    // The type comes from the folder listing where the file system gives it: no call per file.
    std::error_code ec;
    const bool link = entry.is_symlink(ec);
    if (!ec && !link && entry.is_directory(ec)) {
      if (!IsUtf8(path)) return Unreadable(path, "its name is not UTF-8");
      pending.push_back(entry.path());
      return;
    }
    if (!IsAudioFileName(path)) return;
    // A file that vanished since the listing is simply gone; a link that leads nowhere or in
    // a loop is something the user would want to hear about.
    const bool regular = !ec && entry.is_regular_file(ec);
    if (ec) {
      if (link) Unreadable(path, Reason(ec));
      return;
    }
    if (!regular) return;
    if (!IsUtf8(path)) return Unreadable(path, "its name is not UTF-8");
    Add(entry.path());
  }

  void Add(const fs::path& path) {
    std::error_code ec;
    const std::string full = fs::absolute(path, ec).lexically_normal().string();
    if (seen_.insert(full).second) set_.files.push_back(full);
  }

  void Unreadable(const fs::path& path, std::string reason) {
    // Shown to people: bytes that are not UTF-8 appear as replacement characters.
    set_.unreadable.push_back({Utf16ToUtf8(Utf8ToUtf16(path.string())), std::move(reason)});
  }

  AudioFileSet& set_;
  const FolderVisit& visit_;
  std::set<std::string> seen_;
};

}  // namespace

bool IsAudioFileName(const std::string& path) {
  static constexpr std::array kExtensions = {
      ".wav", ".wave", ".flac", ".ogg", ".oga", ".opus", ".mp3", ".aif", ".aiff", ".m4a",
      ".m4b", ".aac",  ".wma",  ".wv",  ".ape", ".mpc",  ".tta", ".mka", ".caf",  ".w64"};
  std::string extension = fs::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::find(kExtensions.begin(), kExtensions.end(), std::string_view(extension)) !=
         kExtensions.end();
}

AudioFileSet CollectAudioFiles(const std::vector<std::string>& paths, const FolderVisit& visit) {
  AudioFileSet set;
  Walk walk(set, visit);
  for (const std::string& given : paths) walk.Given(given);
  std::sort(set.files.begin(), set.files.end());
  std::sort(set.unreadable.begin(), set.unreadable.end(),
            [](const UnreadablePath& a, const UnreadablePath& b) { return a.path < b.path; });
  return set;
}

std::string UnreadableText(const UnreadablePath& unreadable) {
  return unreadable.path + ": cannot be read (" + unreadable.reason + ")";
}

}  // namespace pelk::cli
