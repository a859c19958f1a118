#pragma once
// FFTW's plans for the listed transform sizes that were faster chosen by timing each way of
// transforming them than by estimate, in FFTW's own text (its "wisdom"). fft_plans.cpp, which
// holds them, is written by brenvik-fft-plans (tools/fft_plans.cpp).

#include <vector>

// The list of sizes the plans were timed for, and the sizes whose timed plans are kept.
extern const std::vector<int> kFftPlansListed;
extern const std::vector<int> kFftPlansMeasured;
extern const char* const kMeasuredFftPlans;
