#pragma once
// Pairing kept peaks into landmark rows (anchor frame, hash).

#include "engine/types.h"
#include "fingerprint/peaks.h"

// Landmark table of the kept peaks; the single row (0, 0) when none was kept, no rows
// when peaks were kept but none has a partner.
LandmarkTable pair_landmarks(const KeptPeaks& kept, float targetDf, float targetDt);
