// The design of tests/data/grouplasso/levelpowers.csv, for tests of the group LASSO on it: a
// CLASS variable g1 of 28 levels with 1 to 7 rows each, coded as POLY codes it by the powers
// 1..27 of the level's number, beside two single columns x1 and x2.
#pragma once

#include "refcsv.h"

#include <cmath>
#include <vector>

// The raw columns x1, x2, g1^1, ..., g1^27 and the response y, as read.
inline void readLevelPowers(std::vector<std::vector<double>>& x, std::vector<double>& y) {
  x.assign(29, {});
  y.clear();
  for (const auto& r : readReferenceRows("grouplasso/levelpowers.csv")) {
    x[0].push_back(r[0]);
    x[1].push_back(r[1]);
    for (int k = 1; k <= 27; ++k)
      x[k + 1].push_back(std::pow(r[2], k));
    y.push_back(r[3]);
  }
}
