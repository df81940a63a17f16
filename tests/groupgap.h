// The group LASSO's optimality conditions, for tests that check a solver's answer.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

// The largest violation of the group LASSO's optimality conditions at coefficients b, given
// the gradient g of the half squared error at b and the penalty weight tau: an active group's
// gradient must be -tau sqrt(k) b_g / |b_g|, an inactive group's at most tau sqrt(k) long.
inline double groupOptimalityGap(const std::vector<std::vector<int>>& groups,
                                 const std::vector<double>& b, const std::vector<double>& g,
                                 double tau) {
  double gap = 0;
  for (const auto& grp : groups) {
    const double w = tau * std::sqrt(static_cast<double>(grp.size()));
    double nb = 0, ng = 0;
    for (int j : grp) {
      nb += b[j] * b[j];
      ng += g[j] * g[j];
    }
    nb = std::sqrt(nb);
    if (nb == 0) {
      gap = std::max(gap, std::sqrt(ng) - w);
      continue;
    }
    double d = 0;
    for (int j : grp)
      d += std::pow(g[j] + w * b[j] / nb, 2);
    gap = std::max(gap, std::sqrt(d));
  }
  return gap;
}
