// Loader of the reference grids under tests/data/numerics (written by
// scripts/gen_numerics_ref.py) and the error measures the accuracy tests share.
#pragma once

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace reftest {

// The rows of one grid file; '#' lines are skipped. "nan", "inf", "-inf" are read as such.
inline std::vector<std::vector<double>> loadGrid(const std::string& name) {
  std::vector<std::vector<double>> rows;
  std::ifstream in(std::string(QRX_TEST_DATA) + "/numerics/" + name);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream ss(line);
    std::vector<double> row;
    std::string tok;
    while (ss >> tok)
      row.push_back(std::strtod(tok.c_str(), nullptr));
    rows.push_back(row);
  }
  return rows;
}

// Relative error of got against want (absolute when want is 0).
inline double relErr(double got, double want) {
  if (got == want)
    return 0.0;
  double d = std::fabs(got - want);
  return want == 0.0 ? d : d / std::fabs(want);
}

// Error of a log probability: the absolute error of the log is the relative error of the
// probability; far tails (|log| > 1) are measured relative to the log itself.
inline double logProbErr(double got, double want) {
  if (got == want)
    return 0.0;
  return std::fabs(got - want) / std::fmax(1.0, std::fabs(want));
}

} // namespace reftest
