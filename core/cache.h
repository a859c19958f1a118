#pragma once
// What runs keep between them: entries of bytes under text keys, in one folder shared by
// every run of a user (or of a run folder). An entry is trusted only whole: its key, its
// length and its checksum are read back before its bytes are, so a damaged, truncated or
// foreign file reads as missing and is written anew. Writes go to a file of their own and
// are renamed into place, so two runs at once each see an old entry or a new one, never
// half of one. Writing is best effort: a cache that cannot be written leaves a run as it
// would be without one.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// 64 bits of a word-wise mix of `bytes`, seeded; for cache keys and checksums, not for
// anything an adversary chooses.
std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed = 0);

// hash_bytes of a whole file's content, read a piece at a time, and its size; false when
// it cannot be read.
bool hash_file(const std::string& path, std::uint64_t& size, std::uint64_t& hash);

// What tells a file's content without reading it all: its size, its modification time
// (nanoseconds) and hashes of its first and last megabyte, as one line of text; "" when
// it cannot be read. A file changed in place changes at least its time; a renamed or
// copied one keeps its content's identity.
std::string content_identity(const std::string& path);

inline constexpr std::uint64_t kDefaultCacheLimit = 2ull << 30;  // 2 GiB

class CacheStore {
 public:
  // A store in `folder` (made when first written), holding at most `limit` bytes of
  // entries once trim() has run. An empty folder makes a store that holds nothing.
  CacheStore(std::string folder, std::uint64_t limit = kDefaultCacheLimit);

  bool enabled() const { return !folder_.empty(); }
  const std::string& folder() const { return folder_; }

  // The bytes last written under `key`; nothing when there are none, or when the entry
  // is damaged (then it is removed). A hit counts as a use for the eviction.
  std::optional<std::string> read(const std::string& key) const;

  // Puts `bytes` under `key`; false when it could not be written (then nothing changed,
  // and first_failure() says why). Safe from several threads and processes at once.
  bool write(const std::string& key, std::string_view bytes);

  // Removes the least recently used entries until the rest take at most the limit, and
  // leftover temporary files of runs that ended without renaming them. Returns the bytes
  // the entries take afterwards.
  std::uint64_t trim() const;

  // Why the first write that failed did; empty while none has.
  std::string first_failure() const;

 private:
  std::string entry_path(const std::string& key) const;

  std::string folder_;
  std::uint64_t limit_;
  mutable std::mutex failure_mutex_;
  std::string failure_;
};

// Plain values into bytes, in this machine's order: the cache never leaves the machine.
class CacheWriter {
 public:
  void u64(std::uint64_t v);
  void i64(std::int64_t v) { u64(static_cast<std::uint64_t>(v)); }
  void f64(double v);  // the bits, so that a value read back is the value written
  void text(std::string_view s);
  void raw(const void* data, std::size_t bytes);
  const std::string& bytes() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

// Reads what CacheWriter wrote; any read past the end leaves ok() false and gives zeros.
class CacheReader {
 public:
  explicit CacheReader(std::string_view bytes) : in_(bytes) {}
  std::uint64_t u64();
  std::int64_t i64() { return static_cast<std::int64_t>(u64()); }
  double f64();
  std::string text();
  bool raw(void* data, std::size_t bytes);
  bool ok() const { return ok_; }
  void fail() { ok_ = false; }  // what was read makes no sense
  // Every byte read, and nothing was missing.
  bool finished() const { return ok_ && at_ == in_.size(); }

 private:
  std::string_view in_;
  std::size_t at_ = 0;
  bool ok_ = true;
};
