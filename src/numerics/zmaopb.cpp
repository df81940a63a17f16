// B-spline basis values by the recurrence of de Boor and Cox. The interval search only
// moves forward; repeated knots give zero denominators whose terms count as 0. Knot
// placement is left to the spline options of the design library.
#include "numerics/zmaopb.h"

int32_t zmaopb(int32_t k, int32_t nt, int32_t* left, const double* t, double* b, double* dr,
               double* dl, double x) {
  const int32_t lim = nt - (k > 1 ? k : 1);
  int32_t i = *left;
  while (i < lim && x >= t[i]) {
    ++i;
    *left = i;
  }
  if (x > t[i]) {
    for (int32_t j = 0; j < k; ++j)
      b[j] = 0.0;
    b[k] = 1.0;
    return 1;
  }
  if (k == 0) {
    b[0] = 1.0;
    return 0;
  }
  if (t[k - 1] > x) {
    b[0] = 1.0;
    for (int32_t j = 1; j <= k; ++j)
      b[j] = 0.0;
    return -1;
  }
  b[0] = 1.0;
  for (int32_t j = 0; j < k; ++j) {
    dr[j] = t[i + j] - x;
    dl[j] = x - t[i - 1 - j];
    double saved = 0.0;
    for (int32_t r = 0; r <= j; ++r) {
      double den = dr[r] + dl[j - r];
      double term = den != 0.0 ? b[r] / den : 0.0;
      b[r] = saved + dr[r] * term;
      saved = dl[j - r] * term;
    }
    b[j + 1] = saved;
  }
  return 0;
}
