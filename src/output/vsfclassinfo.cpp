// The CLASS tables: "ClassLevelInfo" (levels and values of every CLASS variable) and,
// with SHOWCODING, one "ClassLevelCoding" table per used CLASS variable inside the
// "Coding" group. Levels and codings are the design library's. Declared in output/vsfprinters.h.
#include "design/levrow.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t kValuesLimit = 256;

[[nodiscard]] int32_t trimmedLength(const char* text, int32_t width) {
  int32_t n = width;
  while (n > 0 && text[n - 1] == ' ')
    --n;
  return n;
}

// The level text of level i, left-aligned in the variable's level width.
const char* levelText(const LevVariable& v, int32_t i) {
  assert(i >= 0 && i < v.levelCount && "a level of the variable");
  return v.levelTexts != nullptr ? v.levelTexts[i] : "";
}

[[nodiscard]] int32_t levelLength(const LevVariable& v, int32_t i) {
  assert(i >= 0 && i < v.levelCount && "a level of the variable");
  if (v.levelTexts == nullptr || v.levelTexts[i] == nullptr)
    return 0;
  return trimmedLength(v.levelTexts[i], v.levelWidth);
}

// Level lists longer than the values text can show are cut long before this many levels.
constexpr int32_t kShownLevels = 1024;

// The level texts and their lengths of the first levels of `v` (at most kShownLevels);
// returns how many.
[[nodiscard]] int32_t levelTexts(const LevVariable& v, const char** texts, int32_t* lengths) {
  const int32_t shown = std::min(v.levelCount, kShownLevels);
  for (int32_t i = 0; i < shown; ++i) {
    texts[i] = levelText(v, i);
    lengths[i] = levelLength(v, i);
  }
  return shown;
}

} // namespace

int32_t vsfClassValuesText(const char* const* texts, const int32_t* lengths, int32_t count,
                           char delimiter, char* out, int32_t width) {
  int32_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t n = lengths[i];
    // A blank level text counts as one character, leading blanks are not counted.
    const char* t = texts[i];
    int32_t lead = 0;
    while (lead < n && t[lead] == ' ')
      ++lead;
    total += 1 + std::max(n - lead, 1);
  }
  if (out == nullptr || width <= 0)
    return total;
  std::memset(out, ' ', static_cast<size_t>(width));
  int32_t p = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t L = std::max(lengths[i], 1);
    if (p + L + 1 > 253) {
      for (int32_t k = 0; k < 3 && p + k < width; ++k)
        out[p + k] = '.';
      break;
    }
    if (i + 1 < count && p + L < width)
      out[p + L] = delimiter;
    int32_t copy = std::min(lengths[i], width - p);
    if (copy > 0)
      std::memcpy(out + p, texts[i], static_cast<size_t>(copy));
    p += L + 1;
  }
  return total;
}

VsfStatus vsfpClassInfo(VsfContext* ctx, QkPool* pool) {
  VsfOut out(ctx);
  LevDesign* d = vsfDesign(ctx);
  const int32_t count = d != nullptr ? d->classCount : 0;
  const char delimiter =
      ctx->stmt.cls.delimiter != 0 ? static_cast<char>(ctx->stmt.cls.delimiter) : ' ';
  int32_t nameWidth = 0, valuesWidth = 0;
  bool cut = false;
  const char* texts[kShownLevels];
  int32_t lengths[kShownLevels];
  for (int32_t c = 0; c < count; ++c) {
    const LevVariable& v = d->classes[c];
    nameWidth = std::max<int32_t>(nameWidth, v.var != nullptr ? v.var->nameLength : 0);
    const int32_t shown = levelTexts(v, texts, lengths);
    const int32_t total = vsfClassValuesText(texts, lengths, shown, delimiter, nullptr, 0);
    if (total < kValuesLimit)
      valuesWidth = std::max(valuesWidth, total);
    else
      cut = true;
  }
  if (cut) {
    valuesWidth = kValuesLimit;
    vsfLog(VsfMsg::ClassLevelListCut);
  }
  // A design whose CLASS variables have no levels still gets its table, without values.
  char* values = valuesWidth > 0 ? static_cast<char*>(poolTake(pool, valuesWidth)) : nullptr;
  if (valuesWidth > 0 && values == nullptr)
    return VsfStatus::NoMemory;
  const int32_t nameLen =
      std::min<int32_t>(ctx->stmt.proc.nameLen > 0 ? ctx->stmt.proc.nameLen : 20, 32);
  char name[32];
  int32_t levels = 0, split = 0;
  const bool splitColumn = ctx->stmt.cls.splitAny && !ctx->stmt.cls.splitAll;
  if (!out.create("ClassLevelInfo", msgText(VsfMsg::ClassInfoClassLevelInformation))) {
    if (values != nullptr)
      pool->free(pool, values);
    return VsfStatus::Ok;
  }
  out.column({rvqColumnType(RvqColumnType::Chars), vsfaName("Class"),
              rvqInt(RvqAttrId::Width, std::max(nameWidth, 1)),
              vsfaLabel(msgText(VsfMsg::ClassInfoClass)), vsfaBound(name)});
  if (splitColumn)
    out.intColumn("Split", &split, false);
  out.column({rvqColumnType(RvqColumnType::Int), vsfaName("Levels"),
              vsfaLabel(msgText(VsfMsg::ClassInfoLevels)), vsfaBound(&levels)});
  if (valuesWidth > 0)
    out.column({rvqColumnType(RvqColumnType::Chars), vsfaName("Values"),
                rvqInt(RvqAttrId::Width, valuesWidth), vsfaLabel(msgText(VsfMsg::ClassInfoValues)),
                vsfaBound(values)});
  vsfCall(out.table, RvqMethod::SetDynamic,
          {vsfaDyn("WD"), rvqInt(RvqAttrId::Value, std::min(valuesWidth, 50))});
  out.endColumns();
  out.bind("Stat.VARSIFTER.ClassLevelInfo",
           {vsfaDyn("printFootnote"), rvqInt(RvqAttrId::Value, splitColumn ? 1 : 0)}, false);
  for (int32_t c = 0; c < count; ++c) {
    const LevVariable& v = d->classes[c];
    vsfFill(name, 32, v.var != nullptr ? v.var->name : "",
            std::min<int32_t>(v.var != nullptr ? v.var->nameLength : 0, nameLen));
    levels = v.levelCount;
    split = v.split;
    if (values != nullptr) {
      std::memset(values, ' ', static_cast<size_t>(valuesWidth));
      const int32_t shown = levelTexts(v, texts, lengths);
      vsfClassValuesText(texts, lengths, shown, delimiter, values, valuesWidth);
    }
    out.emit();
  }
  out.endRows();
  out.publish();
  if (values != nullptr)
    pool->free(pool, values);
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpClassCoding(VsfContext* ctx, QkPool* pool) {
  VsfOut out(ctx);
  LevDesign* d = vsfDesign(ctx);
  const int32_t count = d != nullptr ? d->classCount : 0;
  if (count == 0) {
    out.finish();
    return VsfStatus::Ok;
  }
  uint8_t* used = static_cast<uint8_t*>(poolTake(pool, count));
  if (used == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& eff = d->effects[e];
    for (int32_t j = 0; j < eff.allClassCount; ++j)
      if (eff.allClass[j] >= 0 && eff.allClass[j] < count)
        used[eff.allClass[j]] = 1;
    for (int32_t j = 0; j < eff.constructedCount; ++j) {
      const LevEftVar& cv = d->constructed[eff.constructed[j]];
      for (int32_t k = 0; k < cv.classCount; ++k)
        if (cv.classes[k] >= 0 && cv.classes[k] < count)
          used[cv.classes[k]] = 1;
    }
  }
  int32_t nameWidth = 0, valueWidth = 0;
  for (int32_t c = 0; c < count; ++c) {
    if (!used[c])
      continue;
    const LevVariable& v = d->classes[c];
    nameWidth = std::max<int32_t>(nameWidth, v.var != nullptr ? v.var->nameLength : 0);
    for (int32_t i = 0; i < v.levelCount; ++i)
      valueWidth = std::max(valueWidth, levelLength(v, i));
  }
  const int32_t textWidth = std::max(d->maxLevelWidth, 8);
  char* text = static_cast<char*>(poolTake(pool, textWidth));
  if (text == nullptr)
    return VsfStatus::NoMemory;
  VsfGroup group(
      ctx, "Coding",
      {vsfaLabel(msgText(VsfMsg::ClassInfoClassLevelCoding)), rvqFlag(RvqAttrId::GroupKind, 0)});
  const bool fullRank = has(d->designFlags, LevDesignFlag::NonGlm);
  const int32_t dropLast = fullRank ? 1 : 0;
  int32_t showHeader = 1;
  char name[32];
  for (int32_t c = 0; c < count; ++c) {
    if (!used[c])
      continue;
    const LevVariable& v = d->classes[c];
    const int32_t nameLength = std::min<int32_t>(v.var != nullptr ? v.var->nameLength : 0, 32);
    vsfFill(name, 32, v.var != nullptr ? v.var->name : "", nameLength);
    const char* format = "1.0";
    if (fullRank) {
      switch (v.coding) {
      case CC_EFFECT:
        format = "2.0";
        break;
      case CC_REFERENCE:
      case CC_ORDINAL:
        format = "1.0";
        break;
      case CC_POLYNOMIAL:
        format = "BEST6.";
        break;
      default: // the orthogonal codings and BATHTUB
        format = "D6.";
      }
    }
    const int32_t n = v.levelCount;
    double* row = n > 0 ? static_cast<double*>(poolTake(pool, int64_t(n) * 8)) : nullptr;
    if (n > 0 && row == nullptr)
      return VsfStatus::NoMemory;
    VsfOut t(ctx);
    HostMsgArg nameArg(name, nameLength);
    if (!t.create("ClassLevelCoding", msgText(VsfMsg::ClassInfoCoding, {nameArg}),
                  {rvqTextHandle(RvqAttrId::Description, vsfText(name, nameLength))})) {
      if (row != nullptr)
        pool->free(pool, row);
      continue;
    }
    t.column({rvqColumnType(RvqColumnType::Chars), vsfaName("Class"),
              rvqInt(RvqAttrId::Width, std::max(nameWidth, 1)), vsfaBound(name)});
    t.column({rvqColumnType(RvqColumnType::Chars), vsfaName("Value"),
              vsfaLabel(msgText(VsfMsg::ClassInfoValues)),
              rvqInt(RvqAttrId::Width, std::max(valueWidth, 1)), vsfaDyn("valueHeader"),
              rvqTextHandle(RvqAttrId::Value, msgText(VsfMsg::ClassInfoValue, {nameArg})),
              vsfaBound(text)});
    for (int32_t j = 1; j <= n - dropLast; ++j) {
      char cname[16], head[16];
      std::snprintf(cname, sizeof cname, "X%d", j);
      std::snprintf(head, sizeof head, "%d", j);
      t.column({rvqColumnType(RvqColumnType::Double), vsfaName(cname), vsfaLabel(vsfText(head)),
                vsfaTemplate("designvar"), vsfaBound(row + (j - 1))});
    }
    t.endColumns();
    t.bind("Stat.VARSIFTER.ClassLevelCoding",
           {vsfaDyn("designFormat"), rvqTextHandle(RvqAttrId::Value, vsfText(format)),
            vsfaDyn("showHeader"), rvqInt(RvqAttrId::Value, showHeader)},
           false);
    for (int32_t k = 0; k < n; ++k) {
      vsfFill(text, std::max(valueWidth, 1), levelText(v, k), std::min(v.levelWidth, textWidth));
      if (!fullRank) {
        std::fill(row, row + n, 0.0);
        row[k] = 1.0;
      } else if (n > 1) {
        zlevflr(1.0, &v, row, k, n - 1);
      }
      t.emit();
      std::memset(name, ' ', 32);
    }
    t.endRows();
    t.publish();
    if (row != nullptr)
      pool->free(pool, row);
    showHeader = 0;
  }
  vsfLevelMark(ctx, 2);
  group.close();
  pool->free(pool, used);
  out.finish();
  return VsfStatus::Ok;
}
