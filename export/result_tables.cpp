#include "export/result_tables.h"

#include "core/files.h"

#include <algorithm>
#include <sstream>
#include <locale>
#include <ostream>

namespace {

constexpr int kCsvPrecision = 5;
// Fields of a result column: shorter, longer, offset (s), sections, confidence, most hits;
// the clean table leaves out the last.
constexpr Eigen::Index kResultFields = 6;
constexpr Eigen::Index kCleanFields = 5;

// The numbers of the tables are single precision, as they always were.
Eigen::MatrixXf result_columns(const std::vector<PairResult>& pairs, Eigen::Index fields) {
  Eigen::MatrixXf table(kResultFields, static_cast<Eigen::Index>(pairs.size()));
  for (std::size_t c = 0; c < pairs.size(); ++c) {
    const PairResult& p = pairs[c];
    table.col(static_cast<Eigen::Index>(c)) << static_cast<float>(p.shorter),
        static_cast<float>(p.longer), static_cast<float>(p.offset), static_cast<float>(p.sections),
        p.confidence, static_cast<float>(p.hits);
  }
  return table.topRows(fields);
}

}  // namespace

void export2csv(const char* name, Eigen::MatrixXf table, int cols, int rows) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(kCsvPrecision);
  const Eigen::Index last_row = std::min<Eigen::Index>(rows, table.rows());
  const Eigen::Index last_col = std::min<Eigen::Index>(cols, table.cols());
  for (Eigen::Index r = 0; r < last_row; ++r) {
    for (Eigen::Index c = 0; c < last_col; ++c) out << static_cast<double>(table(r, c)) << ',';
    out << '\n';
  }
  const std::string text = out.str();
  write_files_atomically({{name, &text}});
}

void write_result_tables(const std::vector<PairResult>& pairs,
                         const std::vector<PairResult>& clean, const std::string& folder) {
  const std::string prefix = folder.empty() ? "" : folder + "/";
  export2csv((prefix + "csvtabela.csv").c_str(), result_columns(pairs, kResultFields),
             static_cast<int>(pairs.size()), static_cast<int>(kResultFields));
  export2csv((prefix + "csvtabela-clean.csv").c_str(), result_columns(clean, kCleanFields),
             static_cast<int>(clean.size()), static_cast<int>(kCleanFields));
}
