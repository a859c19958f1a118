#pragma once
// The sound of one event as it happened in the room, before any device heard it.

#include <cstdint>
#include <memory>

namespace eventgen {

constexpr int kEventRate = 48000;  // Hz; event time t is sample t·kEventRate

// Streams an event's sound from its start. The sound at a given time depends only on
// the event id, never on how far the stream is read or in what block sizes, so every
// device window cut from it lines up exactly. The material changes from section to
// section (speech, a dialogue, music with a beat, speech over music, applause, a
// murmuring room), with a crowd bed and odd noises throughout.
class EventSynth {
 public:
  explicit EventSynth(uint64_t event_id);
  ~EventSynth();
  EventSynth(const EventSynth&) = delete;
  EventSynth& operator=(const EventSynth&) = delete;

  // Writes the next n samples (mono, -20 to -30 dBFS RMS over a section) to out.
  void render(float* out, int n);

  // Event samples produced so far.
  int64_t position() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace eventgen
