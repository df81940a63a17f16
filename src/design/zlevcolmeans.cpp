// Per-column means of the design columns of effects with polynomial, spline or COLLECTION
// (numeric member) variables, kept with the effect after the reading pass; the per-effect
// means and the caller's bookkeeping are zlevlabel.cpp's. Declared in design/levconstructed.h.
#include "design/levconstructed.h"

#include <map>
#include <vector>

namespace {

struct Kinds {
  int32_t polynomial = 0, spline = 0, splitPolynomial = 0, splitSpline = 0;
  const LevEftVar* collection = nullptr; // the one collection with numeric members
};

Kinds kindsOf(const LevDesign* d, const LevEffect& ef) {
  Kinds k;
  for (int32_t i = 0; i < ef.constructedCount; ++i) {
    const LevEftVar& ev = d->constructed[ef.constructed[i]];
    if (ev.kind == EffectVarKind::Polynomial) {
      k.polynomial += 1;
      k.splitPolynomial += ev.splitPart ? 1 : 0;
    } else if (ev.kind == EffectVarKind::Spline) {
      k.spline += 1;
      k.splitSpline += ev.splitPart ? 1 : 0;
    } else if (ev.kind == EffectVarKind::Collection && ev.numericCount > 0) {
      k.collection = &ev;
    }
  }
  return k;
}

// Every entry of each block of `width` columns becomes the sum of its column sums.
void blockSums(const double* s, int32_t n, int32_t width, double* out) {
  for (int32_t b = 0; width > 0 && b < n; b += width) {
    double total = 0;
    for (int32_t c = b; c < n && c < b + width; ++c)
      total += s[c];
    for (int32_t c = b; c < n && c < b + width; ++c)
      out[c] = total;
  }
}

void polynomialMeans(const LevEffect& ef, const Kinds& k, const double* s, double scale,
                     double effectMean, double* out) {
  const int32_t n = ef.columnCount;
  if (ef.allClassCount == 0) {
    for (int32_t c = 0; c < n; ++c)
      out[c] = scale * s[c];
  } else if (k.splitPolynomial == k.polynomial) {
    for (int32_t c = 0; c < n; ++c)
      out[c] = effectMean;
  } else {
    blockSums(s, n, ef.classColumnCount, out);
    for (int32_t c = 0; c < n; ++c) {
      out[c] *= scale;
      if (ef.allClassCount > 1)
        out[c] /= ef.allClassCount;
    }
  }
}

// A collection with numeric members as the effect's only constructed variable: T is its
// member count; numeric members' columns come first, then each CLASS member's block.
void collectionMeans(const LevDesign* d, const LevEffect& ef, const LevEftVar& ev, const double* s,
                     double scale, double* out) {
  const int32_t n = ef.columnCount;
  const double T = ev.numericCount + ev.classCount;
  const bool fullRank = has(d->designFlags, LevDesignFlag::NonGlm);
  if (ef.allClassCount == 0) {
    for (int32_t c = 0; c < n; ++c)
      out[c] = c < ev.numericCount ? T * scale * s[c] : T;
    return;
  }
  const int32_t q = ef.classColumnCount;
  int32_t at = 0;
  for (int32_t j = 0; j < ev.numericCount + ev.classCount && at < n; ++j) {
    int32_t width = q;
    if (j >= ev.numericCount) {
      const LevVariable& v = d->classes[ev.classes[j - ev.numericCount]];
      width *= v.levelCount - (fullRank ? 1 : 0);
    }
    if (width <= 0)
      continue;
    blockSums(s + at, std::min(width, n - at), width, out + at);
    at += width;
  }
  for (int32_t c = 0; c < n; ++c)
    out[c] *= T * scale;
}

// Columns grouped by the columns their rows give the spline variables: each gets its
// group's average column sum, times the scale.
void splineMeans(const LevDesign* d, const LevEffect& ef, const Kinds& k, const double* s,
                 double scale, double effectMean, double* out) {
  const int32_t n = ef.columnCount;
  if (ef.constructedCount == 1 && ef.allClassCount == 0) {
    for (int32_t c = 0; c < n; ++c)
      out[c] = scale * s[c];
    return;
  }
  if (k.splitSpline == k.spline || ef.columnTable == nullptr) {
    for (int32_t c = 0; c < n; ++c)
      out[c] = effectMean;
    return;
  }
  std::map<std::vector<int32_t>, std::pair<double, int32_t>> groups;
  std::vector<std::vector<int32_t>> keys(static_cast<size_t>(n));
  for (int32_t c = 0; c < n; ++c) {
    const int32_t* row = ef.columnTable + static_cast<size_t>(c) * ef.columnRowWidth;
    for (int32_t e = 0; e < ef.constructedCount; ++e)
      if (d->constructed[ef.constructed[e]].kind == EffectVarKind::Spline)
        keys[static_cast<size_t>(c)].push_back(row[e]);
    auto& g = groups[keys[static_cast<size_t>(c)]];
    g.first += s[c];
    g.second += 1;
  }
  for (int32_t c = 0; c < n; ++c) {
    const auto& g = groups[keys[static_cast<size_t>(c)]];
    out[c] = scale * (g.first / g.second);
  }
}

} // namespace

void levEffectColumnMeans(LevDesign* d, LevEffect* ef, const double* sums, double scale,
                          double effectMean) {
  const Kinds k = kindsOf(d, *ef);
  const bool soleCollection = k.spline == 0 && ef->constructedCount == 1 && k.collection != nullptr;
  if ((k.polynomial == 0 && k.spline == 0 && k.collection == nullptr) || ef->columnCount <= 0)
    return;
  double* out = levArray<double>(d->libraryPool, static_cast<size_t>(ef->columnCount));
  ef->columnMeans = out;
  if (out == nullptr)
    return;
  const double* s = sums + ef->firstColumn;
  if (k.polynomial > 0)
    polynomialMeans(*ef, k, s, scale, effectMean, out);
  if (soleCollection)
    collectionMeans(d, *ef, *k.collection, s, scale, out);
  else if (k.spline > 0)
    splineMeans(d, *ef, k, s, scale, effectMean, out);
}
