#include "engine/run_cache.h"

#include "core/entries.h"
#include "core/format.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"
#include "media/media.h"

#include <algorithm>
#include <fstream>
#include <type_traits>

namespace {

// Bumped when what an entry holds changes its form; the program's own identity in every
// key covers any change in how it is measured.
constexpr const char* kCacheFormat = "brenvik run cache 2";
// Stands for the analysis WAV's name in a kept console text: no console text holds it,
// since console_safe shows control characters escaped.
constexpr char kPathMark = '\x01';

std::string bits_text(double v) {
  CacheWriter w;
  w.f64(v);
  std::string out;
  for (unsigned char c : w.bytes()) {
    static const char digits[] = "0123456789abcdef";
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// One list of fields per kept type, walked by Put to write it and by Get to read it back,
// so that the two cannot disagree on the order.
template <class F, class S>
void fields(F& f, S& s) requires std::is_same_v<std::remove_const_t<S>, SoundStream> {
  f(s.index), f(s.channels), f(s.start_s);
}
template <class F, class S>
void fields(F& f, S& s) requires std::is_same_v<std::remove_const_t<S>, MediaStart> {
  f(s.sound_after_picture_s), f(s.sounds), f(s.analysed), f(s.has_picture), f(s.picture_start_s);
  f(s.timecode.text), f(s.timecode.num), f(s.timecode.den), f(s.picture_rate), f(s.read);
  f(s.clues.make), f(s.clues.model), f(s.clues.serial), f(s.clues.created), f(s.clues.duration_s);
  f(s.clues.format);
}
template <class F, class C>
void fields(F& f, C& c) requires std::is_same_v<std::remove_const_t<C>, CachedFile> {
  fields(f, c.start);
  f(c.chosen_stream), f(c.channel_alone), f(c.framerate), f(c.reduced), f(c.seconds), f(c.console_text);
}
template <class F, class S>
void fields(F& f, S& s) requires std::is_same_v<std::remove_const_t<S>, OffsetSample> {
  f(s.at), f(s.offset);
}
template <class F, class R>
void fields(F& f, R& r) requires std::is_same_v<std::remove_const_t<R>, Refinement> {
  f(r.refined), f(r.offset), f(r.drift_ppm), f(r.spread_ms), f(r.good_windows), f(r.windows);
  f(r.weakest_psr), f(r.samples);
}
template <class F, class R>
void fields(F& f, R& r) requires std::is_same_v<std::remove_const_t<R>, RepeatCheck> {
  f(r.measured), f(r.rungs), f(r.period), f(r.best_lag), f(r.best_rung), f(r.score);
  f(r.margin), f(r.scatter), f(r.stands_out);
}

template <class F, class S>
void fields(F& f, S& s) requires std::is_same_v<std::remove_const_t<S>, OffsetSummary> {
  f(s.offset), f(s.sections), f(s.most_hit_offset), f(s.most_hits), f(s.hits), f(s.range), f(s.score);
}
template <class F, class J>
void fields(F& f, J& j) requires std::is_same_v<std::remove_const_t<J>, JudgedList> {
  fields(f, j.summary);
  f(j.console_text);
}

struct Put {
  CacheWriter& w;
  void operator()(bool v) { w.u64(v); }
  void operator()(int v) { w.i64(v); }
  void operator()(std::int64_t v) { w.i64(v); }
  void operator()(std::uint64_t v) { w.u64(v); }
  void operator()(float v) { w.f64(v); }
  void operator()(double v) { w.f64(v); }
  void operator()(const std::string& v) { w.text(v); }
  template <class T>
  void operator()(const std::vector<T>& v) {
    w.u64(v.size());
    for (const T& x : v) fields(*this, x);
  }
  void operator()(const LandmarkTable& t) {
    w.u64(static_cast<std::uint64_t>(t.rows()));
    w.raw(t.data(), static_cast<std::size_t>(t.size()) * sizeof(std::uint64_t));
  }
};

struct Get {
  CacheReader& r;
  std::size_t most;  // no count can be larger than the bytes there are
  void operator()(bool& v) { v = r.u64() != 0; }
  void operator()(int& v) { v = static_cast<int>(r.i64()); }
  void operator()(std::int64_t& v) { v = r.i64(); }
  void operator()(std::uint64_t& v) { v = r.u64(); }
  void operator()(float& v) { v = static_cast<float>(r.f64()); }
  void operator()(double& v) { v = r.f64(); }
  void operator()(std::string& v) { v = r.text(); }
  template <class T>
  void operator()(std::vector<T>& v) {
    const std::uint64_t n = r.u64();
    if (!r.ok() || n > most) return r.fail();
    v.resize(static_cast<std::size_t>(n));
    for (T& x : v) fields(*this, x);
  }
  void operator()(LandmarkTable& t) {
    const std::uint64_t rows = r.u64();
    if (!r.ok() || rows > most / (2 * sizeof(std::uint64_t))) return r.fail();
    t.resize(static_cast<Eigen::Index>(rows), 2);
    r.raw(t.data(), static_cast<std::size_t>(rows) * 2 * sizeof(std::uint64_t));
  }
};

template <class T>
std::string bytes_of(const T& value) {
  CacheWriter w;
  Put put{w};
  fields(put, value);
  return w.take();
}

template <class T>
bool value_from(std::string_view bytes, T& value) {
  CacheReader r(bytes);
  Get get{r, bytes.size()};
  fields(get, value);
  return r.finished();
}

// Read at its size: a stream's growing buffer would hold an hour's WAV two or three times.
std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size < 0) return std::string();
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.seekg(0);
  in.read(bytes.data(), size);
  return in && in.gcount() == size ? bytes : std::string();
}

bool put_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// What tells a written file from any other: its size and its hash, "" when it cannot be
// read. Hashed a piece at a time: the corrected copy of a long recording at its own rate
// is hundreds of megabytes.
std::string file_seal(const std::string& path) {
  std::uint64_t size = 0, hash = 0;
  if (!hash_file(path, size, hash) || size == 0) return "";
  CacheWriter w;
  w.u64(size);
  w.u64(hash);
  return w.take();
}

// What is kept under `key` when it reads back whole (`kept` counts it), else what `make`
// gives, then kept there; without a key, made and not kept.
template <class T, class From, class Bytes, class Make>
T kept_or_made(CacheStore& store, const std::string& key, From from, Bytes bytes, Make make,
               std::atomic<int>* kept = nullptr) {
  T value;
  if (!key.empty())
    if (const std::optional<std::string> entry = store.read(key); entry && from(*entry, value)) {
      if (kept) ++*kept;
      return value;
    }
  value = make();
  if (!key.empty()) store.write(key, bytes(value));
  return value;
}

std::string doubles_bytes(const std::vector<double>& values) {
  CacheWriter w;
  w.u64(values.size());
  for (double v : values) w.f64(v);
  return w.take();
}

bool doubles_from(std::string_view bytes, std::vector<double>& values) {
  CacheReader r(bytes);
  values.resize(static_cast<std::size_t>(std::min<std::uint64_t>(r.u64(), bytes.size())));
  for (double& v : values) v = r.f64();
  return r.finished();
}

}  // namespace

std::string text_without_path(const std::string& text, const std::string& analysis_path) {
  const std::string shown = console_safe(analysis_path);
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; !shown.empty() && (at = text.find(shown, from)) != std::string::npos;
       from = at + shown.size())
    out.append(text, from, at - from).push_back(kPathMark);
  return out.append(text, from);
}

std::string text_with_path(const std::string& text, const std::string& analysis_path) {
  const std::string shown = console_safe(analysis_path);
  std::string out;
  for (char c : text)
    if (c == kPathMark)
      out += shown;
    else
      out.push_back(c);
  return out;
}

std::string cached_file_bytes(const CachedFile& file) { return bytes_of(file); }
bool cached_file_from(std::string_view bytes, CachedFile& out) { return value_from(bytes, out); }
std::string refinement_bytes(const Refinement& r) { return bytes_of(r); }
bool refinement_from(std::string_view bytes, Refinement& out) { return value_from(bytes, out); }
std::string repeat_check_bytes(const RepeatCheck& r) { return bytes_of(r); }
bool repeat_check_from(std::string_view bytes, RepeatCheck& out) { return value_from(bytes, out); }
std::string judged_list_bytes(const JudgedList& j) { return bytes_of(j); }
bool judged_list_from(std::string_view bytes, JudgedList& out) { return value_from(bytes, out); }

std::string pair_entry_bytes(const std::vector<std::uint64_t>& unplaced, const JudgedList& judged) {
  CacheWriter w;
  w.text(judged_list_bytes(judged));
  w.text(unplaced_list_bytes(unplaced));
  return w.take();
}

bool pair_entry_from(std::string_view bytes, std::vector<std::uint64_t>& unplaced, JudgedList& judged) {
  CacheReader r(bytes);
  const std::string judged_bytes = r.text();
  const std::string list_bytes = r.text();
  return r.finished() && judged_list_from(judged_bytes, judged) && unplaced_list_from(list_bytes, unplaced);
}

std::string unplaced_list_bytes(const std::vector<std::uint64_t>& unplaced) {
  std::string out;
  out.reserve(unplaced.size() * 2 + 10);
  std::uint64_t previous = 0;
  const auto put = [&out](std::uint64_t v) {
    for (; v >= 0x80; v >>= 7) out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    out.push_back(static_cast<char>(v));
  };
  put(unplaced.size());
  for (std::uint64_t u : unplaced) {
    put(u - previous);
    previous = u;
  }
  return out;
}

bool unplaced_list_from(std::string_view bytes, std::vector<std::uint64_t>& out) {
  std::size_t at = 0;
  const auto get = [&](std::uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64 && at < bytes.size(); shift += 7) {
      const auto c = static_cast<unsigned char>(bytes[at++]);
      v |= static_cast<std::uint64_t>(c & 0x7f) << shift;
      if (c < 0x80) return true;
    }
    return false;
  };
  std::uint64_t count = 0;
  // Every value takes at least one byte.
  if (!get(count) || count > bytes.size() - at) return false;
  out.clear();
  out.reserve(static_cast<std::size_t>(count));
  std::uint64_t value = 0;
  for (std::uint64_t k = 0; k < count; ++k) {
    std::uint64_t delta = 0;
    if (!get(delta) || value + delta < value) return false;
    value += delta;
    out.push_back(value);
  }
  return at == bytes.size();
}

RunCache::RunCache(std::string folder, std::uint64_t limit, float decay, int sound_stream)
    : store_(std::move(folder), limit) {
  if (!enabled()) return;
  // Another build of the program or of the transcoder may measure otherwise.
  settings_ = std::string(kCacheFormat) + "|program " + content_identity("/proc/self/exe") +
              "|transcoder " + content_identity(transcoder_path()) + "|stream " +
              std::to_string(sound_stream);
  decay_ = "|decay " + bits_text(decay) + "|mediainfo " + (mediainfo_available() ? "1" : "0");
}

void RunCache::identify(const std::vector<std::string>& files) {
  ids_.assign(files.size(), std::string());
  if (!enabled()) return;
  ordered_parallel_for(static_cast<int>(files.size()), worker_count(), [&](int i) {
    if (!is_marker(files[static_cast<std::size_t>(i)]))
      ids_[static_cast<std::size_t>(i)] = content_identity(files[static_cast<std::size_t>(i)]);
  }, [](int) {});
}

bool RunCache::identified(int i) const {
  return i >= 0 && static_cast<std::size_t>(i) < ids_.size() && !ids_[static_cast<std::size_t>(i)].empty();
}

std::string RunCache::wav_key(std::size_t i) const {
  return i < ids_.size() && !ids_[i].empty() ? settings_ + "|file " + ids_[i] : "";
}

std::string RunCache::file_key(std::size_t i) const {
  const std::string wav = wav_key(i);
  return wav.empty() ? "" : "entry|" + wav + decay_;
}

std::optional<CachedFile> RunCache::take(std::size_t i, const std::string& analysis_path) {
  const std::string key = file_key(i);
  if (key.empty()) return std::nullopt;
  const std::optional<std::string> entry = store_.read(key);
  CachedFile file;
  if (!entry || !cached_file_from(*entry, file)) return std::nullopt;
  const std::optional<std::string> wav = store_.read("wav|" + wav_key(i));
  if (!wav || !put_file(analysis_path, *wav)) {
    std::remove(analysis_path.c_str());
    return std::nullopt;
  }
  file.console_text = text_with_path(file.console_text, analysis_path);
  ++taken_;
  return file;
}

void RunCache::keep(std::size_t i, const CachedFile& file, const std::string& analysis_path) {
  const std::string key = file_key(i);
  if (key.empty()) return;
  const std::string wav = file_bytes(analysis_path);
  if (wav.empty()) return;
  // The WAV first: an entry is only taken with its WAV.
  if (!store_.write("wav|" + wav_key(i), wav)) return;
  CachedFile kept = file;
  kept.console_text = text_without_path(file.console_text, analysis_path);
  store_.write(key, cached_file_bytes(kept));
}

std::string RunCache::pair_key(const char* what, const std::string& first, const std::string& second) {
  return first.empty() || second.empty() ? std::string() : std::string(what) + "|" + first + "|" + second;
}

// Matching and judging read the two files' tables and durations only, all of which their
// entries' keys stand for; the longer file comes first.
std::string RunCache::list_key(int longer, int shorter) const {
  return pair_key("pair", file_key(static_cast<std::size_t>(longer)), file_key(static_cast<std::size_t>(shorter)));
}

KeptLists RunCache::lists() {
  if (!enabled()) return {};
  const auto hold = [this](int longer, int shorter, JudgedList judged, bool from_cache) {
    const std::lock_guard<std::mutex> lock(judged_mutex_);
    judged_[{longer, shorter}] = Judged{std::move(judged), from_cache};
  };
  KeptLists kept;
  kept.take = [this, hold](int longer, int shorter) -> std::optional<MatchList> {
    const std::string key = list_key(longer, shorter);
    if (key.empty()) return std::nullopt;
    ++lists_asked_;
    std::vector<std::uint64_t> unplaced;
    JudgedList judged;
    const std::optional<std::string> bytes = store_.read(key);
    if (!bytes || !pair_entry_from(*bytes, unplaced, judged)) return std::nullopt;
    ++lists_kept_;
    hold(longer, shorter, std::move(judged), true);
    return list_at_positions(unplaced, longer, shorter);
  };
  kept.keep = [this, hold](int longer, int shorter, const MatchList& list) {
    const std::string key = list_key(longer, shorter);
    if (key.empty()) return;
    const std::optional<std::vector<std::uint64_t>> unplaced = list_without_positions(list, longer, shorter);
    if (!unplaced) return;
    // Judged here, on the matching's threads, rather than again by the judging.
    JudgedList judged = judged_list(list);
    store_.write(key, pair_entry_bytes(*unplaced, judged));
    hold(longer, shorter, std::move(judged), false);
  };
  return kept;
}

KeptJudgements RunCache::judgements() {
  if (!enabled()) return {};
  KeptJudgements kept;
  kept.take = [this](int longer, int shorter) -> std::optional<JudgedList> {
    // Only a pair of two identified entries has a list kept with its judgement.
    if (!identified(longer) || !identified(shorter)) return std::nullopt;
    ++judgements_asked_;
    const std::lock_guard<std::mutex> lock(judged_mutex_);
    const auto found = judged_.find({longer, shorter});
    if (found == judged_.end()) return std::nullopt;
    if (found->second.from_cache) ++judgements_kept_;
    JudgedList judged = std::move(found->second.judged);
    judged_.erase(found);
    return judged;
  };
  return kept;
}

SoundMeasures RunCache::measures(const std::vector<std::string>& analysis) {
  SoundMeasures plain = measured_on(analysis);
  if (!enabled()) return plain;
  SoundMeasures m;
  m.files = plain.files;
  const auto sound_key = [this](const char* what, int shorter, int longer) {
    return pair_key(what, wav_key(static_cast<std::size_t>(shorter)), wav_key(static_cast<std::size_t>(longer)));
  };
  m.refine = [this, sound_key, plain](int shorter, int longer, double offset, RefineScope scope) {
    const std::string key =
        sound_key(scope == RefineScope::kEveryWindow ? "refine" : "refine while it can", shorter, longer);
    ++measures_asked_;
    return kept_or_made<Refinement>(
        store_, key.empty() ? key : key + "|at " + bits_text(offset), refinement_from, refinement_bytes,
        [&] { return plain.refine(shorter, longer, offset, scope); }, &measures_kept_);
  };
  m.repeats = [this, sound_key, plain](int shorter, int longer, double offset, double low, double high) {
    const std::string key = sound_key("repeats", shorter, longer);
    ++measures_asked_;
    return kept_or_made<RepeatCheck>(
        store_,
        key.empty() ? key : key + "|at " + bits_text(offset) + " " + bits_text(low) + " " + bits_text(high),
        repeat_check_from, repeat_check_bytes, [&] { return plain.repeats(shorter, longer, offset, low, high); },
        &measures_kept_);
  };
  return m;
}

std::vector<double> RunCache::of_sound(std::size_t i, const std::string& what,
                                      const std::function<std::vector<double>()>& make) {
  const std::string wav = wav_key(i);
  return kept_or_made<std::vector<double>>(store_, wav.empty() ? wav : "sound " + what + "|" + wav,
                                           doubles_from, doubles_bytes, make);
}

std::string RunCache::copy_key(const std::string& source, double rate_ppm) const {
  const std::string id = enabled() ? content_identity(source) : "";
  return id.empty() ? "" : "corrected|" + settings_ + "|file " + id + "|ppm " + bits_text(rate_ppm);
}

bool RunCache::has_corrected_copy(const std::string& source, double rate_ppm,
                                  const std::string& copy) const {
  const std::string key = copy_key(source, rate_ppm);
  if (key.empty()) return false;
  const std::optional<std::string> kept = store_.read(key);
  if (!kept) return false;
  const std::string sealed = file_seal(copy);
  return !sealed.empty() && *kept == sealed;
}

void RunCache::keep_corrected_copy(const std::string& source, double rate_ppm, const std::string& copy) {
  const std::string key = copy_key(source, rate_ppm);
  if (key.empty()) return;
  if (const std::string sealed = file_seal(copy); !sealed.empty()) store_.write(key, sealed);
}

std::string RunCache::files_report(int media_files) const {
  return std::to_string(taken_.load()) + " of " + std::to_string(media_files) +
         (media_files == 1 ? " file" : " files") + " from the cache";
}

std::string RunCache::lists_report() const {
  if (lists_asked_ == 0 && judgements_asked_ == 0) return "";
  return std::to_string(lists_kept_.load()) + " of " + std::to_string(lists_asked_.load()) +
         " match lists and " + std::to_string(judgements_kept_.load()) + " of " +
         std::to_string(judgements_asked_.load()) + " judgements of pairs from the cache";
}

std::string RunCache::measures_report() const {
  if (measures_asked_ == 0) return "";
  return std::to_string(measures_kept_.load()) + " of " + std::to_string(measures_asked_.load()) +
         " sound measurements of pairs from the cache";
}
