#include "matching/repeats.h"

#include "core/format.h"
#include "matching/analysis_sound.h"
#include "matching/real_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The first look: a quarter minute of the shorter file, 20 s either side, which shows
// any phrase up to 20 s long twice. Only sound that repeats gets the second, wider one,
// which must reach the true offset from the decision's (measured: up to 20 s away) and
// holds enough of the shorter file to lift the true offset above chance.
constexpr double kFirstPieceSec = 15.0;
constexpr double kFirstBeyondSec = 20.0;
constexpr double kSecondPieceSec = 60.0;
constexpr double kSecondBeyondSec = 60.0;
// Where nothing stands out there, the decision's offset may be many phrases from the true
// one (measured: 100 s, 25 phrases of 4 s): the last look reaches five minutes either side.
constexpr double kLastBeyondSec = 300.0;
constexpr double kChunkSec = 120.0;
constexpr double kMinPieceSec = 2.0;
// The decision's offsets are up to 0.1 s early; a piece this far inside the overlap it
// gives lies wholly inside the longer file at the true offset too.
constexpr double kInsetSec = 0.3;
// Candidates further apart than this are not looked at together: the correlation would
// hold more than a quarter of an hour of sound.
constexpr double kLongestSpanSec = 600.0;

// A rung lines the sound up within a fifth as well as the best offset, half a second or
// more from any other rung, on a hill of its own: between two rungs the score falls below
// half of theirs. A steady tone or drone lines up everywhere without such dips and is no
// ladder. (A sharper peak is not asked for: through a phone's band or a reverberant room
// the plain correlation is a quarter second wide and more.)
constexpr double kRungShare = 0.8;
constexpr double kRungApartSec = 0.5;
constexpr double kDipShare = 0.5;

// Rungs that line up the phrase alone differ by chance. Measured on two events of music
// built of one phrase, the room a quarter as loud as the music over it, at four
// tolerances: the true rung beat the next by 0.0055 to 0.093, 6 to 150 times the others'
// scatter (estimated from their median absolute deviation); where no rung was true, the
// best beat the next by at most 0.007, 2.7 times the scatter. The scatter of a few rungs
// can come out small by chance, hence its floor; where fewer than three others show it,
// only a wide margin counts.
constexpr double kMarginOverScatter = 3.0;
constexpr double kScatterFloor = 0.0005;
constexpr double kMarginWithoutScatter = 0.01;
constexpr double kMadToSigma = 1.4826;

struct Rung {
  double offset = 0.0;
  double score = 0.0;
};

// A piece's half spectrum at one transform size.
struct PieceSpectrum {
  int nfft = 0;
  FftBins bins;
};

// What a look works in, kept by each thread from one look to the next: the wider looks
// correlate up to a minute against several minutes, in buffers of tens of megabytes that
// would otherwise come fresh from the kernel every time.
struct LookBuffers {
  std::vector<float> piece;
  FftPoints x, stretch, r;
  FftBins X, Y;
  std::vector<double> score;
  std::vector<std::uint32_t> lags_below;
};

LookBuffers& thread_buffers() {
  thread_local LookBuffers buffers;
  return buffers;
}

// Band-limited cross-correlation of `piece` against every position of it in the first
// `stretch_size` samples of `buffers.stretch`, zero beyond up to the transform's size:
// appends to `buffers.score` the value at which piece[i] meets stretch[i + k], for k up to
// stretch_size - piece.size(). Also gives both sounds' band energies.
//
// Not normalised offset by offset: at an offset that lines up the phrase alone, the
// correlation is the phrase's, whatever else the longer file holds there, while the energy
// under the piece rises and falls with the room. Dividing by it scattered those offsets
// so much that true ones stood out by only 1.6 to 26 times the scatter, against 6.7 to 117
// times as it is (the wrong ones by 0.1 at most, either way).
//
// The piece's spectrum is kept in `piece_spectrum` for the next stretch of the same size:
// a wide look correlates one piece against several.
void band_correlation(const std::vector<float>& piece, PieceSpectrum& piece_spectrum,
                      std::size_t stretch_size, int rate, LookBuffers& buffers,
                      double& piece_energy, double& stretch_energy) {
  const std::size_t n = piece.size();
  const std::size_t lags = stretch_size - n + 1;
  const int nfft = static_cast<int>(buffers.stretch.size());
  const auto half = static_cast<std::size_t>(nfft / 2 + 1);
  if (piece_spectrum.nfft != nfft) {
    buffers.x.assign(piece.begin(), piece.end());
    buffers.x.resize(static_cast<std::size_t>(nfft), 0.0f);
    piece_spectrum.bins.resize(half);
    forward_fft(nfft, buffers.x.data(), piece_spectrum.bins.data());
    piece_spectrum.nfft = nfft;
  }
  FftBins& X = buffers.X;
  FftBins& Y = buffers.Y;
  X.assign(piece_spectrum.bins.begin(), piece_spectrum.bins.end());
  Y.resize(half);
  forward_fft(nfft, buffers.stretch.data(), Y.data());
  const auto bins = X.size();
  const BandBins band = band_bins(nfft, rate);
  const auto low_bin = static_cast<std::size_t>(band.low);
  const auto high_bin = static_cast<std::size_t>(band.high);
  piece_energy = stretch_energy = 0.0;
  for (std::size_t b = 0; b < bins; ++b) {
    if (b < low_bin || b > high_bin) {
      X[b] = 0.0f;
      continue;
    }
    // Parseval over the half spectrum: every bin but the first and the middle stands for two.
    const double weight = (b == 0 || 2 * b == static_cast<std::size_t>(nfft) ? 1.0 : 2.0) / nfft;
    piece_energy += weight * std::norm(X[b]);
    stretch_energy += weight * std::norm(Y[b]);
    X[b] = std::conj(X[b]) * Y[b];
  }
  buffers.r.resize(static_cast<std::size_t>(nfft));
  inverse_fft_over(nfft, X.data(), buffers.r.data(), static_cast<int>(lags));
  buffers.score.insert(buffers.score.end(), buffers.r.begin(),
                       buffers.r.begin() + static_cast<std::ptrdiff_t>(lags));
}

// score[k] / divisor for every k, as the plain loop gives them, four at a time: a look
// over minutes of offsets divides millions, and written as a plain loop the compiler
// neither vectorises the division nor takes the divisor's root out of the loop.
void divide_all(std::vector<double>& score, double divisor) {
  using Quad = double __attribute__((vector_size(4 * sizeof(double))));
  const Quad by = {divisor, divisor, divisor, divisor};
  std::size_t k = 0;
  for (; k + 4 <= score.size(); k += 4) {
    Quad v;
    std::memcpy(&v, score.data() + k, sizeof v);
    v /= by;
    std::memcpy(score.data() + k, &v, sizeof v);
  }
  for (; k < score.size(); ++k) score[k] /= divisor;
}

// The rungs of a correlation: `score` holds offsets t_high, t_high - 1, … (samples at
// `rate`); writes the best lag, the rungs and whether the best one stands out.
void read_rungs(const std::vector<double>& score, std::vector<std::uint32_t>& lags_below,
                std::int64_t t_high, int rate, RepeatCheck& check) {
  const auto at = [rate](double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * rate));
  };
  const auto highest = std::max_element(score.begin(), score.end());
  const double top = *highest;
  check.best_lag = static_cast<double>(t_high - (highest - score.begin())) / rate;
  if (!(top > 0.0)) return;

  const std::size_t lags = score.size();
  std::vector<std::size_t> peaks;
  for (std::size_t k = 1; k + 1 < lags; ++k)
    if (score[k] >= kRungShare * top && score[k] >= score[k - 1] && score[k] >= score[k + 1])
      peaks.push_back(k);
  std::sort(peaks.begin(), peaks.end(),
            [&](std::size_t a, std::size_t b) { return score[a] > score[b]; });
  const auto apart = static_cast<std::size_t>(at(kRungApartSec));
  const auto distance = [](std::size_t a, std::size_t b) { return a > b ? a - b : b - a; };
  // Offsets scoring under this are the dips between hills; lags_below[k] counts them before k.
  const double dip = kDipShare * kRungShare * top;
  lags_below.assign(lags + 1, 0);
  for (std::size_t k = 0; k < lags; ++k) lags_below[k + 1] = lags_below[k] + (score[k] < dip ? 1 : 0);
  const auto dips_between = [&](std::size_t a, std::size_t b) {
    return lags_below[std::max(a, b)] - lags_below[std::min(a, b) + 1] > 0;
  };
  std::vector<std::size_t> kept;
  std::vector<Rung> rungs;
  for (std::size_t k : peaks) {
    const auto near = [&](std::size_t q) { return distance(q, k) < apart; };
    if (std::any_of(kept.begin(), kept.end(), near)) continue;
    // A hill of its own: the sound falls away between it and every rung kept before it.
    const auto joined = [&](std::size_t q) { return !dips_between(q, k); };
    if (std::any_of(kept.begin(), kept.end(), joined)) continue;
    kept.push_back(k);
    const double fraction = peak_fraction(score[k - 1], score[k], score[k + 1]);
    const double t = static_cast<double>(t_high) - static_cast<double>(k) - fraction;
    rungs.push_back({t / rate, score[k]});
  }
  if (rungs.empty()) return;

  check.rungs = static_cast<int>(rungs.size());
  check.best_rung = rungs[0].offset;
  check.score = rungs[0].score;
  if (rungs.size() == 1) {
    check.stands_out = true;
    return;
  }
  check.margin = rungs[0].score - rungs[1].score;
  std::vector<double> others;
  for (std::size_t i = 1; i < rungs.size(); ++i) others.push_back(rungs[i].score);
  check.period = 1e300;
  for (std::size_t i = 0; i < rungs.size(); ++i)
    for (std::size_t j = i + 1; j < rungs.size(); ++j)
      check.period = std::min(check.period, std::abs(rungs[i].offset - rungs[j].offset));
  if (others.size() >= 3) {
    const double middle = median(others);
    for (double& v : others) v = std::abs(v - middle);
    check.scatter = kMadToSigma * median(others);
  }
  const double scatter = std::max(check.scatter, kScatterFloor);
  check.stands_out = others.size() >= 3 ? check.margin >= kMarginOverScatter * scatter
                                        : check.margin >= kMarginWithoutScatter;
}

// One correlation of a piece of the shorter file against the longer file, over the offsets
// [low - beyond, high + beyond] at which the whole piece lies inside the longer file.
RepeatCheck look(SoundFile& shorter, SoundFile& longer, double offset, double low, double high,
                 double piece_sec, double beyond_sec) {
  RepeatCheck check;
  const int rate = shorter.rate();
  const double shorter_sec = static_cast<double>(shorter.frames()) / rate;
  const double longer_sec = static_cast<double>(longer.frames()) / rate;
  const double overlap_start = std::max(0.0, offset);
  const double overlap_end = std::min(shorter_sec, longer_sec + offset);
  // The piece keeps clear of the overlap's ends, so that an offset a little off still has
  // the true one among those that see the whole piece.
  const double inset = overlap_end - overlap_start >= kMinPieceSec + 2 * kInsetSec ? kInsetSec : 0.0;
  const double piece = std::min(piece_sec, overlap_end - overlap_start - 2 * inset);
  if (!(piece >= kMinPieceSec)) return check;
  const auto at = [rate](double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * rate));
  };
  const std::int64_t piece_start = at(0.5 * (overlap_start + overlap_end) - 0.5 * piece);
  const std::int64_t n = at(piece);
  // Offset t (samples) puts the piece at longer-file sample piece_start - t.
  const std::int64_t t_high = std::min(at(high + beyond_sec), piece_start);
  const std::int64_t t_low = std::max(at(low - beyond_sec), piece_start + n - longer.frames());
  if (t_high < t_low) return check;
  LookBuffers& buffers = thread_buffers();
  std::vector<float>& piece_sound = buffers.piece;
  piece_sound.resize(static_cast<std::size_t>(n));
  if (!shorter.read(piece_start, n, piece_sound.data())) return check;
  // A few minutes of offsets at a time, which keeps each transform small. Scaled by both
  // sounds' mean band power, a score is about 1 where the longer file holds the piece.
  std::vector<double>& score = buffers.score;
  score.clear();
  const std::int64_t offsets = t_high - t_low + 1;
  double piece_energy = 0.0, longer_energy = 0.0;
  std::int64_t longer_samples = 0;
  PieceSpectrum piece_spectrum;
  for (std::int64_t first = 0; first < offsets; first += at(kChunkSec)) {
    const std::int64_t count = std::min(at(kChunkSec), offsets - first);
    const std::int64_t stretch_size = n + count - 1;
    buffers.stretch.assign(static_cast<std::size_t>(fft_size(stretch_size)), 0.0f);
    if (!longer.read(piece_start - t_high + first, stretch_size, buffers.stretch.data())) return check;
    double energy = 0.0;
    band_correlation(piece_sound, piece_spectrum, static_cast<std::size_t>(stretch_size), rate, buffers,
                     piece_energy, energy);
    longer_energy += energy;
    longer_samples += stretch_size;
  }
  const double scale = piece_energy * longer_energy * static_cast<double>(n) /
                       static_cast<double>(longer_samples);
  if (!(scale > 0.0)) return check;
  divide_all(score, std::sqrt(scale));
  check.measured = true;
  read_rungs(score, buffers.lags_below, t_high, rate, check);
  return check;
}

RepeatCheck measure(const std::string& shorter_wav, const std::string& longer_wav, double offset,
                    double low, double high) {
  RepeatCheck check;
  if (!std::isfinite(offset) || !std::isfinite(low) || !std::isfinite(high)) return check;
  if (low > high) std::swap(low, high);
  if (high - low > kLongestSpanSec) return check;
  SoundFile shorter(shorter_wav), longer(longer_wav);
  if (!shorter.usable() || !longer.usable() || shorter.rate() != longer.rate()) return check;
  check = look(shorter, longer, offset, low, high, kFirstPieceSec, kFirstBeyondSec);
  if (!check.repeats()) return check;
  for (double beyond : {kSecondBeyondSec, kLastBeyondSec}) {
    const RepeatCheck wider = look(shorter, longer, offset, low, high, kSecondPieceSec, beyond);
    if (!wider.measured) break;
    check = wider;
    if (check.stands_out) break;
  }
  return check;
}

}  // namespace

RepeatCheck check_repeats(const std::string& shorter_wav, const std::string& longer_wav,
                          double offset, double low, double high) {
  try {
    return measure(shorter_wav, longer_wav, offset, low, high);
  } catch (...) {
    // Out of memory on a long stretch is the only thing that can throw.
    return RepeatCheck{};
  }
}

std::string repeat_log_text(const RepeatCheck& check) {
  if (!check.measured) return "the sound could not be compared";
  if (check.rungs == 0) return "the sound lines up at no offset";
  if (!check.repeats()) return "the sound does not repeat; " + fixed_text(check.best_rung, 2) + " s";
  std::string text = "the sound repeats every " + fixed_text(check.period, 2) + " s (" +
                     std::to_string(check.rungs) + " offsets); " + fixed_text(check.best_rung, 2) +
                     " s " + (check.stands_out ? "stands out" : "does not stand out") + " by " +
                     fixed_text(check.margin, 4);
  if (check.scatter > 0.0) text += " (others scatter " + fixed_text(check.scatter, 4) + ")";
  return text;
}
