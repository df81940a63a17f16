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
      out["poly" + std::to_string(nvar) + "_d" + std::to_string(d)] = csvText(cols, y);
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
      out["tp_" + tag] = csvText(cols, y);
      cols = bspline(x, d, kn);
      y = response(firstColumns(cols, 3), rng, 150);
      out["bs_" + tag] = csvText(cols, y);
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
      out["class_" + coding + "_" + std::to_string(count)] = csvText(cols, y);
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

} // namespace pivotcorpus
