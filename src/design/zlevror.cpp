// Level ordering of one CLASS variable: settling its ORDER, reference and descending codes,
// sorting the levels by fixed-size key records with an exact Shell sort, resolving the
// reference level (moved last under the GLM design) and building the orthogonal coding
// matrices. The level arrays themselves come from zlevlev.cpp. Declared in design/levlevel.h.
#include "design/levlevel.h"

#include "design/levreg.h"
#include "numerics/zgsorth.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/stepcodes.h"
#include "support/wzstr.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[nodiscard]] bool validOrder(int32_t c) {
  int32_t d = c - 'D';
  return d >= 0 && d <= 22 && ((0x700225u >> d) & 1u) != 0;
}

[[nodiscard]] int cmpSigned64(const char* a, const char* b) {
  int64_t x, y;
  std::memcpy(&x, a, 8);
  std::memcpy(&y, b, 8);
  return x < y ? -1 : x > y ? 1 : 0;
}

[[nodiscard]] int cmpDouble(const char* a, const char* b) {
  double x, y;
  std::memcpy(&x, a, 8);
  std::memcpy(&y, b, 8);
  bool mx = isHostMissing(x), my = isHostMissing(y);
  if (mx || my)
    return mx == my ? 0 : (mx ? -1 : 1);
  return x < y ? -1 : x > y ? 1 : 0;
}

[[nodiscard]] int cmpBytes(const char* a, const char* b, int32_t n) {
  int r = n > 0 ? std::memcmp(a, b, static_cast<size_t>(n)) : 0;
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

// Compares by one key letter (ignoring its sign).
[[nodiscard]] int cmpKey(char letter, const char* a, const char* b, int32_t size) {
  switch (letter) {
  case 'D':
    return cmpDouble(a, b);
  case 'L':
    return cmpSigned64(a, b);
  case 'S':
    return cmpBytes(a, b, size);
  default:
    return 0;
  }
}

// True when record a must move behind record b.
[[nodiscard]] bool outOfOrder(const char* a, const char* b, const char* first, const char* second,
                              int32_t keySize) {
  int direction = first[0] == '-' ? -1 : 1;
  char letter = first[0] == '-' ? first[1] : first[0];
  if (letter != 'X')
    return cmpKey(letter, a, b, keySize) == direction;
  int c = cmpSigned64(a, b);
  if (c != 0)
    return c == direction;
  if (second == nullptr || second[0] == ' ' || second[0] == '\0')
    return false;
  int d2 = second[0] == '-' ? -1 : 1;
  char l2 = second[0] == '-' ? second[1] : second[0];
  return cmpKey(l2, a + 8, b + 8, keySize - 8) == d2;
}

std::string cut(const char* text, int32_t n, bool justify) {
  std::string s(text, static_cast<size_t>(n));
  if (justify) {
    size_t lead = s.find_first_not_of(' ');
    s = lead == std::string::npos ? std::string() : s.substr(lead);
  }
  size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

void permute(char** values, LevInternalValue* internal, const std::vector<int64_t>& perm) {
  size_t n = perm.size();
  std::vector<char*> v(values, values + n);
  std::vector<LevInternalValue> iv(internal, internal + n);
  for (size_t k = 0; k < n; ++k) {
    values[k] = v[static_cast<size_t>(perm[k])];
    internal[k] = iv[static_cast<size_t>(perm[k])];
  }
}

} // namespace

bool levRefMatches(const char* refText, const char* level, int32_t width,
                   int32_t keepJustification) {
  std::string ref = cut(refText, static_cast<int32_t>(std::strlen(refText)), !keepJustification);
  std::string lev = cut(level, width, !keepJustification);
  return ref == lev;
}

void ShellSort(char* records, int32_t n, int64_t* permutation, const char* firstKey,
               const char* secondKey, int32_t keySize, int32_t stride) {
  std::vector<char> tmp(static_cast<size_t>(stride));
  for (int32_t gap = n / 2; gap > 0; gap /= 2)
    for (int32_t j = gap; j < n; ++j)
      for (int32_t i = j - gap; i >= 0; i -= gap) {
        char* a = records + static_cast<size_t>(i) * stride;
        char* b = records + static_cast<size_t>(i + gap) * stride;
        if (!outOfOrder(a, b, firstKey, secondKey, keySize))
          break;
        std::memcpy(tmp.data(), a, static_cast<size_t>(stride));
        std::memcpy(a, b, static_cast<size_t>(stride));
        std::memcpy(b, tmp.data(), static_cast<size_t>(stride));
        std::swap(permutation[i], permutation[i + gap]);
      }
}

namespace {

// Replaces an ORDER, reference or descending code that is out of range by its default.
void settleCodes(LevVariable& v, const LevDesign* design, int32_t n) {
  if (!validOrder(v.order))
    v.order = validOrder(design->orderDefault) ? design->orderDefault : 'M';
  if (v.referenceSelector != -1 && v.referenceSelector != -2 && v.referenceSelector != -3 &&
      (v.referenceSelector < 0 || v.referenceSelector >= n))
    v.referenceSelector = -2;
  if (v.descending != 0 && v.descending != 1)
    v.descending = 0;
}

// The sort keys of one ORDER code: key size, first and second key letters ("-" descending).
struct SortKeys {
  int32_t keySize = 8;
  const char* first = "L";
  const char* second = " ";
};

SortKeys sortKeys(int32_t order, bool desc, bool numeric, int32_t width, int32_t charLength) {
  SortKeys k;
  switch (order) {
  case 'D':
    k.first = desc ? "-L" : "L";
    break;
  case 'F':
    k.first = desc ? "L" : "-L";
    break;
  case 'I':
    k.keySize = numeric ? 8 : charLength;
    k.first = numeric ? (desc ? "-D" : "D") : (desc ? "-S" : "S");
    break;
  case 'M':
    k.keySize = width;
    k.first = desc ? "-S" : "S";
    break;
  case 'X':
    k.keySize = width + 8;
    k.first = desc ? "X" : "-X";
    k.second = desc ? "-S" : "S";
    break;
  case 'Y':
    k.keySize = 16;
    k.first = desc ? "X" : "-X";
    k.second = desc ? "-L" : "L";
    break;
  default: // 'Z'
    k.keySize = numeric ? 16 : charLength + 8;
    k.first = desc ? "X" : "-X";
    k.second = numeric ? (desc ? "-D" : "D") : (desc ? "-S" : "S");
    break;
  }
  return k;
}

// Writes the key record of level k: frequency, first appearance, internal or formatted
// value, as the ORDER code asks.
void fillKeyRecord(char* r, int32_t order, int32_t k, const LevelNode* node, char** values,
                   const LevInternalValue* internal, bool numeric, int32_t width,
                   int32_t charLength) {
  int64_t freq = node ? node->frequency : 0;
  int64_t seen = node ? node->firstAppearance : k;
  auto putInternal = [&](char* at) {
    if (numeric)
      std::memcpy(at, &internal[k].value, 8);
    else
      std::memcpy(at, internal[k].text,
                  static_cast<size_t>(std::min(internal[k].length, charLength)));
  };
  switch (order) {
  case 'D':
    std::memcpy(r, &seen, 8);
    break;
  case 'F':
    std::memcpy(r, &freq, 8);
    break;
  case 'I':
    putInternal(r);
    break;
  case 'M':
    std::memcpy(r, values[k], static_cast<size_t>(width));
    break;
  case 'X':
    std::memcpy(r, &freq, 8);
    std::memcpy(r + 8, values[k], static_cast<size_t>(width));
    break;
  case 'Y':
    std::memcpy(r, &freq, 8);
    std::memcpy(r + 8, &seen, 8);
    break;
  default:
    std::memcpy(r, &freq, 8);
    putInternal(r + 8);
    break;
  }
}

// Puts the levels in ORDER= order (DESCENDING reverses it); the level tree's own order,
// ascending formatted values, needs no sort.
void sortLevels(LevelizeContext* context, LevVariable& v, int32_t index, char** values) {
  const int32_t n = v.levelCount;
  auto* internal = static_cast<LevInternalValue*>(v.levelValues);
  const bool numeric = v.var != nullptr && v.var->type == 1;
  const bool formatted = v.var != nullptr && v.var->formatNameLength > 0;
  int32_t order = v.order;
  if (order == 'M' && numeric && !formatted)
    order = 'I';
  const bool desc = v.descending == 1;
  if (n <= 1 || (order == 'M' && !desc))
    return;
  const int32_t charLength =
      numeric ? 8 : (v.var != nullptr && v.var->length > 0 ? v.var->length : 1);
  const SortKeys keys = sortKeys(order, desc, numeric, v.levelWidth, charLength);
  const int32_t stride = (keys.keySize + 7) / 8 * 8;
  std::vector<char> records(static_cast<size_t>(stride) * static_cast<size_t>(n), 0);
  std::vector<int64_t> perm(static_cast<size_t>(n));
  auto* node = static_cast<LevelNode*>(context->trees[index]);
  for (int32_t k = 0; k < n; ++k, node = node ? static_cast<LevelNode*>(node->links[0]) : nullptr) {
    perm[static_cast<size_t>(k)] = k;
    fillKeyRecord(records.data() + static_cast<size_t>(k) * stride, order, k, node, values,
                  internal, numeric, v.levelWidth, charLength);
  }
  ShellSort(records.data(), n, perm.data(), keys.first, keys.second, keys.keySize, stride);
  permute(values, internal, perm);
}

// Turns the reference selector into a level index; a REF= value that is no level ends the
// run after LevMsg::ReferenceLevelNotALevel.
void resolveReference(LevVariable& v, char** values) {
  const int32_t n = v.levelCount;
  int32_t ref = v.referenceSelector;
  if (ref == -2) {
    ref = n - 1;
  } else if (ref == -1) {
    ref = 0;
  } else if (ref == -3) {
    ref = -1;
    for (int32_t k = 0; k < n && ref < 0; ++k)
      if (v.referenceText != nullptr &&
          levRefMatches(v.referenceText, values[k], v.levelWidth, v.keepJustification))
        ref = k;
    if (ref < 0) {
      vsfLog(LevMsg::ReferenceLevelNotALevel,
             {HostMsgArg(v.var ? v.var->name : "", v.var ? v.var->nameLength : 0)});
      xexit(StepRc::StatementError, 0);
    }
  }
  v.referenceSelector = ref;
}

// The GLM design keeps the reference level last.
void moveReferenceLast(LevVariable& v, char** values) {
  const int32_t n = v.levelCount, ref = v.referenceSelector;
  if (ref == n - 1 || v.keepReference)
    return;
  std::vector<int64_t> perm;
  for (int32_t k = 0; k < n; ++k)
    if (k != ref)
      perm.push_back(k);
  perm.push_back(ref);
  permute(values, static_cast<LevInternalValue*>(v.levelValues), perm);
}

// The raw rows (n x (n - 1)) of an orthogonal coding before centring and orthonormalising.
// No ORTHPOLY level is missing: the CLASS reader turns MISSING off for that coding.
std::vector<double> rawCodingRows(const LevVariable& v) {
  const int32_t n = v.levelCount, w = n - 1, r = v.referenceSelector;
  const bool numeric = v.var != nullptr && v.var->type == 1;
  const auto* internal = static_cast<const LevInternalValue*>(v.levelValues);
  std::vector<double> A(static_cast<size_t>(n) * w, 0.0);
  auto at = [&](int32_t i, int32_t j) -> double& { return A[static_cast<size_t>(i) * w + j]; };
  for (int32_t i = 0; i < n; ++i) {
    switch (v.coding) {
    case CC_ORTHEFFECT:
    case CC_ORTHREF:
      if (i < r)
        at(i, i) = 1;
      else if (i > r)
        at(i, i - 1) = 1;
      else if (v.coding == CC_ORTHEFFECT)
        for (int32_t j = 0; j < w; ++j)
          at(i, j) = -1;
      break;
    case CC_ORTHPOLY: {
      double x = numeric ? internal[i].value : (i - n / 2.0 + 0.5) / ((n - 1) / 2.0);
      if (2 * i == n - 1 && !numeric)
        x = 0;
      assert(!isHostMissing(x) && "the CLASS reader turns MISSING off under ORTHPOLY");
      if (x != 0)
        for (int32_t j = 0; j < w; ++j)
          at(i, j) = std::pow(x, j + 1);
      break;
    }
    case CC_ORTHORDINAL:
      for (int32_t j = 0; j < i && j < w; ++j)
        at(i, j) = 1;
      break;
    default: { // ORTHBATHTUB
      double c = std::sqrt(1.5 * n / (static_cast<double>(n) * n - 1));
      for (int32_t j = 0; j < w; ++j)
        at(i, j) = j < i ? c : -c;
      break;
    }
    }
  }
  return A;
}

// The orthogonal coding matrix in pool: the raw rows centred, orthonormalised and scaled by
// the square root of the level count. A matrix too large to address ends the run after
// LevMsg::CodingMatrixTooLarge.
double* orthogonalCoding(QkPool* pool, const LevVariable& v) {
  const int32_t n = v.levelCount, w = n - 1;
  if (static_cast<double>(n - 1) * n * 8.0 > 9007199254740992.0) {
    vsfLog(LevMsg::CodingMatrixTooLarge);
    xexit(StepRc::Error, 0);
  }
  const std::vector<double> A = rawCodingRows(v);
  auto* M = static_cast<double*>(levBlock(pool, sizeof(double) * static_cast<size_t>(n) * w));
  std::vector<double> B(static_cast<size_t>(n) * w), Q(static_cast<size_t>(n) * w),
      R(static_cast<size_t>(w) * (w + 1) / 2);
  for (int32_t j = 0; j < w; ++j) {
    double mean = 0;
    for (int32_t i = 0; i < n; ++i)
      mean += A[static_cast<size_t>(i) * w + j];
    mean /= n;
    for (int32_t i = 0; i < n; ++i)
      B[static_cast<size_t>(i) * w + j] = A[static_cast<size_t>(i) * w + j] - mean;
  }
  zgsorth(n, w, B.data(), Q.data(), R.data());
  const double s = std::sqrt(static_cast<double>(n));
  for (size_t k = 0; k < static_cast<size_t>(n) * w; ++k)
    M[k] = Q[k] * s;
  return M;
}

} // namespace

void zlevror(QkPool* pool, LevelizeContext* context, LevDesign* design, int32_t index,
             char** values, int32_t) {
  LevVariable& v = design->classes[index];
  settleCodes(v, design, v.levelCount);
  sortLevels(context, v, index, values);
  resolveReference(v, values);
  if (!has(design->designFlags, LevDesignFlag::NonGlm))
    moveReferenceLast(v, values);
  v.codingMatrix = nullptr;
  if (classCodingOrthogonal(v.coding) && v.levelCount >= 2)
    v.codingMatrix = orthogonalCoding(pool, v);
}
