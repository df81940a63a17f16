// Variates of the twenty distributions drawn from a RandomStream's uniform source: each
// distribution has a getter, a filler and (where a set-up costs logarithms) a cached
// set-up in the stream. Seeding and the uniforms themselves are zrandom.cpp's.
#include "numerics/zranvar.h"

#include "numerics/zelementary.h"
#include "support/hostif.h"

#include <cfloat>
#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kLn4 = 1.3862943611198906;
constexpr double kTinyStart = 2.2250738585072018e-307; // binomial start/term floor
constexpr double kTinyTerm = 1.110223024625157e-16;    // Poisson term floor
constexpr double kCumLimit = 0.9999999999999999;       // a search stops at this sum

double uni(RandomStream* s) { return s->uniformSource(s); }

// Parameter checks, written so that a not-a-number parameter fails them.
[[nodiscard]] bool finitePositive(double x) { return x > 0.0 && x < HUGE_VAL; }
[[nodiscard]] bool probability(double p) { return p >= 0.0 && p <= 1.0; }

[[nodiscard]] bool okBernoulli(double p) { return probability(p); }
[[nodiscard]] bool okBeta(double a, double b) { return finitePositive(a) && finitePositive(b); }
[[nodiscard]] bool okBinomial(int64_t n, double p) { return n >= 0 && probability(p); }
[[nodiscard]] bool okChisquare(double df) { return finitePositive(df); }
[[nodiscard]] bool okErlang(int32_t k) { return k >= 1; }
[[nodiscard]] bool okF(double d1, double d2) { return finitePositive(d1) && finitePositive(d2); }
[[nodiscard]] bool okGamma(double a) { return finitePositive(a); }
[[nodiscard]] bool okGeometric(double p) { return p > 0.0 && p <= 1.0; }
[[nodiscard]] bool okHyper(int64_t N, int64_t R, int64_t n) { return N >= 1 && N >= R && N >= n; }
[[nodiscard]] bool okNegbin(double p, double k) { return p > 0.0 && p <= 1.0 && finitePositive(k); }
[[nodiscard]] bool okPoisson(double lambda) { return lambda >= 0.0 && lambda < HUGE_VAL; }
[[nodiscard]] bool okTable(int64_t n, const double* probs) { return n < 1 || probs != nullptr; }
[[nodiscard]] bool okT(double df) { return df >= 0.1 && df < HUGE_VAL; }
[[nodiscard]] bool okTriangle(double h) { return probability(h); }
[[nodiscard]] bool okWeibull(double a, double b) { return finitePositive(a) && finitePositive(b); }

// ---- normal (Marsaglia's polar method) -------------------------------------------------

double drawNormal(RandomStream* s) {
  if (s->normalHeld) {
    s->normalHeld = 0;
    return s->normalValue;
  }
  double w1, w2, q;
  do {
    double u1 = uni(s), u2 = uni(s);
    w1 = 2.0 * u1 - 1.0;
    w2 = 2.0 * u2 - 1.0;
    q = w1 * w1 + w2 * w2;
  } while (q >= 1.0 || q == 0.0); // q = 0 would divide by zero
  double f = std::sqrt(-2.0 * std::log(q) / q);
  s->normalValue = w2 * f;
  s->normalHeld = 1;
  return w1 * f;
}

// ---- gamma (Cheng's GB for a > 1; a two-part rejection for the fraction) ---------------

double drawGamma(RandomStream* s, double a) {
  RanGammaSetup& g = s->gammaSetup;
  if (!g.ready || g.a != a) {
    g.ready = 1;
    g.a = a;
    g.whole = a >= 2147483647.0 ? 2147483647 : static_cast<int64_t>(std::floor(a));
    g.fraction = a - static_cast<double>(g.whole);
    if (a > 1.0) {
      g.c[0] = 1.0 / std::sqrt(2.0 * a - 1.0); // b
      g.c[1] = a - kLn4;                       // c
      g.c[2] = a + 1.0 / g.c[0];               // d
    } else if (g.fraction > 0.0) {
      const double f = g.fraction;
      g.c[0] = 1.0 / f;
      g.c[1] = f - 1.0;
      g.c[2] = 0.5 / (f * 0.606530659712633 + 0.5);
    }
  }
  if (a > 1.0) {
    const double b = g.c[0], c = g.c[1], d = g.c[2];
    for (;;) {
      double u1 = uni(s), u2 = uni(s);
      double v = b * std::log(u1 / (1.0 - u1));
      double x = a * std::exp(v);
      if (v * d + c - x >= std::log(u1 * u1 * u2))
        return x;
    }
  }
  double y = 0.0;
  if (g.fraction > 0.0) {
    const double c1 = g.c[0], c2 = g.c[1], c3 = g.c[2];
    for (;;) {
      double u1 = uni(s), u2 = uni(s);
      if (u1 > c3) {
        y = 0.5 - std::log(u2);
        double u3 = uni(s);
        if (u3 <= std::pow(2.0 * y, c2))
          break;
      } else {
        y = 0.5 * std::pow(u2, c1);
        double u3 = uni(s);
        if (u3 <= std::exp(-y))
          break;
      }
    }
  }
  if (g.whole > 0) {
    double product = 1.0;
    for (int64_t i = 0; i < g.whole; ++i)
      product *= uni(s);
    y -= std::log(product);
  }
  return y;
}

// ---- beta ------------------------------------------------------------------------------

enum BetaCase { BETA_BB = 1, BETA_BC = 2, BETA_SWITCH = 3 };

// Cheng's BB for a, b > 1. Constants: c[0] case, c[1] smaller, c[2] larger, c[3] alpha,
// c[4] beta, c[5] gamma.
double betaBB(RandomStream* s, double a) {
  const double* c = s->betaSetup.c;
  const double a0 = c[1], b0 = c[2], alpha = c[3], beta = c[4], gamma = c[5];
  double w;
  for (;;) {
    double u1 = uni(s), u2 = uni(s);
    double v = beta * std::log(u1 / (1.0 - u1));
    w = a0 * std::exp(v);
    if (w > DBL_MAX)
      w = DBL_MAX;
    double z = u1 * u1 * u2;
    double r = gamma * v - 1.38629436;
    double t = a0 + r - w;
    if (5.0 * z < t + 2.60943791)
      break;
    double lz = std::log(z);
    if (t > lz)
      break;
    if (r + alpha * std::log(alpha / (b0 + w)) >= lz)
      break;
  }
  return a0 == a ? w / (b0 + w) : b0 / (b0 + w);
}

// Cheng's BC for min(a, b) <= 1. Constants: c[1] larger, c[2] smaller, c[3] alpha,
// c[4] k1, c[5] k2, c[6] overflow bound of v.
double betaBC(RandomStream* s, double a) {
  const double* c = s->betaSetup.c;
  const double a0 = c[1], b0 = c[2], alpha = c[3], k1 = c[4], k2 = c[5], vmax = c[6];
  double v = 0.0, w = 0.0;
  auto vw = [&](double u1) {
    v = std::log(u1 / (1.0 - u1)) / b0;
    w = v > vmax ? DBL_MAX : a0 * std::exp(v);
  };
  for (;;) {
    double u1 = uni(s), u2 = uni(s), z;
    if (u1 < 0.5) {
      double y = u1 * u2;
      z = u1 * y;
      if (0.25 * u2 + z - y >= k1)
        continue;
    } else {
      z = u1 * u1 * u2;
      if (z <= 0.25) {
        vw(u1);
        break;
      }
      if (z >= k2)
        continue;
    }
    vw(u1);
    if (alpha * (std::log(alpha / (b0 + w)) + v) - 1.38629436 >= std::log(z))
      break;
  }
  return a0 == a ? w / (b0 + w) : b0 / (b0 + w);
}

// The switching method of Atkinson and Whittaker for a, b < 1: c[1] t, c[2] p.
double betaSwitch(RandomStream* s, double a, double b) {
  const double t = s->betaSetup.c[1], p = s->betaSetup.c[2];
  for (;;) {
    double u = uni(s);
    double e = -std::log(uni(s));
    if (u <= p) {
      double x = t * std::pow(u / p, 1.0 / a);
      if (e >= (1.0 - b) * std::log((1.0 - x) / (1.0 - t)))
        return x;
    } else {
      double x = 1.0 - (1.0 - t) * std::pow((1.0 - u) / (1.0 - p), 1.0 / b);
      if (e >= (1.0 - a) * std::log(x / t))
        return x;
    }
  }
}

void betaSetup(RandomStream* s, double a, double b, int which) {
  RanBetaSetup& st = s->betaSetup;
  if (st.ready && st.a == a && st.b == b)
    return;
  st.ready = 1;
  st.a = a;
  st.b = b;
  double* c = st.c;
  c[0] = which;
  if (which == BETA_BB) {
    const double a0 = std::min(a, b), b0 = std::max(a, b), alpha = a0 + b0;
    const double beta = std::sqrt((alpha - 2.0) / (2.0 * a0 * b0 - alpha));
    c[1] = a0;
    c[2] = b0;
    c[3] = alpha;
    c[4] = beta;
    c[5] = a0 + 1.0 / beta;
  } else if (which == BETA_BC) {
    const double a0 = std::max(a, b), b0 = std::min(a, b), alpha = a0 + b0;
    const double beta = 1.0 / b0, delta = 1.0 + a0 - b0;
    c[1] = a0;
    c[2] = b0;
    c[3] = alpha;
    c[4] = delta * (0.0138888889 + 0.0416666667 * b0) / (a0 * beta - 0.777777778);
    c[5] = 0.25 + (0.5 + 0.25 / delta) * b0;
    c[6] = 709.782712893384 - std::log(a0);
  } else {
    const double t = 1.0 / (1.0 + std::sqrt(b * (1.0 - b) / (a * (1.0 - a))));
    c[1] = t;
    c[2] = b * t / (b * t + a * (1.0 - t));
  }
}

double drawBeta(RandomStream* s, double a, double b) {
  if (a == 1.0) {
    double u = uni(s);
    return b == 1.0 ? u : 1.0 - std::pow(u, 1.0 / b);
  }
  if (b == 1.0)
    return std::pow(uni(s), 1.0 / a);
  if (a > 1.0 && b > 1.0) {
    betaSetup(s, a, b, BETA_BB);
    return betaBB(s, a);
  }
  if (a < 1.0 && b < 1.0) {
    betaSetup(s, a, b, BETA_SWITCH);
    return betaSwitch(s, a, b);
  }
  betaSetup(s, a, b, BETA_BC);
  return betaBC(s, a);
}

// ---- binomial --------------------------------------------------------------------------

double drawBinomial(RandomStream* s, int64_t n, double p) {
  RanBinomialSetup& st = s->binomialSetup;
  const double dn = static_cast<double>(n);
  if (!st.ready || st.p != p || st.n != n) {
    st.ready = 1;
    st.p = p;
    st.n = n;
    st.np = dn * p;
    st.sigma = std::sqrt((1.0 - p) * st.np);
    double q;
    if (p <= 0.5) {
      st.start = std::exp(dn * std::log(1.0 - p));
      q = p;
    } else {
      st.start = std::exp(dn * std::log(p));
      q = 1.0 - p;
    }
    st.ratio = q / (1.0 - q);
    st.ratioN1 = (dn + 1.0) * st.ratio;
  }
  if (n > 300 && st.np > 5.0 && dn * (1.0 - p) > 5.0) {
    for (;;) {
      double u1 = uni(s), u2 = uni(s);
      double x = std::trunc(std::cos(kTwoPi * u2) * std::sqrt(-2.0 * std::log(u1)) * st.sigma +
                            st.np + 0.5);
      if (x >= 0.0 && x <= dn)
        return x;
    }
  }
  if (st.start < kTinyStart)
    return hostMissing();
  double u = uni(s);
  double x = 0.0, f = st.start, F = st.start;
  while (F < u && F <= kCumLimit && f >= kTinyStart) {
    x += 1.0;
    f = f * (st.ratioN1 / x - st.ratio);
    F += f;
  }
  return p <= 0.5 ? x : dn - x;
}

// ---- Poisson ---------------------------------------------------------------------------

// Inversion from 0 with the given start probability e^-lambda.
double poissonInvert(RandomStream* s, double lambda, double start, double limit) {
  double u = uni(s);
  double x = 0.0, F = start, P = start;
  while (F < u && F <= limit && P >= kTinyTerm) {
    x += 1.0;
    P = P * lambda / x;
    F += P;
  }
  return x;
}

double drawPoisson(RandomStream* s, double lambda) {
  RanPoissonSetup& st = s->poissonSetup;
  if (!st.ready || st.lambda != lambda) {
    st.ready = 1;
    st.lambda = lambda;
    if (lambda < 85.0) {
      const double m = std::floor(lambda);
      st.m = m;
      st.limit = kCumLimit;
      st.expRest = std::exp(m - lambda);
      st.expLambda = std::exp(-lambda);
      double P = std::exp(-m), F = P;
      for (double i = 1.0; i <= m; i += 1.0) {
        P = P * m / i;
        F += P;
      }
      st.probM = P;
      st.cumM = F;
      st.mode = (lambda >= 8.0 || lambda == m) ? RANPOIS_SEARCH_FROM_M : RANPOIS_INVERSION;
    } else {
      st.mode = RANPOIS_NORMAL_APPROX;
    }
  }
  if (st.mode == RANPOIS_INVERSION)
    return poissonInvert(s, lambda, st.expLambda, st.limit);
  if (st.mode == RANPOIS_NORMAL_APPROX) {
    double u1 = uni(s), u2 = uni(s);
    double x =
        std::floor(lambda + 0.5 + std::sqrt(-2.0 * lambda * std::log(u1)) * std::cos(kTwoPi * u2));
    return x >= 0.0 ? x : 0.0;
  }
  const double m = st.m;
  double u = uni(s);
  double x = m, F = st.cumM, P = st.probM;
  if (u <= F) {
    while (x != 0.0) {
      F -= P;
      if (F < u)
        break;
      P = P * x / m;
      x -= 1.0;
    }
  } else {
    do {
      x += 1.0;
      P = P * m / x;
      F += P;
      if (u <= F || F >= st.limit)
        break;
    } while (P > kTinyTerm);
  }
  if (lambda == m)
    return x;
  return x + poissonInvert(s, lambda - m, st.expRest, st.limit);
}

// ---- the others ------------------------------------------------------------------------

double drawCauchy(RandomStream* s) {
  double v1, v2;
  do {
    v1 = uni(s) - 0.5;
    v2 = uni(s) - 0.5;
  } while (v1 * v1 + v2 * v2 > 0.25 || v2 == 0.0); // v2 = 0 would divide by zero
  return v1 / v2;
}

double drawGeometric(RandomStream* s, double p) {
  if (p == 1.0)
    return 1.0;
  if (p < 0.001)
    return std::ceil(std::log(uni(s)) / zln1px(-p));
  double x = 1.0;
  while (uni(s) > p)
    x += 1.0;
  return x;
}

double drawHyper(RandomStream* s, int64_t N, int64_t R, int64_t n) {
  if (n <= 0 || R < 0)
    return 0.0;
  double remaining = static_cast<double>(N), marked = static_cast<double>(R), count = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    if (uni(s) <= marked / remaining) {
      count += 1.0;
      marked -= 1.0;
    }
    remaining -= 1.0;
  }
  return count;
}

double drawTable(RandomStream* s, int64_t n, const double* probs) {
  if (n < 1)
    return 1.0;
  double u = uni(s), sum = 0.0;
  for (int64_t j = 0; j < n; ++j) {
    sum += probs[j];
    if (sum >= u)
      return static_cast<double>(j + 1);
  }
  return static_cast<double>(n) + 1.0;
}

double drawT(RandomStream* s, double df) {
  double z = drawNormal(s);
  return z / std::sqrt(2.0 * drawGamma(s, df / 2.0) / df);
}

double drawF(RandomStream* s, double d1, double d2) {
  double b = drawBeta(s, d1 / 2.0, d2 / 2.0);
  if (b == 1.0)
    return 0.0;
  return (d2 * b / d1) / (1.0 - b);
}

double drawNegbin(RandomStream* s, double p, double k) {
  if (p == 1.0)
    return 0.0;
  return drawPoisson(s, drawGamma(s, k) * (1.0 - p) / p);
}

double drawTriangle(RandomStream* s, double h) {
  double u = uni(s);
  return u <= h ? std::sqrt(u * h) : 1.0 - std::sqrt((1.0 - h) * (1.0 - u));
}

// A filler: the check once, then bufferLength draws (or the missing value throughout).
template <class Draw> int32_t fill(RandomStream* s, bool valid, Draw draw) {
  if (!s->buffer || s->bufferLength == 0)
    return 1;
  const double missing = hostMissing();
  for (uint32_t i = 0; i < s->bufferLength; ++i)
    s->buffer[i] = valid ? draw() : missing;
  return 0;
}

template <class Fn> RanFunction asEntry(Fn fn) { return reinterpret_cast<RanFunction>(fn); }

} // namespace

// ---- getters ---------------------------------------------------------------------------

double GetOneVariateBERNOULLI(RandomStream* s, double p) {
  return okBernoulli(p) ? (uni(s) <= p ? 1.0 : 0.0) : hostMissing();
}
double GetOneVariateBETA(RandomStream* s, double a, double b) {
  return okBeta(a, b) ? drawBeta(s, a, b) : hostMissing();
}
double GetOneVariateBINOMIAL(RandomStream* s, int64_t n, double p) {
  return okBinomial(n, p) ? drawBinomial(s, n, p) : hostMissing();
}
double GetOneVariateCAUCHY(RandomStream* s) { return drawCauchy(s); }
double GetOneVariateCHISQUARE(RandomStream* s, double df) {
  return okChisquare(df) ? 2.0 * drawGamma(s, df / 2.0) : hostMissing();
}
double GetOneVariateERLANG(RandomStream* s, int32_t k) {
  return okErlang(k) ? drawGamma(s, static_cast<double>(k)) : hostMissing();
}
double GetOneVariateEXPONENTIAL(RandomStream* s) { return -std::log(uni(s)); }
double GetOneVariateF(RandomStream* s, double df1, double df2) {
  return okF(df1, df2) ? drawF(s, df1, df2) : hostMissing();
}
double GetOneVariateGAMMA(RandomStream* s, double a) {
  return okGamma(a) ? drawGamma(s, a) : hostMissing();
}
double GetOneVariateGEOMETRIC(RandomStream* s, double p) {
  return okGeometric(p) ? drawGeometric(s, p) : hostMissing();
}
double GetOneVariateHYPERGEOMETRIC(RandomStream* s, int64_t N, int64_t R, int64_t n) {
  return okHyper(N, R, n) ? drawHyper(s, N, R, n) : hostMissing();
}
double GetOneVariateLOGNORMAL(RandomStream* s) { return std::exp(drawNormal(s)); }
double GetOneVariateNEGBINOMIAL(RandomStream* s, double p, double k) {
  return okNegbin(p, k) ? drawNegbin(s, p, k) : hostMissing();
}
double GetOneVariateNORMAL(RandomStream* s) { return drawNormal(s); }
double GetOneVariatePOISSON(RandomStream* s, double lambda) {
  return okPoisson(lambda) ? drawPoisson(s, lambda) : hostMissing();
}
double GetOneVariateTABLE(RandomStream* s, int64_t n, const double* probs) {
  return okTable(n, probs) ? drawTable(s, n, probs) : hostMissing();
}
double GetOneVariateT(RandomStream* s, double df) { return okT(df) ? drawT(s, df) : hostMissing(); }
double GetOneVariateTRIANGLE(RandomStream* s, double h) {
  return okTriangle(h) ? drawTriangle(s, h) : hostMissing();
}
double GetOneVariateUNIFORM(RandomStream* s) { return uni(s); }
double GetOneVariateWEIBULL(RandomStream* s, double a, double b) {
  return okWeibull(a, b) ? b * std::pow(-std::log(uni(s)), 1.0 / a) : hostMissing();
}

// ---- fillers ---------------------------------------------------------------------------

int32_t FillTheBufferBERNOULLI(RandomStream* s, double p) {
  return fill(s, okBernoulli(p), [&] { return uni(s) <= p ? 1.0 : 0.0; });
}
int32_t FillTheBufferBETA(RandomStream* s, double a, double b) {
  return fill(s, okBeta(a, b), [&] { return drawBeta(s, a, b); });
}
int32_t FillTheBufferBINOMIAL(RandomStream* s, int64_t n, double p) {
  return fill(s, okBinomial(n, p), [&] { return drawBinomial(s, n, p); });
}
int32_t FillTheBufferCAUCHY(RandomStream* s) {
  return fill(s, true, [&] { return drawCauchy(s); });
}
int32_t FillTheBufferCHISQUARE(RandomStream* s, double df) {
  return fill(s, okChisquare(df), [&] { return 2.0 * drawGamma(s, df / 2.0); });
}
int32_t FillTheBufferERLANG(RandomStream* s, int32_t k) {
  return fill(s, okErlang(k), [&] { return drawGamma(s, static_cast<double>(k)); });
}
int32_t FillTheBufferEXPONENTIAL(RandomStream* s) {
  return fill(s, true, [&] { return -std::log(uni(s)); });
}
int32_t FillTheBufferF(RandomStream* s, double df1, double df2) {
  return fill(s, okF(df1, df2), [&] { return drawF(s, df1, df2); });
}
int32_t FillTheBufferGAMMA(RandomStream* s, double a) {
  return fill(s, okGamma(a), [&] { return drawGamma(s, a); });
}
int32_t FillTheBufferGEOMETRIC(RandomStream* s, double p) {
  return fill(s, okGeometric(p), [&] { return drawGeometric(s, p); });
}
int32_t FillTheBufferHYPERGEOMETRIC(RandomStream* s, int64_t N, int64_t R, int64_t n) {
  return fill(s, okHyper(N, R, n), [&] { return drawHyper(s, N, R, n); });
}
int32_t FillTheBufferLOGNORMAL(RandomStream* s) {
  return fill(s, true, [&] { return std::exp(drawNormal(s)); });
}
int32_t FillTheBufferNEGBINOMIAL(RandomStream* s, double p, double k) {
  return fill(s, okNegbin(p, k), [&] { return drawNegbin(s, p, k); });
}
int32_t FillTheBufferNORMAL(RandomStream* s) {
  return fill(s, true, [&] { return drawNormal(s); });
}
int32_t FillTheBufferPOISSON(RandomStream* s, double lambda) {
  return fill(s, okPoisson(lambda), [&] { return drawPoisson(s, lambda); });
}
int32_t FillTheBufferTABLE(RandomStream* s, int64_t n, const double* probs) {
  return fill(s, okTable(n, probs), [&] { return drawTable(s, n, probs); });
}
int32_t FillTheBufferT(RandomStream* s, double df) {
  return fill(s, okT(df), [&] { return drawT(s, df); });
}
int32_t FillTheBufferTRIANGLE(RandomStream* s, double h) {
  return fill(s, okTriangle(h), [&] { return drawTriangle(s, h); });
}
int32_t FillTheBufferUNIFORM(RandomStream* s) {
  return fill(s, true, [&] { return uni(s); });
}
int32_t FillTheBufferWEIBULL(RandomStream* s, double a, double b) {
  return fill(s, okWeibull(a, b), [&] { return b * std::pow(-std::log(uni(s)), 1.0 / a); });
}

void zranFillTables(RandomStream* s) {
#define QRX_RAN_ENTRY(NAME)                                                                        \
  s->getters[RAN_##NAME] = asEntry(GetOneVariate##NAME);                                           \
  s->fillers[RAN_##NAME] = asEntry(FillTheBuffer##NAME)
  QRX_RAN_ENTRY(BERNOULLI);
  QRX_RAN_ENTRY(BETA);
  QRX_RAN_ENTRY(BINOMIAL);
  QRX_RAN_ENTRY(CAUCHY);
  QRX_RAN_ENTRY(CHISQUARE);
  QRX_RAN_ENTRY(ERLANG);
  QRX_RAN_ENTRY(EXPONENTIAL);
  QRX_RAN_ENTRY(F);
  QRX_RAN_ENTRY(GAMMA);
  QRX_RAN_ENTRY(GEOMETRIC);
  QRX_RAN_ENTRY(HYPERGEOMETRIC);
  QRX_RAN_ENTRY(LOGNORMAL);
  QRX_RAN_ENTRY(NEGBINOMIAL);
  QRX_RAN_ENTRY(NORMAL);
  QRX_RAN_ENTRY(POISSON);
  QRX_RAN_ENTRY(TABLE);
  QRX_RAN_ENTRY(T);
  QRX_RAN_ENTRY(TRIANGLE);
  QRX_RAN_ENTRY(UNIFORM);
  QRX_RAN_ENTRY(WEIBULL);
#undef QRX_RAN_ENTRY
}
