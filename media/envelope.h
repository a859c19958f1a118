#pragma once
// A sound's outline, small enough to outlive its analysis WAV: what the result view
// draws under each clip so that an editor can see the recordings line up.

#include <string>
#include <vector>

// About one point per two pixels of a wide timeline; 240 files keep under 400 kB of them.
inline constexpr int kEnvelopePoints = 400;

// The loudest absolute sample (0 to 1) of each of `points` equal stretches of the WAV
// at `path`, in time order; fewer points for a WAV shorter than `points` samples, and
// none for one that cannot be read.
std::vector<float> sound_envelope(const std::string& path, int points = kEnvelopePoints);
