// The corpus of nearly dependent designs of scripts/gen_pivot_rank_ref.py (cases()), made at
// run time rather than committed: the script draws it from Python's random.Random(43), which
// PyRandom below follows draw for draw (the Mersenne Twister, its seeding from an integer,
// random(), uniform(), gauss() and randrange()), and writes every value by repr(), which
// pyRepr follows. Each design is the same sequence of double operations as the script's, so
// the text is byte for byte that on which the script computed tests/data/pivotrank's pivots.
// Change one side only together with the other (tests/programs/synthdata_test.cpp checks it).
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numbers>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace pivotcorpus {

// Python's random.Random seeded by a small non-negative integer.
class PyRandom {
public:
  explicit PyRandom(uint32_t seed) { seedByArray(seed); }

  uint32_t next() {
    if (index_ >= kN)
      twist();
    uint32_t y = state_[index_++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680U;
    y ^= (y << 15) & 0xefc60000U;
    return y ^ (y >> 18);
  }
  // A uniform double in [0, 1) of 53 random bits.
  double random() {
    const uint32_t a = next() >> 5, b = next() >> 6;
    return (a * 67108864.0 + b) * (1.0 / 9007199254740992.0);
  }
  double uniform(double lo, double hi) { return lo + (hi - lo) * random(); }
  // Box-Muller on two uniforms, the second normal kept for the next call.
  double gauss(double mu, double sigma) {
    double z = 0;
    if (haveNext_) {
      z = next_;
      haveNext_ = false;
    } else {
      const double x2pi = random() * (2.0 * std::numbers::pi);
      const double g2rad = std::sqrt(-2.0 * std::log(1.0 - random()));
      z = std::cos(x2pi) * g2rad;
      next_ = std::sin(x2pi) * g2rad;
      haveNext_ = true;
    }
    return mu + z * sigma;
  }
  // An integer in [0, n) by rejection on the fewest bits that hold n.
  int randrange(int n) {
    int bits = 0;
    while ((n >> bits) != 0)
      ++bits;
    for (;;) {
      const int r = static_cast<int>(next() >> (32 - bits));
      if (r < n)
        return r;
    }
  }

private:
  static constexpr int kN = 624, kM = 397;

  void seedByArray(uint32_t key) {
    state_[0] = 19650218U;
    for (int i = 1; i < kN; ++i)
      state_[i] = 1812433253U * (state_[i - 1] ^ (state_[i - 1] >> 30)) + static_cast<uint32_t>(i);
    int i = 1;
    for (int k = kN; k > 0; --k) {
      state_[i] = (state_[i] ^ ((state_[i - 1] ^ (state_[i - 1] >> 30)) * 1664525U)) + key;
      if (++i >= kN) {
        state_[0] = state_[kN - 1];
        i = 1;
      }
    }
    for (int k = kN - 1; k > 0; --k) {
      state_[i] = (state_[i] ^ ((state_[i - 1] ^ (state_[i - 1] >> 30)) * 1566083941U)) -
                  static_cast<uint32_t>(i);
      if (++i >= kN) {
        state_[0] = state_[kN - 1];
        i = 1;
      }
    }
    state_[0] = 0x80000000U;
    index_ = kN;
  }
  void twist() {
    for (int i = 0; i < kN; ++i) {
      const uint32_t y = (state_[i] & 0x80000000U) | (state_[(i + 1) % kN] & 0x7fffffffU);
      state_[i] = state_[(i + kM) % kN] ^ (y >> 1) ^ ((y & 1U) != 0 ? 0x9908b0dfU : 0U);
    }
    index_ = 0;
  }

  uint32_t state_[kN] = {};
  int index_ = kN;
  bool haveNext_ = false;
  double next_ = 0;
};

// a followed by b, appended: GCC 12's optimiser takes "text" + std::string for an
// overlapping copy (-Wrestrict).
inline std::string cat(std::string a, const std::string& b) {
  a += b;
  return a;
}

// Python's repr of a double: the shortest digits that read back, in positional notation
// for decimal exponents from -4 to 15 (with ".0" on whole numbers), else as d.ddde+XX.
inline std::string pyRepr(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const std::string sci(buf, res.ptr);
  const size_t e = sci.find('e');
  const bool negative = sci[0] == '-';
  std::string digits;
  for (size_t i = negative ? 1 : 0; i < e; ++i)
    if (sci[i] != '.')
      digits += sci[i];
  const int exp = std::atoi(sci.c_str() + e + 1);
  std::string out = negative ? "-" : "";
  const int n = static_cast<int>(digits.size());
  if (exp < -4 || exp >= 16) {
    out += digits[0];
    if (n > 1) {
      out += '.';
      out.append(digits, 1);
    }
    char tail[16];
    std::snprintf(tail, sizeof tail, "e%c%02d", exp < 0 ? '-' : '+', std::abs(exp));
    return out + tail;
  }
  if (exp < 0)
    return out + "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  if (n <= exp + 1)
    return out + digits + std::string(static_cast<size_t>(exp + 1 - n), '0') + ".0";
  return out + digits.substr(0, static_cast<size_t>(exp + 1)) + "." +
         digits.substr(static_cast<size_t>(exp + 1));
}

// The script's rnd: v rounded to `digits` significant digits through its decimal text.
inline double rounded(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return std::strtod(buf, nullptr);
}

using Column = std::vector<double>;
using Columns = std::vector<Column>;

// Monomials of total degree 1..degree in the variables xs, by degree and then by the
// exponents in decreasing order.
inline Columns polyColumns(const Columns& xs, int degree) {
  const size_t k = xs.size();
  std::vector<std::vector<int>> exps;
  std::vector<int> prefix;
  auto rec = [&](auto& self, int left, size_t pos) -> void {
    if (pos == k) {
      int sum = 0;
      for (const int e : prefix)
        sum += e;
      if (sum > 0)
        exps.push_back(prefix);
      return;
    }
    for (int e = 0; e <= left; ++e) {
      prefix.push_back(e);
      self(self, left - e, pos + 1);
      prefix.pop_back();
    }
  };
  rec(rec, degree, 0);
  auto total = [](const std::vector<int>& e) {
    int s = 0;
    for (const int v : e)
      s += v;
    return s;
  };
  std::stable_sort(exps.begin(), exps.end(), [&](const auto& a, const auto& b) {
    if (total(a) != total(b))
      return total(a) < total(b);
    return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end());
  });
  Columns cols;
  for (const auto& e : exps) {
    Column col(xs[0].size());
    for (size_t r = 0; r < col.size(); ++r) {
      double v = 1.0;
      for (size_t j = 0; j < k; ++j)
        v *= std::pow(xs[j][r], static_cast<double>(e[j]));
      col[r] = v;
    }
    cols.push_back(std::move(col));
  }
  return cols;
}

inline std::vector<double> knotsOf(const Column& x, bool equal, int count) {
  const double lo = *std::min_element(x.begin(), x.end());
  const double hi = *std::max_element(x.begin(), x.end());
  std::vector<double> knots;
  Column s = x;
  std::sort(s.begin(), s.end());
  for (int i = 0; i < count; ++i) {
    if (equal) {
      knots.push_back(lo + (hi - lo) * (i + 1) / (count + 1));
    } else {
      const double at = static_cast<double>(s.size() * static_cast<size_t>(i + 1)) / (count + 1);
      knots.push_back(s[static_cast<size_t>(at)]);
    }
  }
  return knots;
}

inline Columns truncatedPower(const Column& x, int degree, const std::vector<double>& knots) {
  Columns cols;
  for (int p = 1; p <= degree; ++p) {
    Column c;
    for (const double v : x)
      c.push_back(std::pow(v, static_cast<double>(p)));
    cols.push_back(std::move(c));
  }
  for (const double k : knots) {
    Column c;
    for (const double v : x)
      c.push_back(std::pow(std::max(v - k, 0.0), static_cast<double>(degree)));
    cols.push_back(std::move(c));
  }
  return cols;
}

// The B-spline basis by Cox-de Boor from the degree-0 basis; the last interval is closed.
inline Columns bspline(const Column& x, int degree, const std::vector<double>& knots) {
  const double lo = *std::min_element(x.begin(), x.end());
  const double hi = *std::max_element(x.begin(), x.end());
  std::vector<double> t(static_cast<size_t>(degree + 1), lo);
  t.insert(t.end(), knots.begin(), knots.end());
  t.insert(t.end(), static_cast<size_t>(degree + 1), hi);
  const size_t m = t.size() - static_cast<size_t>(degree) - 1;
  Columns cols(m, Column(x.size(), 0.0));
  for (size_t r = 0; r < x.size(); ++r) {
    const double v = x[r];
    std::vector<double> b(t.size() - 1, 0.0);
    for (size_t i = 0; i + 1 < t.size(); ++i)
      if ((t[i] <= v && v < t[i + 1]) || (v == hi && t[i] < t[i + 1] && t[i + 1] == hi)) {
        b[i] = 1.0;
        break;
      }
    for (size_t d = 1; d <= static_cast<size_t>(degree); ++d) {
      std::vector<double> nb(t.size() - 1 - d, 0.0);
      for (size_t i = 0; i < nb.size(); ++i) {
        double a = 0.0;
        if (t[i + d] > t[i])
          a += (v - t[i]) / (t[i + d] - t[i]) * b[i];
        if (t[i + d + 1] > t[i + 1])
          a += (t[i + d + 1] - v) / (t[i + d + 1] - t[i + 1]) * b[i + 1];
        nb[i] = a;
      }
      b = std::move(nb);
    }
    for (size_t i = 0; i < m; ++i)
      cols[i][r] = b[i];
  }
  return cols;
}

// Python's sum() of doubles: left to right from 0.
inline double pySum(const Column& v) {
  double s = 0.0;
  for (const double a : v)
    s += a;
  return s;
}

// Orthonormal polynomials of the level over levels 1..count (Gram-Schmidt), by level.
inline Columns orthPolyBasis(int count) {
  Columns basis;
  for (int p = 1; p < count; ++p) {
    Column u;
    for (int v = 0; v < count; ++v)
      u.push_back(std::pow(static_cast<double>(v + 1), static_cast<double>(p)));
    const double mean = pySum(u) / count;
    for (double& a : u)
      a -= mean;
    for (const Column& b : basis) {
      Column prod;
      for (size_t i = 0; i < u.size(); ++i)
        prod.push_back(u[i] * b[i]);
      const double s = pySum(prod);
      for (size_t i = 0; i < u.size(); ++i)
        u[i] -= s * b[i];
    }
    Column squares;
    for (const double a : u)
      squares.push_back(a * a);
    const double n = std::pow(pySum(squares), 0.5);
    for (double& a : u)
      a /= n;
    basis.push_back(std::move(u));
  }
  return basis;
}

// The columns of one CLASS variable (levels 0..count-1) under coding ref, effect, poly or
// orthpoly.
inline Columns classCoding(const std::vector<int>& levels, int count, const std::string& coding) {
  Columns cols;
  const Columns orth = coding == "orthpoly" ? orthPolyBasis(count) : Columns{};
  for (int j = 0; j < count - 1; ++j) {
    Column c;
    for (const int v : levels) {
      if (coding == "ref")
        c.push_back(v == j ? 1.0 : 0.0);
      else if (coding == "effect")
        c.push_back(v == j ? 1.0 : (v == count - 1 ? -1.0 : 0.0));
      else if (coding == "poly")
        c.push_back(std::pow(static_cast<double>(v + 1), static_cast<double>(j + 1)));
      else
        c.push_back(orth[static_cast<size_t>(j)][static_cast<size_t>(v)]);
    }
    cols.push_back(std::move(c));
  }
  return cols;
}

// A response on the columns (each scaled by 1 + its largest magnitude) with normal
// coefficients, plus unit normal noise, to ten significant digits.
inline Column response(const Columns& cols, PyRandom& rng, size_t rows) {
  Column beta;
  for (size_t i = 0; i < cols.size(); ++i)
    beta.push_back(rng.gauss(0, 1));
  Column y;
  for (size_t r = 0; r < rows; ++r) {
    double s = 0.0;
    for (size_t i = 0; i < cols.size(); ++i) {
      double top = 0.0;
      for (size_t q = 0; q < cols[i].size(); ++q)
        top = q == 0 ? std::fabs(cols[i][q]) : std::max(top, std::fabs(cols[i][q]));
      s += beta[i] * cols[i][r] / (1.0 + top);
    }
    y.push_back(rounded(s + rng.gauss(0, 1), 10));
  }
  return y;
}

// y,c1..cK with every value as repr writes it.
inline std::string csvText(const Columns& cols, const Column& y) {
  std::string text = "y";
  for (size_t i = 0; i < cols.size(); ++i) {
    text += ",c";
    text += std::to_string(i + 1);
  }
  text += '\n';
  for (size_t r = 0; r < y.size(); ++r) {
    text += pyRepr(y[r]);
    for (const Column& c : cols) {
      text += ',';
      text += pyRepr(c[r]);
    }
    text += '\n';
  }
  return text;
}

inline Columns firstColumns(const Columns& cols, size_t n) {
  return Columns(cols.begin(), cols.begin() + static_cast<long>(std::min(n, cols.size())));
}

inline void addPolyCases(PyRandom& rng, std::map<std::string, std::string>& out) {
  for (const auto& [nvar, rows] : {std::pair{2, 120}, std::pair{3, 160}}) {
    Columns xs(static_cast<size_t>(nvar));
    for (int j = 0; j < nvar; ++j)
      for (int r = 0; r < rows; ++r)
        xs[static_cast<size_t>(j)].push_back(
            rounded(j == 0 ? rng.uniform(20, 30) : rng.uniform(-5, 15), 5));
    for (const int d : {2, 3, 4, 5}) {
      const Columns cols = polyColumns(xs, d);
      const Column y = response(cols, rng, static_cast<size_t>(rows));
      out[cat(cat(cat("poly", std::to_string(nvar)), "_d"), std::to_string(d))] = csvText(cols, y);
    }
  }
}

inline void addSplineCases(PyRandom& rng, std::map<std::string, std::string>& out) {
  Column x;
  for (int r = 0; r < 150; ++r)
    x.push_back(rounded(rng.uniform(0, 10), 6));
  for (const std::string method : {"equal", "pct"}) {
    const std::vector<double> kn = knotsOf(x, method == "equal", 3);
    for (const int d : {3, 10, 20, 30, 50}) {
      const std::string tag = method + "_d" + std::to_string(d);
      Columns cols = truncatedPower(x, d, kn);
      Column y = response(firstColumns(cols, 3), rng, 150);
      out[cat("tp_", tag)] = csvText(cols, y);
      cols = bspline(x, d, kn);
      y = response(firstColumns(cols, 3), rng, 150);
      out[cat("bs_", tag)] = csvText(cols, y);
    }
  }
}

inline void addClassCases(PyRandom& rng, std::map<std::string, std::string>& out) {
  const size_t rows = 200;
  for (const std::string coding : {"poly", "orthpoly", "effect", "ref"})
    for (const int count : {4, 6, 12}) {
      std::vector<int> a, b, c;
      for (size_t r = 0; r < rows; ++r)
        a.push_back(r < static_cast<size_t>(count) ? static_cast<int>(r) : rng.randrange(count));
      for (size_t r = 0; r < rows; ++r)
        b.push_back(rng.randrange(3));
      for (size_t r = 0; r < rows; ++r)
        c.push_back(rng.randrange(4));
      Column num;
      for (size_t r = 0; r < rows; ++r)
        num.push_back(rounded(rng.gauss(50, 5), 6));
      Columns cols = classCoding(a, count, coding);
      for (Column& col : classCoding(b, 3, coding))
        cols.push_back(std::move(col));
      for (Column& col : classCoding(c, 4, coding))
        cols.push_back(std::move(col));
      cols.push_back(num);
      const Column y = response(cols, rng, rows);
      out[cat(cat(cat("class_", coding), "_"), std::to_string(count))] = csvText(cols, y);
    }
}

inline void addProductCase(PyRandom& rng, std::map<std::string, std::string>& out) {
  const size_t rows = 300;
  Columns xs(12);
  for (Column& x : xs)
    for (size_t r = 0; r < rows; ++r)
      x.push_back(rounded(rng.gauss(3, 1), 6));
  Columns cols = xs;
  for (size_t i = 0; i < 12; ++i)
    for (size_t j = i + 1; j < 12; ++j) {
      Column p;
      for (size_t r = 0; r < rows; ++r)
        p.push_back(xs[i][r] * xs[j][r]);
      cols.push_back(std::move(p));
    }
  const Column y = response(cols, rng, rows);
  out["products12"] = csvText(cols, y);
}

// Every case's data text by case name, drawn in the script's order.
inline std::map<std::string, std::string> cases() {
  PyRandom rng(43);
  std::map<std::string, std::string> out;
  addPolyCases(rng, out);
  addSplineCases(rng, out);
  addClassCases(rng, out);
  addProductCase(rng, out);
  return out;
}

// ------------------------------------------------- designs as a user writes them
//
// The script's user_cases(): data sets of raw variables and the design columns the model
// makes of them, each written as <case>.csv and <case>_x.csv.

struct Named {
  std::string name;
  Column values;
};
using Design = std::vector<Named>;

// A data column: doubles, or whole numbers written as integers.
struct DataColumn {
  std::string name;
  Column values;
  bool integral = false;
};

// The script's grid: a uniform draw on a grid of 2^-bits.
inline double grid(PyRandom& rng, double lo, double hi, int bits = 10) {
  const double scale = std::ldexp(1.0, bits);
  return std::nearbyint(rng.uniform(lo, hi) * scale) / scale;
}

// The terms of a polynomial effect in graded order, as lists of variable indices.
inline std::vector<std::vector<int>> polyTerms(int count, int degree) {
  std::vector<std::vector<int>> terms, last;
  for (int i = 0; i < count; ++i)
    terms.push_back({i});
  last = terms;
  for (int g = 2; g <= degree; ++g) {
    std::vector<std::vector<int>> next;
    for (int i = 0; i < count; ++i)
      for (const auto& t : last)
        if (t[0] >= i) {
          std::vector<int> u{i};
          u.insert(u.end(), t.begin(), t.end());
          next.push_back(std::move(u));
        }
    terms.insert(terms.end(), next.begin(), next.end());
    last = std::move(next);
  }
  return terms;
}

inline std::string polyLabel(const std::vector<std::string>& names, const std::vector<int>& term) {
  std::string label;
  for (size_t a = 0; a < term.size();) {
    size_t b = a;
    while (b < term.size() && term[b] == term[a])
      ++b;
    if (!label.empty())
      label += '*';
    label += names[static_cast<size_t>(term[a])];
    if (b - a > 1) {
      label += '^';
      label += std::to_string(b - a);
    }
    a = b;
  }
  return label;
}

// polynomial(names / degree=d): each column the first variable of its term times the
// column of the rest of the term.
inline Design polyDesign(const Columns& xs, const std::vector<std::string>& names, int degree) {
  std::map<std::vector<int>, Column> values;
  Design design;
  for (const auto& t : polyTerms(static_cast<int>(names.size()), degree)) {
    Column v = xs[static_cast<size_t>(t[0])];
    if (t.size() > 1) {
      const Column& rest = values.at(std::vector<int>(t.begin() + 1, t.end()));
      for (size_t r = 0; r < v.size(); ++r)
        v[r] = v[r] * rest[r];
    }
    values[t] = v;
    design.push_back({polyLabel(names, t), v});
  }
  return design;
}

constexpr double kEps13 = 1.110223024625157e-13;

inline std::vector<double> percentileKnots(const Column& x, int n) {
  Column s = x;
  std::sort(s.begin(), s.end());
  const size_t bigN = s.size();
  std::vector<double> knots;
  for (int i = 1; i <= n; ++i) {
    const double p = static_cast<double>(i) / (n + 1) * static_cast<double>(bigN);
    const long k = static_cast<long>(std::floor(p + kEps13));
    const bool exact = std::fabs(p - static_cast<double>(k)) <= kEps13;
    const long j = k - 1;
    if (j < 0)
      knots.push_back(s.front());
    else if (j > static_cast<long>(bigN) - 1)
      knots.push_back(s.back());
    else
      knots.push_back(exact ? (s[static_cast<size_t>(j)] + s[static_cast<size_t>(j) + 1]) / 2
                            : s[static_cast<size_t>(j) + 1]);
  }
  return knots;
}

inline Design numbered(const std::string& name, Columns cols) {
  Design design;
  for (size_t i = 0; i < cols.size(); ++i)
    design.push_back({name + " " + std::to_string(i + 1), std::move(cols[i])});
  return design;
}

// A truncated power basis with all terms: the constant, the powers of x, then
// (x - k)^degree beyond each knot.
inline Design tpfDesign(const std::string& name, const Column& x, int degree,
                        const std::vector<double>& knots) {
  Columns cols{Column(x.size(), 1.0)};
  Column p = x;
  for (int d = 0; d < degree; ++d) {
    cols.push_back(p);
    for (size_t r = 0; r < p.size(); ++r)
      p[r] = p[r] * x[r];
  }
  for (const double k : knots) {
    Column c;
    for (const double v : x)
      c.push_back(v - k > 0 ? std::pow(v - k, static_cast<double>(degree)) : 0.0);
    cols.push_back(std::move(c));
  }
  return numbered(name, std::move(cols));
}

// Boundary and interior knots of a B-spline basis: d knots below the data, n inside,
// max(d, 1) above, the outermost ones just beyond the data range.
inline std::vector<double> bsplineKnots(const Column& x, int d, int n, bool equal) {
  const double lo = *std::min_element(x.begin(), x.end());
  const double hi = *std::max_element(x.begin(), x.end());
  double e0 = kEps13;
  while (d != 0 && std::log(e0) < std::log(2.225073858507202e-308) / (2 * d))
    e0 *= 100;
  double elo = e0, ehi = e0;
  while (!(lo - elo < lo))
    elo *= 10;
  while (!(hi + ehi > hi))
    ehi *= 10;
  const double low = lo - elo, up = hi + ehi;
  const int r = std::max(d, 1);
  const double step = (hi - lo) / (n + 1);
  std::vector<double> lower, inner, upper;
  if (equal) {
    for (int j = 0; j < d; ++j)
      lower.push_back(lo - (d - 1 - j) * step);
    lower[static_cast<size_t>(d - 1)] = low;
    double v = lo;
    for (int i = 0; i < n + r; ++i) {
      v += step;
      (i < n ? inner : upper).push_back(v);
    }
    upper[0] = up;
  } else {
    lower.assign(static_cast<size_t>(d), low);
    inner = percentileKnots(x, n);
    upper.assign(static_cast<size_t>(r), up);
  }
  lower.insert(lower.end(), inner.begin(), inner.end());
  lower.insert(lower.end(), upper.begin(), upper.end());
  return lower;
}

// The d + 1 basis functions that can be non-zero at x (de Boor and Cox), and the index of
// the last of them.
inline std::pair<Column, size_t> bsplineRow(const std::vector<double>& t, int d, double x) {
  size_t i = static_cast<size_t>(d);
  const size_t lim = t.size() - static_cast<size_t>(std::max(d, 1));
  while (i < lim && x >= t[i])
    ++i;
  const size_t n = static_cast<size_t>(d);
  Column b(n + 1, 0.0), dr(n, 0.0), dl(n, 0.0);
  b[0] = 1.0;
  for (size_t j = 0; j < n; ++j) {
    dr[j] = t[i + j] - x;
    dl[j] = x - t[i - 1 - j];
    double saved = 0.0;
    for (size_t q = 0; q <= j; ++q) {
      const double den = dr[q] + dl[j - q];
      const double term = den != 0 ? b[q] / den : 0.0;
      b[q] = saved + dr[q] * term;
      saved = dl[j - q] * term;
    }
    b[j + 1] = saved;
  }
  return {b, i};
}

inline Design bsplineDesign(const std::string& name, const Column& x, int d, int n, bool equal) {
  const std::vector<double> t = bsplineKnots(x, d, n, equal);
  const size_t m = t.size() - static_cast<size_t>(d) + 1;
  Columns cols(m, Column(x.size(), 0.0));
  for (size_t row = 0; row < x.size(); ++row) {
    const auto [b, i] = bsplineRow(t, d, x[row]);
    for (size_t q = 0; q <= static_cast<size_t>(d); ++q)
      cols[i - static_cast<size_t>(d) + q][row] = b[q];
  }
  return numbered(name, std::move(cols));
}

// PARAM=POLY of a numeric CLASS variable of values 1..count: the powers 1..count-1.
inline Design classPolyDesign(const std::string& name, const Column& levels, int count) {
  Design design;
  for (int p = 1; p < count; ++p) {
    Column c;
    for (const double v : levels)
      c.push_back(std::pow(v, static_cast<double>(p)));
    design.push_back({name + " poly" + std::to_string(p), std::move(c)});
  }
  return design;
}

// The script's user_response: fresh normal coefficients (sd 3) for every row.
inline Column userResponse(const Design& cols, PyRandom& rng, size_t rows, double scale = 1.0) {
  std::vector<double> top;
  for (const Named& c : cols) {
    double m = 0.0;
    for (size_t q = 0; q < c.values.size(); ++q)
      m = q == 0 ? std::fabs(c.values[q]) : std::max(m, std::fabs(c.values[q]));
    top.push_back(m);
  }
  Column y;
  for (size_t r = 0; r < rows; ++r) {
    double s = 0.0;
    for (size_t i = 0; i < cols.size(); ++i)
      s += rng.gauss(0, 3) * cols[i].values[r] / (1.0 + top[i]);
    y.push_back(rounded(s + rng.gauss(0, scale), 10));
  }
  return y;
}

// A response that follows the predictors closely: sum of b_j x_j plus unit noise.
inline Column linearResponse(const Columns& xs, PyRandom& rng) {
  Column beta;
  for (size_t j = 0; j < xs.size(); ++j)
    beta.push_back(rng.gauss(0, 1));
  Column y;
  for (size_t r = 0; r < xs[0].size(); ++r) {
    double s = 0.0;
    for (size_t j = 0; j < xs.size(); ++j)
      s += beta[j] * xs[j][r];
    y.push_back(rounded(s + rng.gauss(0, 1), 10));
  }
  return y;
}

// The script's write_csv: 0 as "0", doubles by repr, whole numbers as integers.
inline std::string userCsv(const std::vector<DataColumn>& cols) {
  std::string text;
  for (size_t i = 0; i < cols.size(); ++i) {
    text += i == 0 ? "" : ",";
    text += cols[i].name;
  }
  text += '\n';
  for (size_t r = 0; r < cols[0].values.size(); ++r) {
    for (size_t i = 0; i < cols.size(); ++i) {
      const double v = cols[i].values[r];
      text += i == 0 ? "" : ",";
      text += v == 0             ? "0"
              : cols[i].integral ? std::to_string(static_cast<long long>(v))
                                 : pyRepr(v);
    }
    text += '\n';
  }
  return text;
}

// Adds <name>.csv (the data) and <name>_x.csv (the design) to the files.
inline void addUserCase(std::map<std::string, std::string>& files, const std::string& name,
                        const std::vector<DataColumn>& data, const Design& design) {
  files[name + ".csv"] = userCsv(data);
  std::vector<DataColumn> x;
  for (const Named& c : design)
    x.push_back({c.name, c.values, false});
  files[name + "_x.csv"] = userCsv(x);
}

inline Design firstNamed(const Design& d, size_t from, size_t to) {
  return Design(d.begin() + static_cast<long>(from), d.begin() + static_cast<long>(to));
}

inline void addUserPolyCases(PyRandom& rng, std::map<std::string, std::string>& files) {
  const std::vector<std::string> all{"a", "b", "c"};
  for (const auto& [nvar, degree, rows] :
       {std::tuple{2, 4, 40}, std::tuple{2, 5, 47}, std::tuple{3, 4, 60}, std::tuple{3, 5, 60}}) {
    const std::vector<std::string> names(all.begin(), all.begin() + nvar);
    Columns xs(static_cast<size_t>(nvar));
    for (int j = 0; j < nvar; ++j)
      for (int r = 0; r < rows; ++r)
        xs[static_cast<size_t>(j)].push_back(j == 0 ? grid(rng, 20, 30) : grid(rng, -5, 15));
    const Design design = polyDesign(xs, names, degree);
    std::vector<DataColumn> data;
    for (size_t j = 0; j < names.size(); ++j)
      data.push_back({names[j], xs[j]});
    data.push_back({"y", userResponse(firstNamed(design, 0, static_cast<size_t>(nvar + 2)), rng,
                                      static_cast<size_t>(rows))});
    addUserCase(files, cat(cat(cat("poly", std::to_string(nvar)), "_d"), std::to_string(degree)),
                data, design);
  }
}

// Levels 1..k: the first k rows in turn, the rest uniform.
inline Column levelsOf(PyRandom& rng, int k, size_t rows) {
  Column v;
  for (size_t r = 0; r < rows; ++r)
    v.push_back(r < static_cast<size_t>(k) ? static_cast<double>(r + 1)
                                           : static_cast<double>(rng.randrange(k) + 1));
  return v;
}

inline void addUserClassCases(PyRandom& rng, std::map<std::string, std::string>& files) {
  for (const int count : {8, 12}) {
    const size_t rows = 150;
    const Column g = levelsOf(rng, count, rows);
    Columns others;
    for (const int k : {3, 4, 5})
      others.push_back(levelsOf(rng, k, rows));
    Design design = classPolyDesign("g", g, count);
    const char* names[3] = {"h", "i", "j"};
    for (size_t j = 0; j < 3; ++j)
      for (Named& c : classPolyDesign(names[j], others[j], static_cast<int>(j) + 3))
        design.push_back(std::move(c));
    std::vector<DataColumn> data{
        {"g", g, true}, {"h", others[0], true}, {"i", others[1], true}, {"j", others[2], true}};
    data.push_back({"y", userResponse(design, rng, rows)});
    addUserCase(files, cat("classpoly_", std::to_string(count)), data, design);
  }
}

inline void addUserSplineCases(PyRandom& rng, std::map<std::string, std::string>& files) {
  size_t rows = 80;
  Column x, z;
  for (size_t r = 0; r < rows; ++r)
    x.push_back(grid(rng, 0, 10));
  for (size_t r = 0; r < rows; ++r)
    z.push_back(grid(rng, -3, 3));
  Design design = tpfDesign("sp", x, 3, percentileKnots(x, 8));
  design.push_back({"z", z});
  addUserCase(files, "tpf_pct8",
              {{"x", x}, {"z", z}, {"y", userResponse(firstNamed(design, 1, 5), rng, rows, 10)}},
              design);
  for (const auto& [equal, n, name] :
       {std::tuple{true, 3, "bspline_d10_equal"}, std::tuple{false, 6, "bspline_d10_pct"}}) {
    Column xb;
    for (size_t r = 0; r < rows; ++r)
      xb.push_back(grid(rng, 0, 10));
    design = bsplineDesign("bs", xb, 10, n, equal);
    addUserCase(files, name, {{"x", xb}, {"y", userResponse(firstNamed(design, 0, 4), rng, rows)}},
                design);
  }
  rows = 60;
  Column xt;
  for (size_t r = 0; r < rows; ++r)
    xt.push_back(grid(rng, 0, 10, 8));
  design = tpfDesign("t", xt, 30, {2.5, 5.0, 7.5});
  addUserCase(files, "tpf_d30",
              {{"x", xt}, {"y", userResponse(firstNamed(design, 1, 4), rng, rows)}}, design);
  xt.clear();
  for (size_t r = 0; r < rows; ++r)
    xt.push_back(grid(rng, 0, 10, 8));
  const double lo = *std::min_element(xt.begin(), xt.end());
  const double hi = *std::max_element(xt.begin(), xt.end());
  design = tpfDesign("t", xt, 30,
                     {lo + (hi - lo) * 1 / 4, lo + (hi - lo) * 2 / 4, lo + (hi - lo) * 3 / 4});
  addUserCase(files, "tpf_d30_whole",
              {{"x", xt}, {"y", userResponse(firstNamed(design, 1, 2), rng, rows, 10)}}, design);
}

inline Columns normalColumns(PyRandom& rng, size_t count, size_t rows, double mean) {
  Columns xs(count);
  for (Column& x : xs)
    for (size_t r = 0; r < rows; ++r)
      x.push_back(rounded(rng.gauss(mean, 1), 6));
  return xs;
}

inline void addUserNearCases(PyRandom& rng, std::map<std::string, std::string>& files) {
  const size_t rows = 100;
  Columns xs = normalColumns(rng, 4, rows, 3);
  Design design;
  for (size_t j = 0; j < 4; ++j)
    design.push_back({cat("x", std::to_string(j + 1)), xs[j]});
  for (size_t j = 0; j < 3; ++j) {
    Column c;
    for (const double v : xs[j])
      c.push_back(v + 1e-7 * rng.gauss(0, 1));
    design.push_back({cat("x", std::to_string(j + 5)), std::move(c)});
  }
  std::vector<DataColumn> data;
  for (const Named& c : design)
    data.push_back({c.name, c.values});
  data.push_back({"y", linearResponse(xs, rng)});
  addUserCase(files, "nearcopy", data, design);
  xs = normalColumns(rng, 4, rows, 3);
  design.clear();
  for (size_t j = 0; j < 4; ++j)
    design.push_back({cat("x", std::to_string(j + 1)), xs[j]});
  Column total;
  for (size_t r = 0; r < rows; ++r)
    total.push_back((xs[0][r] + xs[1][r] + xs[2][r]) * (1 + 1e-12));
  design.push_back({"x5", total});
  data.clear();
  for (const Named& c : design)
    data.push_back({c.name, c.values});
  data.push_back({"y", linearResponse(xs, rng)});
  addUserCase(files, "nearsum", data, design);
}

// 200 levels of two rows after six dense columns, the last of them the level's number plus
// noise; the last level's rows weigh 1e-5.
inline void addUserManyLevelCase(PyRandom& rng, std::map<std::string, std::string>& files) {
  const int count = 200;
  const size_t rows = 400;
  Column g, w;
  for (size_t r = 0; r < rows; ++r)
    g.push_back(static_cast<double>(r % count + 1));
  Columns xs = normalColumns(rng, 5, rows, 0);
  Column last;
  for (const double v : g)
    last.push_back(rounded(v / 100 + 1e-5 * rng.gauss(0, 1), 11));
  xs.push_back(std::move(last));
  Column effect;
  for (int k = 0; k < count; ++k)
    effect.push_back(rng.gauss(0, 1));
  Column y;
  for (size_t r = 0; r < rows; ++r) {
    w.push_back(g[r] == count ? 1e-5 : 1.0);
    double s = 0.0;
    for (const Column& x : xs)
      s += x[r];
    y.push_back(rounded(effect[static_cast<size_t>(g[r]) - 1] + s + rng.gauss(0, 1), 10));
  }
  Design design;
  for (size_t j = 0; j < 6; ++j)
    design.push_back({cat("x", std::to_string(j + 1)), xs[j]});
  for (int k = 1; k <= count; ++k) {
    Column c;
    for (const double v : g)
      c.push_back(v == k ? 1.0 : 0.0);
    design.push_back({cat("g ", std::to_string(k)), std::move(c)});
  }
  std::vector<DataColumn> data{{"g", g, true}, {"w", w}, {"y", y}};
  for (size_t j = 0; j < 6; ++j)
    data.push_back({cat("x", std::to_string(j + 1)), xs[j]});
  addUserCase(files, "manylevel", data, design);
}

// Spline effects of 64 columns and more beside another predictor z on 100 rows.
inline void addWideSplineCases(std::map<std::string, std::string>& files) {
  PyRandom rng(60);
  const size_t rows = 100;
  for (const auto& [name, degree, tpf] :
       {std::tuple{"bspline_d60", 60, false}, std::tuple{"bspline_d50_equal20", 50, false},
        std::tuple{"tpf_d60", 60, true}}) {
    Column x, z;
    for (size_t r = 0; r < rows; ++r)
      x.push_back(grid(rng, 0, 10));
    for (size_t r = 0; r < rows; ++r)
      z.push_back(rounded(rng.gauss(0, 1), 6));
    Design design;
    if (tpf) {
      const double lo = *std::min_element(x.begin(), x.end());
      const double hi = *std::max_element(x.begin(), x.end());
      design = tpfDesign("t", x, degree,
                         {lo + (hi - lo) * 1 / 4, lo + (hi - lo) * 2 / 4, lo + (hi - lo) * 3 / 4});
    } else {
      design = bsplineDesign("bs", x, degree, std::string(name) == "bspline_d60" ? 3 : 20, true);
    }
    Column y;
    for (size_t r = 0; r < rows; ++r)
      y.push_back(rounded(3 * std::sin(x[r]) + 2 * z[r] + rng.gauss(0, 1), 10));
    design.push_back({"z", z});
    addUserCase(files, name, {{"x", x}, {"z", z}, {"y", y}}, design);
  }
}

// Every user case's files (<case>.csv and <case>_x.csv) by file name, drawn in the script's
// order.
inline std::map<std::string, std::string> userFiles() {
  PyRandom rng(52);
  std::map<std::string, std::string> files;
  addUserPolyCases(rng, files);
  addUserClassCases(rng, files);
  addUserSplineCases(rng, files);
  addUserNearCases(rng, files);
  addUserManyLevelCase(rng, files);
  addWideSplineCases(files);
  return files;
}

} // namespace pivotcorpus
