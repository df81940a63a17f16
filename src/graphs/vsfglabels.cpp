// Step labels, parameter labels and label thinning of the selection path. Effect names are
// the selection's effect records; parameter texts are the design library's.
#include "graphs/vsfglabels.h"

#include "design/levnames.h"
#include "model/vsfformulas.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

[[nodiscard]] int32_t digits(int32_t k) {
  return static_cast<int32_t>(std::floor(std::log10(k + 0.5) + 1));
}

// Copies `length` characters into a new pool text.
const char* poolText(QkPool* pool, const char* text, int32_t length) {
  char* p = static_cast<char*>(poolTake(pool, std::max(length, 1)));
  if (p != nullptr && length > 0)
    std::memcpy(p, text, static_cast<size_t>(length));
  return p;
}

[[nodiscard]] int32_t maxStepLabel(const VsfContext* ctx) {
  int32_t v = ctx->stmt.plots.maxStepLabel;
  return v > 0 ? v : 20;
}

} // namespace

VsfStatus vsfgStepLabels(VsfContext* ctx, VsfModel* m) {
  const double start = zdattim();
  VsfResultsState& r = ctx->results;
  QkPool* pool = m->pool;
  const int32_t effects = m->effectCount, steps = m->history.stepCount;
  if (steps <= 0) {
    // Nothing was recorded (NOINT with nothing entered): no labels, and no failure.
    r.effectInPath = nullptr;
    r.stepLabels = nullptr;
    r.stepLabelCount = 0;
    r.stepLabelWidth = 0;
    return VsfStatus::Ok;
  }
  r.effectInPath = static_cast<uint8_t*>(poolTake(pool, effects));
  r.stepLabels =
      static_cast<VsfLabel*>(poolTake(pool, int64_t(std::max(steps, 1)) * sizeof(VsfLabel)));
  if (r.effectInPath == nullptr || r.stepLabels == nullptr)
    return VsfStatus::NoMemory;
  r.stepLabelCount = steps;
  const bool backward = vsfMethodStartsFull(ctx->options.method);
  const bool multi = vsfGroupMethod(ctx->options.method);
  if (backward) {
    std::fill(r.effectInPath, r.effectInPath + effects, 1);
  } else if (!multi) {
    for (int32_t i = 0; i < steps; ++i)
      if (m->history.stepEffect[i] >= 0 && m->history.stepEffect[i] < effects)
        r.effectInPath[m->history.stepEffect[i]] = 1;
  } else {
    for (int32_t i = 0; i < m->history.changeListLength; ++i) {
      int32_t e = std::abs(m->history.changeList[i]);
      if (e < effects)
        r.effectInPath[e] = 1;
    }
  }
  const int32_t starting = m->includeCount;
  int32_t slot = 0, longest = 0;
  auto put = [&](const char* text, int32_t length) {
    if (slot < steps) {
      r.stepLabels[slot].text = poolText(pool, text, length);
      r.stepLabels[slot].length = static_cast<int16_t>(length);
      ++slot;
    }
    longest = std::max(longest, length);
  };
  if (backward) {
    put("Full Model", 10);
    r.firstLabelledEntry = 0;
  } else if (!ctx->options.noint) {
    if (starting == 1)
      put("Intercept", 9);
    else
      put("Included", 8);
    r.firstLabelledEntry = starting;
  } else if (starting == 0) {
    r.firstLabelledEntry = 0;
  } else {
    put("Included", 8);
    r.firstLabelledEntry = starting;
  }
  const int32_t limit = maxStepLabel(ctx);
  char* buffer = static_cast<char*>(poolTake(pool, limit + 600));
  if (buffer == nullptr)
    return VsfStatus::NoMemory;
  bool cut = false;
  int32_t k = 1;
  int32_t cursor = ctx->options.noint ? 0 : 1;
  for (int32_t i = r.firstLabelledEntry; i < steps; ++i) {
    if (!multi) {
      const int32_t e = m->history.stepEffect[i];
      if (e < 0)
        continue;
      int32_t nameLength = 0;
      const char* name = vsfEffectName(ctx, e, &nameLength);
      const bool fell =
          backward || (i > 0 && m->history.stepEffects[i] < m->history.stepEffects[i - 1]);
      int32_t n = std::snprintf(buffer, static_cast<size_t>(limit + 600), "%d%c%.*s", k,
                                fell ? '-' : '+', std::min(nameLength, 512), name);
      if (n > limit)
        n = limit, cut = true;
      put(buffer, n);
    } else {
      const int32_t changes = m->history.stepEffect[i];
      if (changes <= 0) {
        int32_t n = std::min(digits(k) + 1, limit);
        std::snprintf(buffer, static_cast<size_t>(limit + 600), "%d ", k);
        put(buffer, n);
      } else {
        int32_t n = std::snprintf(buffer, static_cast<size_t>(limit + 1), "%d", k);
        n = std::min(n, limit);
        for (int32_t c = 0; c < changes && cursor < m->history.changeListLength; ++c, ++cursor) {
          const int32_t code = m->history.changeList[cursor];
          int32_t nameLength = 0;
          const char* name = vsfEffectName(ctx, std::abs(code), &nameLength);
          if (n < limit)
            buffer[n++] = code < 0 ? '-' : '+';
          else
            cut = true;
          int32_t room = limit - n;
          int32_t copy = std::min(room, nameLength);
          if (copy < nameLength)
            cut = true;
          if (copy > 0)
            std::memcpy(buffer + n, name, static_cast<size_t>(copy));
          n += std::max(copy, 0);
        }
        put(buffer, n);
      }
    }
    ++k;
  }
  if (cut)
    vsfLog(VsfMsg::StepLabelsCut, {limit});
  r.stepLabelWidth = longest;
  ctx->graphTime += zdattim() - start;
  return VsfStatus::Ok;
}

// The curve label of parameter j of selection effect k: under INTERLACED the text of its
// design column (the effect name when the column has none), else the effect name followed
// by the column's level text. The column is the design effect's column that the effect's
// column map (SPLIT parts) gives. Writes into `buffer` when it is not null; the length.
int32_t vsfgParmLabelText(const VsfContext* ctx, const LevDesign* d, int32_t k,
                          const VsfEffectView& v, int32_t j, char* buffer) {
  int32_t nameLength = 0;
  const char* name = vsfEffectName(ctx, k, &nameLength);
  const int32_t c = v.columns != nullptr ? v.columns[j] : j;
  if (d->parmLabelStyle == LSTYLE_INTERLACED) {
    int32_t length = 0;
    const char* text =
        vsfInterlacedText(d, (v.lev != nullptr ? v.lev->firstColumn : 0) + c, &length);
    if (text == nullptr)
      text = name, length = nameLength;
    if (buffer != nullptr)
      std::memcpy(buffer, text, static_cast<size_t>(length));
    return length;
  }
  const int32_t* row = vsfLevelRow(v, c);
  if (buffer == nullptr)
    return nameLength + (row != nullptr ? zlevLenLevelLabel(d, v.lev, row) : 0);
  std::memcpy(buffer, name, static_cast<size_t>(nameLength));
  return nameLength + (row != nullptr ? zlevEfLevelLabel(d, v.lev, buffer + nameLength, row) : 0);
}

VsfStatus vsfgParmLabels(VsfContext* ctx, VsfModel* m) {
  VsfResultsState& r = ctx->results;
  // The tables of an earlier BY group lived in that group's pool: drop them before anything
  // can return.
  r.parmInPlot = nullptr;
  r.parmCurve = nullptr;
  r.parmLabels = nullptr;
  r.parmLabelWidth = 0;
  r.labelKept = nullptr;
  r.keptLabelWidth = 0;
  const int32_t parms = m->parmCount;
  if (parms <= 0)
    return VsfStatus::Ok;
  QkPool* pool = m->pool;
  uint8_t* inPlot = static_cast<uint8_t*>(poolTake(pool, parms));
  int32_t* curve = static_cast<int32_t*>(poolTake(pool, int64_t(parms) * 4));
  if (inPlot == nullptr || curve == nullptr || r.effectInPath == nullptr ||
      m->parmOffset == nullptr)
    return VsfStatus::NoMemory;
  r.parmInPlot = inPlot;
  r.parmCurve = curve;
  const LevDesign* d = vsfDesign(ctx);
  const int32_t maxLabel = ctx->stmt.plots.maxParmLabel;
  const int32_t first = ctx->options.noint ? 0 : 1;
  // Each parameter of each plotted effect, with its slot.
  auto each = [&](auto&& visit) {
    for (int32_t e = first; e < m->effectCount; ++e) {
      const VsfEffectView v = vsfEffectView(ctx, m, e);
      if (r.effectInPath[e] && v.parms > 0)
        for (int32_t j = 0; j < v.parms && m->parmOffset[e] + j < parms; ++j)
          visit(e, v, j, m->parmOffset[e] + j);
    }
  };
  if (maxLabel == 0 || d == nullptr) {
    each([&](int32_t, const VsfEffectView&, int32_t, int32_t q) { inPlot[q] = 1; });
    return VsfStatus::Ok;
  }
  VsfLabel* labels = static_cast<VsfLabel*>(poolTake(pool, int64_t(parms) * sizeof(VsfLabel)));
  if (labels == nullptr)
    return VsfStatus::NoMemory;
  r.parmLabels = labels;
  int32_t longest = 0;
  each([&](int32_t e, const VsfEffectView& v, int32_t j, int32_t) {
    longest = std::max(longest, vsfgParmLabelText(ctx, d, e, v, j, nullptr));
  });
  char* buffer = longest > 0 ? static_cast<char*>(poolTake(pool, longest + 1)) : nullptr;
  if (buffer == nullptr)
    return VsfStatus::NoMemory;
  bool cut = false;
  int32_t c = 0, lastEffect = -1;
  each([&](int32_t e, const VsfEffectView& v, int32_t j, int32_t q) {
    if (e != lastEffect)
      ++c, lastEffect = e;
    std::memset(buffer, ' ', static_cast<size_t>(longest));
    int32_t n = std::min(vsfgParmLabelText(ctx, d, e, v, j, buffer), longest);
    if (n > maxLabel)
      n = maxLabel, cut = true;
    labels[q].text = poolText(pool, buffer, n);
    labels[q].length = static_cast<int16_t>(n);
    inPlot[q] = 1;
    curve[q] = c;
  });
  r.parmLabelWidth = std::min(longest, maxLabel);
  if (cut)
    vsfLog(VsfMsg::ParameterLabelsCut, {maxLabel});
  return VsfStatus::Ok;
}

VsfStatus vsfgThinLabels(VsfContext* ctx, VsfModel* m, const double* v) {
  VsfResultsState& r = ctx->results;
  const int32_t n = m->parmCount;
  if (n <= 0 || r.parmLabels == nullptr)
    return VsfStatus::NoMemory;
  int32_t* order = static_cast<int32_t*>(poolTake(m->pool, int64_t(n) * 4));
  uint8_t* kept = static_cast<uint8_t*>(poolTake(m->pool, n));
  double* values = static_cast<double*>(poolTake(m->pool, int64_t(n) * 8));
  if (order == nullptr || kept == nullptr || values == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t i = 0; i < n; ++i)
    order[i] = i, values[i] = v[i];
  vsfQsort(values, n, order, 0);
  const double top = v[order[0]], bottom = v[order[n - 1]];
  const double R = top - bottom, gap = ctx->stmt.plots.coefLabelGap * R;
  int32_t width = r.parmLabels[order[0]].length;
  kept[order[0]] = 1;
  double last = top;
  if (n >= 3)
    for (int32_t i = 1; i < n - 1 && v[order[i]] > R / 100; ++i)
      if (last - v[order[i]] > gap) {
        kept[order[i]] = 1;
        last = v[order[i]];
        width = std::max<int32_t>(width, r.parmLabels[order[i]].length);
      }
  if (bottom != 0.0) {
    kept[order[n - 1]] = 1;
    width = std::max<int32_t>(width, r.parmLabels[order[n - 1]].length);
  }
  last = bottom;
  for (int32_t i = n - 2; i >= 0 && v[order[i]] < -R / 100; --i)
    if (v[order[i]] - last > gap) {
      kept[order[i]] = 1;
      last = v[order[i]];
      width = std::max<int32_t>(width, r.parmLabels[order[i]].length);
    }
  r.labelKept = kept;
  r.keptLabelWidth = width;
  return VsfStatus::Ok;
}
