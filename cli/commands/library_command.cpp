// Threads: the run goes on the manager's library thread, the prefetch worker and the host's
// decoding pool. The library events are handled where they arrive, because their list objects
// are only guaranteed for the call: LibraryIDListComplete reads each finished file's answer,
// writes tags when asked, and appends the report lines (under the report's lock, flushed)
// before it returns, so nothing finished is lost on a stop or a crash. What the main thread
// owns (the progress line, Ctrl-C, the end of the run) is posted to its message queue and
// dispatched by PumpingWait there.
#include "cli/commands/library_command.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "cli/audio/fingerprint_pool.h"
#include "cli/command_support.h"
#include "cli/library/audio_files.h"
#include "cli/library/file_answer.h"
#include "cli/library/manager_event_sink.h"
#include "cli/library/progress_line.h"
#include "cli/library/report_writer.h"
#include "cli/library/tag_writer.h"
#include "cli/module_session.h"
#include "runtime/bstr.h"
#include "runtime/error_info.h"
#include "runtime/message_queue.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

constexpr char kDefaultReport[] = "sonquix-library.jsonl";

struct LibraryOptions {
  std::vector<std::string> paths;
  std::string catalog;
  std::string report = kDefaultReport;
  std::string write_tags;  // "", "sure" or "all"
  bool tracks = false;
  bool resume = false;
  int decode_workers = 2;
  int stop_after = 0;
};

std::atomic<int> g_interrupts{0};

void OnInterrupt(int) {
  // The second Ctrl-C quits at once: every finished file is already in the report.
  if (g_interrupts.fetch_add(1) >= 1) ::_exit(130);
}

// Ctrl-C handling for the duration of a run.
class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupts = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

// The state the event handlers share; touched on the library thread, under mutex_.
class RunState {
 public:
  RunState(const LibraryOptions& o, const ModuleSession& session, ReportWriter& report,
           WaveformCheck* check, std::map<std::string, ComPtr<IPelkFileInfo2_6>> inputs)
      : o_(o), session_(session), report_(report), check_(check), inputs_(std::move(inputs)) {}

  void Started(IPelkFileInfoList* list) {
    std::lock_guard lock(mutex_);
    for (const std::string& file : Files(list)) started_.insert(file);
  }

  // Reads, tags and reports the finished files of one list. why: the error the list's
  // identification left, if any; a file whose answer is an error is given it.
  void Completed(IPelkFileInfoList* list, const std::string& why) {
    std::vector<nlohmann::json> lines;
    std::lock_guard lock(mutex_);
    int32_t n = 0;
    if (list) list->get_Count(&n);
    for (int32_t i = 1; i <= n; ++i) {
      ComPtr<IPelkFileInfo> record;
      Bstr name;
      if (FAILED(list->GetFileInfo(i, record.Out())) || !record ||
          FAILED(record->get_Filename(name.Out()))) {
        continue;
      }
      const std::string file = name.Utf8();
      const auto input = inputs_.find(file);
      if (input == inputs_.end() || reported_.count(file)) continue;  // one line per file
      FileAnswer answer = ReadFileAnswer(record.Get(), input->second.Get(), check_);
      if (answer.certainty == "error" && !why.empty()) answer.confidence = "error: " + why;
      lines.push_back(Line(answer));
      reported_.insert(file);
    }
    // A file the run took up but returned in no list still gets its line.
    for (const std::string& file : started_) {
      if (!reported_.count(file)) {
        lines.push_back(Line(MissingFileAnswer(file)));
        reported_.insert(file);
      }
    }
    started_.clear();
    if (!report_.Append(lines)) report_failed_ = true;
    written_ += static_cast<int>(lines.size());
  }

  // The files the run took up and never finished, after a run that ended on a failure (album
  // mode ends at a batch that fails): each is reported as failed, with why. Returns how many.
  int FailStarted(const std::string& why) {
    std::vector<nlohmann::json> lines;
    std::lock_guard lock(mutex_);
    for (const std::string& file : started_) {
      if (!reported_.count(file)) {
        lines.push_back(Line(FailedFileAnswer(file, why)));
        reported_.insert(file);
      }
    }
    started_.clear();
    if (!report_.Append(lines)) report_failed_ = true;
    written_ += static_cast<int>(lines.size());
    failed_ += static_cast<int>(lines.size());
    return static_cast<int>(lines.size());
  }

  // The input files that have no line yet.
  std::vector<std::string> Unreported() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> files;
    for (const auto& [file, record] : inputs_) {
      if (!reported_.count(file)) files.push_back(file);
    }
    return files;
  }

  int Reported() {
    std::lock_guard lock(mutex_);
    return written_;
  }
  int Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
  }
  bool ReportFailed() {
    std::lock_guard lock(mutex_);
    return report_failed_;
  }
  int TagErrors() {
    std::lock_guard lock(mutex_);
    return tag_errors_;
  }
  int TagsWritten() {
    std::lock_guard lock(mutex_);
    return tags_written_;
  }

 private:
  static std::vector<std::string> Files(IPelkFileInfoList* list) {
    std::vector<std::string> files;
    int32_t n = 0;
    if (list) list->get_Count(&n);
    for (int32_t i = 1; i <= n; ++i) {
      ComPtr<IPelkFileInfo> record;
      Bstr name;
      if (SUCCEEDED(list->GetFileInfo(i, record.Out())) && record &&
          SUCCEEDED(record->get_Filename(name.Out()))) {
        files.push_back(name.Utf8());
      }
    }
    return files;
  }

  nlohmann::json Line(const FileAnswer& answer) {
    nlohmann::json line = AnswerJson(answer);
    const bool eligible =
        answer.identified &&
        (answer.sure || (o_.write_tags == "all" && answer.certainty == "probable"));
    if (!eligible) return line;
    const TagChange change = ApplyAnswerTags(session_, answer, !o_.write_tags.empty());
    nlohmann::json fields = nlohmann::json::object();
    for (const auto& [field, values] : change.fields) {
      fields[field] = {{"from", values.first}, {"to", values.second}};
    }
    line[o_.write_tags.empty() ? "tags_would_change" : "tags_changed"] = fields;
    if (!o_.write_tags.empty()) line["tags_written"] = change.written;
    if (!change.error.empty()) {
      line["tag_error"] = change.error;
      ++tag_errors_;
    }
    tags_written_ += change.written ? 1 : 0;
    return line;
  }

  const LibraryOptions& o_;
  const ModuleSession& session_;
  ReportWriter& report_;
  WaveformCheck* check_;
  const std::map<std::string, ComPtr<IPelkFileInfo2_6>> inputs_;
  std::mutex mutex_;
  std::set<std::string> started_, reported_;
  int written_ = 0;
  int failed_ = 0;  // files reported by FailStarted
  int tag_errors_ = 0;
  int tags_written_ = 0;
  bool report_failed_ = false;
};

void RunLibrary(const LibraryOptions& o) {
  const AudioFileSet set = CollectAudioFiles(o.paths);
  for (const std::string& missing : set.missing) PrintError(missing + ": no such file or folder");
  for (const UnreadablePath& unreadable : set.unreadable) PrintError(UnreadableText(unreadable));
  std::vector<std::string> files;
  size_t skipped = 0;
  const std::set<std::string> done = o.resume ? ReportedFiles(o.report) : std::set<std::string>();
  for (const std::string& file : set.files) {
    if (done.count(file)) {
      ++skipped;
    } else {
      files.push_back(file);
    }
  }
  if (set.files.empty()) Fail("no audio files found in the paths given");
  std::string error;
  const std::unique_ptr<ReportWriter> report = ReportWriter::Open(o.report, &error);
  if (!report) Fail(error);
  if (skipped > 0) {
    std::cerr << "library: " << skipped << " files already in " << o.report << " are skipped"
              << std::endl;
  }
  if (files.empty()) {
    std::cerr << "library: nothing left to identify" << std::endl;
    return;
  }

  const std::unique_ptr<ModuleSession> session = ModuleSession::LoadWithCatalog(o.catalog);
  IPELKSonquixManager3* manager = session->Manager();
  const std::unique_ptr<WaveformCheck> check = WaveformCheck::Open(session->CatalogLocation());

  // Records made here, so that the file's own tag and fingerprint stay readable for the report.
  std::map<std::string, ComPtr<IPelkFileInfo2_6>> inputs;
  for (const std::string& file : files) {
    const ComPtr<IPelkFileInfo2_6> record = session->NewRecord();
    if (!record || FAILED(record->put_Filename(Bstr::FromUtf8(file).Get()))) {
      Fail("the identification module cannot create a record");
    }
    inputs.emplace(file, record);
  }
  RunState state(o, *session, *report, check.get(), inputs);

  // Decoding for the files the module cannot read, ahead of the run.
  FingerprintPool pool(std::max(0, o.decode_workers));
  std::vector<std::string> host_files;
  for (const std::string& file : files) {
    if (HostFingerprints(file)) host_files.push_back(file);
  }
  pool.Enqueue(host_files);

  const std::shared_ptr<MessageQueue> main_queue = CurrentThreadQueue();
  std::unique_ptr<Event> finished;
  LibraryCounters counters;  // the whole run's, for the progress line
  LibraryCounters earlier;   // what the passes before this one finished
  LibraryCounters pass;      // this pass's, as the manager counts them
  std::u16string failure;    // the error the last pass ended on, if any
  bool stop_sent = false;
  std::atomic<bool> limit_reached{false};
  ProgressLine progress(std::cerr, ::isatty(STDERR_FILENO) != 0);
  // The manager counts each pass from zero; the progress line shows the whole run.
  const auto whole_run = [&](const LibraryCounters& now) {
    LibraryCounters c = now;
    c.complete += earlier.complete;
    c.total = static_cast<int32_t>(files.size());
    c.exact += earlier.exact;
    c.fuzzy += earlier.fuzzy;
    c.no_match += earlier.no_match;
    c.error += earlier.error;
    return c;
  };

  ManagerEventHandlers handlers;
  handlers.fingerprint_info = [&pool](const std::u16string& file, IPelkFileInfo* record) {
    const FileFingerprint fp = pool.Take(Utf16ToUtf8(file));
    if (fp.fingerprint) record->put_Fingerprint(fp.fingerprint.Get());
    return 0;
  };
  // Errors are read per list: what an earlier list left must not be blamed on this one.
  handlers.list_started = [&](IPelkFileInfoList* list, const LibraryCounters&) {
    TakeErrorDescription();
    state.Started(list);
    return 0;
  };
  handlers.list_complete = [&](IPelkFileInfoList* list, const LibraryCounters& now) {
    state.Completed(list, Utf16ToUtf8(TakeErrorDescription()));
    main_queue->Post([&, now] {
      counters = whole_run(now);
      progress.Update(counters, ProgressLine::Clock::now());
    });
    // --stop-after: ends the run at this list's end, as the library's Abort answer does.
    if (o.stop_after > 0 && state.Reported() >= o.stop_after) {
      limit_reached = true;
      return 1;
    }
    return 0;
  };
  handlers.library_complete = [&](const LibraryCounters& last) {
    // A run that ended on a failure left its reason on this thread, when the failing call gave
    // one.
    std::u16string why = TakeErrorDescription();
    main_queue->Post([&, last, why = std::move(why)] {
      pass = last;
      counters = whole_run(last);
      failure = why;
      finished->Set();
    });
  };
  const EventConnection events(manager, std::move(handlers));
  if (!events.connected()) Fail("the manager refuses the host's event sink");

  const InterruptGuard interrupts;
  const int32_t mode = o.tracks ? SONQUIX_RETURN_ALL : SONQUIX_RETURN_SINGLE;
  const int32_t options =
      (SONQUIX_DEFAULT_OPTIONS & ~SONQUIX_RETURN_SINGLE) | mode | SONQUIX_LOOKUP_ASYNC;
  // A ticker wakes the main thread for the progress line and for Ctrl-C.
  std::atomic<bool> ticking{true};
  std::thread ticker([&] {
    while (ticking) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      main_queue->Post([&] {
        if (g_interrupts > 0 && !stop_sent) {
          stop_sent = true;
          progress.Clear();
          std::cerr << "library: stopping after the files in progress (Ctrl-C again to quit "
                       "at once)"
                    << std::endl;
          manager->LibraryIDStop(0);
        }
        progress.Update(counters, ProgressLine::Clock::now());
      });
    }
  });
  // Album mode ends a run at the first batch that fails (a catalogue that cannot be reached,
  // say). The batch's files are reported as failed, and a new pass goes on with the files left,
  // so one bad batch costs its own files and nothing else.
  bool ended_early = false;
  std::string last_why;
  for (std::vector<std::string> queued = files; !queued.empty();) {
    for (const std::string& file : queued) {
      if (FAILED(manager->LibraryIDAddFileInfo(inputs.at(file).Get()))) {
        PrintError(file + ": cannot be queued");
      }
    }
    finished = std::make_unique<Event>();
    const HRESULT started = manager->LibraryIDStart(options);
    if (FAILED(started)) {
      ticking = false;
      ticker.join();
      Fail("the library run cannot start (error " + HresultText(started) + ")");
    }
    PumpingWait(*finished);
    DispatchPendingMessages();
    if (stop_sent || limit_reached || pass.complete >= pass.total) break;
    const std::string why = "the identification of its batch failed" +
                            (failure.empty() ? std::string() : ": " + Utf16ToUtf8(failure)) +
                            "; run again with --resume to try it again";
    const int failed = state.FailStarted(why);
    if (failed == 0) {  // nothing was in progress: another pass would end the same way
      progress.Clear();
      PrintError("the library run ended early: " + (failure.empty()
                                                        ? std::string("the manager gave no reason")
                                                        : Utf16ToUtf8(failure)));
      ended_early = true;
      break;
    }
    if (why != last_why) {  // the same reason again and again would bury the progress line
      progress.Clear();
      std::cerr << "library: " << failed << (failed == 1 ? " file" : " files") << " failed: " << why
                << std::endl;
      last_why = why;
    }
    earlier = whole_run(pass);
    earlier.complete += failed;
    earlier.error += failed;
    counters = earlier;
    pass = LibraryCounters{};
    manager->LibraryIDClear();
    queued = state.Unreported();
  }
  ticking = false;
  ticker.join();
  DispatchPendingMessages();
  report->Sync();

  const bool stopped = stop_sent || limit_reached || counters.complete < counters.total;
  progress.Finish(counters, ProgressLine::Clock::now(), stopped);
  std::cerr << "library: " << state.Reported() << " files written to " << o.report;
  if (state.Failed() > 0) std::cerr << ", " << state.Failed() << " failed";
  if (!o.write_tags.empty()) std::cerr << ", tags written to " << state.TagsWritten();
  if (state.TagErrors() > 0) std::cerr << ", " << state.TagErrors() << " tag errors";
  // Named before the run began, long scrolled away by now.
  if (!set.unreadable.empty()) {
    std::cerr << ", " << set.unreadable.size() << " unreadable folders or files named above";
  }
  std::cerr << std::endl;
  if (state.ReportFailed()) Fail("the report could not be written completely");
  if (stop_sent) throw CLI::RuntimeError(130);
  // Some files have no answer: the report says which and why.
  if (counters.error > 0 || ended_early) throw CLI::RuntimeError(1);
  // Like a path that does not exist: the rest was done, but not all that was asked.
  if (!set.missing.empty() || !set.unreadable.empty()) throw CLI::RuntimeError(1);
}

}  // namespace

void AddLibraryCommand(CLI::App& app) {
  auto o = std::make_shared<LibraryOptions>();
  CLI::App* command = app.add_subcommand(
      "library",
      "Identify every audio file under the folders given with the manager's library queue, in "
      "the background: albums folder by folder (or each file alone with --tracks), a live "
      "progress line, Ctrl-C to stop cleanly (twice to quit at once), and a report of one JSON "
      "line per finished file, written as files finish");
  command->add_option("PATH", o->paths, "Folders (walked recursively) and audio files")->required();
  command->add_option("--catalog", o->catalog,
                      "Catalogue file or postgresql:// location (default: $PELK_CATALOG, else "
                      "$XDG_DATA_HOME/pelk/catalog.db)");
  command->add_flag("--tracks", o->tracks,
                    "Track mode: every file identified on its own (SONQUIX_RETURN_ALL) instead "
                    "of album mode");
  command->add_option("--report", o->report,
                      std::string("The report, appended to (default: ./") + kDefaultReport + ")");
  command->add_flag("--resume", o->resume,
                    "Skip the files already in the report, except those whose identification "
                    "failed");
  command
      ->add_flag("--write-tags{sure}", o->write_tags,
                 "Write artist, album, title, track number and the identifiers into each file "
                 "whose answer is sure (=all: also probable answers), atomically. Without it "
                 "nothing is written and the report says what would change")
      ->check(CLI::IsMember({"sure", "all"}));
  command->add_option("--decode-workers", o->decode_workers,
                      "Threads decoding non-WAV audio ahead of the run (default 2; 0 decodes "
                      "when the manager asks)");
  command->add_option("--stop-after", o->stop_after,
                      "Stop cleanly once at least N files are finished, as Ctrl-C does");
  command->callback([o] { RunLibrary(*o); });
}

}  // namespace pelk::cli
