#include "core/cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class CacheFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("brenvik-cache-test-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string path(const std::string& name) const { return (root_ / name).string(); }
  std::vector<fs::path> entries(const std::string& folder) const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().extension() == ".entry") out.push_back(e.path());
    return out;
  }
  static void put(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  static std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path root_;
};

TEST_F(CacheFolder, ReadsBackWhatWasWritten) {
  CacheStore store(path("c"));
  const std::string bytes("with\0zero", 9);
  ASSERT_TRUE(store.write("key one", bytes));
  EXPECT_EQ(store.read("key one"), bytes);
  EXPECT_FALSE(store.read("key two").has_value());
  ASSERT_TRUE(store.write("key one", "replaced"));
  EXPECT_EQ(store.read("key one"), "replaced");
  EXPECT_EQ(entries(path("c")).size(), 1u);
}

// A file read a piece at a time hashes as its bytes do, across the pieces' seams and
// whatever its last word holds.
TEST_F(CacheFolder, AFileHashesAsItsBytes) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{13}, (std::size_t{1} << 20) + 3, std::size_t{3} << 20}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + i / 7);
    put(path("piece.bin"), bytes);
    std::uint64_t read_size = 1, read_hash = 0;
    ASSERT_TRUE(hash_file(path("piece.bin"), read_size, read_hash)) << size;
    EXPECT_EQ(read_size, size);
    EXPECT_EQ(read_hash, hash_bytes(bytes)) << size;
  }
  std::uint64_t size = 0, hash = 0;
  EXPECT_FALSE(hash_file(path("missing.bin"), size, hash));
  EXPECT_FALSE(hash_file(root_.string(), size, hash));
}

TEST_F(CacheFolder, DisabledStoreHoldsNothing) {
  CacheStore store("");
  EXPECT_FALSE(store.write("k", "v"));
  EXPECT_FALSE(store.read("k").has_value());
}

// Every way an entry can be cut short or changed reads as missing, and the damaged file
// is removed, so that the next run writes it anew.
TEST_F(CacheFolder, DamagedEntryIsNeverTrustedAndIsRemoved) {
  const std::string payload(5000, 'x');
  const auto damage = std::vector<std::pair<const char*, std::function<std::string(std::string)>>>{
      {"truncated by one byte", [](std::string s) { return s.substr(0, s.size() - 1); }},
      {"truncated to its header", [](std::string s) { return s.substr(0, 40); }},
      {"empty", [](std::string) { return std::string(); }},
      {"one payload byte changed", [](std::string s) { s[s.size() - 10] ^= 1; return s; }},
      {"grown by a byte", [](std::string s) { return s + "y"; }},
      {"other magic", [](std::string s) { s[0] = 'X'; return s; }},
  };
  for (const auto& [what, change] : damage) {
    CacheStore store(path("c"));
    ASSERT_TRUE(store.write("k", payload)) << what;
    const std::vector<fs::path> files = entries(path("c"));
    ASSERT_EQ(files.size(), 1u) << what;
    put(files[0].string(), change(slurp(files[0])));
    EXPECT_FALSE(store.read("k").has_value()) << what;
    EXPECT_FALSE(fs::exists(files[0])) << what;
    ASSERT_TRUE(store.write("k", payload)) << what;
    EXPECT_EQ(store.read("k"), payload) << what;
  }
}

// A cache that cannot be written (here its folder's place is taken by a file, which even
// root cannot write into) only says so; nothing is taken from it either.
TEST_F(CacheFolder, UnwritableFolderFailsQuietlyAndSaysWhyOnce) {
  put(path("blocked"), "a file, not a folder");
  CacheStore store(path("blocked") + "/cache");
  EXPECT_TRUE(store.first_failure().empty());
  EXPECT_FALSE(store.write("a", "1"));
  const std::string why = store.first_failure();
  EXPECT_NE(why.find("blocked/cache"), std::string::npos) << why;
  EXPECT_FALSE(store.write("b", "2"));
  EXPECT_EQ(store.first_failure(), why);
  EXPECT_FALSE(store.read("a").has_value());
  EXPECT_EQ(store.trim(), 0u);
}

TEST_F(CacheFolder, TrimEvictsLeastRecentlyUsedFirst) {
  CacheStore store(path("c"), 3 * 1100);
  const std::string kilo(1000, 'k');
  const auto age = [&](const std::string& key, int minutes) {
    // Find the entry by reading it (which touches it), then put its time back.
    for (const fs::path& p : entries(path("c")))
      if (slurp(p).find(key) != std::string::npos)
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::minutes(minutes));
  };
  for (const char* key : {"first", "second", "third", "fourth"}) ASSERT_TRUE(store.write(key, kilo));
  age("first", 40);
  age("second", 30);
  age("third", 20);
  age("fourth", 10);
  // A use makes the oldest the newest.
  ASSERT_TRUE(store.read("first").has_value());
  const std::uint64_t left = store.trim();
  EXPECT_LE(left, 3u * 1100u);
  EXPECT_TRUE(store.read("first").has_value());
  EXPECT_FALSE(store.read("second").has_value());
  EXPECT_TRUE(store.read("third").has_value());
  EXPECT_TRUE(store.read("fourth").has_value());
}

TEST_F(CacheFolder, TrimRemovesStaleTemporaryFilesOnly) {
  CacheStore store(path("c"));
  ASSERT_TRUE(store.write("k", "v"));
  put(path("c/.tmp-1-0-old"), "left by a run that died");
  put(path("c/.tmp-1-1-new"), "being written now");
  fs::last_write_time(path("c/.tmp-1-0-old"), fs::file_time_type::clock::now() - std::chrono::hours(2));
  store.trim();
  EXPECT_FALSE(fs::exists(path("c/.tmp-1-0-old")));
  EXPECT_TRUE(fs::exists(path("c/.tmp-1-1-new")));
  EXPECT_EQ(store.read("k"), "v");
}

// Two runs at once writing and reading one entry: every read is one whole version.
TEST_F(CacheFolder, ConcurrentWritersNeverShowHalfAnEntry) {
  const std::string a(200000, 'a'), b(300000, 'b');
  CacheStore one(path("c")), two(path("c"));
  bool torn = false;
  std::atomic<int> failed{0};
  std::thread writer_a([&] { for (int i = 0; i < 40; ++i) failed += !one.write("shared", a); });
  std::thread writer_b([&] { for (int i = 0; i < 40; ++i) failed += !two.write("shared", b); });
  std::thread reader([&] {
    for (int i = 0; i < 200; ++i) {
      const std::optional<std::string> got = one.read("shared");
      if (got && *got != a && *got != b) torn = true;
    }
  });
  writer_a.join();
  writer_b.join();
  reader.join();
  EXPECT_FALSE(torn);
  EXPECT_EQ(failed, 0) << one.first_failure() << two.first_failure();
  const std::optional<std::string> last = two.read("shared");
  ASSERT_TRUE(last.has_value());
  EXPECT_TRUE(*last == a || *last == b);
  EXPECT_EQ(entries(path("c")).size(), 1u);
}

TEST_F(CacheFolder, ContentIdentityFollowsContentNotName) {
  put(path("one.wav"), std::string(3 << 20, 'x'));
  const std::string before = content_identity(path("one.wav"));
  ASSERT_FALSE(before.empty());
  const auto time = fs::last_write_time(path("one.wav"));

  // Renamed: the same content, the same identity.
  fs::rename(path("one.wav"), path("two.wav"));
  EXPECT_EQ(content_identity(path("two.wav")), before);

  // Changed in place in its last megabyte with its size and time put back, as a tool that
  // keeps times might: the hash of that megabyte still tells.
  {
    std::fstream f(path("two.wav"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp((3 << 20) - 5);
    f << 'y';
  }
  fs::last_write_time(path("two.wav"), time);
  EXPECT_NE(content_identity(path("two.wav")), before);

  // Rewritten with the same bytes at a later time: a new identity, to be safe.
  put(path("three.wav"), std::string(3 << 20, 'x'));
  fs::last_write_time(path("three.wav"), time + std::chrono::seconds(5));
  EXPECT_NE(content_identity(path("three.wav")), before);
  EXPECT_EQ(content_identity(path("missing.wav")), "");
  EXPECT_EQ(content_identity(root_.string()), "");
}

TEST(CacheBytes, WriterAndReaderRoundTripAndCatchShortInput) {
  CacheWriter w;
  w.u64(0xfedcba9876543210ull);
  w.i64(-7);
  w.f64(-0.1);
  w.text("a text");
  const std::string bytes = w.bytes();
  CacheReader r(bytes);
  EXPECT_EQ(r.u64(), 0xfedcba9876543210ull);
  EXPECT_EQ(r.i64(), -7);
  EXPECT_EQ(r.f64(), -0.1);
  EXPECT_EQ(r.text(), "a text");
  EXPECT_TRUE(r.finished());

  CacheReader shorter(std::string_view(bytes).substr(0, bytes.size() - 1));
  shorter.u64();
  shorter.i64();
  shorter.f64();
  EXPECT_EQ(shorter.text(), "");
  EXPECT_FALSE(shorter.ok());
}

TEST(CacheBytes, HashDependsOnEveryByteAndTheSeed) {
  const std::string base(37, 'q');
  const std::uint64_t h = hash_bytes(base);
  for (std::size_t i = 0; i < base.size(); ++i) {
    std::string changed = base;
    changed[i] = 'r';
    EXPECT_NE(hash_bytes(changed), h) << "byte " << i;
  }
  EXPECT_NE(hash_bytes(base, 1), h);
  EXPECT_NE(hash_bytes(base + '\0'), h);
  EXPECT_EQ(hash_bytes(base), h);

}

}  // namespace
