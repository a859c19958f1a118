#include "matching/device_clocks.h"

#include "core/format.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <span>

namespace {

// How far one window's offset and one decided offset may be from the truth: the windows
// agree within a few tenths of a millisecond, the decision rests on a 24 ms frame grid and
// can be a tenth of a second early.
constexpr double kWindowSigmaSec = 0.00025;
constexpr double kDecidedSigmaSec = 0.05;
// A rate no windows measure (one window, or only decided offsets) stays at the reference's
// rather than bending to a decided offset's error; real clocks are within a few hundred ppm.
constexpr double kRateSigma = 200e-6;
// A refined pair further than this from what the others say is wrong; a decided one only
// beyond the refinement's own search.
constexpr double kRefinedLimitSec = 0.003;
constexpr double kDecidedLimitSec = 0.3;
constexpr double kPpm = 1e6;
constexpr double kMs = 1000.0;

// One measured offset of a pair: an equation in the two files' offsets and their devices'
// rates.
struct Row {
  int pair = -1;
  int shorter = -1, longer = -1;  // member slots
  double at = 0.0;                 // shorter-file seconds
  double offset = 0.0;             // seconds, shorter minus longer
  double sigma = kWindowSigmaSec;
};

struct Model {
  std::vector<int> device_of;  // member slot -> device slot
  int devices = 0;
  int reference_device = 0;
  int gauge_member = 0;  // the reference's first file, fixed at 0
  std::vector<int> offset_column;  // member slot -> column, -1 for the gauge
  std::vector<int> rate_column;    // device slot -> column, -1 for the reference
  int columns = 0;
};

struct Fit {
  Eigen::VectorXd offsets;  // per member slot, seconds (reference time of its sample 0)
  Eigen::VectorXd rates;    // per device slot: reference seconds per device second, minus 1
  Eigen::VectorXd rate_errors;
};

// A sound at `at` in the shorter file and at − offset in the longer one is at one
// reference time: o_s + at·(1 + q_s) = o_l + (at − offset)·(1 + q_l).
double residual(const Row& r, const Fit& fit, const Model& m) {
  const double qs = fit.rates[m.device_of[static_cast<std::size_t>(r.shorter)]];
  const double ql = fit.rates[m.device_of[static_cast<std::size_t>(r.longer)]];
  return fit.offsets[r.shorter] + r.at * (1.0 + qs) - fit.offsets[r.longer] -
         (r.at - r.offset) * (1.0 + ql);
}

// The normal equations of a set of rows: AᵀWA and AᵀWb. Leaving a pair out is then a
// subtraction of its few rows rather than a new system, which keeps the search for the
// pair to leave out cheap in a group of dozens of files.
struct Normal {
  Eigen::MatrixXd weighted_gram;    // AᵀWA
  Eigen::VectorXd weighted_target;  // AᵀWb
};

// Adds (sign +1) or takes out (-1) one row's share.
void accumulate(Normal& normal, const Row& row, const Model& m, double sign) {
  const double w = 1.0 / row.sigma;
  const int os = m.offset_column[static_cast<std::size_t>(row.shorter)];
  const int ol = m.offset_column[static_cast<std::size_t>(row.longer)];
  const int qs = m.rate_column[static_cast<std::size_t>(m.device_of[static_cast<std::size_t>(row.shorter)])];
  const int ql = m.rate_column[static_cast<std::size_t>(m.device_of[static_cast<std::size_t>(row.longer)])];
  const std::pair<int, double> terms[] = {
      {os, w}, {ol, -w}, {qs, w * row.at}, {ql, -w * (row.at - row.offset)}};
  const double rhs = -w * row.offset;
  for (const auto& [i, ai] : terms) {
    if (i < 0) continue;
    normal.weighted_target[i] += sign * ai * rhs;
    for (const auto& [j, aj] : terms)
      if (j >= 0) normal.weighted_gram(i, j) += sign * ai * aj;
  }
}

Normal normal_of(const std::vector<Row>& rows, const std::vector<bool>& use, const Model& m) {
  Normal normal{Eigen::MatrixXd::Zero(m.columns, m.columns), Eigen::VectorXd::Zero(m.columns)};
  for (const Row& row : rows)
    if (use[static_cast<std::size_t>(row.pair)]) accumulate(normal, row, m, 1.0);
  for (int d = 0; d < m.devices; ++d)
    if (const int q = m.rate_column[static_cast<std::size_t>(d)]; q >= 0)
      normal.weighted_gram(q, q) += 1.0 / (kRateSigma * kRateSigma);
  return normal;
}

std::optional<Fit> solve(const Normal& normal, const Model& m, bool with_errors = false) {
  const Eigen::LDLT<Eigen::MatrixXd> ldlt(normal.weighted_gram);
  if (ldlt.info() != Eigen::Success) return std::nullopt;
  const Eigen::VectorXd x = ldlt.solve(normal.weighted_target);
  if (!x.allFinite() || !(normal.weighted_gram * x).isApprox(normal.weighted_target, 1e-6)) return std::nullopt;

  Fit fit;
  fit.offsets = Eigen::VectorXd::Zero(static_cast<Eigen::Index>(m.device_of.size()));
  fit.rates = Eigen::VectorXd::Zero(m.devices);
  fit.rate_errors = Eigen::VectorXd::Zero(m.devices);
  for (std::size_t s = 0; s < m.device_of.size(); ++s)
    if (m.offset_column[s] >= 0) fit.offsets[static_cast<Eigen::Index>(s)] = x[m.offset_column[s]];
  for (int d = 0; d < m.devices; ++d)
    if (const int q = m.rate_column[static_cast<std::size_t>(d)]; q >= 0) fit.rates[d] = x[q];
  if (!with_errors) return fit;
  const Eigen::MatrixXd covariance = ldlt.solve(Eigen::MatrixXd::Identity(m.columns, m.columns));
  for (int d = 0; d < m.devices; ++d)
    if (const int q = m.rate_column[static_cast<std::size_t>(d)]; q >= 0)
      fit.rate_errors[d] = std::sqrt(std::max(0.0, covariance(q, q)));
  return fit;
}

// Whether the pairs in `use` still link every member.
bool linked(const std::vector<std::pair<int, int>>& ends, const std::vector<bool>& use, int members) {
  std::vector<int> parent(static_cast<std::size_t>(members));
  std::iota(parent.begin(), parent.end(), 0);
  const auto root = [&](int x) {
    while (parent[static_cast<std::size_t>(x)] != x) x = parent[static_cast<std::size_t>(x)];
    return x;
  };
  int groups = members;
  for (std::size_t p = 0; p < ends.size(); ++p) {
    if (!use[p]) continue;
    const int a = root(ends[p].first), b = root(ends[p].second);
    if (a != b) {
      parent[static_cast<std::size_t>(a)] = b;
      --groups;
    }
  }
  return groups == 1;
}

// The largest distance of a pair's equations from a fit.
double disagreement(std::span<const Row> pair_rows, const Fit& fit, const Model& m) {
  double worst = 0.0;
  for (const Row& r : pair_rows) worst = std::max(worst, std::abs(residual(r, fit, m)));
  return worst;
}

// The devices of a group and the reference among them (the most video, else the most
// sound), with the unknowns' columns; `device_ids` gets each device slot's id.
Model device_model(const SyncGroup& group, std::vector<int>& device_ids) {
  Model m;
  const std::size_t n = group.members.size();
  std::map<int, int> device_slot;
  std::vector<double> video, sound;
  for (const TimelineMember& member : group.members) {
    const int id = member.device >= 0 ? member.device : member.entry;
    auto [it, added] = device_slot.emplace(id, static_cast<int>(device_ids.size()));
    if (added) {
      device_ids.push_back(id);
      video.push_back(0.0);
      sound.push_back(0.0);
    }
    m.device_of.push_back(it->second);
    sound[static_cast<std::size_t>(it->second)] += member.length;
    if (!member.audio_only()) video[static_cast<std::size_t>(it->second)] += member.length;
  }
  m.devices = static_cast<int>(device_ids.size());
  for (int d = 1; d < m.devices; ++d) {
    const auto du = static_cast<std::size_t>(d);
    const auto ru = static_cast<std::size_t>(m.reference_device);
    if (video[du] > video[ru] || (video[du] == video[ru] && sound[du] > sound[ru])) m.reference_device = d;
  }
  m.gauge_member = -1;
  for (std::size_t s = 0; s < n; ++s)
    if (m.device_of[s] == m.reference_device && m.gauge_member < 0) m.gauge_member = static_cast<int>(s);
  for (std::size_t s = 0; s < n; ++s)
    m.offset_column.push_back(static_cast<int>(s) == m.gauge_member ? -1 : m.columns++);
  for (int d = 0; d < m.devices; ++d) m.rate_column.push_back(d == m.reference_device ? -1 : m.columns++);
  return m;
}

// The equations of the pairs between a group's members, each pair's rows next to each
// other in the order of the pairs.
struct PairRows {
  std::vector<Row> rows;
  std::vector<std::pair<int, int>> ends;  // member slots of each pair used
  std::vector<const PairResult*> used;
  std::vector<std::size_t> first_row;     // per pair, and one past the last

  std::span<const Row> of(std::size_t p) const {
    return std::span<const Row>(rows).subspan(first_row[p], first_row[p + 1] - first_row[p]);
  }
  double limit(std::size_t p) const { return used[p]->windows.empty() ? kDecidedLimitSec : kRefinedLimitSec; }
};

// Every window of a refined pair is an equation; a pair without windows gives its
// decided offset once, at the middle of the overlap it implies.
PairRows pair_rows(const SyncGroup& group, const std::vector<PairResult>& pairs) {
  std::map<int, int> slot;
  for (std::size_t s = 0; s < group.members.size(); ++s) slot[group.members[s].entry] = static_cast<int>(s);
  PairRows out;
  for (const PairResult& pair : pairs) {
    const auto s = slot.find(pair.shorter), l = slot.find(pair.longer);
    if (s == slot.end() || l == slot.end() || s->second == l->second) continue;
    const int p = static_cast<int>(out.used.size());
    out.used.push_back(&pair);
    out.ends.emplace_back(s->second, l->second);
    if (!pair.windows.empty()) {
      for (const OffsetSample& w : pair.windows) out.rows.push_back({p, s->second, l->second, w.at, w.offset});
    } else {
      const double from = std::max(0.0, pair.offset);
      const double to = std::min(group.members[static_cast<std::size_t>(s->second)].length,
                                 group.members[static_cast<std::size_t>(l->second)].length + pair.offset);
      out.rows.push_back({p, s->second, l->second, to > from ? 0.5 * (from + to) : from, pair.offset,
                          kDecidedSigmaSec});
    }
  }
  out.first_row.assign(out.used.size() + 1, out.rows.size());
  for (std::size_t r = out.rows.size(); r-- > 0;) out.first_row[static_cast<std::size_t>(out.rows[r].pair)] = r;
  return out;
}

// Leaves out, one at a time, the pair the others disagree with most beyond its limit,
// while the rest still link every member; `normal` and `fit` follow. Each pair left out
// goes to `dropped`. False when a system cannot be solved.
bool drop_outliers(const PairRows& pr, const Model& m, int members, Normal& normal,
                   std::optional<Fit>& fit, std::vector<bool>& use, std::vector<DroppedPair>& dropped) {
  for (;;) {
    // Only a pair the whole solution already strains can be the one that is wrong; it is
    // judged by how far the others, without it, put its files apart.
    int worst = -1;
    double worst_ratio = 1.0, worst_gap = 0.0;
    for (std::size_t p = 0; p < pr.used.size(); ++p) {
      const int pi = static_cast<int>(p);
      if (!use[p] || disagreement(pr.of(p), *fit, m) <= 0.5 * pr.limit(p)) continue;
      use[p] = false;
      if (linked(pr.ends, use, members)) {
        Normal without = normal;
        for (const Row& row : pr.of(p)) accumulate(without, row, m, -1.0);
        if (const std::optional<Fit> others = solve(without, m)) {
          const double gap = disagreement(pr.of(p), *others, m);
          const double ratio = gap / pr.limit(p);
          const bool fewer_windows =
              worst >= 0 && pr.used[p]->windows.size() < pr.used[static_cast<std::size_t>(worst)]->windows.size();
          if (ratio > worst_ratio * 1.01 || (ratio > 1.0 && ratio > worst_ratio * 0.99 && fewer_windows)) {
            worst = pi;
            worst_ratio = ratio;
            worst_gap = gap;
          }
        }
      }
      use[p] = true;
    }
    if (worst < 0) return true;
    use[static_cast<std::size_t>(worst)] = false;
    for (const Row& row : pr.of(static_cast<std::size_t>(worst))) accumulate(normal, row, m, -1.0);
    const PairResult& left_out = *pr.used[static_cast<std::size_t>(worst)];
    dropped.push_back({left_out.shorter, left_out.longer, worst_gap * kMs});
    fit = solve(normal, m);
    if (!fit) return false;
  }
}

// The rates' errors from the windows' assumed spread, or from what is left over if that
// is more.
void scale_rate_errors(Fit& fit, const PairRows& pr, const std::vector<bool>& use, const Model& m) {
  double chi2 = 0.0;
  int count = 0;
  for (const Row& row : pr.rows) {
    if (!use[static_cast<std::size_t>(row.pair)]) continue;
    const double e = residual(row, fit, m) / row.sigma;
    chi2 += e * e;
    ++count;
  }
  if (count > m.columns) fit.rate_errors *= std::sqrt(std::max(1.0, chi2 / (count - m.columns)));
}

// The solution written into the group: each member's exact start and clock rate, and
// one clock per device in ascending device, with the pairs and windows it rests on.
void write_clocks(SyncGroup& group, const Fit& fit, const Model& m, const PairRows& pr,
                  const std::vector<bool>& use, const std::vector<int>& device_ids) {
  const std::size_t n = group.members.size();
  double earliest = fit.offsets.minCoeff();
  for (std::size_t s = 0; s < n; ++s) {
    TimelineMember& member = group.members[s];
    const double q = fit.rates[m.device_of[s]];
    member.exact_start = fit.offsets[static_cast<Eigen::Index>(s)] - earliest;
    member.rate_ppm = (1.0 / (1.0 + q) - 1.0) * kPpm;
    member.reference_clock = m.device_of[s] == m.reference_device;
  }
  for (int d = 0; d < m.devices; ++d) {
    DeviceClock clock;
    clock.device = device_ids[static_cast<std::size_t>(d)];
    clock.reference = d == m.reference_device;
    const double q = fit.rates[d];
    clock.rate_ppm = (1.0 / (1.0 + q) - 1.0) * kPpm;
    clock.rate_error_ppm = fit.rate_errors[d] * kPpm;
    double sum2 = 0.0;
    int count = 0;
    for (std::size_t p = 0; p < pr.used.size(); ++p) {
      if (!use[p]) continue;
      const bool touches = m.device_of[static_cast<std::size_t>(pr.ends[p].first)] == d ||
                           m.device_of[static_cast<std::size_t>(pr.ends[p].second)] == d;
      if (!touches) continue;
      ++clock.pairs;
      for (const Row& r : pr.of(p)) {
        if (r.sigma != kWindowSigmaSec) continue;
        const double e = residual(r, fit, m);
        sum2 += e * e;
        ++count;
      }
    }
    clock.residual_ms = count ? std::sqrt(sum2 / count) * kMs : 0.0;
    for (std::size_t s = 0; s < n; ++s)
      if (m.device_of[s] == d) {
        clock.start = group.members[s].exact_start;
        break;
      }
    group.clocks.push_back(clock);
  }
  std::sort(group.clocks.begin(), group.clocks.end(),
            [](const DeviceClock& a, const DeviceClock& b) { return a.device < b.device; });
}

}  // namespace

bool solve_device_clocks(SyncGroup& group, const std::vector<PairResult>& pairs) {
  group.clocks.clear();
  group.dropped.clear();
  const int members = static_cast<int>(group.members.size());
  if (members < 2) return false;
  std::vector<int> device_ids;
  const Model m = device_model(group, device_ids);
  const PairRows pr = pair_rows(group, pairs);
  std::vector<bool> use(pr.used.size(), true);
  if (pr.used.empty() || !linked(pr.ends, use, members)) return false;

  Normal normal = normal_of(pr.rows, use, m);
  std::optional<Fit> fit = solve(normal, m);
  if (!fit) return false;
  std::vector<DroppedPair> dropped;
  if (!drop_outliers(pr, m, members, normal, fit, use, dropped)) return false;
  fit = solve(normal, m, true);
  if (!fit) return false;
  scale_rate_errors(*fit, pr, use, m);
  write_clocks(group, *fit, m, pr, use, device_ids);
  group.dropped = std::move(dropped);
  return true;
}

std::vector<std::string> clock_log_lines(const SyncGroup& group) {
  const auto name = [&](int entry) {
    for (const TimelineMember& member : group.members)
      if (member.entry == entry) return file_name(member.path);
    return std::to_string(entry);
  };
  std::vector<std::string> lines;
  for (const DeviceClock& c : group.clocks) {
    std::string rate = fixed_text(c.rate_ppm, 2);
    if (rate.front() != '-') rate.insert(0, "+");
    lines.push_back("clock of " + name(c.device) + ": starts " + fixed_text(c.start, 6) + " s, rate " +
                    rate + " ppm" + (c.reference ? " (reference)" : "") + ", " +
                    std::to_string(c.pairs) + (c.pairs == 1 ? " pair" : " pairs") + ", residual " +
                    fixed_text(c.residual_ms, 3) + " ms");
  }
  for (const DroppedPair& d : group.dropped)
    lines.push_back("clock: pair " + name(d.shorter) + " <-> " + name(d.longer) +
                    " left out, it disagrees with the others by " + fixed_text(d.disagreement_ms, 1) +
                    " ms");
  return lines;
}
