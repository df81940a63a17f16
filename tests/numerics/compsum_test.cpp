// A residual summed with its rounding carried (CompensatedSum) against its exact value, on rows
// of a response near 1.9e9 less a covariate of the same size times its estimate and two small
// terms (references: mpmath in scripts/gen_trial_step_ref.py). Added up in double the same
// residuals err by up to eps times 1.9e9, 2e-7, the noise that held refined estimates 1e-8 off
// least squares.
#include "numerics/compsum.h"

#include "refcsv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

TEST(CompensatedSum, FarResidualsKeepTheirDigitsInAnyOrder) {
  const auto rows = readCsvRows(std::string(QRX_TEST_DATA) + "/trialstep/compsum.csv");
  ASSERT_GE(rows.size(), 21u);
  double plainWorst = 0.0;
  for (size_t i = 1; i < rows.size(); ++i) {
    double v[8];
    for (int j = 0; j < 8; ++j)
      v[j] = std::stod(rows[i][static_cast<size_t>(j)]);
    const double exact = v[7];
    CompensatedSum forward(v[0]), backward(v[0]);
    double plain = v[0];
    for (int t = 0; t < 3; ++t) {
      forward.addProduct(-v[1 + 2 * t], v[2 + 2 * t]);
      backward.addProduct(-v[5 - 2 * t], v[6 - 2 * t]);
      plain -= v[1 + 2 * t] * v[2 + 2 * t];
    }
    const double ulp = std::nextafter(std::fabs(exact), INFINITY) - std::fabs(exact);
    EXPECT_NEAR(forward.value(), exact, ulp) << "row " << i;
    EXPECT_NEAR(backward.value(), exact, ulp) << "row " << i;
    plainWorst = std::max(plainWorst, std::fabs(plain - exact));
  }
  // The plain sum shows the rounding the compensation removes.
  EXPECT_GT(plainWorst, 1e-8);
}
