// The Effect, CLASS-level and Parameter columns of the estimates tables: widths, level
// columns and per-row texts, read from the design's parameter names and level tables.
#include "output/vsfparmcolumns.h"

#include "design/levnames.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

[[nodiscard]] bool numberedCoding(ClassCoding coding) {
  return classCodingLabelPrefix(coding) != nullptr;
}

// The width of a CLASS variable's column: its level label width under a numbered coding,
// else (character) its longest level value; 0 for a numeric value column.
[[nodiscard]] int32_t classColumnWidth(const LevVariable& v) {
  if (numberedCoding(v.coding))
    return std::max(v.levelLabelWidth, 1);
  if (v.var != nullptr && v.var->type == 1)
    return 0;
  return std::max(v.longestLevelLength, 1);
}

} // namespace

VsfParmColumns::VsfParmColumns(VsfContext* c, QkPool* p)
    : ctx(c), pool(p), d(vsfDesign(c)), style(d != nullptr ? d->parmLabelStyle : 1),
      classCount(d != nullptr ? d->classCount : 0) {}

VsfStatus VsfParmColumns::measure(const VsfModel* m, bool noint) {
  We = 0;
  if (!noint)
    vsfEffectName(ctx, 0, &We);
  usedClass = classCount > 0 ? static_cast<uint8_t*>(poolTake(pool, classCount)) : nullptr;
  if (classCount > 0 && usedClass == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t t = 0; t < m->inModelCount; ++t) {
    int32_t len = 0;
    vsfEffectName(ctx, m->inModelList[t], &len);
    We = std::max(We, len);
  }
  Wp = 0;
  for (int32_t t = 0; t < m->inModelCount; ++t) {
    const int32_t k = m->inModelList[t];
    int32_t length = 0;
    vsfEffectName(ctx, k, &length);
    VsfEffectView v = vsfEffectView(ctx, m, k);
    if (v.lev != nullptr)
      for (int32_t j = 0; j < v.lev->allClassCount; ++j)
        if (v.lev->allClass[j] >= 0 && v.lev->allClass[j] < classCount)
          usedClass[v.lev->allClass[j]] = 1;
    for (int32_t j = 0; j < v.parms; ++j) {
      const int32_t c = v.columns != nullptr ? v.columns[j] : j;
      int32_t L = 0;
      if (style == 0) {
        if (vsfInterlacedText(d, (v.lev != nullptr ? v.lev->firstColumn : 0) + c, &L) == nullptr)
          L = length;
      } else {
        const int32_t* row = vsfLevelRow(v, c);
        const int32_t levelLength = row != nullptr ? zlevLenLevelLabel(d, v.lev, row) : 0;
        L = levelLength + (style == 1 ? We : length);
      }
      Wp = std::max(Wp, L);
    }
  }
  // A model without effects (NOINT with nothing selected) is legal: its table has no rows.
  Wp = std::max(Wp, 1);
  We = std::max(We, 1);
  parameter = static_cast<char*>(poolTake(pool, Wp + 1));
  effect = static_cast<char*>(poolTake(pool, We));
  if (classCount > 0) {
    classTexts = static_cast<char**>(poolTake(pool, int64_t(classCount) * 8));
    classWidths = static_cast<int32_t*>(poolTake(pool, int64_t(classCount) * 4));
    classValues = static_cast<double*>(poolTake(pool, int64_t(classCount) * 8));
  }
  if (parameter == nullptr || effect == nullptr ||
      (classCount > 0 &&
       (classTexts == nullptr || classWidths == nullptr || classValues == nullptr)))
    return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

VsfStatus VsfParmColumns::classColumns(VsfOut& out) {
  for (int32_t c = 0; c < classCount; ++c) {
    if (!usedClass[c])
      continue;
    const LevVariable& v = d->classes[c];
    char name[40];
    const int32_t length = v.var != nullptr ? v.var->nameLength : 0;
    std::snprintf(name, sizeof name, "%.*s", std::min(length, 32), v.var ? v.var->name : "");
    const int32_t width = classColumnWidth(v);
    if (width > 0) {
      classWidths[c] = width;
      classTexts[c] = static_cast<char*>(poolTake(pool, width));
      if (classTexts[c] == nullptr)
        return VsfStatus::NoMemory;
    }
    if (numberedCoding(v.coding)) {
      char pname[40];
      std::snprintf(pname, sizeof pname, "param_%.*s", std::min(length, 26),
                    v.var ? v.var->name : "");
      out.column({rvqColumnType(RvqColumnType::Chars), vsfaName(pname),
                  rvqInt(RvqAttrId::Width, width), vsfaTemplate("Var"), vsfaBound(classTexts[c])});
    } else if (width == 0) {
      out.column({rvqColumnType(RvqColumnType::Double), vsfaName(name), vsfaTemplate("NumVar"),
                  rvqInt(RvqAttrId::FormatCode, 99), vsfaBound(&classValues[c])});
    } else {
      out.column({rvqColumnType(RvqColumnType::Chars), vsfaName(name),
                  rvqInt(RvqAttrId::Width, width), vsfaTemplate("Var"), vsfaBound(classTexts[c])});
    }
  }
  return VsfStatus::Ok;
}

VsfEffectView VsfParmColumns::startEffect(const VsfModel* m, int32_t k) {
  name = vsfEffectName(ctx, k, &nameLength);
  vsfFill(effect, We, name, nameLength);
  return vsfEffectView(ctx, m, k);
}

void VsfParmColumns::fillParameter(const VsfEffectView& v, int32_t j) {
  const int32_t c = v.columns != nullptr ? v.columns[j] : j;
  for (int32_t q = 0; q < classCount; ++q) {
    classValues[q] = hostMissing();
    if (classTexts[q] != nullptr)
      std::memset(classTexts[q], ' ', static_cast<size_t>(classWidths[q]));
  }
  std::memset(parameter, ' ', static_cast<size_t>(Wp));
  const int32_t* row = vsfLevelRow(v, c);
  if (style == 0) {
    int32_t length = 0;
    const char* text =
        vsfInterlacedText(d, (v.lev != nullptr ? v.lev->firstColumn : 0) + c, &length);
    if (text != nullptr)
      vsfFill(parameter, Wp, text, length);
    else
      vsfFill(parameter, Wp, name, nameLength);
  } else {
    const int32_t levelStart = style == 1 ? We : nameLength;
    std::memcpy(parameter, name, static_cast<size_t>(std::min(nameLength, Wp)));
    if (row != nullptr && levelStart < Wp)
      zlevEfLevelLabel(d, v.lev, parameter + levelStart, row);
  }
  if (classCount > 0 && row != nullptr && v.lev != nullptr)
    zlevEfClassLevelTrue(d, v.lev, row, classTexts, classWidths, classValues);
}
