#include "engine/synco.h"

#include "core/files.h"
#include "core/entries.h"
#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/stop.h"
#include "export/fcp_project.h"
#include "export/result_tables.h"
#include "engine/drift_copies.h"
#include "export/timelines.h"
#include "fingerprint/passes.h"
#include "fingerprint/prepare.h"
#include "fingerprint/spectrogram.h"
#include "matching/groups.h"
#include "matching/match.h"
#include "matching/offset_decision.h"
#include "matching/refine.h"
#include "matching/second_look.h"
#include "media/devicegroups.h"
#include "media/media.h"

#include <exception>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace {

// How the transcoder says that the disk it writes to is full.
constexpr const char* kNoRoom = "No space left on device";

#ifdef __APPLE__
constexpr const char* kFolderViewer = "open";
#else
constexpr const char* kFolderViewer = "xdg-open";
#endif

// Shows `folder` in the file manager; best effort. An argument vector, never a shell:
// the folder's name is passed as it is.
void show_folder(const std::string& folder) {
  console() << "komanda" << kFolderViewer << " \"" << console_safe(folder) << "\"\n";
  run_program({kFolderViewer, folder});
}

void report(const SyncOptions& options, std::string_view stage, int i, int n) {
  if (options.progress) options.progress(stage, i, n);
}

// Points the console at the front end's sink for the length of a run.
class ConsoleScope {
 public:
  explicit ConsoleScope(std::ostream* sink) : active_(sink != nullptr) {
    if (active_) set_console(sink);
  }
  ~ConsoleScope() {
    if (active_) set_console(nullptr);
  }

 private:
  bool active_;
};

struct FingerprintOfEntry {
  LandmarkTable reduced;
  float seconds = 0.0f;
  std::string console_text;
};

FingerprintOfEntry fingerprint_entry(const std::string& analysis_path, int index, float decay) {
  FingerprintOfEntry out;
  std::ostringstream text;
  {
    ConsoleCapture capture(text);
    // A pass that cannot read the file reports no seconds: the entry keeps 0.
    float seconds = 0.0f;
    LandmarkTable passes[3];
    Eigen::MatrixXf picture;  // the three passes' spectrograms share one allocation
    const char* labels[3] = {"     prvo pominuvanje maksovi :", "     vtoro  pominuvanje maksovi :",
                             "     treto  pominuvanje maksovi :"};
    for (int k = 0; k < 3; ++k) {
      passes[k] = final_sredi(analysis_path.c_str(), index, &seconds, decay, kTargetDf, kTargetDt,
                              kPassOffsets[k], picture);
      console() << labels[k] << passes[k].size();
    }
    console() << '\n';
    out.seconds = seconds;
    out.reduced = prepare_landmarks(passes[0], passes[1], passes[2]);
  }
  out.console_text = text.str();
  return out;
}

// Fingerprints an entry's analysis WAV; a failure leaves the entry without a fingerprint.
FingerprintOfEntry fingerprint_or_nothing(const std::string& analysis_path, int index,
                                          float decay) {
  try {
    return fingerprint_entry(analysis_path, index, decay);
  } catch (const std::exception& e) {
    FingerprintOfEntry failed;
    failed.reduced = LandmarkTable::Zero(1, 2);
    failed.console_text = "fingerprint failed: " + console_safe(e.what()) + "\n";
    return failed;
  }
}

// Takes the fingerprints, made ahead as the transcoders finished, in entry order: log
// lines, console text and progress come as if the entries had been fingerprinted one
// after another here. Progress counts files; markers report nothing.
void fingerprint_stage(WorkAhead& ahead, std::vector<FingerprintOfEntry>& made,
                       const std::vector<std::string>& files, std::vector<LandmarkTable>& tables,
                       std::vector<float>& durations, const SyncOptions& options) {
  const int n = static_cast<int>(made.size());
  const int media_files = media_entry_count(files);
  int reported = 0;
  for (int i = 0; i < n; ++i) {
    throw_if_stop_requested();
    ahead.wait(i);
    FingerprintOfEntry entry = std::move(made[i]);
    logthis("687");
    console() << entry.console_text << std::flush;
    durations[i] = entry.seconds;
    logthis("vkupniot broj na maksovi:" + float2string(static_cast<float>(entry.reduced.size())));
    tables[i] = std::move(entry.reduced);
    if (!is_marker(files[i])) report(options, kStageFingerprint, ++reported, media_files);
  }
}

// What the timeline needs of every entry: its path, device, frame rate and duration.
std::vector<TimelineMember> timeline_entries(const std::vector<std::string>& files,
                                             const std::vector<std::string>& framerates,
                                             const std::vector<float>& durations,
                                             const DeviceGroups& groups,
                                             const std::vector<std::string>& analysis) {
  std::vector<TimelineMember> entries(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    TimelineMember& e = entries[i];
    e.entry = static_cast<int>(i);
    e.path = files[i];
    e.device = e.entry;
    e.frame_rate = i < framerates.size() ? framerate_number(framerates[i]) : 0.0f;
    e.duration = i < durations.size() ? durations[i] : 0.0f;
    e.length = i < analysis.size() ? sound_seconds(analysis[i].c_str()) : 0.0;
  }
  for (const std::vector<int>& group : groups)
    for (int member : group)
      if (member >= 0 && static_cast<std::size_t>(member) < entries.size())
        entries[static_cast<std::size_t>(member)].device = group.front();
  return entries;
}

std::string run(std::vector<std::string> files, double tolerance, int x, int y, float fps,
                int premiere, const SyncOptions& options, RunResult& result) {
  const int n = static_cast<int>(files.size());
  result.entries = files;
  logthis("pocetok na sync c kernel....");
  const RunFolderLock lock;
  if (lock.busy())
    throw std::runtime_error("another run is using this folder (" +
                             (run_folder().installed ? run_folder().state : exelokacija() + kAppFolder) +
                             "); try again when it has ended");

  // Declared before the work on its files, so that it goes after that work has ended.
  const WorkFolder work;
  const std::vector<std::string> analysis = analysis_names(files, work.path());
  // Each file is fingerprinted as soon as its transcoder is done, on the cores the
  // transcoders leave idle towards the end of that stage.
  std::vector<FingerprintOfEntry> fingerprints(static_cast<size_t>(n));
  const float decay = static_cast<float>(tolerance);
  WorkAhead ahead(n, worker_count(), [&](int i) {
    fingerprints[i] = fingerprint_or_nothing(analysis[i], i, decay);
  });

  logthis("pred ffmpeg..");
  std::vector<std::string> failures;
  resemplirajgi8000(files, analysis, options.progress, 0, [&](int i) { ahead.ready(i); },
                    &failures);
  for (int i = 0; i < n; ++i) {
    const std::string& failure = failures[static_cast<std::size_t>(i)];
    if (failure.empty()) continue;
    // Not the file's fault: no file could be read that way.
    if (failure.find(kNoRoom) != std::string::npos)
      throw std::runtime_error("no room left in the work folder " + work.path() +
                               ": set BRENVIK_WORK_DIR to a folder with room");
    result.unreadable.push_back({i, failure});
  }
  logthis("posle ffmpeg..");
  logthis("fahlovite se resemplirani vo 8000hz -------------------------");
  for (const std::string& name : analysis) logthis(name);
  console() << "resemplirani\n";
  for (const std::string& name : analysis) console() << console_safe(name) << '\n';

  const DeviceGroups groups = devicegroopy(analysis);
  const std::vector<std::string> framerates = framerate_list(files);
  if (!mediainfo_available()) result.notices.push_back(kNoMediaInfo);

  std::vector<float> durations(n, 0.0f);
  std::vector<LandmarkTable> tables(n);
  console() << "pred alokacija na all[i] 200000\n";
  fingerprint_stage(ahead, fingerprints, files, tables, durations, options);

  logthis("PRED PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------");
  std::vector<PairSlot> slots = proveriall(tables, n, durations, groups, options.progress);
  logthis("POSLE PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------");

  std::vector<PairVerdict> verdicts = judge_pairs(slots, n, durations);
  std::vector<PairSlot>().swap(slots);
  tables.clear();
  // While the analysis WAVs still exist: the fingerprint grid alone places a pair only to
  // within a frame or two.
  if (options.refine) refine_in_sync(verdicts, analysis);
  second_look(verdicts, analysis, durations, options.refine);
  log_verdicts(verdicts, analysis);
  result.pairs = pairs_in_sync(verdicts);
  logthis("posle csvwrite...");
  if (result.pairs.empty()) return "nema";

  throw_if_stop_requested();
  const std::vector<PairResult> clean = without_reversed_duplicates(result.pairs);
  const bool default_folder = options.output_folder.empty();
  const std::string folder = default_folder ? default_documents_folder() : options.output_folder;
  // Installed, the working directory is anybody's folder: the tables go with the documents.
  std::string tables_folder;
  if (run_folder().installed) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw std::runtime_error("cannot make " + folder + ": " + ec.message());
    tables_folder = folder;
  }
  write_result_tables(result.pairs, clean, tables_folder);
  result.timeline = build_timeline(clean, timeline_entries(files, framerates, durations, groups, analysis));
  if (options.drift_correct) {
    const std::vector<std::string> notices = write_corrected_copies(
        result.timeline, folder, transcoder_path(), fps, options.progress);
    result.notices.insert(result.notices.end(), notices.begin(), notices.end());
  }
  report(options, kStageExport, 1, 1);
  ProjectDocuments docs = build_documents(result.timeline, fps, x, y, premiere);
  docs.timelines = timeline_documents(result.timeline, fps, x, y);
  result.documents = write_documents(docs, folder);
  // A run folder's default is shown by the name the console has always printed for it.
  if (options.open_output)
    show_folder(default_folder && !run_folder().installed ? exelokacija() + "/" + kOutputFolder : folder);
  return "mavo";
}

}  // namespace

std::string synco(std::vector<std::string> files, double tolerance, int x, int y, float fps,
                  int premiere) {
  return synco(std::move(files), tolerance, x, y, fps, premiere, SyncOptions{});
}

std::string synco(std::vector<std::string> files, double tolerance, int x, int y, float fps,
                  int premiere, const SyncOptions& options) {
  ConsoleScope scope(options.console);
  RunResult result;
  std::string answer = "nema";
  try {
    answer = run(std::move(files), tolerance, x, y, fps, premiere, options, result);
  } catch (const std::exception& e) {
    result.error = e.what();
  } catch (...) {
    result.error = "an unknown error";
  }
  if (!result.error.empty()) logthis("sync run stopped: " + result.error);
  if (options.result) *options.result = std::move(result);
  return answer;
}

std::string synco(std::vector<std::string> files, const RunSettings& settings,
                  const SyncOptions& options) {
  SyncOptions with_refine = options;
  with_refine.refine = settings.refine;
  with_refine.drift_correct = settings.drift_correct;
  return synco(std::move(files), settings.tolerance, settings.width, settings.height,
               settings.fps, settings.premiere, with_refine);
}
