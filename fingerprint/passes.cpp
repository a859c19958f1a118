#include "fingerprint/passes.h"

// Placeholder until fingerprinting lands: every file is without a fingerprint.
LandmarkTable final_sredi(const char*, int, float*, float, float, float, int) {
  return LandmarkTable::Zero(1, 2);
}
