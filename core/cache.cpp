#include "core/cache.h"

#include "core/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// "BRENVIK-CACHE 1\n": a file that does not start so was not written by this format.
constexpr char kMagic[] = "BRENVIK-CACHE 1\n";
constexpr std::size_t kMagicBytes = sizeof kMagic - 1;
constexpr std::size_t kHeaderBytes = kMagicBytes + 3 * sizeof(std::uint64_t);
constexpr const char* kEntrySuffix = ".entry";
constexpr const char* kTempPrefix = ".tmp-";
// A temporary file this old belongs to a run that died before renaming it.
constexpr auto kStaleTemp = std::chrono::hours(1);
constexpr std::uint64_t kIdentityBytes = 1 << 20;

std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

std::string hex(std::uint64_t v) {
  static const char digits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, v >>= 4) out[static_cast<std::size_t>(i)] = digits[v & 15];
  return out;
}

// Hash of `bytes` bytes of `fd` from `at`; false when they cannot all be read.
bool hash_region(int fd, std::uint64_t at, std::uint64_t bytes, std::uint64_t& out) {
  std::string buffer(static_cast<std::size_t>(bytes), '\0');
  if (::lseek(fd, static_cast<off_t>(at), SEEK_SET) < 0) return false;
  if (!read_fully(fd, buffer.data(), buffer.size())) return false;
  out = hash_bytes(buffer, at);
  return true;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; false when the close reported an error (a write not done after all).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// hash_bytes fed a piece at a time, every piece but the last a whole number of words.
class WordHasher {
 public:
  WordHasher(std::uint64_t size, std::uint64_t seed) : h_(mix(seed ^ (size * 0x9e3779b97f4a7c15ull))) {}

  // Takes the whole words of `bytes`; returns how many bytes that was.
  std::size_t words(std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
      std::uint64_t w;
      std::memcpy(&w, bytes.data() + i, 8);
      h_ = (h_ ^ mix(w)) * 0x9e3779b97f4a7c15ull;
      h_ = (h_ << 27) | (h_ >> 37);
    }
    return i;
  }

  // The hash, given the last bytes (under a word).
  std::uint64_t finish(std::string_view rest) const {
    std::uint64_t tail = 0;
    if (!rest.empty()) std::memcpy(&tail, rest.data(), rest.size());
    return mix(h_ ^ mix(tail ^ 0xff));
  }

 private:
  std::uint64_t h_;
};

constexpr std::size_t kHashPiece = std::size_t{1} << 20;  // a whole number of words

}  // namespace

std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed) {
  WordHasher hasher(bytes.size(), seed);
  return hasher.finish(bytes.substr(hasher.words(bytes)));
}

bool hash_file(const std::string& path, std::uint64_t& size, std::uint64_t& hash) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  WordHasher hasher(size, 0);
  std::string piece(std::min<std::uint64_t>(size, kHashPiece), '\0');
  for (std::uint64_t left = size;;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kHashPiece));
    if (!read_fully(fd.get(), piece.data(), n)) return false;
    const std::string_view read(piece.data(), n);
    const std::size_t taken = hasher.words(read);
    left -= n;
    if (left == 0) {
      hash = hasher.finish(read.substr(taken));
      return true;
    }
  }
}

std::string content_identity(const std::string& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t head = std::min(size, kIdentityBytes);
  const std::uint64_t tail = std::min(size - head, kIdentityBytes);
  std::uint64_t first = 0, last = 0;
  if (!hash_region(fd.get(), 0, head, first) || !hash_region(fd.get(), size - tail, tail, last))
    return "";
  const auto ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return std::to_string(size) + " " + std::to_string(ns) + " " + hex(first) + " " + hex(last);
}

CacheStore::CacheStore(std::string folder, std::uint64_t limit)
    : folder_(std::move(folder)), limit_(limit) {}

std::string CacheStore::entry_path(const std::string& key) const {
  return folder_ + "/" + hex(hash_bytes(key, 1)) + hex(hash_bytes(key, 2)) + kEntrySuffix;
}

std::optional<std::string> CacheStore::read(const std::string& key) const {
  if (!enabled()) return std::nullopt;
  const std::string path = entry_path(key);
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return std::nullopt;
  const auto damaged = [&]() -> std::optional<std::string> {
    ::unlink(path.c_str());
    return std::nullopt;
  };
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size < kHeaderBytes) return damaged();
  char header[kHeaderBytes];
  if (!read_fully(fd.get(), header, kHeaderBytes) ||
      std::memcmp(header, kMagic, kMagicBytes) != 0)
    return damaged();
  std::uint64_t key_bytes, payload_bytes, checksum;
  std::memcpy(&key_bytes, header + kMagicBytes, 8);
  std::memcpy(&payload_bytes, header + kMagicBytes + 8, 8);
  std::memcpy(&checksum, header + kMagicBytes + 16, 8);
  if (key_bytes > size || payload_bytes > size || kHeaderBytes + key_bytes + payload_bytes != size)
    return damaged();
  std::string stored_key(static_cast<std::size_t>(key_bytes), '\0');
  std::string payload(static_cast<std::size_t>(payload_bytes), '\0');
  if (!read_fully(fd.get(), stored_key.data(), stored_key.size()) ||
      !read_fully(fd.get(), payload.data(), payload.size()))
    return damaged();
  if (hash_bytes(payload, hash_bytes(stored_key)) != checksum) return damaged();
  // Another key of the same name's hash: a sound entry, only not ours.
  if (stored_key != key) return std::nullopt;
  ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
  return payload;
}

bool CacheStore::write(const std::string& key, std::string_view bytes) {
  if (!enabled()) return false;
  const auto fail = [&](const std::string& why) {
    const std::lock_guard<std::mutex> lock(failure_mutex_);
    if (failure_.empty()) failure_ = why;
    return false;
  };
  std::error_code ec;
  fs::create_directories(folder_, ec);
  const std::string path = entry_path(key);
  // Unique among all stores of all processes: two runs, or two stores of one process, may
  // write one key at once.
  static std::atomic<unsigned> temp_count{0};
  const std::string temp = folder_ + "/" + kTempPrefix + std::to_string(::getpid()) + "-" +
                           std::to_string(temp_count++) + "-" + hex(hash_bytes(key, 3));
  Descriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) return fail(folder_ + ": " + std::strerror(errno));
  std::string header(kMagic, kMagicBytes);
  const std::uint64_t fields[3] = {key.size(), bytes.size(), hash_bytes(bytes, hash_bytes(key))};
  header.append(reinterpret_cast<const char*>(fields), sizeof fields);
  const bool written = write_fully(fd.get(), header) && write_fully(fd.get(), key) &&
                       write_fully(fd.get(), bytes);
  const int write_error = errno;
  if (!fd.close() || !written) {
    ::unlink(temp.c_str());
    return fail(folder_ + ": " + std::strerror(written ? errno : write_error));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int rename_error = errno;
    ::unlink(temp.c_str());
    return fail(folder_ + ": " + std::strerror(rename_error));
  }
  return true;
}

std::uint64_t CacheStore::trim() const {
  struct Entry {
    fs::file_time_type used;
    std::uint64_t bytes;
    fs::path path;
  };
  std::vector<Entry> entries;
  std::uint64_t total = 0;
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string name = p.filename().string();
    std::error_code ignored;
    const fs::file_time_type used = fs::last_write_time(p, ignored);
    if (ignored) continue;
    if (name.rfind(kTempPrefix, 0) == 0) {
      if (now - used > kStaleTemp) fs::remove(p, ignored);
      continue;
    }
    if (p.extension() != kEntrySuffix) continue;
    const std::uint64_t bytes = fs::file_size(p, ignored);
    if (ignored) continue;
    entries.push_back({used, bytes, p});
    total += bytes;
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.used < b.used; });
  for (const Entry& e : entries) {
    if (total <= limit_) break;
    std::error_code ignored;
    if (fs::remove(e.path, ignored)) total -= e.bytes;
  }
  return total;
}

std::string CacheStore::first_failure() const {
  const std::lock_guard<std::mutex> lock(failure_mutex_);
  return failure_;
}

void CacheWriter::u64(std::uint64_t v) { raw(&v, sizeof v); }

void CacheWriter::f64(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  u64(bits);
}

void CacheWriter::text(std::string_view s) {
  u64(s.size());
  out_.append(s);
}

void CacheWriter::raw(const void* data, std::size_t bytes) {
  out_.append(static_cast<const char*>(data), bytes);
}

bool CacheReader::raw(void* data, std::size_t bytes) {
  if (!ok_ || bytes > in_.size() - at_) {
    ok_ = false;
    std::memset(data, 0, bytes);
    return false;
  }
  std::memcpy(data, in_.data() + at_, bytes);
  at_ += bytes;
  return true;
}

std::uint64_t CacheReader::u64() {
  std::uint64_t v = 0;
  raw(&v, sizeof v);
  return v;
}

double CacheReader::f64() {
  const std::uint64_t bits = u64();
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string CacheReader::text() {
  const std::uint64_t n = u64();
  if (!ok_ || n > in_.size() - at_) {
    ok_ = false;
    return {};
  }
  std::string s(in_.substr(at_, static_cast<std::size_t>(n)));
  at_ += static_cast<std::size_t>(n);
  return s;
}
