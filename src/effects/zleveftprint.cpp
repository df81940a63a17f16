// The constructed-effect detail frame: the "ConstructedEffectInfo" group with one
// "ConstructedEffect" group per described effect, and the level tables of MULTIMEMBER and
// COLLECTION effects. Spline, polynomial and lag tables: zlevsplprint, zlevpolyprint,
// zlevlagprint.
#include "effects/zleveftprint.h"

#include "effects/effout.h"

#include <cstring>

using namespace effout;

void zlevEftLevelInfo(RvqObject* parent, LevDesign*, LevEftVar* record) {
  // The level names joined by the delimiter, at most 253 characters.
  char values[256];
  int32_t room = 253;
  int32_t columns = record->columnCount;
  if (columns > 0 && record->columnNames != nullptr && record->columnNameLengths != nullptr &&
      record->columnNameLengths[0] < 254) {
    int32_t w = record->columnNameLengths[0];
    std::memcpy(values, record->columnNames[0], static_cast<size_t>(w));
    room -= w;
    for (int32_t i = 1; i < columns; ++i) {
      int32_t n = record->columnNameLengths[i];
      values[w++] = record->delimiter;
      if (room - 1 <= n) {
        std::memcpy(values + w, "...", 3);
        w += 3;
        room -= 4;
        break;
      }
      room -= n + 1;
      std::memcpy(values + w, record->columnNames[i], static_cast<size_t>(n));
      w += n;
    }
  }
  int32_t length = 253 - room;
  bool mm = record->kind == EV_MULTIMEMBER;
  RvqText* label = msgs(mm ? 906 : 908, {HostMsgArg(record->label, record->labelLength)});
  RvqObject* data = createData(parent, mm ? "MMLevelInfo" : "CollectionLevelInfo", msg(907), label);
  column(data, 3, "Levels", &record->columnCount);
  if (length > 0)
    column(data, 6, "Values", values, length);
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
  RvqObject* info = openGroup(parent, text("ConstructedEffectInfo"), 0, 296, msg(905));
  for (int32_t i = 0; i < design->constructedCount; ++i) {
    LevEftVar* r = &design->constructed[i];
    if (!r->firstPart || !r->details)
      continue;
    RvqObject* group = openGroup(parent, textf("%.*s", r->labelLength, r->label), 1, 288,
                                 text("ConstructedEffect"));
    switch (r->kind) {
    case EV_MULTIMEMBER:
    case EV_COLLECTION:
      zlevEftLevelInfo(parent, design, r);
      break;
    case EV_SPLINE: {
      zlevPrintSplineKnots(parent, design, r);
      RvqObject* basis = openGroup(parent, text("BasisDetails"), 0, 296, msg(904));
      if (r->spline != nullptr && r->spline->basis == SB_BSPLINE)
        zlevPrintBSplineDetails(parent, design, r);
      else
        zlevPrintTPFSplineDetails(parent, design, r);
      endObject(basis);
      break;
    }
    case EV_POLYNOMIAL:
      zlevPrintPolynomialDetails(parent, r);
      zlevPrintPolynomialScaling(parent, design, r);
      break;
    case EV_LAG:
      zlevPrintLagInfo(parent, r, design);
      if (r->lag != nullptr && r->lag->levels)
        zlevPrintLagDesignLevels(parent, r, design);
      else
        zlevPrintLagDesign(parent, r, design);
      break;
    default:
      break;
    }
    endObject(group);
  }
  endObject(info);
}
