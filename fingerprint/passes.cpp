#include "fingerprint/passes.h"

#include "core/format.h"
#include "core/log.h"
#include "fingerprint/landmarks.h"
#include "fingerprint/peaks.h"
#include "fingerprint/spectrogram.h"

#include <fstream>
#include <ostream>

namespace {

constexpr int kPeakRoomPerSecond = 50;  // the peak list's first allocation
constexpr int kSecondsWhenUnknown = 5;
// The trace line has always shown the seconds over this as its "b=" figure; nothing reads
// it, but consoles of runs are compared byte for byte, so it stays as it was printed.
constexpr float kTraceScale = 70000.0f;

LandmarkTable no_fingerprint() { return LandmarkTable::Zero(1, 2); }

}  // namespace

LandmarkTable final_sredi(const char* path, int fileIndex, float* durationOut, float A_DEC,
                          float targetDf, float targetDt, int sampleOffset) {
  Eigen::MatrixXf picture;
  return final_sredi(path, fileIndex, durationOut, A_DEC, targetDf, targetDt, sampleOffset,
                     picture);
}

LandmarkTable final_sredi(const char* path, int /*fileIndex*/, float* durationOut, float A_DEC,
                          float targetDf, float targetDt, int sampleOffset,
                          Eigen::MatrixXf& spectrogram) {
  if (path == nullptr || !std::ifstream(path).is_open()) return no_fingerprint();

  int frames = 0;
  float seconds = 0.0f;
  final_specgram(path, &frames, &seconds, sampleOffset, spectrogram);
  console() << "posle specgram\n";
  if (spectrogram.rows() <= 1) return no_fingerprint();

  if (durationOut != nullptr) *durationOut = seconds;
  console() << "filename:" << console_safe(path)
            << "b=" << static_cast<double>(seconds / kTraceScale)
            << "  duration:" << static_cast<double>(seconds)
            << "  A_DEC=:" << static_cast<double>(A_DEC) << " ----"
            << "specrgram:" << spectrogram.rows() << "  -- " << frames << '\n';

  const int room =
      kPeakRoomPerSecond * (seconds > 0.0f ? static_cast<int>(seconds) : kSecondsWhenUnknown);
  const KeptPeaks kept = pick_peaks(spectrogram, A_DEC, room);
  return pair_landmarks(kept, targetDf, targetDt);
}
