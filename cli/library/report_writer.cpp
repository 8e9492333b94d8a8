#include "cli/library/report_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "cli/track_identification.h"

namespace pelk::cli {

nlohmann::json AnswerJson(const FileAnswer& a) {
  nlohmann::json line = {{"file", a.file},
                         {"identified", a.identified},
                         {"match_code", a.match_code},
                         {"match_code_name", MatchCodeName(a.match_code)},
                         {"match_type", a.match_type},
                         {"match_type_name", MatchTypeName(a.match_type)},
                         {"found_by", a.found_by},
                         {"certainty", a.certainty},
                         {"confidence", a.confidence}};
  if (a.identified) {
    line["disc"] = a.disc_identifier;
    line["artist"] = a.artist;
    line["album"] = a.album;
    line["title"] = a.title;
    line["track"] = a.track;
    line["track_count"] = a.track_count;
  }
  line["tag_score"] = a.tag_score ? nlohmann::json(*a.tag_score) : nlohmann::json(nullptr);
  if (a.waveform) {
    line["fingerprint_distance"] = a.waveform->distance;
    line["fingerprint_threshold"] = a.waveform->max_distance;
  }
  return line;
}

std::set<std::string> ReportedFiles(const std::string& path) {
  std::set<std::string> files;
  std::ifstream in(path);
  for (std::string text; std::getline(in, text);) {
    const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
    if (line.is_object() && line.contains("file") && line["file"].is_string() &&
        line.value("certainty", "") != "error") {
      files.insert(line["file"].get<std::string>());
    }
  }
  return files;
}

std::unique_ptr<ReportWriter> ReportWriter::Open(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) {
    *error = "cannot write the report " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<ReportWriter> writer(new ReportWriter(file));
  // A line cut short by a crash must not swallow the next one.
  std::fseek(file, 0, SEEK_END);
  if (std::ftell(file) > 0) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(-1, std::ios::end);
    char last = '\n';
    in.get(last);
    writer->at_line_start_ = last == '\n';
  }
  return writer;
}

ReportWriter::~ReportWriter() { std::fclose(file_); }

bool ReportWriter::Append(const std::vector<nlohmann::json>& lines) {
  std::lock_guard lock(mutex_);
  std::string text = at_line_start_ ? "" : "\n";
  for (const nlohmann::json& line : lines) {
    text += line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
  }
  const bool ok =
      std::fwrite(text.data(), 1, text.size(), file_) == text.size() && std::fflush(file_) == 0;
  at_line_start_ = ok || at_line_start_;
  return ok;
}

void ReportWriter::Sync() {
  std::lock_guard lock(mutex_);
  std::fflush(file_);
  ::fsync(::fileno(file_));
}

}  // namespace pelk::cli
