#pragma once
// Preparation of a file's landmark table: stack, sort by time, collapse repeats.

#include "core/types.h"

// Rows in ascending anchor frame; rows of equal frame keep their order.
LandmarkTable sortirajeigenmatricapored(LandmarkTable table);

// Keeps the last row of every run of one repeated hash (not the run holding the last
// row) and appends one row (0, 0).
LandmarkTable namali(LandmarkTable table);

// The three pass tables stacked with five rows (0, 0), sorted and reduced; prints the
// preparation's console lines. The caller logs the value count.
LandmarkTable prepare_landmarks(const LandmarkTable& pass1, const LandmarkTable& pass2,
                                const LandmarkTable& pass3);
