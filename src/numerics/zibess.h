// The modified Bessel function of the first kind I_nu(x) for real order nu >= 0 and x >= 0,
// computed on the log scale (power series, Debye's uniform expansion, backward recurrence,
// large-argument expansion). The caller chooses I, e^-x I or ln I. Used by the noncentral
// chi-square and F densities.
#pragma once

#include <cstdint>

struct BesselRequest {
  double x = 0.0;
  double halfX = 0.0, halfXSq = 0.0; // set on entry
  double nu = 0.0;
  double frac = 0.0;     // fractional part of nu
  double twoOverX = 0.0; // set for the recurrence
  double order = 0.0;    // working order of the series and the Debye expansion
  double logUpper = 0.0, logLower = 0.0;
  double result = 0.0;
  int32_t nuInt = 0;
  int32_t start = 0;
  int32_t scaled = 0; // set by the large-argument route (its value is ln(e^-x I))
  int32_t kind = 0;   // 0 I_nu(x), 1 e^-x I_nu(x), 2 ln I_nu(x)
  int32_t error = 0;
};

// Returns the error field: 0 success, 1 failure; the answer is in req->result.
[[nodiscard]] int32_t zibess(BesselRequest* req);
// ln I_nu(x) into *logI; 0 on success (a wrapper for the probability routines).
[[nodiscard]] int32_t zbess(double nu, double x, double* logI);

namespace bessel {
double series(BesselRequest* req, double mu);
double largen(BesselRequest* req, double mu);
double recur(BesselRequest* req);
double largex(BesselRequest* req);
// Entry k - 1 of out (k = 1..11) receives u_k(t) / mu^k with p = t / mu.
void get_u(double p, double t, double* out);
} // namespace bessel
