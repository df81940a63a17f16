// The constructed-effect detail frame: the "ConstructedEffectInfo" group with one
// "ConstructedEffect" group per described effect, and the level tables of MULTIMEMBER and
// COLLECTION effects. Spline, polynomial and lag tables: zlevsplprint, zlevpolyprint,
// zlevlagprint.
#include "effects/zleveftprint.h"

#include "effects/effout.h"
#include "support/messages.h"

#include <algorithm>
#include <cstring>

using namespace effout;

namespace {

constexpr int32_t kValuesMax = 253; // the longest Values text

// The level names joined by the delimiter into `values`, at most kValuesMax characters; a
// list that does not fit ends with the delimiter and "..." after the last name that does.
// A first name longer than the text gives no text. Returns the length.
[[nodiscard]] int32_t joinLevelNames(const LevEftVar* record, char (&values)[kValuesMax + 1]) {
  const int32_t columns = record->columnCount;
  if (columns <= 0 || record->columnNames == nullptr || record->columnNameLengths == nullptr ||
      record->columnNameLengths[0] > kValuesMax)
    return 0;
  int32_t w = record->columnNameLengths[0];
  std::memcpy(values, record->columnNames[0], static_cast<size_t>(w));
  for (int32_t i = 1; i < columns; ++i) {
    const int32_t n = record->columnNameLengths[i];
    if (kValuesMax - w - 1 <= n) {
      // The cut mark needs 4 characters; a name that leaves fewer gives way to it.
      w = std::min(w, kValuesMax - 4);
      values[w++] = record->delimiter;
      std::memcpy(values + w, "...", 3);
      return w + 3;
    }
    values[w++] = record->delimiter;
    std::memcpy(values + w, record->columnNames[i], static_cast<size_t>(n));
    w += n;
  }
  return w;
}

} // namespace

void zlevEftLevelInfo(RvqObject* parent, LevDesign*, LevEftVar* record) {
  char values[kValuesMax + 1];
  const int32_t length = joinLevelNames(record, values);
  bool mm = record->kind == EffectVarKind::MultiMember;
  RvqText* label = msgText(mm ? VsfMsg::ConstructedLevelsMultimemberEffect
                              : VsfMsg::ConstructedLevelsCollectionEffect,
                           {HostMsgArg(record->label, record->labelLength)});
  RvqObject* data = createData(parent, mm ? "MMLevelInfo" : "CollectionLevelInfo",
                               msgText(VsfMsg::ConstructedLevelsConstructedEffect), label);
  column(data, RvqColumnType::Int, "Levels", &record->columnCount);
  if (length > 0)
    column(data, RvqColumnType::Chars, "Values", values, length);
  dynamic(data, "WD", length < 50 ? length : 50);
  endColumns(data);
  RvqObject* table = bind(parent, data, label, "LevelInfo");
  row(data);
  finish(parent, data, table);
}

void zlevPrintEftDetails(RvqObject* parent, LevDesign* design) {
  bool any = false;
  for (int32_t i = 0; i < design->constructedCount && !any; ++i)
    any = design->constructed[i].details != 0;
  if (!any)
    return;
  RvqObject* info = openGroup(parent, text("ConstructedEffectInfo"), 0, 296,
                              msgText(VsfMsg::ConstructedEffectInformation));
  for (int32_t i = 0; i < design->constructedCount; ++i) {
    LevEftVar* r = &design->constructed[i];
    if (!r->firstPart || !r->details)
      continue;
    RvqObject* group = openGroup(parent, textf("%.*s", r->labelLength, r->label), 1, 288,
                                 text("ConstructedEffect"));
    switch (r->kind) {
    case EffectVarKind::MultiMember:
    case EffectVarKind::Collection:
      zlevEftLevelInfo(parent, design, r);
      break;
    case EffectVarKind::Spline: {
      zlevPrintSplineKnots(parent, design, r);
      RvqObject* basis =
          openGroup(parent, text("BasisDetails"), 0, 296, msgText(VsfMsg::ConstructedBasisDetails));
      if (r->spline != nullptr && r->spline->basis == SB_BSPLINE)
        zlevPrintBSplineDetails(parent, design, r);
      else
        zlevPrintTPFSplineDetails(parent, design, r);
      endObject(basis);
      break;
    }
    case EffectVarKind::Polynomial:
      zlevPrintPolynomialDetails(parent, r);
      zlevPrintPolynomialScaling(parent, design, r);
      break;
    case EffectVarKind::Lag:
      zlevPrintLagInfo(parent, r, design);
      if (r->lag != nullptr && r->lag->levels)
        zlevPrintLagDesignLevels(parent, r, design);
      else
        zlevPrintLagDesign(parent, r, design);
      break;
    }
    endObject(group);
  }
  endObject(info);
}
