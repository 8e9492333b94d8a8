#include "cli/commands/demo_command.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/command_support.h"
#include "cli/demo/demo_library.h"
#include "cli/module_session.h"
#include "cli/track_identification.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

struct DemoOptions {
  std::string keep;
  bool json = false;
};

// Removes the demo's temporary folder however the command ends.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

 private:
  fs::path path_;
};

fs::path MakeFolder(const std::string& keep) {
  std::error_code ec;
  if (!keep.empty()) {
    const fs::path dir(keep);
    if (fs::exists(dir, ec) && !(fs::is_directory(dir, ec) && fs::is_empty(dir, ec))) {
      Fail("--keep " + keep + ": the folder must be new or empty");
    }
    fs::create_directories(dir, ec);
    if (ec) Fail("--keep " + keep + ": " + ec.message());
    return fs::absolute(dir);
  }
  std::string pattern = (fs::temp_directory_path(ec) / "sonquix-demo-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) Fail("cannot make a temporary folder in " + pattern);
  return pattern;
}

struct Outcome {
  const DemoFile* file;
  Identification result;
  bool correct;
};

bool IsCorrect(const DemoFile& f, const Identification& r) {
  if (!r.error.empty()) return false;
  if (f.disc_identifier.empty()) return r.candidates.empty();
  return !r.candidates.empty() && r.candidates[0].disc_identifier == f.disc_identifier &&
         r.candidates[0].track == f.track;
}

std::string Expected(const DemoFile& f) {
  if (f.disc_identifier.empty()) return "not found (" + f.artist + " - " + f.title + ")";
  return f.artist + " - " + f.title + " [" + f.disc_identifier + " #" + std::to_string(f.track) +
         "]";
}

std::string Found(const Identification& r) {
  if (!r.error.empty()) return "error: " + r.error;
  if (r.candidates.empty()) return "not found";
  const Candidate& c = r.candidates[0];
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.1f ms", r.trackid_ms);
  return c.track_artist + " - " + c.title + " [" + c.disc_identifier + " #" +
         std::to_string(c.track) + "] by " + MatchTypeName(c.match_type) + ", " +
         MatchCodeName(c.match_code) + ", score " + std::to_string(c.score) + ", " + ms;
}

// printf-style formatting into a string, for output that goes through std::cout.
template <class... Args>
std::string Format(const char* format, Args... args) {
  const int size = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  return text;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void RunDemo(const DemoOptions& o) {
  const fs::path dir = MakeFolder(o.keep);
  const TemporaryFolder cleanup(o.keep.empty() ? dir : fs::path());
  const bool progress = ::isatty(STDERR_FILENO) != 0;

  std::string error;
  const std::unique_ptr<ModuleSession> session = ModuleSession::Load(&error);
  if (!session) Fail(error);
  if (progress) std::cerr << "building the catalogue and the library..." << std::flush;
  const auto start = std::chrono::steady_clock::now();
  DemoSet set;
  if (!BuildDemo(dir, session->Fingerprinter(), &set, &error)) Fail(error);
  const double build_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!session->OpenCatalog(set.catalog.string(), &error)) Fail(error);

  std::vector<Outcome> outcomes;
  for (size_t i = 0; i < set.files.size(); ++i) {
    const DemoFile& f = set.files[i];
    if (progress) {
      std::cerr << "\r\033[Kidentifying " << i + 1 << "/" << set.files.size() << std::flush;
    }
    Identification r = IdentifyTrack(*session, (dir / f.path).string(), 0);
    r.file = f.path;
    const bool correct = IsCorrect(f, r);
    outcomes.push_back({&f, std::move(r), correct});
  }
  if (progress) std::cerr << "\r\033[K" << std::flush;

  std::vector<double> times;
  int32_t correct = 0;
  for (const Outcome& out : outcomes) {
    if (out.result.error.empty()) times.push_back(out.result.trackid_ms);
    correct += out.correct ? 1 : 0;
  }
  const double median_ms = Median(times);
  const auto total = static_cast<int32_t>(outcomes.size());

  if (o.json) {
    nlohmann::json files = nlohmann::json::array();
    for (const Outcome& out : outcomes) {
      const DemoFile& f = *out.file;
      nlohmann::json line = {
          {"file", f.path},
          {"kind", f.kind},
          {"expected", f.disc_identifier.empty()
                           ? nlohmann::json()
                           : nlohmann::json{{"disc_identifier", f.disc_identifier},
                                            {"track", f.track},
                                            {"artist", f.artist},
                                            {"title", f.title}}},
          {"correct", out.correct},
          {"time_ms", out.result.trackid_ms},
      };
      if (!out.result.error.empty()) line["error"] = out.result.error;
      if (out.result.candidates.empty()) {
        line["found"] = nullptr;
      } else {
        const Candidate& c = out.result.candidates[0];
        line["found"] = {{"disc_identifier", c.disc_identifier},
                         {"track", c.track},
                         {"artist", c.track_artist},
                         {"title", c.title},
                         {"match_type", MatchTypeName(c.match_type)},
                         {"match_code", MatchCodeName(c.match_code)},
                         {"score", c.score}};
      }
      files.push_back(line);
    }
    const nlohmann::json summary = {
        {"folder", o.keep.empty() ? nlohmann::json() : nlohmann::json(dir.string())},
        {"albums", set.albums},
        {"tracks", set.tracks},
        {"files", files},
        {"correct", correct},
        {"total", total},
        {"median_trackid_ms", median_ms},
        {"build_s", build_s}};
    std::cout << summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return;
  }

  std::cout << Format(
      "catalogue: %d albums, %d tracks of synthesized audio; library: %d files (built in "
      "%.1f s%s%s)\n\n",
      set.albums, set.tracks, total, build_s, o.keep.empty() ? "" : ", kept in ",
      o.keep.empty() ? "" : dir.c_str());
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const Outcome& out = outcomes[i];
    std::cout << Format("%2zu. %-5s %s\n      %s\n      expected  %s\n      found     %s\n", i + 1,
                        out.correct ? "ok" : "WRONG", out.file->path.c_str(),
                        out.file->kind.c_str(), Expected(*out.file).c_str(),
                        Found(out.result).c_str());
  }
  std::cout << Format("\n%d of %d identified correctly\nmedian %.1f ms per TrackID\n", correct,
                      total, median_ms);
}

}  // namespace

void AddDemoCommand(CLI::App& app) {
  auto o = std::make_shared<DemoOptions>();
  CLI::App* command = app.add_subcommand(
      "demo",
      "Build a small catalogue and a messy library from synthesized audio in a temporary "
      "folder, identify every library file with TrackID and compare with what was expected");
  command->add_option("--keep", o->keep,
                      "Build in this new or empty folder and keep it (the catalogue is "
                      "DIR/catalog.db, the files DIR/library)");
  command->add_flag("--json", o->json, "Print one JSON object");
  command->callback([o] { RunDemo(*o); });
}

}  // namespace pelk::cli
