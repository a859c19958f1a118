// Runs an unlucky or hostile user would try: each must end with the right status and
// message, the sources byte for byte as they were, nothing left beside them or in the
// work folder, and every document there is well-formed.

#include "core/files.h"
#include "core/process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

namespace fs = std::filesystem;

namespace {

struct Case {
  const char* name;
  std::vector<std::string> args;  // file names inside the media folder, or options
  int exit_status;
  const char* message;            // expected in the program's output
  std::function<bool(const std::string& media, const std::string& run)> prepare = {};
  int interrupt_after_ms = -1;
  int signal = SIGINT;
  bool folder_in_use = false;  // another run holds the run folder
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

double container_seconds(const std::string& media) {
  std::string out;
  run_program_output({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", media}, out);
  return out.empty() ? -1.0 : std::stod(out);
}

bool mounted(const std::string& options, const std::string& what, const std::string& at) {
  return std::system(("mount " + options + " '" + what + "' '" + at + "' 2>/dev/null").c_str()) == 0;
}

// A transcoder that takes two seconds to start: a run is surely transcoding half a second in.
bool slow_transcoder(const std::string&, const std::string& run) {
  const std::string ffmpeg = run + "/Brenvik.app/ffmpeg";
  const std::string real = fs::read_symlink(ffmpeg).string();
  fs::remove(ffmpeg);
  return testing_support::write_file(ffmpeg, "#!/bin/sh\nsleep 2\nexec '" + real + "' \"$@\"\n") &&
         std::system(("chmod +x '" + ffmpeg + "'").c_str()) == 0;
}

const Case kCases[] = {
    {"link planted at an analysis name", {"a.wav", "b.wav"}, 0, "Synced",
     [](const std::string& media, const std::string&) {
       testing_support::write_file(media + "/../victim.txt", "keep me");
       fs::create_symlink(media + "/../victim.txt", media + "/b.wav_temporary_file_to_be_deleted.wav");
       return true;
     }},
    {"a source named like an analysis file", {"a.wav", "a.wav_temporary_file_to_be_deleted.wav"}, 0,
     "Synced", [](const std::string& media, const std::string&) {
       fs::copy_file(media + "/b.wav", media + "/a.wav_temporary_file_to_be_deleted.wav");
       return true;
     }},
    {"read-only media", {"a.wav", "b.wav"}, 0, "Synced",
     [](const std::string& media, const std::string&) {
       return mounted("--bind", media, media) && mounted("-o remount,bind,ro", media, media);
     }},
    {"no room for the documents", {"a.wav", "b.wav"}, 3, "cannot write",
     [](const std::string&, const std::string& run) {
       const std::string synced = run + "/Brenvik.app/SYNCED";
       if (!mounted("-t tmpfs -o size=16k", "tmpfs", synced)) return false;
       testing_support::write_file(synced + "/SYNCED_fcp.XML", "<old/>");
       return std::system(("dd if=/dev/zero of='" + synced + "/filler' bs=1k count=64 2>/dev/null").c_str()) != -1;
     }},
    {"no room for the analysis files", {"a.wav", "b.wav"}, 3, "no room left in the work folder",
     [](const std::string& media, const std::string&) {
       return mounted("-t tmpfs -o size=8k", "tmpfs", media + "/../work");
     }},
    {"another run using the folder", {"a.wav", "b.wav"}, 3, "another run is using this folder", {}, -1,
     SIGINT, true},
    {"interrupted while transcoding", {"a.wav", "b.wav"}, 130, "stopped", slow_transcoder, 500, SIGINT},
    {"terminated while transcoding", {"a.wav", "b.wav"}, 143, "stopped", slow_transcoder, 500, SIGTERM},
    {"terminal closed while transcoding", {"a.wav", "b.wav"}, 129, "stopped", slow_transcoder, 500,
     SIGHUP},
    {"names a document cannot hold", {"ctl\x01\x1b[31m.wav", "latin1\xe9.wav"}, 0, "ctl\\x01\\x1b[31m.wav",
     [](const std::string& media, const std::string&) {
       fs::rename(media + "/a.wav", media + "/ctl\x01\x1b[31m.wav");
       fs::rename(media + "/b.wav", media + "/latin1\xe9.wav");
       return true;
     }},
    {"the same file twice", {"a.wav", "../media/a.wav"}, 2, "is given twice"},
    // The second camera is only the late recorder's: a copy of it would be its own file
    // again, passed off as synced, so it gets none and the run says so.
    {"media where the main sound does not reach", {"--write-media", "--main-sound", "a.wav", "a.wav", "cam.mov", "late.wav", "cam2.mov"},
     0, "cam2.mov gets no synced media file: the main sound a.wav does not reach it"},
    // Read for the analysis, then unreadable when its sound is decoded for the cut.
    {"media from a main sound that cannot be read", {"--write-media", "--main-sound", "rec.m4a", "rec.m4a", "cam.mov"}, 0,
     "No synced media file of cam.mov was written: the main sound rec.m4a cannot be read",
     [](const std::string&, const std::string& run) {
       const std::string ffmpeg = run + "/Brenvik.app/ffmpeg", real = fs::read_symlink(ffmpeg).string();
       fs::remove(ffmpeg);
       return testing_support::write_file(ffmpeg, "#!/bin/sh\ncase \"$*\" in *rec.m4a*pcm_f32le*) echo 'rec.m4a: "
                                                  "Permission denied' >&2; exit 1;; esac\nexec '" + real + "' \"$@\"\n") &&
              std::system(("chmod +x '" + ffmpeg + "'").c_str()) == 0;
     }},
    {"no room for the synced media", {"--write-media", "a.wav", "cam.mov"}, 0, "No space left on device",
     [](const std::string&, const std::string& run) {
       const std::string folder = run + "/Brenvik.app/SYNCED/synced-media";
       fs::create_directories(folder);
       return mounted("-t tmpfs -o size=64k", "tmpfs", folder);
     }},
    {"unreadable files", {"a.wav", "notes.mov", "empty.wav"}, 1, "2 files could not be read",
     [](const std::string& media, const std::string&) {
       return testing_support::write_file(media + "/notes.mov", "not media") &&
              testing_support::write_file(media + "/empty.wav", "");
     }},
};

}  // namespace

class SafeRuns : public ::testing::TestWithParam<Case> {};

TEST_P(SafeRuns, EndRightAndTouchNothing) {
  const Case& c = GetParam();
  testing_support::TempRunDir dir;
  const std::string media = dir.file("media"), work = dir.file("work");
  fs::create_directories(work);
  ASSERT_EQ(e2e::make_event(media, {"file=a.wav start=0 duration=20 snr=30",
                                    "file=b.wav start=6 duration=12 snr=30",
                                    "file=cam.mov start=8 duration=8 fps=25 picture=color snr=30",
                                    "file=late.wav start=15 duration=20 snr=30",
                                    "file=cam2.mov start=24 duration=8 fps=25 picture=color snr=30",
                                    "file=rec.m4a start=2 duration=16 snr=30"}),
            0);
  fs::remove(media + "/manifest.tsv");
  if (c.prepare && !c.prepare(media, dir.path())) GTEST_SKIP() << "needs root to mount";
  std::optional<RunFolderLock> other_run;
  if (c.folder_in_use) other_run.emplace();
  const auto before = e2e::folder_snapshot(media);

  std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open"};
  for (const std::string& a : c.args) argv.push_back(a.rfind("--", 0) == 0 ? a : media + "/" + a);
  setenv("BRENVIK_WORK_DIR", work.c_str(), 1);
  const int status = e2e::run_capturing(argv, dir.file("output.txt"), c.interrupt_after_ms, c.signal);
  unsetenv("BRENVIK_WORK_DIR");
  const std::string output = testing_support::read_file(dir.file("output.txt"));
  EXPECT_TRUE(fs::is_empty(work)) << "the work folder is left";
  const std::string synced_media = dir.file("Brenvik.app/SYNCED/synced-media");
  // Whole files only, each the camera's length: nothing half-written, nothing of ours.
  for (const std::string& name : e2e::folder_listing(synced_media)) {
    EXPECT_NE(name[0], '.') << name;
    EXPECT_EQ(container_seconds(synced_media + "/" + name), container_seconds(media + "/" + name)) << name;
  }
  for (const std::string& mount : {media, work, synced_media, dir.file("Brenvik.app/SYNCED")})
    std::system(("umount -l '" + mount + "' 2>/dev/null").c_str());

  EXPECT_EQ(status, c.exit_status) << output;
  EXPECT_NE(output.find(c.message), std::string::npos) << output;
  EXPECT_EQ(e2e::folder_snapshot(media), before) << "the media folder changed";
  if (fs::exists(dir.file("victim.txt"))) {
    EXPECT_EQ(testing_support::read_file(dir.file("victim.txt")), "keep me");
  }
  for (const fs::directory_entry& doc : fs::directory_iterator(dir.file("Brenvik.app/SYNCED")))
    EXPECT_TRUE(doc.is_directory() || doc.path().filename() == "filler" || e2e::well_formed(doc.path().string())) << doc.path();
}

INSTANTIATE_TEST_SUITE_P(Cases, SafeRuns, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.name))
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                           return name;
                         });
