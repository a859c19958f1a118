#pragma once
// The result tables of a run: "csvtabela.csv" and "csvtabela-clean.csv".

#include "core/results.h"

#include <Eigen/Dense>

#include <string>
#include <vector>

// One text line per matrix row, each value (general notation, precision 5) followed by ",";
// written whole or not at all (std::runtime_error says why).
void export2csv(const char* name, Eigen::MatrixXf table, int cols, int rows);

// Writes the pairs in sync as six lines (shorter, longer, offset s, sections, confidence,
// most hits) with one value per pair, and the clean pairs likewise without the hits, into
// `folder` (empty: the working directory).
void write_result_tables(const std::vector<PairResult>& pairs,
                         const std::vector<PairResult>& clean, const std::string& folder = {});
