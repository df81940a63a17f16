// Polynomial constructed effects: option reading, the graded lexicographic term table with
// the MDEGREE= filter, term counts and term labels. The EFFECT statement reader makes one
// record per term (or one for all with NOSEPARATE) and labels them here.
#include "effects/levpoly.h"

#include "effects/levalloc.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <cassert>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Largest number of term entries (variables over all terms) a polynomial may hold.
constexpr int64_t kMaxTermEntries = INT32_MAX / 8;

// A text option: the slot's characters and length (the host stores the text's length).
[[nodiscard]] bool slotText(const ParsedStatement* s, EffectSlot k, const char** text,
                            int32_t* length) {
  const OptionSlot* slot = stmtSlot(s, k);
  if (slot == nullptr || slot->items.text == nullptr)
    return false;
  *text = slot->items.text;
  *length = slot->value.list.count;
  return true;
}

const HostVariable* numericVar(const LevDesign* design, int32_t index) {
  return index >= 0 && index < design->numericCount ? design->numerics[index].var : nullptr;
}

} // namespace

int32_t zlevBinCoef(int32_t n, int32_t k) {
  assert(0 <= k && k <= n && "a binomial coefficient n over k with k in 0..n");
  if (k == 0 || k == n)
    return 1;
  if (k == 1 || k == n - 1)
    return n;
  if (k > n / 2)
    k = n - k;
  double r = static_cast<double>(n) / k;
  for (int32_t j = k - 1; j >= 1; --j) {
    int32_t m = n - k + j;
    if (static_cast<double>(INT32_MAX / m) < r / j)
      return INT32_MAX;
    r = (r / j) * m;
  }
  return static_cast<int32_t>(std::lround(r));
}

int32_t zlevPolyNefts(const ParsedStatement* s, int32_t n) {
  if (stmtFlag(s, EffectFlag::NoSeparate))
    return 1;
  int32_t degree = stmtInt(s, EffectSlot::PolyDegree, 1);
  int32_t b = zlevBinCoef(n + degree, degree);
  return b == INT32_MAX ? b : b - 1;
}

VsfStatus zlevParsePoly(LevDesign* design, PolyInfo* info, int32_t n, const int32_t* variables,
                        const ParsedStatement* s, const char* name, int32_t nameLength) {
  info->nVariables = n;
  info->degree = stmtInt(s, EffectSlot::PolyDegree, 1);
  if (info->degree < 1)
    info->degree = 1;
  info->mdegree = stmtInt(s, EffectSlot::MonoDegree, info->degree);
  int32_t degree = info->degree;
  info->variables = levNew<int32_t>(static_cast<size_t>(n));
  if (info->variables == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t i = 0; i < n; ++i)
    info->variables[i] = variables[i];

  // Counts per degree, checked against what the term table can hold.
  int64_t terms = 0, entries = 0;
  bool tooMany = n < 1;
  for (int32_t k = 1; k <= degree && !tooMany; ++k) {
    int32_t c = zlevBinCoef(n + k - 1, k);
    terms += c;
    entries += static_cast<int64_t>(c) * k;
    tooMany = c == INT32_MAX || entries > kMaxTermEntries;
  }
  if (tooMany && n >= 1) {
    vsfLog(EffMsg::PolynomialEffectMoreTerms, {HostMsgArg(name, nameLength)});
    levRaise(design, StepRc::Error);
    return VsfStatus::ReportedFailure;
  }
  info->degreeCount = levNew<int32_t>(static_cast<size_t>(degree));
  info->degreeStart = levNew<int32_t>(static_cast<size_t>(degree) + 1);
  info->multiplyStart = levNew<int32_t>(static_cast<size_t>(degree) * (n > 0 ? n : 1));
  info->termList = levNew<int32_t>(static_cast<size_t>(entries > 0 ? entries : 1));
  std::vector<int32_t> firstPos(static_cast<size_t>(terms > 0 ? terms : 1));
  std::vector<int64_t> termStart(static_cast<size_t>(terms > 0 ? terms : 1) + 1);
  if (info->degreeCount == nullptr || info->degreeStart == nullptr ||
      info->multiplyStart == nullptr || info->termList == nullptr)
    return VsfStatus::NoMemory;
  // Positions of each term's variables, term after term (graded lexicographic order).
  std::vector<int32_t> pos;
  pos.reserve(static_cast<size_t>(entries));
  int32_t t = 0;
  for (int32_t i = 0; i < n; ++i, ++t) {
    termStart[static_cast<size_t>(t)] = static_cast<int64_t>(pos.size());
    firstPos[static_cast<size_t>(t)] = i;
    pos.push_back(i);
  }
  int32_t blockStart = 0, blockEnd = n; // terms of degree k - 1
  for (int32_t k = 2; k <= degree; ++k) {
    int32_t newStart = t;
    for (int32_t i = 0; i < n; ++i) {
      int32_t first = blockStart;
      while (first < blockEnd && firstPos[static_cast<size_t>(first)] < i)
        ++first;
      info->multiplyStart[(k - 1) * n + i] = first;
      for (int32_t u = first; u < blockEnd; ++u, ++t) {
        termStart[static_cast<size_t>(t)] = static_cast<int64_t>(pos.size());
        firstPos[static_cast<size_t>(t)] = i;
        pos.push_back(i);
        int64_t from = termStart[static_cast<size_t>(u)];
        for (int32_t e = 0; e < k - 1; ++e)
          pos.push_back(pos[static_cast<size_t>(from + e)]);
      }
    }
    blockStart = newStart;
    blockEnd = t;
  }
  // Copy the kept terms (MDEGREE= drops those with one variable above it) as numeric indexes.
  int64_t w = 0;
  int32_t kept = 0;
  int32_t term = 0;
  info->degreeStart[0] = 0;
  for (int32_t k = 1; k <= degree; ++k) {
    int32_t count = zlevBinCoef(n + k - 1, k);
    int32_t keptOfDegree = 0;
    for (int32_t c = 0; c < count; ++c, ++term) {
      const int32_t* p = pos.data() + termStart[static_cast<size_t>(term)];
      bool drop = false;
      if (k > info->mdegree) {
        int32_t run = 1;
        for (int32_t e = 1; e < k && !drop; ++e) {
          run = p[e] == p[e - 1] ? run + 1 : 1;
          drop = run > info->mdegree;
        }
      }
      if (drop)
        continue;
      for (int32_t e = 0; e < k; ++e)
        info->termList[w++] = variables[p[e]];
      ++keptOfDegree;
      ++kept;
    }
    info->degreeCount[k - 1] = keptOfDegree;
    info->degreeStart[k] = kept;
  }
  info->nTerms = kept;

  info->noSeparate = stmtFlag(s, EffectFlag::NoSeparate) ? 1 : 0;
  if (stmtFlag(s, EffectFlag::Standardize)) {
    info->standardize = static_cast<uint8_t>(stmtInt(s, EffectSlot::StdKind, PS_CENTERSCALE));
    if (info->standardize != PS_NONE) {
      if (stmtFlag(s, EffectFlag::PrefixNone)) {
        info->prefix = "";
        info->prefixLength = 0;
      } else if (!slotText(s, EffectSlot::Prefix, &info->prefix, &info->prefixLength)) {
        info->prefix = "s_";
        info->prefixLength = 2;
      }
    }
  }
  if (info->prefix == nullptr)
    info->prefix = "";
  if (!slotText(s, EffectSlot::Exponent, &info->exponent, &info->exponentLength)) {
    info->exponent = "^";
    info->exponentLength = 1;
  }
  if (stmtFlag(s, EffectFlag::ProductNone)) {
    info->product = "";
    info->productLength = 0;
  } else if (!slotText(s, EffectSlot::Product, &info->product, &info->productLength)) {
    info->product = "*";
    info->productLength = 1;
  }
  info->includeName = (stmtFlag(s, EffectFlag::IncludeName) && !info->noSeparate) ? 1 : 0;
  info->expand = stmtFlag(s, EffectFlag::Expand) ? 1 : 0;
  if (stmtFlag(s, EffectFlag::Exponent)) {
    if (info->expand)
      vsfLog(EffMsg::LabelstyleExponentLabelstyleExpand);
    info->expand = 0;
  }
  if (info->standardize != PS_NONE) {
    if (n > 0) {
      const bool centers = info->standardize == PS_CENTER || info->standardize == PS_CENTERSCALE;
      const bool scales = info->standardize == PS_SCALE || info->standardize == PS_CENTERSCALE;
      if (centers)
        info->centers = levNew<double>(static_cast<size_t>(n));
      if (scales)
        info->scales = levNew<double>(static_cast<size_t>(n));
      info->statistics = levNew<double>(static_cast<size_t>(n));
      if (info->statistics == nullptr || (centers && info->centers == nullptr) ||
          (scales && info->scales == nullptr))
        return VsfStatus::NoMemory;
    }
    info->stdMethod = static_cast<uint8_t>(stmtInt(s, EffectSlot::StdMethod, PM_RANGE));
  }
  return VsfStatus::Ok;
}

int32_t zlevPolyTermLen(const LevDesign* design, const PolyInfo* info, int32_t degree,
                        const int32_t* term) {
  int32_t length = 0;
  for (int32_t i = 0; i < degree;) {
    int32_t m = 1;
    while (i + m < degree && term[i + m] == term[i])
      ++m;
    const HostVariable* v = numericVar(design, term[i]);
    int32_t piece = info->prefixLength + (v ? v->nameLength : 0) + info->productLength;
    if (info->expand) {
      length += m * piece;
    } else {
      length += piece;
      if (m > 1)
        length += static_cast<int32_t>(std::floor(std::log10(m + 0.5))) + 1 + info->exponentLength;
    }
    i += m;
  }
  return length - info->productLength;
}

int32_t zlevPolyTermLabel(const LevDesign* design, const LevEftVar* record, int32_t degree,
                          const int32_t* term, char* buffer) {
  const PolyInfo* info = record->poly;
  int32_t w = 0;
  auto put = [&](const char* text, int32_t n) {
    if (n > 0)
      std::memcpy(buffer + w, text, static_cast<size_t>(n));
    w += n;
  };
  for (int32_t i = 0; i < degree;) {
    int32_t m = 1;
    while (i + m < degree && term[i + m] == term[i])
      ++m;
    const HostVariable* v = numericVar(design, term[i]);
    if (w > 0)
      put(info->product, info->productLength);
    int32_t copies = info->expand ? m : 1;
    for (int32_t c = 0; c < copies; ++c) {
      if (c > 0)
        put(info->product, info->productLength);
      put(info->prefix, info->prefixLength);
      if (v != nullptr)
        put(v->name, v->nameLength);
    }
    if (!info->expand && m > 1) {
      put(info->exponent, info->exponentLength);
      char digits[16];
      int n = std::snprintf(digits, sizeof digits, "%d", m);
      put(digits, n);
    }
    i += m;
  }
  buffer[w] = '\0';
  return w;
}

VsfStatus zlevPolyLabel(LevDesign* design, LevEftVar* record, const char* name,
                        int32_t nameLength) {
  if (record->kind != EffectVarKind::Polynomial || record->name != nullptr ||
      record->poly == nullptr)
    return VsfStatus::Ok;
  const PolyInfo* info = record->poly;
  if (!info->noSeparate) {
    int32_t degree = record->numericCount;
    int32_t len = zlevPolyTermLen(design, info, degree, record->numeric);
    int32_t lead = info->includeName ? nameLength + 1 : 0;
    char* text = static_cast<char*>(levAlloc(static_cast<size_t>(lead + len) + 16));
    if (text == nullptr)
      return VsfStatus::NoMemory;
    if (lead > 0) {
      std::memcpy(text, name, static_cast<size_t>(nameLength));
      text[nameLength] = '_';
    }
    int32_t written = zlevPolyTermLabel(design, record, degree, record->numeric, text + lead);
    record->name = text;
    record->nameLength = lead + written;
    return VsfStatus::Ok;
  }
  record->name = levStrdup(name, nameLength);
  record->nameLength = nameLength;
  int32_t terms = info->nTerms;
  record->termLabels = levNew<char*>(static_cast<size_t>(terms));
  record->termLabelLengths = levNew<int32_t>(static_cast<size_t>(terms));
  if (record->name == nullptr || record->termLabels == nullptr ||
      record->termLabelLengths == nullptr)
    return VsfStatus::NoMemory;
  record->maxLabelLength = 0;
  int32_t entry = 0;
  for (int32_t k = 1, t = 0; k <= info->degree; ++k)
    for (int32_t c = 0; c < info->degreeCount[k - 1]; ++c, ++t) {
      const int32_t* term = info->termList + entry;
      int32_t len = zlevPolyTermLen(design, info, k, term);
      char* text = static_cast<char*>(levAlloc(static_cast<size_t>(len) + 16));
      if (text == nullptr)
        return VsfStatus::NoMemory;
      record->termLabels[t] = text;
      record->termLabelLengths[t] = zlevPolyTermLabel(design, record, k, term, text);
      if (record->termLabelLengths[t] > record->maxLabelLength)
        record->maxLabelLength = record->termLabelLengths[t];
      entry += k;
    }
  return VsfStatus::Ok;
}
