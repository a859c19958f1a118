#include "core/files.h"

#include "core/paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kWorkFolderPattern = "/brenvik-XXXXXX";

std::string reason() { return std::strerror(errno); }

// Writes all of `text` to `fd` and flushes it to the disk.
bool write_all(int fd, const std::string& text) { return write_fully(fd, text) && fsync(fd) == 0; }

std::string temporary_beside(const std::string& path) {
  const std::filesystem::path p(path);
  return (p.parent_path() / ("." + p.filename().string() + ".XXXXXX")).string();
}

}  // namespace

bool read_fully(int fd, void* data, std::size_t bytes) {
  auto* p = static_cast<char*>(data);
  while (bytes > 0) {
    const ssize_t got = ::read(fd, p, bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    bytes -= static_cast<std::size_t>(got);
  }
  return true;
}

bool write_fully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

void write_files_atomically(const std::vector<std::pair<std::string, const std::string*>>& files) {
  std::vector<std::string> written;
  // Removes what was written so far and says why `path` could not be.
  const auto fail = [&written](const std::string& path, const std::string& why) {
    for (const std::string& t : written) unlink(t.c_str());
    throw std::runtime_error("cannot write " + path + ": " + why);
  };
  for (const auto& [path, text] : files) {
    std::string temporary = temporary_beside(path);
    const int fd = mkstemp(temporary.data());
    if (fd < 0) fail(path, reason());
    written.push_back(temporary);
    const bool ok = write_all(fd, *text) && fchmod(fd, 0644) == 0;
    const std::string why = reason();
    if (close(fd) != 0 || !ok) fail(path, why);
  }
  // A folder where a file should go is the one thing that stops a rename in a folder we
  // could write to: find it before any file is replaced.
  for (const auto& [path, text] : files) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fail(path, "it is a folder");
  }
  for (std::size_t k = 0; k < files.size(); ++k)
    if (rename(written[k].c_str(), files[k].first.c_str()) != 0) fail(files[k].first, reason());
}

WorkFolder::WorkFolder() {
  const char* base = std::getenv("BRENVIK_WORK_DIR");
  if (base == nullptr || *base == '\0') base = std::getenv("TMPDIR");
  if (base == nullptr || *base == '\0') base = "/tmp";
  std::string pattern = std::string(base) + kWorkFolderPattern;
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a work folder in " + std::string(base) + ": " + reason());
  path_ = pattern;
}

WorkFolder::~WorkFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

RunFolderLock::RunFolderLock() {
  fd_ = open(run_folder().lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    busy_ = errno == EWOULDBLOCK;
    close(fd_);
    fd_ = -1;
  }
}

RunFolderLock::~RunFolderLock() {
  if (fd_ >= 0) close(fd_);
}
