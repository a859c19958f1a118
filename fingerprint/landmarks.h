#pragma once
// Pairing kept peaks into landmark rows (anchor frame, hash).

#include "core/types.h"
#include "fingerprint/peaks.h"

// Landmark table of the kept peaks, by value: for every kept peak in list order (the
// anchor, at bin f1 and frame t1), up to 9 partners (f2, t2) with t1 < t2 < t1 + targetDt
// and f1 - targetDf < f2 < f1 + targetDf (float comparisons), the first 9 in list order,
// i.e. the latest. Row: (t1, composeInts(f1, f2, t2 - t1)). The single row (0, 0) when
// nothing was kept (printing "LL<2 pred return.."); no rows when peaks were kept but
// none has a partner.
LandmarkTable pair_landmarks(const KeptPeaks& kept, float targetDf, float targetDt);
