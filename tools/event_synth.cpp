#include "tools/event_synth.h"

#include "tools/dsp.h"
#include "tools/prng.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace eventgen {

namespace {

constexpr double kRate = kEventRate;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int kMaxBlock = 4800;  // 100 ms: the granularity of scheduling work, not of timing

int64_t samples(double seconds) { return static_cast<int64_t>(std::llround(seconds * kRate)); }

// ---------------------------------------------------------------------------
// Wavetables. A 32-bit phase accumulator indexes them: the top 12 bits pick the
// entry, the next 20 interpolate, so pitch and phase are exact integer arithmetic.

constexpr int kTableBits = 12;
constexpr int kTableSize = 1 << kTableBits;
constexpr int kFractionBits = 32 - kTableBits;
constexpr float kFractionScale = 1.0f / static_cast<float>(1u << kFractionBits);

struct Wavetable {
  std::array<float, kTableSize + 1> v{};  // one guard entry for the interpolation
};

enum Timbre { kSine, kGlottal, kBright, kHollow, kOrgan, kMellow, kTimbreCount };

// Harmonic amplitudes per timbre. The glottal source falls 6 dB per octave like a
// voice after lip radiation; its 40 harmonics stay below Nyquist up to 600 Hz. The
// instruments keep 24 harmonics, so melodies stay below 1 kHz.
Wavetable build_table(Timbre timbre) {
  const int harmonics = timbre == kSine ? 1 : timbre == kGlottal ? 40 : 24;
  Wavetable t;
  for (int k = 1; k <= harmonics; ++k) {
    double a = 0;
    switch (timbre) {
      case kSine:
      case kGlottal:
      case kBright: a = 1.0 / k; break;
      case kHollow: a = (k % 2 == 1) ? 1.0 / k : 0.04 / k; break;
      case kOrgan: {
        constexpr std::array<double, 9> drawbars = {0, 1.0, 0.7, 0.5, 0.45, 0, 0.3, 0, 0.2};
        a = k < static_cast<int>(drawbars.size()) ? drawbars[k] : 0.0;
        break;
      }
      case kMellow: a = 1.0 / (k * k); break;
      case kTimbreCount: break;
    }
    if (a == 0) continue;
    for (int i = 0; i < kTableSize; ++i)
      t.v[i] += static_cast<float>(a * std::sin(2.0 * std::numbers::pi * k * i / kTableSize));
  }
  float peak = 0;
  for (int i = 0; i < kTableSize; ++i) peak = std::max(peak, std::fabs(t.v[i]));
  for (int i = 0; i < kTableSize; ++i) t.v[i] /= peak;
  t.v[kTableSize] = t.v[0];
  return t;
}

const Wavetable& table(Timbre timbre) {
  static const std::array<Wavetable, kTimbreCount> tables = [] {
    std::array<Wavetable, kTimbreCount> all;
    for (int i = 0; i < kTimbreCount; ++i) all[i] = build_table(static_cast<Timbre>(i));
    return all;
  }();
  return tables[timbre];
}

float lookup(const Wavetable& t, uint32_t phase) {
  const uint32_t i = phase >> kFractionBits;
  const float frac = static_cast<float>(phase & ((1u << kFractionBits) - 1)) * kFractionScale;
  return t.v[i] + (t.v[i + 1] - t.v[i]) * frac;
}

uint32_t phase_step(double hz) { return static_cast<uint32_t>(hz / kRate * 4294967296.0); }

double midi_hz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// A decay factor per sample for a time constant in seconds.
float decay_per_sample(double tau) { return static_cast<float>(std::exp(-1.0 / (tau * kRate))); }

// A voice ends when it has decayed 60 dB below its start.
constexpr float kSilent = 1e-3f;

// ---------------------------------------------------------------------------
// Voices: one sound object each (a syllable, a note, a drum hit, a clap), started at
// a sample-exact time and mixed in until it has died away.

class Voice {
 public:
  explicit Voice(int delay) : delay_(delay) {}
  virtual ~Voice() = default;

  // Mixes the next n samples into out; false once the voice is silent for good.
  bool render(float* out, int n) {
    const int skip = std::min(delay_, n);
    delay_ -= skip;
    if (skip == n) return true;
    return add(out + skip, n - skip);
  }

 protected:
  virtual bool add(float* out, int n) = 0;

 private:
  int delay_;
};

struct Formants {
  double f1, f2, f3;
};

// Rough vowel formants of an adult voice, Hz.
constexpr std::array<Formants, 8> kVowels = {{{730, 1090, 2440},
                                              {270, 2290, 3010},
                                              {300, 870, 2240},
                                              {530, 1840, 2480},
                                              {570, 840, 2410},
                                              {660, 1720, 2410},
                                              {490, 1350, 1690},
                                              {390, 1990, 2550}}};

enum class Onset { None, Fricative, Plosive };

struct SyllableShape {
  Onset onset = Onset::None;
  double onset_hz = 4000;   // centre of the consonant noise
  double onset_s = 0.05;    // consonant length
  double vowel_s = 0.15;    // voiced length
  double f0_start = 120, f0_end = 110;
  Formants formants = kVowels[0];
  double amp = 0.1;
};

// A consonant (noise) followed by a voiced vowel: a glottal buzz with a gliding pitch
// through three formant resonators.
class Syllable final : public Voice {
 public:
  Syllable(int delay, const SyllableShape& s, uint64_t seed) : Voice(delay), noise_(seed) {
    constexpr double kBurstS = 0.012;        // a plosive's release
    constexpr double kVoiceOnsetS = 0.02;    // silence between the burst and the voice
    constexpr double kShortestVowelS = 0.04;
    constexpr double kRingOutS = 0.03;       // the formants ring on after the voice stops
    constexpr double kAttackS = 0.015, kReleaseS = 0.05;
    constexpr double kBurstHz = 1800;        // high pass of a plosive's noise
    constexpr double kFricativeQ = 1.6;
    constexpr double kPlosiveLevel = 0.4, kFricativeLevel = 0.2;  // of the vowel's level
    constexpr double kBandwidthHz[3] = {80, 110, 160};
    constexpr double kFormantLevel[3] = {1.0, 1.0, 0.7};

    const bool plosive = s.onset == Onset::Plosive;
    onset_len_ = s.onset == Onset::None ? 0 : samples(plosive ? kBurstS : s.onset_s);
    vowel_begin_ = onset_len_ + (plosive ? samples(kVoiceOnsetS) : 0);
    vowel_len_ = std::max(samples(s.vowel_s), samples(kShortestVowelS));
    end_ = vowel_begin_ + vowel_len_ + samples(kRingOutS);
    consonant_ = plosive ? make_biquad(BiquadKind::HighPass, kBurstHz, kButterworthQ, kRate)
                         : make_biquad(BiquadKind::BandPass, s.onset_hz, kFricativeQ, kRate);
    consonant_amp_ = static_cast<float>(s.amp * (plosive ? kPlosiveLevel : kFricativeLevel));
    step_start_ = phase_step(s.f0_start);
    step_end_ = phase_step(s.f0_end);
    const double f[3] = {s.formants.f1, s.formants.f2, s.formants.f3};
    for (int i = 0; i < 3; ++i) {
      formant_[i] = make_biquad(BiquadKind::BandPass, f[i], f[i] / kBandwidthHz[i], kRate);
      formant_gain_[i] = static_cast<float>(kFormantLevel[i] * s.amp);
    }
    attack_ = samples(kAttackS);
    release_ = std::min(samples(kReleaseS), vowel_len_ / 2);
  }

 protected:
  bool add(float* out, int n) override {
    const Wavetable& wave = table(kGlottal);
    for (int i = 0; i < n; ++i, ++age_) {
      if (age_ >= end_) return false;
      float s = 0;
      if (age_ < onset_len_) {
        const float x = static_cast<float>(age_) / static_cast<float>(onset_len_);
        s += consonant_.process(noise_.next()) * consonant_amp_ * 4.0f * x * (1.0f - x);
      }
      const int64_t tv = age_ - vowel_begin_;
      float source = 0;
      if (tv >= 0 && tv < vowel_len_) {
        const double along = static_cast<double>(tv) / static_cast<double>(vowel_len_);
        phase_ += static_cast<uint32_t>(step_start_ + (static_cast<double>(step_end_) -
                                                       static_cast<double>(step_start_)) * along);
        float env = 1.0f;
        if (tv < attack_) env = static_cast<float>(tv) / static_cast<float>(attack_);
        if (vowel_len_ - tv < release_)
          env = std::min(env, static_cast<float>(vowel_len_ - tv) / static_cast<float>(release_));
        source = lookup(wave, phase_) * env;
      }
      if (tv >= 0) {
        s += formant_[0].process(source) * formant_gain_[0] +
             formant_[1].process(source) * formant_gain_[1] +
             formant_[2].process(source) * formant_gain_[2];
      }
      out[i] += s;
    }
    return true;
  }

 private:
  Noise noise_;
  Biquad consonant_;
  float consonant_amp_ = 0;
  Biquad formant_[3];
  float formant_gain_[3] = {};
  int64_t onset_len_ = 0, vowel_begin_ = 0, vowel_len_ = 0, end_ = 0;
  int64_t attack_ = 1, release_ = 1;
  uint32_t step_start_ = 0, step_end_ = 0, phase_ = 0;
  int64_t age_ = 0;
};

// A pitched note with a clear attack: a short noise click, a linear rise, an
// exponential decay while held and a quick release after.
class Note final : public Voice {
 public:
  Note(int delay, Timbre timbre, double hz, double amp, double hold_s, double decay_tau,
       double attack_s, uint64_t seed)
      : Voice(delay),
        wave_(&table(timbre)),
        step_(phase_step(hz)),
        amp_(static_cast<float>(amp)),
        attack_(std::max<int64_t>(1, samples(attack_s))),
        hold_(samples(hold_s)),
        decay_(decay_per_sample(decay_tau)),
        release_(decay_per_sample(0.03)),
        click_(seed),
        phase_(static_cast<uint32_t>(seed)) {}

 protected:
  bool add(float* out, int n) override {
    constexpr int64_t kClick = 96;  // 2 ms of noise marks the attack
    for (int i = 0; i < n; ++i, ++age_) {
      if (age_ < attack_) {
        level_ = static_cast<float>(age_ + 1) / static_cast<float>(attack_);
      } else {
        level_ *= decay_;
        if (age_ >= hold_) level_ *= release_;
        if (level_ < kSilent) return false;
      }
      phase_ += step_;
      float s = lookup(*wave_, phase_) * level_;
      if (age_ < kClick) s += click_.next() * 0.3f * (1.0f - static_cast<float>(age_) / kClick);
      out[i] += s * amp_;
    }
    return true;
  }

 private:
  const Wavetable* wave_;
  uint32_t step_;
  float amp_;
  int64_t attack_, hold_;
  float decay_, release_;
  Noise click_;
  uint32_t phase_;
  float level_ = 0;
  int64_t age_ = 0;
};

// A percussive sound: filtered noise with up to three bursts and a tail, plus an
// optional falling tone (a kick's body, a snare's shell, a knock).
struct HitShape {
  BiquadKind filter = BiquadKind::BandPass;
  double filter_hz = 1500, filter_q = 1.0;
  double noise_amp = 0.2;
  double burst_s[3] = {0, -1, -1};  // start of each burst, negative: none
  double burst_tau = 0.003;
  double tail_tau = 0.04;
  double tone_hz = 0, tone_drop_hz = 0, tone_drop_tau = 0.03, tone_tau = 0.1, tone_amp = 0;
};

class Hit final : public Voice {
 public:
  Hit(int delay, const HitShape& h, uint64_t seed)
      : Voice(delay),
        noise_(seed),
        filter_(make_biquad(h.filter, h.filter_hz, h.filter_q, kRate)),
        noise_amp_(static_cast<float>(h.noise_amp)),
        burst_decay_(decay_per_sample(h.burst_tau)),
        tail_decay_(decay_per_sample(h.tail_tau)),
        tone_step_(phase_step(h.tone_hz)),
        tone_drop_step_(static_cast<float>(phase_step(h.tone_drop_hz))),
        tone_drop_decay_(decay_per_sample(h.tone_drop_tau)),
        tone_decay_(decay_per_sample(h.tone_tau)),
        tone_amp_(static_cast<float>(h.tone_amp)) {
    for (double b : h.burst_s)
      if (b >= 0) bursts_[burst_count_++] = samples(b);
    std::sort(bursts_, bursts_ + burst_count_);
    tail_from_ = bursts_[burst_count_ - 1];
  }

 protected:
  bool add(float* out, int n) override {
    const Wavetable& sine = table(kSine);
    for (int i = 0; i < n; ++i, ++age_) {
      if (next_burst_ < burst_count_ && bursts_[next_burst_] == age_) {
        burst_ = 1.0f;
        if (++next_burst_ == burst_count_) tail_ = kTailLevel;
      }
      float s = filter_.process(noise_.next()) * (burst_ + tail_) * noise_amp_;
      burst_ *= burst_decay_;
      tail_ *= tail_decay_;
      if (tone_amp_ > 0) {
        tone_phase_ += tone_step_ + static_cast<uint32_t>(tone_drop_step_ * tone_sweep_);
        tone_sweep_ *= tone_drop_decay_;
        s += lookup(sine, tone_phase_) * tone_level_ * tone_amp_;
        tone_level_ *= tone_decay_;
      }
      out[i] += s;
      if (age_ > tail_from_ && burst_ + tail_ < kSilent && (tone_amp_ == 0 || tone_level_ < kSilent))
        return false;
    }
    return true;
  }

 private:
  static constexpr float kTailLevel = 0.35f;  // the tail starts below the last burst's peak
  Noise noise_;
  Biquad filter_;
  float noise_amp_;
  float burst_decay_, tail_decay_;
  int64_t bursts_[3] = {};
  int burst_count_ = 0, next_burst_ = 0;
  int64_t tail_from_ = 0;
  float burst_ = 0, tail_ = 0;
  uint32_t tone_step_;
  float tone_drop_step_, tone_drop_decay_, tone_decay_, tone_amp_;
  uint32_t tone_phase_ = 0;
  float tone_sweep_ = 1.0f, tone_level_ = 1.0f;
  int64_t age_ = 0;
};

using Voices = std::vector<std::unique_ptr<Voice>>;

// ---------------------------------------------------------------------------
// Layers: each schedules one kind of voice through a section, one voice (or one
// musical step) per call of emit().

class Layer {
 public:
  virtual ~Layer() = default;
  int64_t next = kNever;  // event sample of the next emission
  // Starts what happens at `next` (which lies `delay` samples into the current block)
  // and moves `next` on; kNever once the layer has nothing more before `end`.
  virtual void emit(Voices& voices, int delay) = 0;
};

struct Speaker {
  double f0;            // Hz, the middle of the voice
  double formant_scale; // vocal tract size
  double pace;          // multiplies syllable and pause lengths
  double amp;
};

Speaker make_speaker(Rng& rng, double amp) {
  const bool low = rng.chance(0.5);
  return {low ? rng.uniform(90, 140) : rng.uniform(165, 250), low ? rng.uniform(0.9, 1.0)
                                                                  : rng.uniform(1.05, 1.15),
          rng.uniform(0.8, 1.2), amp * rng.uniform(0.8, 1.2)};
}

// Phrases of 3 to 12 syllables with falling pitch, syllable onsets 150 to 400 ms
// apart, pauses between phrases; with several speakers they take turns.
class SpeechLayer final : public Layer {
 public:
  SpeechLayer(uint64_t seed, int64_t begin, int64_t end, std::vector<Speaker> speakers,
              double turn_taking)
      : rng_(seed), end_(end), speakers_(std::move(speakers)), turn_taking_(turn_taking) {
    next = begin + samples(rng_.uniform(0.05, 0.6));
    new_phrase();
  }

  void emit(Voices& voices, int delay) override {
    const Speaker& sp = speakers_[current_];
    const double along = static_cast<double>(syllable_) / phrase_len_;
    const bool stressed = rng_.chance(0.25);
    // Syllable onsets 150 to 400 ms apart; the syllable itself fits in most of that.
    const double gap_s = std::clamp(rng_.uniform(0.15, 0.4) * sp.pace, 0.15, 0.4);
    SyllableShape s;
    const int onset = rng_.below(10);
    s.onset = onset < 4 ? Onset::Fricative : onset < 7 ? Onset::Plosive : Onset::None;
    s.onset_hz = rng_.uniform(2500, 7000);
    s.onset_s = rng_.uniform(0.03, 0.08) * sp.pace;
    const double onset_s = s.onset == Onset::Fricative ? s.onset_s
                           : s.onset == Onset::Plosive ? 0.032
                                                       : 0.0;
    s.vowel_s = std::min(rng_.uniform(0.07, 0.22) * sp.pace, 0.85 * gap_s - onset_s);
    s.f0_start = sp.f0 * (1.15 - 0.3 * along) * rng_.uniform(0.9, 1.1) * (stressed ? 1.15 : 1.0);
    s.f0_end = s.f0_start * rng_.uniform(0.85, 1.08);
    const Formants& v = kVowels[rng_.below(static_cast<int>(kVowels.size()))];
    const double scale = sp.formant_scale * rng_.uniform(0.95, 1.05);
    s.formants = {v.f1 * scale, v.f2 * scale, v.f3 * scale};
    s.amp = sp.amp * rng_.uniform(0.75, 1.05) * (stressed ? 1.4 : 1.0);
    voices.push_back(std::make_unique<Syllable>(delay, s, rng_.seed()));

    int64_t gap = samples(gap_s);
    if (++syllable_ >= phrase_len_) {
      gap += samples(rng_.uniform(0.3, 1.5) * sp.pace);
      if (speakers_.size() > 1 && rng_.chance(turn_taking_))
        current_ = (current_ + 1 + rng_.below(static_cast<int>(speakers_.size()) - 1)) %
                   static_cast<int>(speakers_.size());
      new_phrase();
    }
    next += gap;
    if (next >= end_) next = kNever;
  }

 private:
  void new_phrase() {
    syllable_ = 0;
    phrase_len_ = 3 + rng_.below(10);
  }

  Rng rng_;
  int64_t end_;
  std::vector<Speaker> speakers_;
  double turn_taking_;
  int current_ = 0;
  int syllable_ = 0, phrase_len_ = 3;
};

HitShape kick_shape(Rng& rng) {
  HitShape h;
  h.filter = BiquadKind::LowPass;
  h.filter_hz = 3000;
  h.filter_q = kButterworthQ;
  h.noise_amp = 0.3;
  h.burst_tau = 0.002;
  h.tail_tau = 0.004;
  h.tone_hz = rng.uniform(45, 60);
  h.tone_drop_hz = rng.uniform(80, 130);
  h.tone_drop_tau = 0.025;
  h.tone_tau = rng.uniform(0.1, 0.18);
  h.tone_amp = 0.9;
  return h;
}

HitShape snare_shape(Rng& rng) {
  HitShape h;
  h.filter_hz = rng.uniform(1500, 2500);
  h.filter_q = 0.7;
  h.noise_amp = 0.9;
  h.burst_tau = 0.01;
  h.tail_tau = rng.uniform(0.05, 0.09);
  h.tone_hz = rng.uniform(170, 220);
  h.tone_tau = 0.05;
  h.tone_amp = 0.35;
  return h;
}

HitShape hat_shape(Rng& rng, bool open) {
  HitShape h;
  h.filter = BiquadKind::HighPass;
  h.filter_hz = rng.uniform(6000, 9000);
  h.filter_q = kButterworthQ;
  h.noise_amp = 0.35;
  h.burst_tau = 0.004;
  h.tail_tau = open ? 0.12 : rng.uniform(0.015, 0.035);
  return h;
}

HitShape clap_shape(Rng& rng, double amp) {
  HitShape h;
  h.filter_hz = rng.uniform(800, 2400);
  h.filter_q = rng.uniform(0.9, 1.8);
  h.noise_amp = amp;
  h.burst_s[1] = rng.uniform(0.006, 0.012);
  h.burst_s[2] = h.burst_s[1] + rng.uniform(0.005, 0.012);
  h.burst_tau = 0.003;
  h.tail_tau = rng.uniform(0.02, 0.05);
  return h;
}

struct MusicStyle {
  double bpm;
  int root;  // MIDI note of the key's tonic in the bass octave
  bool minor;
  Timbre lead, pad, bass;
  bool drums;
  uint16_t kick, snare, hat;  // one bit per sixteenth of the bar
  bool open_hat;
  double melody_density;  // chance of a melody note on an eighth
  std::array<int, 4> progression;  // scale degrees of the chords, one per bar
  double amp;
};

MusicStyle make_style(Rng& rng, double amp) {
  MusicStyle m;
  m.bpm = rng.uniform(78, 150);
  m.root = 36 + rng.below(12);
  m.minor = rng.chance(0.4);
  constexpr std::array<Timbre, 4> leads = {kBright, kHollow, kOrgan, kMellow};
  m.lead = leads[rng.below(4)];
  m.pad = leads[rng.below(4)];
  m.bass = rng.chance(0.5) ? kMellow : kBright;
  m.drums = rng.chance(0.75);
  m.kick = 0x0101;
  m.snare = 0x1010;
  m.hat = rng.chance(0.5) ? 0x5555 : 0xFFFF;
  for (int s = 0; s < 16; ++s) {
    if (rng.chance(0.12)) m.kick |= static_cast<uint16_t>(1u << s);
    if (rng.chance(0.06)) m.snare |= static_cast<uint16_t>(1u << s);
  }
  m.open_hat = rng.chance(0.3);
  m.melody_density = rng.uniform(0.35, 0.85);
  constexpr std::array<int, 4> degrees = {0, 3, 4, 5};
  m.progression[0] = 0;
  for (int i = 1; i < 4; ++i) m.progression[i] = degrees[rng.below(4)];
  m.amp = amp;
  return m;
}

// A small band: kick, snare and hats on a sixteenth grid, a bass on the half bar, a
// chord each bar, and a melody that walks the scale.
class MusicLayer final : public Layer {
 public:
  MusicLayer(uint64_t seed, int64_t begin, int64_t end, const MusicStyle& style)
      : rng_(seed), begin_(begin), end_(end), style_(style) {
    step_s_ = 60.0 / style_.bpm / 4.0;
    next = begin;
  }

  void emit(Voices& voices, int delay) override {
    const int s = static_cast<int>(step_ % 16);
    const int bar = static_cast<int>(step_ / 16);
    const int chord = style_.progression[bar % 4];
    const double beat_s = step_s_ * 4;
    const double a = style_.amp;
    if (style_.drums) {
      if (style_.kick >> s & 1) {
        HitShape h = kick_shape(rng_);
        h.noise_amp *= a * 3.0;
        h.tone_amp *= a * 3.0;
        voices.push_back(std::make_unique<Hit>(delay, h, rng_.seed()));
      }
      if (style_.snare >> s & 1) {
        HitShape h = snare_shape(rng_);
        h.noise_amp *= a * 2.5;
        h.tone_amp *= a * 2.5;
        voices.push_back(std::make_unique<Hit>(delay, h, rng_.seed()));
      }
      if (style_.hat >> s & 1) {
        HitShape h = hat_shape(rng_, style_.open_hat && s % 8 == 6);
        h.noise_amp *= a * (s % 4 == 0 ? 2.0 : 1.4);
        voices.push_back(std::make_unique<Hit>(delay, h, rng_.seed()));
      }
    }
    if (s == 0) {
      for (int k = 0; k < 3; ++k) {
        const double hz = midi_hz(pitch(chord + 2 * k, 2));
        voices.push_back(std::make_unique<Note>(delay, style_.pad, hz, a * 0.35, beat_s * 4,
                                                rng_.uniform(1.0, 2.5), 0.02, rng_.seed()));
      }
    }
    if (s == 0 || s == 8 || (s == 14 && rng_.chance(0.3))) {
      const double hz = midi_hz(pitch(chord, 0));
      voices.push_back(std::make_unique<Note>(delay, style_.bass, hz, a * 0.9, beat_s * 1.5,
                                              rng_.uniform(0.3, 0.8), 0.006, rng_.seed()));
    }
    if (s % 2 == 0 && rng_.chance(style_.melody_density)) {
      melody_ = std::clamp(melody_ + rng_.below(5) - 2, 0, 13);
      const double hz = midi_hz(pitch(melody_, 2));
      const double hold = step_s_ * 2 * (1 + rng_.below(3));
      voices.push_back(std::make_unique<Note>(delay, style_.lead, hz, a * 0.55, hold,
                                              rng_.uniform(0.25, 0.8), rng_.uniform(0.004, 0.015),
                                              rng_.seed()));
    }
    ++step_;
    next = begin_ + samples(static_cast<double>(step_) * step_s_);
    if (next >= end_) next = kNever;
  }

 private:
  // MIDI note of a scale degree (may exceed one octave) `octave` octaves above the root.
  double pitch(int degree, int octave) const {
    static constexpr std::array<int, 7> major = {0, 2, 4, 5, 7, 9, 11};
    static constexpr std::array<int, 7> minor = {0, 2, 3, 5, 7, 8, 10};
    const auto& scale = style_.minor ? minor : major;
    return style_.root + 12 * (octave + degree / 7) + scale[degree % 7];
  }

  Rng rng_;
  int64_t begin_, end_;
  MusicStyle style_;
  double step_s_ = 0.1;
  int64_t step_ = 0;
  int melody_ = 7;
};

// Applause: claps at a rate that swells and fades over the section.
class ApplauseLayer final : public Layer {
 public:
  ApplauseLayer(uint64_t seed, int64_t begin, int64_t end, double peak_rate, double amp)
      : rng_(seed), begin_(begin), end_(end), peak_rate_(peak_rate), amp_(amp) {
    next = begin;
  }

  void emit(Voices& voices, int delay) override {
    voices.push_back(
        std::make_unique<Hit>(delay, clap_shape(rng_, amp_ * rng_.uniform(0.4, 1.0)), rng_.seed()));
    const double t = static_cast<double>(next - begin_) / kRate;
    const double left = static_cast<double>(end_ - next) / kRate;
    const double swell = std::clamp(std::min(t / 1.5, left / 2.5), 0.05, 1.0);
    const double rate = peak_rate_ * swell;
    next += std::max<int64_t>(1, samples(rng_.uniform(0.2, 1.8) / rate));
    if (next >= end_) next = kNever;
  }

 private:
  Rng rng_;
  int64_t begin_, end_;
  double peak_rate_, amp_;
};

// Odd noises of a room: a cough, a knock on wood, a single clap, a thump.
class IncidentLayer final : public Layer {
 public:
  IncidentLayer(uint64_t seed, int64_t begin, int64_t end, double amp)
      : rng_(seed), end_(end), amp_(amp) {
    next = begin + samples(rng_.uniform(0.5, 6.0));
  }

  void emit(Voices& voices, int delay) override {
    const double a = amp_ * rng_.uniform(0.5, 1.2);
    switch (rng_.below(4)) {
      case 0: {  // cough
        HitShape h;
        h.filter_hz = rng_.uniform(400, 900);
        h.filter_q = 0.8;
        h.noise_amp = a * 2.0;
        h.burst_s[1] = rng_.uniform(0.12, 0.2);
        h.burst_tau = 0.04;
        h.tail_tau = 0.05;
        voices.push_back(std::make_unique<Hit>(delay, h, rng_.seed()));
        break;
      }
      case 1: {  // knocks
        const int knocks = 2 + rng_.below(3);
        const double gap = rng_.uniform(0.12, 0.22);
        HitShape h;
        h.filter_hz = rng_.uniform(800, 1500);
        h.noise_amp = a * 0.5;
        h.burst_tau = 0.002;
        h.tail_tau = 0.008;
        h.tone_hz = rng_.uniform(140, 320);
        h.tone_tau = 0.04;
        h.tone_amp = a * 1.5;
        for (int k = 0; k < knocks; ++k)
          voices.push_back(
              std::make_unique<Hit>(delay + static_cast<int>(samples(k * gap)), h, rng_.seed()));
        break;
      }
      case 2:
        voices.push_back(std::make_unique<Hit>(delay, clap_shape(rng_, a * 1.5), rng_.seed()));
        break;
      default: {  // thump: a step, a chair, a door
        HitShape h = kick_shape(rng_);
        h.tone_hz = rng_.uniform(60, 110);
        h.tone_amp = a * 1.8;
        h.noise_amp = a * 0.6;
        voices.push_back(std::make_unique<Hit>(delay, h, rng_.seed()));
        break;
      }
    }
    next += samples(rng_.uniform(2.0, 12.0));
    if (next >= end_) next = kNever;
  }

 private:
  Rng rng_;
  int64_t end_;
  double amp_;
};

// ---------------------------------------------------------------------------
// Sections and the crowd bed.

enum class Scene { Speech, Dialogue, Music, SpeechOverMusic, Applause, Murmur, Count };

// Foreground levels, tuned so that speech, music and applause all come out near
// -22 dBFS RMS over a section.
constexpr double kSpeechAmp = 0.75;
constexpr double kMusicAmp = 0.1;
constexpr double kClapAmp = 1.5;
constexpr double kIncidentAmp = 0.12;

struct Section {
  int64_t begin = 0, end = 0;
  Scene scene = Scene::Murmur;
  double bed_db = -40;  // crowd bed level, dBFS RMS
  std::vector<std::unique_ptr<Layer>> layers;
};

// Durations in seconds per scene, lo and hi.
constexpr std::array<std::array<double, 2>, 6> kSceneSeconds = {
    {{20, 70}, {20, 60}, {30, 90}, {20, 50}, {6, 20}, {10, 30}}};
constexpr std::array<int, 6> kSceneWeight = {3, 2, 3, 2, 1, 1};

Section make_section(uint64_t event_seed, int index, int64_t begin, Scene previous) {
  Rng rng(derive_seed(event_seed, 1000 + static_cast<uint64_t>(index)));
  Section sec;
  sec.begin = begin;
  int total = 0;
  for (int w : kSceneWeight) total += w;
  do {
    // The very first section is never silent-ish, so that even a short event has matter.
    int pick = rng.below(total);
    int k = 0;
    while (pick >= kSceneWeight[k]) pick -= kSceneWeight[k++];
    sec.scene = static_cast<Scene>(k);
  } while (sec.scene == previous || (index == 0 && sec.scene == Scene::Murmur));
  const auto& span = kSceneSeconds[static_cast<int>(sec.scene)];
  sec.end = begin + samples(rng.uniform(span[0], span[1]));
  const double level = db_to_gain(rng.uniform(-3, 3));

  auto add = [&](std::unique_ptr<Layer> layer) { sec.layers.push_back(std::move(layer)); };
  switch (sec.scene) {
    case Scene::Speech:
      sec.bed_db = rng.uniform(-46, -38);
      add(std::make_unique<SpeechLayer>(rng.seed(), sec.begin, sec.end,
                                        std::vector<Speaker>{make_speaker(rng, kSpeechAmp * level)},
                                        0.0));
      break;
    case Scene::Dialogue: {
      sec.bed_db = rng.uniform(-44, -36);
      std::vector<Speaker> two = {make_speaker(rng, kSpeechAmp * level),
                                  make_speaker(rng, kSpeechAmp * level)};
      add(std::make_unique<SpeechLayer>(rng.seed(), sec.begin, sec.end, two, 0.7));
      break;
    }
    case Scene::Music:
      sec.bed_db = rng.uniform(-48, -40);
      add(std::make_unique<MusicLayer>(rng.seed(), sec.begin, sec.end,
                                       make_style(rng, kMusicAmp * level)));
      break;
    case Scene::SpeechOverMusic:
      sec.bed_db = rng.uniform(-48, -40);
      add(std::make_unique<MusicLayer>(rng.seed(), sec.begin, sec.end,
                                       make_style(rng, kMusicAmp * level * 0.3)));
      add(std::make_unique<SpeechLayer>(rng.seed(), sec.begin, sec.end,
                                        std::vector<Speaker>{make_speaker(rng, kSpeechAmp * level)},
                                        0.0));
      break;
    case Scene::Applause:
      sec.bed_db = rng.uniform(-30, -24);
      add(std::make_unique<ApplauseLayer>(rng.seed(), sec.begin, sec.end, rng.uniform(25, 70),
                                          kClapAmp * level));
      break;
    case Scene::Murmur:
    case Scene::Count: {
      sec.bed_db = rng.uniform(-36, -30);
      std::vector<Speaker> far;
      for (int i = 0; i < 4; ++i) far.push_back(make_speaker(rng, kSpeechAmp * level * 0.15));
      add(std::make_unique<SpeechLayer>(rng.seed(), sec.begin, sec.end, far, 0.9));
      break;
    }
  }
  add(std::make_unique<IncidentLayer>(rng.seed(), sec.begin, sec.end, kIncidentAmp * level));
  return sec;
}

// Pink-ish room noise whose level wanders: the murmur under everything.
class CrowdBed {
 public:
  explicit CrowdBed(uint64_t seed)
      : rng_(derive_seed(seed, 1)),
        noise_(derive_seed(seed, 2)),
        high_(make_biquad(BiquadKind::HighPass, 150, kButterworthQ, kRate)),
        low_(make_biquad(BiquadKind::LowPass, 4000, kButterworthQ, kRate)) {}

  void set_level(double db) { target_db_ = db; }

  void render(float* out, int n) {
    constexpr int kStride = 2400;  // 50 ms between level steps
    // A pink filter's output for unit white input is about 3.5 RMS after the band limits.
    constexpr float kPinkToUnit = 0.3f;
    for (int i = 0; i < n; ++i, ++count_) {
      if (count_ % kStride == 0) {
        walk_db_ = std::clamp(walk_db_ + rng_.uniform(-0.8, 0.8), -6.0, 6.0);
        from_ = to_;
        to_ = static_cast<float>(db_to_gain(target_db_ + walk_db_)) * kPinkToUnit;
      }
      const float g = from_ + (to_ - from_) * static_cast<float>(count_ % kStride) / kStride;
      const float w = noise_.next();
      // Three poles spread over the band make a roughly -3 dB per octave slope.
      b0_ = 0.99765f * b0_ + w * 0.0990460f;
      b1_ = 0.96300f * b1_ + w * 0.2965164f;
      b2_ = 0.57000f * b2_ + w * 1.0526913f;
      const float pink = b0_ + b1_ + b2_ + w * 0.1848f;
      out[i] += low_.process(high_.process(pink)) * g;
    }
  }

 private:
  Rng rng_;
  Noise noise_;
  Biquad high_, low_;
  double target_db_ = -40, walk_db_ = 0;
  float from_ = 0, to_ = 0;
  float b0_ = 0, b1_ = 0, b2_ = 0;
  int64_t count_ = 0;
};

// Peaks above kKnee bend smoothly towards kCeiling instead of clipping, as a limiter
// on the mixing desk would, which leaves the devices headroom for their noise.
void soft_limit(float* x, int n) {
  constexpr float kKnee = 0.5f;
  constexpr float kCeiling = 0.8f;
  constexpr float kRange = kCeiling - kKnee;
  for (int i = 0; i < n; ++i) {
    const float a = std::fabs(x[i]);
    if (a > kKnee) x[i] = std::copysign(kKnee + kRange * std::tanh((a - kKnee) / kRange), x[i]);
  }
}

}  // namespace

struct EventSynth::State {
  explicit State(uint64_t id) : seed(derive_seed(id, 0)), bed(seed) {}
  uint64_t seed;
  CrowdBed bed;
  Section section;
  int section_index = -1;
  Voices voices;
  int64_t position = 0;
};

EventSynth::EventSynth(uint64_t event_id) : state_(std::make_unique<State>(event_id)) {}
EventSynth::~EventSynth() = default;

int64_t EventSynth::position() const { return state_->position; }

void EventSynth::render(float* out, int n) {
  State& st = *state_;
  std::fill(out, out + n, 0.0f);
  int done = 0;
  while (done < n) {
    if (st.section_index < 0 || st.position >= st.section.end) {
      const Scene previous = st.section_index < 0 ? Scene::Count : st.section.scene;
      st.section = make_section(st.seed, ++st.section_index, st.position, previous);
      st.bed.set_level(st.section.bed_db);
    }
    const int chunk = static_cast<int>(std::min<int64_t>(
        {static_cast<int64_t>(n - done), st.section.end - st.position, kMaxBlock}));
    const int64_t chunk_end = st.position + chunk;
    for (auto& layer : st.section.layers) {
      while (layer->next < chunk_end)
        layer->emit(st.voices, static_cast<int>(layer->next - st.position));
    }
    float* block = out + done;
    st.bed.render(block, chunk);
    std::erase_if(st.voices, [&](std::unique_ptr<Voice>& v) { return !v->render(block, chunk); });
    soft_limit(block, chunk);
    st.position = chunk_end;
    done += chunk;
  }
}

}  // namespace eventgen
