// Parameter labels of the SEPARATE and SEPARATECOMPACT styles and the short names, the
// level texts through which the printers show a parameter's levels, the true values of its
// CLASS levels, the response-to-CLASS links and the per-effect means of the design columns.
// INTERLACED names are zlevname.cpp's. Declared in design/levnames.h.
#include "design/levnames.h"
#include "support/notfound.h"

#include "design/levconstructed.h"
#include "design/levlevel.h"

#include "support/hoststubs.h"
#include "support/protocol.h"
#include "support/wzstr.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[nodiscard]] bool prefixed(ClassCoding coding) {
  return classCodingLabelPrefix(coding) != nullptr;
}

[[nodiscard]] int32_t digitsOf(int32_t n) {
  return static_cast<int32_t>(std::floor(std::log10(n + 0.5))) + 1;
}

[[nodiscard]] int32_t prefixWidth(ClassCoding coding) {
  return static_cast<int32_t>(std::strlen(classCodingLabelPrefix(coding)));
}

[[nodiscard]] int32_t classAt(const LevEffect* ef, int32_t j) {
  return j < ef->crossedCount ? ef->crossed[j] : ef->nested[j - ef->crossedCount];
}

// The level texts of one parameter: constructed-effect level names, then the CLASS name
// parts, each after its separator.
std::string levelText(const LevDesign* d, const LevEffect* ef, const int32_t* levels) {
  std::string out;
  int32_t at = 0;
  for (int32_t k = 0; k < ef->constructedCount; ++k, ++at) {
    const LevEftVar& ev = d->constructed[ef->constructed[k]];
    if (ev.columnNames == nullptr)
      continue;
    out += ' ';
    out.append(ev.columnNames[levels[at]], static_cast<size_t>(ev.columnNameLengths[levels[at]]));
  }
  bool first = true;
  for (int32_t j = 0; j < ef->crossedCount + ef->nestedCount; ++j, ++at) {
    const LevVariable& v = d->classes[classAt(ef, j)];
    if (v.split)
      continue;
    out += first ? ' ' : (d->delimiter != '\0' ? d->delimiter : ' ');
    first = false;
    char part[256];
    int32_t n = levLevelNamePart(&v, levels[at], part, sizeof part, false);
    out.append(part, static_cast<size_t>(n));
  }
  return out;
}

} // namespace

int32_t zlevEfParmLabel(LevDesign* d, QkPool* pool, int32_t e, int32_t W) {
  const LevEffect& ef = d->effects[e];
  const int32_t n = ef.columnCount;
  const char* name = ef.name != nullptr ? ef.name : "";
  const int32_t nameLength = static_cast<int32_t>(std::strlen(name));
  // Widths.
  int32_t S = 0, A = 0;
  for (int32_t j = 0; j < ef.crossedCount + ef.nestedCount; ++j) {
    const LevVariable& v = d->classes[classAt(&ef, j)];
    if (v.split)
      continue;
    int32_t width = 0;
    if (prefixed(v.coding))
      width = prefixWidth(v.coding) + digitsOf(v.levelCount);
    else
      for (int32_t k = 0; k < v.levelCount; ++k)
        width = std::max(width, wzstrip(v.levelTexts[k], v.levelWidth));
    S += width + 1;
  }
  for (int32_t k = 0; k < ef.constructedCount; ++k)
    A += d->constructed[ef.constructed[k]].maxLabelLength + 1;
  // Short names.
  const int32_t prefixLength = d->shortNameText != nullptr ? d->shortNameLength - 1 : 0;
  // Per column.
  for (int32_t k = 0; k < n; ++k) {
    const int32_t column = ef.firstColumn + k;
    const int32_t size = A + std::max(W, nameLength) + S + 1;
    std::string label(static_cast<size_t>(size), ' ');
    label.replace(0, static_cast<size_t>(nameLength), name);
    int32_t at = d->parmLabelStyle == LSTYLE_SEPARATE ? std::max(W, nameLength) : nameLength;
    const int32_t* row = ef.columnTable != nullptr
                             ? ef.columnTable + static_cast<size_t>(k) * ef.columnRowWidth
                             : nullptr;
    if (row != nullptr) {
      std::string levels = levelText(d, &ef, row);
      label.replace(static_cast<size_t>(at), levels.size(), levels);
      at += static_cast<int32_t>(levels.size());
    }
    label.resize(static_cast<size_t>(at));
    d->columnLabels[column] = levArray<char>(pool, label.size() + 1);
    std::memcpy(d->columnLabels[column], label.data(), label.size());
    d->longestLabel = std::max(d->longestLabel, static_cast<int32_t>(label.size()));
    std::string nameText;
    if (!d->shortParmNames) {
      char buffer[32];
      const int32_t m = std::min(static_cast<int32_t>(label.size()), 32);
      wzstmov(label.data(), m, buffer, 32);
      zname(0, buffer, 32);
      nameText.assign(buffer, static_cast<size_t>(wzstrip(buffer, 32)));
    } else {
      // Short names are numbered by the design column, not within the effect: numbered
      // within each effect, the names of different effects would collide, and the
      // uniqueness pass does not run for short names.
      const std::string prefix =
          prefixLength > 0 ? std::string(d->shortNameText, static_cast<size_t>(prefixLength))
                           : std::string("_X");
      nameText = prefix + std::to_string(column + 1);
    }
    d->columnNames[column] = levArray<char>(pool, nameText.size() + 1);
    std::memcpy(d->columnNames[column], nameText.data(), nameText.size());
    d->longestName = std::max(d->longestName, static_cast<int32_t>(nameText.size()));
  }
  return n;
}

int32_t zlevEfLevelLabel(const LevDesign* d, const LevEffect* ef, char* out,
                         const int32_t* levels) {
  std::string text = levelText(d, ef, levels);
  std::memcpy(out, text.data(), text.size());
  return static_cast<int32_t>(text.size());
}

int32_t zlevLenLevelLabel(const LevDesign* d, const LevEffect* ef, const int32_t* levels) {
  int32_t n = 0, at = 0;
  for (int32_t k = 0; k < ef->constructedCount; ++k, ++at) {
    const LevEftVar& ev = d->constructed[ef->constructed[k]];
    n += 1;
    if (ev.columnNames != nullptr)
      n += ev.columnNameLengths[levels[at]];
  }
  for (int32_t j = 0; j < ef->crossedCount + ef->nestedCount; ++j, ++at) {
    const LevVariable& v = d->classes[classAt(ef, j)];
    if (v.split)
      continue;
    const int32_t i = levels[at];
    if (prefixed(v.coding))
      n += 1 + prefixWidth(v.coding) + digitsOf(i + 1);
    else if (v.levelTexts != nullptr && i >= 0 && i < v.levelCount)
      n += 1 + wzstrip(v.levelTexts[i], v.levelWidth);
    else
      n += 1;
  }
  return n;
}

void zlevEfClassLevelTrue(const LevDesign* d, const LevEffect* ef, const int32_t* levels,
                          char* const* texts, const int32_t* widths, double* values) {
  const int32_t at0 = ef->constructedCount;
  for (int32_t j = 0; j < ef->crossedCount + ef->nestedCount; ++j) {
    const int32_t var = classAt(ef, j);
    const LevVariable& v = d->classes[var];
    const int32_t i = levels[at0 + j];
    char* text = texts[var];
    if (prefixed(v.coding)) {
      char part[33];
      int32_t n = levLevelNamePart(&v, i, part, sizeof part, false);
      if (text != nullptr)
        wzstmov(part, n, text, widths[var]);
      continue;
    }
    const auto* internal = static_cast<const LevInternalValue*>(v.levelValues);
    if (internal == nullptr || i < 0 || i >= v.levelCount)
      continue;
    if (v.var != nullptr && v.var->type == 1)
      values[var] = internal[i].value;
    else if (text != nullptr)
      wzstmov(internal[i].text, internal[i].length, text, widths[var]);
  }
}

void FindYonClass(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  for (int32_t r = 0; r < ctx->responseCount; ++r) {
    if (ctx->responseOnClass == nullptr)
      return;
    ctx->responseOnClass[r] = nullptr;
    const HostVariable* rv = ctx->responses[r].var;
    for (int32_t i = 0; i < d->classCount && rv != nullptr; ++i)
      if (d->classes[i].var != nullptr && d->classes[i].var->number == rv->number) {
        ctx->responseOnClass[r] = &ctx->levelIndex[i];
        break;
      }
  }
}

void zlevEfMeans(LevRegContext* ctx, const double* sums, double* out, const double* divisor,
                 double scale) {
  LevDesign* d = ctx->design;
  if (sums == nullptr || out == nullptr)
    return;
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    double total = 0;
    for (int32_t c = 0; c < ef.columnCount; ++c)
      total += sums[ef.firstColumn + c];
    out[e] = scale * total;
    if (divisor != nullptr && !isHostMissing(divisor[e]) && divisor[e] != 0)
      out[e] /= divisor[e];
    levEffectColumnMeans(d, &d->effects[e], sums, scale, out[e]);
  }
}

int32_t strjscmp(const char* a, int32_t na, const char* b, int32_t nb) {
  while (na > 0 && *a == ' ') {
    ++a;
    --na;
  }
  while (nb > 0 && *b == ' ') {
    ++b;
    --nb;
  }
  return wzstcom(a, wzstrip(a, na), b, wzstrip(b, nb));
}

int32_t zlevEftClValParm(const LevDesign* d, const LevEffect* ef, const char* const* texts,
                         const int32_t* lengths) {
  const int32_t K = ef->crossedCount + ef->nestedCount;
  if (ef->columnTable == nullptr)
    return kVsfNotFound;
  for (int32_t k = 0; k < ef->columnCount; ++k) {
    const int32_t* row =
        ef->columnTable + static_cast<size_t>(k) * ef->columnRowWidth + ef->constructedCount;
    bool all = true;
    for (int32_t j = 0; j < K && all; ++j) {
      const LevVariable& v = d->classes[classAt(ef, j)];
      if (row[j] < 0 || row[j] >= v.levelCount)
        all = false;
      else
        all = strjscmp(v.levelTexts[row[j]], v.levelWidth, texts[j], lengths[j]) == 0;
    }
    if (all)
      return k;
  }
  return kVsfNotFound;
}
