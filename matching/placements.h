#pragma once
// Files linked by pairs, each with its start against its group's root, so that a new
// pair can be checked against what its group already says.

#include <cmath>
#include <cstddef>
#include <numeric>
#include <vector>

class Placements {
 public:
  explicit Placements(std::size_t files) : parent_(files), start_(files, 0.0) {
    std::iota(parent_.begin(), parent_.end(), 0);
  }

  // Root of `file`; `start` becomes the file's start against it.
  std::size_t root(std::size_t file, double& start) const {
    start = 0.0;
    while (parent_[file] != file) {
      start += start_[file];
      file = parent_[file];
    }
    return file;
  }

  // Whether the pairs linked so far place `a` and `b` against each other.
  bool together(std::size_t a, std::size_t b) const {
    double start = 0.0;
    return root(a, start) == root(b, start);
  }

  // How far the pair (shorter starts at longer's start minus `offset`) is from where the
  // pairs linked so far place its files; for two files `together`.
  double gap(std::size_t shorter, std::size_t longer, double offset) const {
    double s = 0.0;
    double l = 0.0;
    root(shorter, s);
    root(longer, l);
    return (s - l) + offset;
  }

  // Links the pair (shorter starts at longer's start minus `offset`). Returns false,
  // with `gap` set, when both are linked already and the pair disagrees beyond `limit`.
  bool link(std::size_t shorter, std::size_t longer, double offset, double& gap, double limit) {
    double s = 0.0;
    double l = 0.0;
    const std::size_t rs = root(shorter, s);
    const std::size_t rl = root(longer, l);
    gap = 0.0;
    if (rs == rl) {
      gap = (s - l) + offset;
      return std::abs(gap) <= limit;
    }
    // Hang the shorter file's group under the longer one's root.
    parent_[rs] = rl;
    start_[rs] = l - offset - s;
    return true;
  }

 private:
  std::vector<std::size_t> parent_;
  std::vector<double> start_;
};
