#pragma once
// Result tables and sync groups.

#include "core/types.h"

#include <map>
#include <string>
#include <vector>

// One text line per matrix row, each value (general notation, precision 5) followed by ",".
void export2csv(const char* name, Eigen::MatrixXf table, int cols, int rows);

std::vector<int> unikatni(Eigen::MatrixXf table);
std::vector<std::vector<int>> grupiraj(Eigen::MatrixXf clean);
std::vector<std::map<int, float>> groopy(Eigen::MatrixXf clean);

// From the result vector (6 values per row): writes "csvtabela.csv" and
// "csvtabela-clean.csv", forms the groups on a common start and lists the unsynced
// entries with their frame rates and durations.
SyncGroups build_sync_groups(const std::vector<float>& results,
                             const std::vector<std::string>& files,
                             const std::vector<std::string>& framerates,
                             const std::vector<float>& durations);
