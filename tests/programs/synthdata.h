// Synthetic test inputs made at run time from a recipe rather than committed: a 64-bit LCG
// whose draws stay integers (values in units of 10^-d, written with d decimals), followed
// step for step by scripts/synthdata.py, which computes the references on the same text.
// Change one side only together with the other and regenerate the references that read it.
#pragma once

#include "programs/pivotcorpus.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace synthdata {

// The LCG stream: every draw is the upper 32 bits of the next state.
class Draws {
public:
  explicit Draws(uint64_t seed) : state_(seed) {}
  uint64_t bits() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return state_ >> 32;
  }
  // An integer in [0, n).
  int64_t below(uint64_t n) { return static_cast<int64_t>(bits() % n); }
  // A normal-ish draw (twelve uniforms less 6) times scale, floored; scale <= 2^28.
  int64_t normal(int64_t scale) {
    int64_t s = -6 * (int64_t{1} << 32);
    for (int i = 0; i < 12; ++i)
      s += static_cast<int64_t>(bits());
    return (s * scale) >> 32; // an arithmetic shift: the floor, as the script's
  }

private:
  uint64_t state_;
};

// The integer v in units of 10^-decimals as text with that many decimals (at most 18, the
// most an int64_t unit holds).
inline std::string fixed(int64_t v, int decimals) {
  decimals = std::clamp(decimals, 0, 18);
  int64_t unit = 1;
  for (int i = 0; i < decimals; ++i)
    unit *= 10;
  const uint64_t a = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char text[48];
  std::snprintf(text, sizeof text, "%s%llu.%0*llu", v < 0 ? "-" : "",
                static_cast<unsigned long long>(a / unit), decimals,
                static_cast<unsigned long long>(a % unit));
  return text;
}

// The name of level k (from 0).
inline std::string level(int64_t k) {
  char name[24];
  std::snprintf(name, sizeof name, "L%04lld", static_cast<long long>(k + 1));
  return name;
}

constexpr int64_t kE8 = 100000000;

// Each level's normal effect, in eight decimals, in level order: the first draws of the
// generators with a level effect.
inline std::vector<int64_t> levelEffects(Draws& d, int levels) {
  std::vector<int64_t> effect(static_cast<size_t>(levels));
  for (int64_t& e : effect)
    e = d.normal(kE8);
  return effect;
}

// y,z,x1,g: two rows per level; z is the level's number plus noise of sd 1e-7 (ten
// decimals), x1 normal, y the level's normal effect + x1 + normal noise (eight decimals).
// The seed is one on which a rank rule too lax takes a rounding pivot (see the script).
inline std::string levelIndexCsv(int levels = 1500) {
  Draws d(7);
  const std::vector<int64_t> effect = levelEffects(d, levels);
  std::string text = "y,z,x1,g\n";
  for (int r = 0; r < 2 * levels; ++r) {
    const int k = r / 2;
    const int64_t z = (k + 1) * int64_t{10000000000} + d.normal(1000);
    const int64_t x1 = d.normal(kE8);
    const int64_t y = effect[k] + x1 + d.normal(kE8);
    text += fixed(y, 8) + "," + fixed(z, 10) + "," + fixed(x1, 8) + "," + level(k) + "\n";
  }
  return text;
}

// y,w,w5,x1-x6,g: rows 0..rows-2 take levels 0..levels-2 in turn with weights in
// [0.5, 1.5) (six decimals); the last row alone is the last level, of weight 1e-4 in w and
// 1e-5 in w5. y is the level's normal effect of sd 2 + x1 + normal noise. The seed is one on
// which a rank rule too lax takes the last level's rounding pivot (see the script).
inline std::string tinyWeightCsv(int levels = 1000, int rows = 2000) {
  Draws d(15);
  std::vector<int64_t> effect(levels);
  for (int64_t& e : effect)
    e = d.normal(2 * kE8);
  std::string text = "y,w,w5,x1,x2,x3,x4,x5,x6,g\n";
  for (int r = 0; r < rows; ++r) {
    const bool last = r == rows - 1;
    const int k = last ? levels - 1 : r % (levels - 1);
    const int64_t w = 500000 + static_cast<int64_t>((d.bits() * 1000000) >> 32);
    int64_t xs[6];
    for (int64_t& x : xs)
      x = d.normal(kE8);
    const int64_t y = effect[k] + xs[0] + d.normal(kE8);
    text += fixed(y, 8) + "," + fixed(last ? 100 : w, 6) + "," + fixed(last ? 10 : w, 6);
    for (const int64_t x : xs) {
      text += ',';
      text += fixed(x, 8);
    }
    text += ',';
    text += level(k);
    text += '\n';
  }
  return text;
}

// y,g,x1,x2,x3 (six decimals): `strong` distinct levels have effect +-2, the others 0; the
// first `levels` rows take every level in turn, the rest uniform levels;
// y = effect + 1.5 x1 - x2 + normal noise, x1-x3 normal.
inline std::string splitLassoCsv(int rows = 2600, int levels = 1050, int strong = 30) {
  Draws d(45);
  std::vector<int64_t> effect(levels, 0);
  for (int chosen = 0; chosen < strong;) {
    const int64_t k = d.below(levels);
    if (effect[k] == 0) {
      effect[k] = d.below(2) != 0 ? 2000000 : -2000000;
      ++chosen;
    }
  }
  std::string text = "y,g,x1,x2,x3\n";
  for (int r = 0; r < rows; ++r) {
    const int64_t k = r < levels ? r : d.below(levels);
    int64_t x[3];
    for (int64_t& v : x)
      v = d.normal(1000000);
    const int64_t y = effect[k] + ((3 * x[0]) >> 1) - x[1] + d.normal(1000000);
    text += fixed(y, 6) + "," + level(k) + "," + fixed(x[0], 6) + "," + fixed(x[1], 6) + "," +
            fixed(x[2], 6) + "\n";
  }
  return text;
}

// y,g,x1,x2,x3,keep,w (eight decimals): level k has 1 + k % 3 rows; the rows of every 17th
// level from the sixth have keep 0 (no rows in the fit under a role variable), those of the
// 11th and 12th weight 1e-10, the others 1; y = 8 times the level's normal effect + 3 x1 +
// normal noise, x1-x3 normal.
inline std::string effectEmptyCsv(int levels = 60) {
  Draws d(46);
  const std::vector<int64_t> effect = levelEffects(d, levels);
  std::string text = "y,g,x1,x2,x3,keep,w\n";
  for (int k = 0; k < levels; ++k)
    for (int r = 0; r <= k % 3; ++r) {
      int64_t x[3];
      for (int64_t& v : x)
        v = d.normal(kE8);
      const int64_t y = 8 * effect[k] + 3 * x[0] + d.normal(kE8);
      text += fixed(y, 8) + "," + level(k) + "," + fixed(x[0], 8) + "," + fixed(x[1], 8) + "," +
              fixed(x[2], 8) + (k % 17 == 5 ? ",0," : ",1,") +
              (k == 10 || k == 11 ? "1e-10" : "1") + "\n";
    }
  return text;
}

// y,c,x1,x2 (six decimals): every fourth level from the first has effect +-2, the others 0;
// the first `levels` rows take every level in turn, the rest uniform levels;
// y = effect + 1.5 x1 + normal noise, x1 and x2 normal.
inline std::string splitAdaptiveCsv(int rows = 600, int levels = 40) {
  Draws d(48);
  std::vector<int64_t> effect(levels, 0);
  for (int k = 0; k < levels; ++k)
    if (k % 4 == 0)
      effect[k] = d.below(2) != 0 ? 2000000 : -2000000;
  std::string text = "y,c,x1,x2\n";
  for (int r = 0; r < rows; ++r) {
    const int64_t k = r < levels ? r : d.below(levels);
    int64_t x[2];
    for (int64_t& v : x)
      v = d.normal(1000000);
    const int64_t y = effect[k] + ((3 * x[0]) >> 1) + d.normal(1000000);
    text += fixed(y, 6) + "," + level(k) + "," + fixed(x[0], 6) + "," + fixed(x[1], 6) + "\n";
  }
  return text;
}

// y,x1-x6,n1,n2,n3,s: x1-x6 normal (four decimals); n1 and n3 are x1, n2 is x2, each plus
// normal noise of sd 1e-7 (eight decimals); s is (x2 + x3 + x4)(1 + 1e-12) written exactly
// (sixteen decimals); y = 3 x1 - 2 x2 + 1.5 x3 + x4 + 0.5 x5 - x6 + normal noise.
inline std::string nearCopyCsv(int rows = 200) {
  Draws d(52);
  std::string text = "y,x1,x2,x3,x4,x5,x6,n1,n2,n3,s\n";
  for (int r = 0; r < rows; ++r) {
    int64_t x[6];
    for (int64_t& v : x)
      v = d.normal(10000);
    const int64_t y =
        3 * x[0] - 2 * x[1] + ((3 * x[2]) >> 1) + x[3] + (x[4] >> 1) - x[5] + d.normal(10000);
    text += fixed(y, 4);
    for (const int64_t v : x) {
      text += ',';
      text += fixed(v, 4);
    }
    for (const int64_t v : {x[0], x[1], x[0]}) {
      text += ',';
      text += fixed(v * 10000 + d.normal(10), 8);
    }
    text += ',';
    text += fixed((x[1] + x[2] + x[3]) * 1000000000001, 16);
    text += '\n';
  }
  return text;
}

// y,x,z (six decimals): x is 1000 times a squared normal draw, z normal; y is +-20 by the
// parity of floor(x / 100), plus 3 z and normal noise of sd 8. A cubic truncated-power
// basis on x's percentiles is nearly dependent on this skewed x.
inline std::string skewSplineCsv(int rows = 200) {
  Draws d(60);
  std::string text = "y,x,z\n";
  for (int r = 0; r < rows; ++r) {
    const int64_t a = d.normal(1000);
    const int64_t x = a * a * 1000;
    const int64_t z = d.normal(1000000);
    const int64_t e = d.normal(8000000);
    const int64_t y = 3 * z + e + ((x / 100000000) % 2 == 0 ? 20000000 : -20000000);
    text += fixed(y, 6);
    text += ',';
    text += fixed(x, 6);
    text += ',';
    text += fixed(z, 6);
    text += '\n';
  }
  return text;
}

// y,x1..x<cols> (six decimals): the x's normal, y = 2 x1 - 2 x2 + x3 + x4 - x5 + normal
// noise.
inline std::string wideLarCsv(int rows = 260, int cols = 1000) {
  Draws d(54);
  std::string text = "y";
  for (int c = 1; c <= cols; ++c) {
    // Appended piece by piece: GCC 12's optimiser takes "text" + std::string for an
    // overlapping copy (-Wrestrict).
    text += ",x";
    text += std::to_string(c);
  }
  text += "\n";
  std::vector<int64_t> x(static_cast<size_t>(cols));
  for (int r = 0; r < rows; ++r) {
    for (int64_t& v : x)
      v = d.normal(1000000);
    const int64_t y = 2 * x[0] - 2 * x[1] + x[2] + x[3] - x[4] + d.normal(1000000);
    text += fixed(y, 6);
    for (const int64_t v : x) {
      text += ',';
      text += fixed(v, 6);
    }
    text += "\n";
  }
  return text;
}

// y,w,b,x1,x2,x3,c0,g: the first `levels` rows take every level in turn, the rest uniform
// levels; weights in [0.5, 2) (six decimals), except that of the rows after the first
// `levels` five in a hundred weigh 0 and two in a hundred 1e-9; b is 1 on the first half of
// the rows and 2 on the rest (BY groups); x1-x3 normal, c0 = 3 on every row; y = the level's
// normal effect + x1 + 2 x2 + 3 x3 + normal noise (eight decimals). The weighted mean of c0
// is not exactly 3, so c0's sums about it are rounding alone; the seed is one on which a rule
// that judged them without the rounding of the centring took c0 on most roads.
inline std::string constantWeightCsv(int rows = 5000, int levels = 1000, uint64_t seed = 26) {
  Draws d(seed);
  const std::vector<int64_t> effect = levelEffects(d, levels);
  std::string text = "y,w,b,x1,x2,x3,c0,g\n";
  for (int r = 0; r < rows; ++r) {
    const int64_t k = r < levels ? r : d.below(static_cast<uint64_t>(levels));
    std::string w = fixed(500000 + static_cast<int64_t>((d.bits() * 1500000) >> 32), 6);
    if (r >= levels) {
      const int64_t u = d.below(100);
      w = u < 5 ? "0" : u < 7 ? "1e-9" : w;
    }
    int64_t x[3];
    for (int64_t& v : x)
      v = d.normal(kE8);
    const int64_t y = effect[static_cast<size_t>(k)] + x[0] + 2 * x[1] + 3 * x[2] + d.normal(kE8);
    text += fixed(y, 8);
    text += ',';
    text += w;
    text += r < rows / 2 ? ",1" : ",2";
    for (const int64_t v : x) {
      text += ',';
      text += fixed(v, 8);
    }
    text += ",3,";
    text += level(k);
    text += '\n';
  }
  return text;
}

// X1,X2,X3,Y (four decimals): the X's about 100 with sd 10, Y = 1000 + 50 X1 + 20 X2 + 5 X3
// + normal noise of sd 12: a close fit, each small fold's held-out error small against the
// sums over all rows.
inline std::string cvFoldsCsv(int rows = 10000) {
  Draws d(7);
  std::string text = "X1,X2,X3,Y\n";
  for (int r = 0; r < rows; ++r) {
    int64_t x[3];
    for (int64_t& v : x)
      v = 1000000 + d.normal(100000);
    const int64_t y = 10000000 + 50 * x[0] + 20 * x[1] + 5 * x[2] + d.normal(120000);
    for (const int64_t v : x) {
      text += fixed(v, 4);
      text += ',';
    }
    text += fixed(y, 4);
    text += '\n';
  }
  return text;
}

// x1,x2,x3,x4,g10,g120,Fold,y: x1-x4 normal about 10, 50, 100 and -20 with sd 2, 5, 10 and 4
// (three decimals); g10 a uniform level of 1..10; g120 the levels 1..120 in turn, shuffled;
// Fold a uniform index of 1..8; y = 5 + 2 x1 + 0.8 x2 + 0.1 x3 + 0.02 x4 + normal shifts of
// sd 1.5 by g10 and by g120 + normal noise of sd 3 (five decimals).
inline std::string cvClassesCsv(int rows = 2000) {
  Draws d(2000);
  const size_t n = static_cast<size_t>(rows);
  const int64_t mean[4] = {10, 50, 100, -20}, sd[4] = {2, 5, 10, 4};
  std::vector<std::vector<int64_t>> x(4, std::vector<int64_t>(n));
  for (int j = 0; j < 4; ++j)
    for (int64_t& v : x[j])
      v = mean[j] * 1000 + d.normal(sd[j] * 1000);
  std::vector<int64_t> g10(n), g120(n), fold(n), shift10(10), shift120(120);
  for (int64_t& g : g10)
    g = d.below(10);
  for (size_t r = 0; r < n; ++r)
    g120[r] = static_cast<int64_t>(r % 120);
  for (size_t i = n - 1; i > 0; --i)
    std::swap(g120[i], g120[static_cast<size_t>(d.below(i + 1))]);
  for (int64_t& f : fold)
    f = 1 + d.below(8);
  for (int64_t& s : shift10)
    s = d.normal(150000);
  for (int64_t& s : shift120)
    s = d.normal(150000);
  std::string text = "x1,x2,x3,x4,g10,g120,Fold,y\n";
  for (size_t r = 0; r < n; ++r) {
    const int64_t y = 500000 + 200 * x[0][r] + 80 * x[1][r] + 10 * x[2][r] + 2 * x[3][r] +
                      shift10[static_cast<size_t>(g10[r])] +
                      shift120[static_cast<size_t>(g120[r])] + d.normal(300000);
    for (int j = 0; j < 4; ++j) {
      text += fixed(x[j][r], 3);
      text += ',';
    }
    for (const int64_t v : {g10[r] + 1, g120[r] + 1, fold[r]}) {
      text += std::to_string(v);
      text += ',';
    }
    text += fixed(y, 5);
    text += '\n';
  }
  return text;
}

// y,g,z,x1,w1e6,w3e8: two rows for each level of g; z = 10 (level / levels) + normal noise of
// sd 1e-5 (twelve decimals), so that the levels explain z to 1e-11 of its spread; x1 normal
// (eight decimals); y = 3 z + 2 x1 + 2 times the level's normal effect + normal noise of sd 0.3
// (twelve decimals); the last level's rows weigh 1e-6 in w1e6 and 3e-8 in w3e8, the others 1.
inline std::string levelWeightCsv(int levels, uint64_t seed) {
  Draws d(seed);
  const std::vector<int64_t> effect = levelEffects(d, levels);
  std::string text = "y,g,z,x1,w1e6,w3e8\n";
  for (int r = 0; r < 2 * levels; ++r) {
    const int k = r / 2;
    const int64_t z = int64_t{10000000000000} * k / levels + d.normal(10000000);
    const int64_t x1 = d.normal(kE8);
    const int64_t y =
        3 * z + (2 * x1 + 2 * effect[static_cast<size_t>(k)] + d.normal(30000000)) * 10000;
    text += fixed(y, 12);
    text += ',';
    text += level(k);
    text += ',';
    text += fixed(z, 12);
    text += ',';
    text += fixed(x1, 8);
    text += k == levels - 1 ? ",1e-06,3e-08\n" : ",1,1\n";
  }
  return text;
}

// y,g,x1,x2,x3,h (six decimals): a CLASS variable g (C001..) whose first `levels` rows take
// every level in turn and the rest uniform levels, with normal level means; h (H0..H5)
// uniform, shifting y by -1.5, -0.5, 0, 0.7, 1.3 or 0.4; x1-x3 normal; y = 2 times g's mean
// + h's shift + 3 x1 + normal noise. On the seed, FORWARD by SBC takes x1, then h before g.
inline std::string twoClassCsv(int rows = 600, int levels = 120, uint64_t seed = 55) {
  const int64_t shifts[6] = {-1500000, -500000, 0, 700000, 1300000, 400000};
  Draws d(seed);
  std::vector<int64_t> means(static_cast<size_t>(levels));
  for (int64_t& m : means)
    m = d.normal(1000000);
  std::string text = "y,g,x1,x2,x3,h\n";
  for (int r = 0; r < rows; ++r) {
    const int64_t g = r < levels ? r : d.below(static_cast<uint64_t>(levels));
    const int64_t h = d.below(6);
    int64_t x[3];
    for (int64_t& v : x)
      v = d.normal(1000000);
    const int64_t y = 2 * means[static_cast<size_t>(g)] + shifts[h] + 3 * x[0] + d.normal(1000000);
    char name[32];
    std::snprintf(name, sizeof name, ",C%03lld,", static_cast<long long>(g + 1));
    text += fixed(y, 6);
    text += name;
    for (const int64_t v : x) {
      text += fixed(v, 6);
      text += ',';
    }
    text += 'H';
    text += std::to_string(h);
    text += '\n';
  }
  return text;
}

// y,g,x1,x2,x3 (six decimals): a CLASS variable g (C001..) whose first `levels` rows take
// every level in turn and the rest uniform levels, with normal level means; x1-x3 normal;
// y = 2 times g's mean + 3 x1 + normal noise. Drawn from Python's random.Random(37), which the
// script's many_levels_csv uses and PyRandom follows, and written by %.6f, which both
// languages round alike.
inline std::string manyLevelsCsv(int rows = 600, int levels = 120) {
  pivotcorpus::PyRandom rng(37);
  std::vector<double> means;
  for (int k = 0; k < levels; ++k)
    means.push_back(rng.gauss(0.0, 1.0));
  std::string text = "y,g,x1,x2,x3\n";
  for (int r = 0; r < rows; ++r) {
    const int g = r < levels ? r : rng.randrange(levels);
    double x[3];
    for (double& v : x)
      v = rng.gauss(0.0, 1.0);
    const double y = 2.0 * means[static_cast<size_t>(g)] + 3.0 * x[0] + rng.gauss(0.0, 1.0);
    char line[160];
    std::snprintf(line, sizeof line, "%.6f,C%03d,%.6f,%.6f,%.6f\n", y, g + 1, x[0], x[1], x[2]);
    text += line;
  }
  return text;
}

// manyLevelsCsv's rows with a role column r: the first `levels` rows (one of each level) train
// ('T'), and of the others those whose index ends in 1, 4 or 7 validate ('V'), in 9 test
// ('S'), the rest train.
inline std::string manyLevelsRolesCsv(int levels = 120) {
  const std::string data = manyLevelsCsv(600, levels);
  std::string text;
  size_t start = 0;
  for (int r = -1; start < data.size(); ++r) {
    const size_t end = data.find('\n', start);
    text.append(data, start, end - start);
    const int last = r % 10;
    text += r < 0                                 ? ",r"
            : r < levels                          ? ",T"
            : last == 1 || last == 4 || last == 7 ? ",V"
            : last == 9                           ? ",S"
                                                  : ",T";
    text += '\n';
    start = end + 1;
  }
  return text;
}

// y,g,x1,x2,w: two rows for each level of g (L0001..), eight decimals; x1, x2 normal; weights
// w uniform on [0.5, 2) (six decimals); y = 100000 + 2 x1 + x2 + normal noise of sd 0.5, with
// no level effect. BACKWARD removes g first, then a spline of x1.
inline std::string removalDriftCsv(int levels = 100, uint64_t seed = 71) {
  Draws d(seed);
  std::string text = "y,g,x1,x2,w\n";
  for (int r = 0; r < 2 * levels; ++r) {
    const int64_t x1 = d.normal(kE8);
    const int64_t x2 = d.normal(kE8);
    const int64_t w = 500000 + static_cast<int64_t>((d.bits() * 1500000) >> 32);
    const int64_t y = int64_t{10000000000000} + 2 * x1 + x2 + d.normal(kE8 / 2);
    text += fixed(y, 8);
    text += ',';
    text += level(r / 2);
    text += ',';
    text += fixed(x1, 8);
    text += ',';
    text += fixed(x2, 8);
    text += ',';
    text += fixed(w, 6);
    text += '\n';
  }
  return text;
}

// y,g,h,x1,x2 (four decimals): CLASS variables g (L0000..) and h (M0000..), gLevels >=
// hLevels. Row r < gLevels is level r of g and r mod hLevels of h; the next hLevels - 1 rows
// join level l of h to level l + 1 of g, which links every level of both to every other (so that
// every level is estimable beside the other variable); the rest take uniform levels. y = g's
// and h's normal level means of sd 3 + 2 x1 + normal noise; x1 and x2 normal. On the seed, x2's
// t test in the fit of y on g, h, x1 and x2 has a p-value of 0.30, so that BACKWARD at the
// usual 0.1 takes it out.
inline std::string twoLevelSetsCsv(int rows = 5000, int gLevels = 2000, int hLevels = 1000,
                                   uint64_t seed = 82) {
  Draws d(seed);
  std::vector<int64_t> gMean(static_cast<size_t>(gLevels)), hMean(static_cast<size_t>(hLevels));
  for (int64_t& m : gMean)
    m = d.normal(30000);
  for (int64_t& m : hMean)
    m = d.normal(30000);
  std::string text = "y,g,h,x1,x2\n";
  for (int r = 0; r < rows; ++r) {
    int64_t g = r, h = r % hLevels;
    if (r >= gLevels && r < gLevels + hLevels - 1) {
      g = r - gLevels + 1;
      h = r - gLevels;
    } else if (r >= gLevels) {
      g = d.below(static_cast<uint64_t>(gLevels));
      h = d.below(static_cast<uint64_t>(hLevels));
    }
    const int64_t x1 = d.normal(10000);
    const int64_t x2 = d.normal(10000);
    const int64_t y =
        gMean[static_cast<size_t>(g)] + hMean[static_cast<size_t>(h)] + 2 * x1 + d.normal(10000);
    char names[32];
    std::snprintf(names, sizeof names, ",L%04lld,M%04lld,", static_cast<long long>(g),
                  static_cast<long long>(h));
    text += fixed(y, 4);
    text += names;
    text += fixed(x1, 4);
    text += ',';
    text += fixed(x2, 4);
    text += '\n';
  }
  return text;
}

// y,g,z,x1,x2 (eight decimals): the first `levels` rows take every level of g (L0001..) in
// turn, the rest uniform levels; z is a normal value of the level, so that beside the
// intercept it leaves two of g's columns dependent; x1, x2 normal; y = 2 z + the level's normal
// effect of sd 0.5 + 3 x1 + x2 / 4 + normal noise. STEPWISE by significance takes x1, z, g and
// then x2 (see the script for what the seed shows).
inline std::string levelRetakeCsv(int levels = 40, int rows = 200, uint64_t seed = 1) {
  Draws d(seed);
  std::vector<int64_t> effect(static_cast<size_t>(levels)), value(static_cast<size_t>(levels));
  for (int64_t& e : effect)
    e = d.normal(kE8 / 2);
  for (int64_t& v : value)
    v = d.normal(kE8);
  std::string text = "y,g,z,x1,x2\n";
  for (int r = 0; r < rows; ++r) {
    const size_t k = static_cast<size_t>(r < levels ? r : d.below(static_cast<uint64_t>(levels)));
    const int64_t x1 = d.normal(kE8);
    const int64_t x2 = d.normal(kE8);
    // x2 >> 2 is the floor of x2 / 4, as the script's.
    const int64_t y = 2 * value[k] + effect[k] + 3 * x1 + (x2 >> 2) + d.normal(kE8);
    text += fixed(y, 8);
    text += ',';
    text += level(static_cast<int64_t>(k));
    text += ',';
    text += fixed(value[k], 8);
    text += ',';
    text += fixed(x1, 8);
    text += ',';
    text += fixed(x2, 8);
    text += '\n';
  }
  return text;
}

// y,g,w (eight decimals): one row for each level of g (L0001..) and a second for every third;
// y = 100,000 + the level's normal effect of sd 10 + normal noise of sd 0.5; the rows of the
// 2nd level weigh 0, those of every 25th from the 4th 1e-9, the last level's 1.5 and the
// others' from 0.5 to 1.5 (the script says why).
inline std::string effectPivotCsv(int levels = 1000, uint64_t seed = 90) {
  Draws d(seed);
  std::vector<int64_t> effect(static_cast<size_t>(levels));
  for (int64_t& e : effect)
    e = 10 * d.normal(kE8);
  std::string text = "y,g,w\n";
  for (int k = 0; k < levels; ++k)
    for (int r = 0; r < (k % 3 == 0 ? 2 : 1); ++r) {
      const int64_t y = 10000000000000 + effect[static_cast<size_t>(k)] + d.normal(kE8 / 2);
      const std::string w = k == 1            ? "0"
                            : k % 25 == 3     ? "1e-9"
                            : k == levels - 1 ? "1.5"
                                              : fixed(kE8 / 2 + d.below(kE8), 8);
      text += fixed(y, 8) + "," + level(k) + "," + w + "\n";
    }
  return text;
}

// y,z,c,x1,x2,m,w,f: rows of uniform levels of m but the last, whose one row (the last)
// weighs 1e-8, the others from 0.5 to 2 (eight decimals), with frequencies 1 to 3; z is the
// level's number plus noise of sd 1e-5 (ten decimals), c 1 on every 40th level from the 8th
// plus noise of sd 1e-4, x1 and x2 normal, y the level's normal effect + x1 + normal noise
// (eight decimals). Under the effect coding with SPLIT(3) folds each fold leaves a third of
// the levels without rows and the reference level at weight 1e-8 or none; the levels that c
// nearly follows enter a fold's elimination at pivots near 1e-7 of their diagonals, and the
// levels after them at pivots that z leaves near 1e-8. The seed is one on which a fold's
// levels, judged by their pivots alone, took a column more than its rows determine.
inline std::string effectFoldCsv(int levels = 170, int rows = 340, uint64_t seed = 2) {
  Draws d(seed);
  const std::vector<int64_t> effect = levelEffects(d, levels);
  std::string text = "y,z,c,x1,x2,m,w,f\n";
  for (int r = 0; r < rows; ++r) {
    const int64_t k = r == rows - 1 ? levels - 1 : d.below(static_cast<uint64_t>(levels - 1));
    const int64_t z = (k + 1) * 10000000000 + d.normal(100000);
    const int64_t c = (k % 40 == 7 ? kE8 : 0) + d.normal(10000);
    const int64_t x1 = d.normal(kE8);
    const int64_t x2 = d.normal(kE8);
    const int64_t y = effect[static_cast<size_t>(k)] + x1 + d.normal(kE8);
    const std::string w = k == levels - 1 ? "1e-8" : fixed(kE8 / 2 + d.below(3 * kE8 / 2), 8);
    const int64_t f = 1 + d.below(3);
    text += fixed(y, 8) + "," + fixed(z, 10) + "," + fixed(c, 8) + "," + fixed(x1, 8) + "," +
            fixed(x2, 8) + "," + level(k) + "," + w + "," + std::to_string(f) + "\n";
  }
  return text;
}

// y,z,x1,x2,w,fold,m1: the first `levels` rows take every level of m1 in turn, the rest
// uniform levels; z is the level's number (from 0) plus noise of sd 2e-5 (ten decimals), x1
// and x2 normal, y the level's normal effect + x1 + normal noise (eight decimals); a
// fifteenth of the rows weigh 0 and as many 1e-9, the rest 0.5 to 2 (nine decimals); folds 1
// to 5. The seeds are ones on which the many-level road's level pivots drift past the
// intercept (see the script).
inline std::string levelDriftCsv(int levels = 187, int rows = 779, uint64_t seed = 5) {
  Draws d(seed);
  std::vector<int64_t> effect(static_cast<size_t>(levels));
  for (int64_t& e : effect)
    e = d.normal(kE8);
  std::string text = "y,z,x1,x2,w,fold,m1\n";
  for (int r = 0; r < rows; ++r) {
    const int64_t k = r < levels ? r : d.below(static_cast<uint64_t>(levels));
    const int64_t z = k * 10000000000 + d.normal(200000);
    const int64_t x1 = d.normal(kE8);
    const int64_t x2 = d.normal(kE8);
    const int64_t y = effect[static_cast<size_t>(k)] + x1 + d.normal(kE8);
    const int64_t u = d.below(15);
    const int64_t w = u == 0 ? 0 : u == 1 ? 1 : 5 * kE8 + d.below(15 * kE8);
    const int64_t fold = 1 + d.below(5);
    text += fixed(y, 8) + "," + fixed(z, 10) + "," + fixed(x1, 8) + "," + fixed(x2, 8) + "," +
            fixed(w, 9) + "," + std::to_string(fold) + "," + level(k) + "\n";
  }
  return text;
}

// y,g,x1,x2 (x1 and x2 in 8 + e decimals, y in eight): ten rows a level (level k on rows
// 10k..10k+9), so that SPLIT(5) folds leave every level two rows each; x1 normal, x2 = x1
// plus normal noise of sd 10^-e except on fold 1's rows (r mod 5 == 1), where its sd is 1:
// the folds that leave fold 1 out see x2 within 10^-e of x1. y = the level's normal effect
// + x1 + normal noise.
inline std::string foldCopyCsv(int levels = 200, int e = 3) {
  Draws d(74 + static_cast<uint64_t>(e));
  const std::vector<int64_t> effect = levelEffects(d, levels);
  int64_t unit = 1;
  for (int i = 0; i < e; ++i)
    unit *= 10;
  std::string text = "y,g,x1,x2\n";
  for (int r = 0; r < 10 * levels; ++r) {
    const int k = r / 10;
    const int64_t x1 = d.normal(kE8) * unit;
    const int64_t x2 = x1 + (r % 5 == 1 ? d.normal(kE8) * unit : d.normal(kE8));
    const int64_t y = effect[static_cast<size_t>(k)] + x1 / unit + d.normal(kE8);
    text += fixed(y, 8) + "," + level(k) + "," + fixed(x1, 8 + e) + "," + fixed(x2, 8 + e) + "\n";
  }
  return text;
}

} // namespace synthdata
