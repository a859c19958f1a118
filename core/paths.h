#pragma once
// Where the programs find their things and where a run writes. Two layouts:
// - a run folder: the working directory holds Brenvik.app, and everything is addressed by
//   the relative names below it (the build's run/ folder is one);
// - an installed program: the transcoder link and the scene are read from the
//   installation's share/brenvik/Brenvik.app, and a run writes only to the user's own
//   folders: the log under $XDG_STATE_HOME/brenvik, the documents and the tables in a new
//   folder under ~/Videos/Brenvik for every run, or where the user says.

#include <string>

inline constexpr const char* kAppFolder = "Brenvik.app";
inline constexpr const char* kTranscoderPath = "Brenvik.app/ffmpeg";
inline constexpr const char* kLogFolder = "Brenvik.app/LOG";
inline constexpr const char* kLogPath = "Brenvik.app/LOG/log_file.txt";
inline constexpr const char* kOutputFolder = "Brenvik.app/SYNCED";
inline constexpr const char* kLockPath = "Brenvik.app/LOG/run.lock";  // one run at a time
inline constexpr const char* kScenePath = "Brenvik.app/qml/finaltk1/main.qml";
inline constexpr const char* kMatchDumpName = "debagmatLONG1.txt";
inline constexpr const char* kCacheFolder = "Brenvik.app/CACHE";  // what runs keep between them

// The paths of one layout. In a run folder they are the relative names above, read
// against the working directory whenever they are used, as they always were; installed,
// they are absolute.
struct RunFolder {
  bool installed = false;
  std::string transcoder = kTranscoderPath;
  std::string scene = kScenePath;
  std::string state = kLogFolder;         // holds the log, the run lock and the match dump
  std::string log = kLogPath;
  std::string lock = kLockPath;
  std::string match_dump = kMatchDumpName;
  // Fingerprints and measurements kept for the next run. Installed: $XDG_CACHE_HOME/brenvik.
  std::string cache = kCacheFolder;
  // Run folder: where the documents go. Installed: where each run's own folder is made.
  std::string documents = kOutputFolder;
};

// The layout of this process: the run folder's until use_run_folder says otherwise.
const RunFolder& run_folder();

// Makes `folder` the layout of this process; installed, also makes its state folder, so
// that the first lines of the log are kept. Call once at start-up, before other threads.
void use_run_folder(RunFolder folder);

// The run folder when the working directory holds Brenvik.app; else the installation that
// `program_folder` (the folder of the running program, <prefix>/bin) belongs to, when there
// is one; else the run folder, so that run_folder_problem names what is missing. Installed,
// the transcoder is the installation's link when it leads to a program, else ffmpeg on
// PATH.
RunFolder locate_run_folder(const std::string& program_folder);

// The folder that holds the running program's file; "" when it cannot be read.
std::string program_folder();

// The transcoder, absolute.
std::string transcoder_path();

// Where a run's documents go when no folder was chosen, absolute: Brenvik.app/SYNCED of
// the run folder; installed, a folder not there yet, named by the local date and time
// ("2026-12-07-223812", then "-2", "-3", … beside one of that name), which the run makes.
std::string default_documents_folder();

// Where one run's output goes.
struct OutputPlan {
  std::string documents;  // the documents' folder, absolute
  std::string tables;     // csvtabela*.csv go here; "": the working directory
  std::string shown;      // what the file manager is asked to show
};

// The plan for a run whose user chose `chosen` ("" for the default folder). Installed, the
// working directory is anybody's folder, so the tables go with the documents, and the
// documents' folder is made here; std::runtime_error says why when it cannot be. A run
// folder's default is shown by the name the console has always printed for it.
OutputPlan output_plan(const std::string& chosen);

// The sentence for a run that finds its run folder in use by another run.
std::string run_folder_busy();

// Why no run can be done (no Brenvik.app in the working directory, no executable
// transcoder, an output or log folder that cannot be written), as one sentence; empty when
// a run can go ahead. Creates the LOG and SYNCED folders of a run folder, and the state
// folder of an installation, when they are missing.
std::string run_folder_problem();
