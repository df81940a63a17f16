// The procedure's random stream: a 32-bit Mersenne twister with its own state, a uniform
// source and the getters and buffer fillers of twenty distributions, plus its seeding.
// The variates themselves are zranvar.cpp's; methods, reports and clock seeds are
// zrngopt.h's and zrngseed.h's.
#pragma once

#include <cstdint>

struct RandomStream;

// A getter or filler as kept in the stream's tables; ranGetter/ranFiller give it its type.
using RanFunction = void (*)();
using RanUniformFn = double (*)(RandomStream* stream);

// Distribution numbers: the index of each distribution in the getter and filler tables.
enum RanDistribution : int32_t {
  RAN_BERNOULLI = 0,
  RAN_BETA = 1,
  RAN_BINOMIAL = 2,
  RAN_CAUCHY = 3,
  RAN_CHISQUARE = 4,
  RAN_ERLANG = 5,
  RAN_EXPONENTIAL = 6,
  RAN_F = 7,
  RAN_GAMMA = 8,
  RAN_GEOMETRIC = 9,
  RAN_HYPERGEOMETRIC = 10,
  RAN_LOGNORMAL = 11,
  RAN_NEGBINOMIAL = 12,
  RAN_NORMAL = 13,
  RAN_POISSON = 14,
  RAN_TABLE = 15,
  RAN_T = 16,
  RAN_TRIANGLE = 17,
  RAN_UNIFORM = 18,
  RAN_WEIBULL = 19,
  RAN_COUNT = 20
};

// Cached set-ups of the variates that cost logarithms or exponentials; a set-up is made
// again only when a parameter differs from the kept one. All start at zero.
// Each keeps a ready flag besides its parameters, so that a first call whose parameters
// happen to equal the zeroed ones still makes its set-up.
struct RanBetaSetup {
  int64_t ready;
  double a, b; // parameters of the last call
  double c[8]; // derived constants of the case in use
};
struct RanBinomialSetup {
  int64_t ready;
  double p;
  int64_t n;
  double np;      // n p
  double sigma;   // sqrt(n p (1 - p))
  double start;   // probability of 0 successes of the smaller tail
  double ratio;   // r = q / (1 - q)
  double ratioN1; // (n + 1) r
};
struct RanGammaSetup {
  int64_t ready;
  double a;        // shape of the last call
  int64_t whole;   // integer part of the shape
  double fraction; // fractional part
  double c[5];     // constants of Cheng's GB (a > 1) or of the fractional part (a <= 1)
};
// How a Poisson variate is drawn (RanPoissonSetup::mode).
enum RanPoissonMethod : int64_t {
  RANPOIS_INVERSION = 0,     // inversion from 0
  RANPOIS_SEARCH_FROM_M = 1, // search outwards from m = floor(lambda)
  RANPOIS_NORMAL_APPROX = 2, // the rounded normal approximation (large lambda)
};
struct RanPoissonSetup {
  int64_t ready;
  double lambda;
  double limit;     // cumulative probability at which a search stops
  double expLambda; // e^-lambda
  double expRest;   // e^(m - lambda)
  double cumM;      // F(m) of a Poisson(m)
  double probM;     // P(m) of a Poisson(m)
  double m;         // floor(lambda)
  int64_t mode;     // a RanPoissonMethod
};

// One random stream. The owner zeroes the record before zmrsrnd seeds it and sets
// bufferLength and buffer before calling a filler.
struct RandomStream {
  int64_t seed;        // requested seed; replaced by zmrsrnd when unusable
  int64_t seedInUse;   // the seed the state was made from
  int64_t lastInteger; // last raw twister output that produced a uniform
  RanFunction getters[RAN_COUNT];
  RanFunction fillers[RAN_COUNT];
  uint32_t bufferLength;
  double* buffer;
  uint32_t state[624];
  uint32_t matrixWords[2]; // 0 and 0x9908B0DF
  int32_t stateIndex;      // next state word to temper; 624 after seeding
  int32_t seeded;          // 1 once zmrsrnd has run
  RanBetaSetup betaSetup;
  RanBinomialSetup binomialSetup;
  RanGammaSetup gammaSetup;
  RanPoissonSetup poissonSetup;
  int32_t normalHeld; // 1 when the second normal of a polar pair is held
  double normalValue;
  RanUniformFn uniformSource; // GetNextRanUni after seeding
};

// Seeds the stream: method from OSENV.QRX_RNG_METHOD, unusable seeds replaced or folded,
// 1998 or 2002 seeding, seed in use published as OSENV.QRX_RNG_SEED, tables filled.
void zmrsrnd(RandomStream* stream);
// The next uniform in the open interval (0, 1); a zero twister output is skipped.
double GetNextRanUni(RandomStream* stream);
// Sets the uniform source to GetNextRanUni and returns 1 when flag is 1, else returns 0.
[[nodiscard]] int32_t zmrsetp(int32_t flag, RandomStream* stream);
// Reseeds with a 32-bit seed exactly as zmrsrnd does.
void zmrsReset32(int64_t seed, RandomStream* stream);
// Copies the 624 state words and the seed field from one stream to another.
void zmrsCloneState32(const RandomStream* from, RandomStream* to);

// Fills the getter and filler tables (zranvar.cpp).
void zranFillTables(RandomStream* stream);

// Typed access to the tables.
template <int D> struct RanDist;
#define QRX_RAN_DIST(D, ...)                                                                       \
  template <> struct RanDist<D> {                                                                  \
    using Getter = double (*)(RandomStream * __VA_OPT__(, ) __VA_ARGS__);                          \
    using Filler = int32_t (*)(RandomStream * __VA_OPT__(, ) __VA_ARGS__);                         \
  }
QRX_RAN_DIST(RAN_BERNOULLI, double);
QRX_RAN_DIST(RAN_BETA, double, double);
QRX_RAN_DIST(RAN_BINOMIAL, int64_t, double);
QRX_RAN_DIST(RAN_CAUCHY);
QRX_RAN_DIST(RAN_CHISQUARE, double);
QRX_RAN_DIST(RAN_ERLANG, int32_t);
QRX_RAN_DIST(RAN_EXPONENTIAL);
QRX_RAN_DIST(RAN_F, double, double);
QRX_RAN_DIST(RAN_GAMMA, double);
QRX_RAN_DIST(RAN_GEOMETRIC, double);
QRX_RAN_DIST(RAN_HYPERGEOMETRIC, int64_t, int64_t, int64_t);
QRX_RAN_DIST(RAN_LOGNORMAL);
QRX_RAN_DIST(RAN_NEGBINOMIAL, double, double);
QRX_RAN_DIST(RAN_NORMAL);
QRX_RAN_DIST(RAN_POISSON, double);
QRX_RAN_DIST(RAN_TABLE, int64_t, const double*);
QRX_RAN_DIST(RAN_T, double);
QRX_RAN_DIST(RAN_TRIANGLE, double);
QRX_RAN_DIST(RAN_UNIFORM);
QRX_RAN_DIST(RAN_WEIBULL, double, double);
#undef QRX_RAN_DIST

template <int D> typename RanDist<D>::Getter ranGetter(const RandomStream* stream) {
  return reinterpret_cast<typename RanDist<D>::Getter>(stream->getters[D]);
}
template <int D> typename RanDist<D>::Filler ranFiller(const RandomStream* stream) {
  return reinterpret_cast<typename RanDist<D>::Filler>(stream->fillers[D]);
}
