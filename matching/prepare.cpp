#include "matching/prepare.h"

// Placeholder until matching lands.
LandmarkTable sortirajeigenmatricapored(LandmarkTable table) { return table; }
LandmarkTable namali(LandmarkTable) { return LandmarkTable::Zero(1, 2); }
LandmarkTable prepare_landmarks(const LandmarkTable&, const LandmarkTable&, const LandmarkTable&) {
  return LandmarkTable::Zero(1, 2);
}
