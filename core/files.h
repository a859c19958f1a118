#pragma once
// Files a run writes, written so that a failure never leaves a half-written one, and the
// private folder its analysis files live in.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Reads exactly `bytes` bytes from `fd` into `data`, through short reads and signals;
// false at an error or the end of the file first.
bool read_fully(int fd, void* data, std::size_t bytes);
// Writes all of `bytes` to `fd`, through short writes and signals; false at an error.
bool write_fully(int fd, std::string_view bytes);

// Writes every (path, text) to a new file beside its path, flushed to disk, then renames
// them over the old files together: each path ends with its new text or, on an error,
// keeps what it had. Throws std::runtime_error naming the file and the reason.
void write_files_atomically(const std::vector<std::pair<std::string, const std::string*>>& files);

// A folder of the run's own, made afresh (mode 0700) under $BRENVIK_WORK_DIR, else
// $TMPDIR, else /tmp, and removed with all it holds when the object goes. Nobody else
// can have placed anything in it, so the names in it cannot collide or lead elsewhere.
class WorkFolder {
 public:
  WorkFolder();  // throws std::runtime_error with a sentence when it cannot be made
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Holds the run folder's advisory lock while alive: runs from one folder would write the
// same documents, tables and log. An installed program's lock is its user's, beside the
// log, since every run of that user writes there. Where the lock file cannot be made (no
// LOG folder), no run can hold it and none is kept out.
class RunFolderLock {
 public:
  RunFolderLock();
  ~RunFolderLock();
  RunFolderLock(const RunFolderLock&) = delete;
  RunFolderLock& operator=(const RunFolderLock&) = delete;

  // Another run holds the lock.
  bool busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
};
