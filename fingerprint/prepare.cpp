#include "fingerprint/prepare.h"

#include "core/log.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Zero rows put under every file's passes; after sorting they collapse into the one zero
// row that every reduced table ends with.
constexpr Eigen::Index kZeroRowsStacked = 5;
constexpr std::size_t kDashes = 122;

}  // namespace

LandmarkTable sortirajeigenmatricapored(LandmarkTable table) {
  const Eigen::Index rows = table.rows();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs(static_cast<std::size_t>(rows));
  for (Eigen::Index r = 0; r < rows; ++r)
    pairs[static_cast<std::size_t>(r)] = {table(r, 0), table(r, 1)};
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (Eigen::Index r = 0; r < rows; ++r) {
    table(r, 0) = pairs[static_cast<std::size_t>(r)].first;
    table(r, 1) = pairs[static_cast<std::size_t>(r)].second;
  }
  return table;
}

LandmarkTable namali(LandmarkTable table) {
  const Eigen::Index rows = table.rows();
  LandmarkTable result = LandmarkTable::Zero(std::max<Eigen::Index>(rows, 1), 2);
  Eigen::Index written = 0;
  // A steady sound repeats one landmark frame after frame; only the last of such a run
  // is kept. The run that reaches the table's end is dropped with it.
  for (Eigen::Index r = 0; r + 1 < rows; ++r) {
    if (table(r, 1) != table(r + 1, 1)) {
      result.row(written) = table.row(r);
      ++written;
    }
  }
  const std::string dashes(kDashes, '-');
  console() << dashes << "goleminata na matricata pred namaluvanje:" << 2 * rows
            << "  a posle namaluvanjeto e:" << written << dashes << '\n';
  return result.topRows(written + 1);
}

LandmarkTable prepare_landmarks(const LandmarkTable& pass1, const LandmarkTable& pass2,
                                const LandmarkTable& pass3) {
  LandmarkTable stacked =
      LandmarkTable::Zero(pass1.rows() + pass2.rows() + pass3.rows() + kZeroRowsStacked, 2);
  stacked.topRows(pass1.rows()) = pass1;
  stacked.middleRows(pass1.rows(), pass2.rows()) = pass2;
  stacked.middleRows(pass1.rows() + pass2.rows(), pass3.rows()) = pass3;
  console() << "polnenje na d..\n";
  LandmarkTable sorted = sortirajeigenmatricapored(std::move(stacked));
  console() << "posle sortiranje..\n";
  LandmarkTable reduced = namali(std::move(sorted));
  console() << "posle namaluvanje\n";
  return reduced;
}
