// Spline detail tables: the knots levelisation placed for the BY group ("SplineKnots") and,
// per spline variable, the knots supporting each basis column ("BSplineDetails") or the
// powers and break knots of a truncated power basis ("TPFSplineDetails").
// Declared in effects/zleveftprint.h.
#include "effects/zleveftprint.h"

#include "effects/effout.h"
#include "effects/levalloc.h"
#include "support/hoststubs.h"
#include "support/messages.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace effout;

namespace {

// Where the knots of a spline's pieces are: split records or the first record's arrays.
struct SplineView {
  LevDesign* design;
  LevEftVar* first;
  const SplineInfo* info;
  int32_t variables;
  int32_t firstIndex;

  const LevEftVar* piece(int32_t p) const {
    int32_t at = firstIndex + p;
    return at < design->constructedCount ? &design->constructed[at] : first;
  }
  [[nodiscard]] int32_t knotCount(int32_t p) const {
    const LevEftVar* r = first->partTotal >= 2 ? piece(p) : first;
    const SplineInfo* s = r->spline != nullptr ? r->spline : info;
    return s->varKnotCount != nullptr ? s->varKnotCount[0] : 0;
  }
  // The knots of one variable at piece p: the variables of a spline may have different
  // knot counts, while the tables run over the first variable's count.
  struct Knots {
    const double* values;
    int32_t count;
    double operator()(int32_t k) const {
      return values != nullptr && k >= 0 && k < count ? values[k] : hostMissing();
    }
  };
  Knots knots(int32_t variable, int32_t p) const {
    const SplineInfo* s = info;
    int32_t slot = variable;
    if (first->partTotal >= 2) {
      int32_t q = first->partTotal / (variables > 0 ? variables : 1);
      const LevEftVar* r = piece(p + variable * q);
      s = r->spline != nullptr ? r->spline : info;
      slot = 0;
    }
    if (s->varKnots == nullptr || s->varKnotCount == nullptr)
      return Knots{nullptr, 0};
    return Knots{s->varKnots[slot], s->varKnotCount[slot]};
  }
  [[nodiscard]] int32_t degree() const { return info->natural ? 3 : info->degree; }
  [[nodiscard]] int32_t advance(int32_t p, int32_t scale) const {
    return p + (info->split ? (1 << scale) + degree() + 1 : 1);
  }
  LevVariable& variable(int32_t j) const { return design->numerics[first->numeric[j]]; }
};

SplineView viewOf(LevDesign* design, LevEftVar* record) {
  return SplineView{design, record, record->spline, record->variableCount,
                    static_cast<int32_t>(record - design->constructed)};
}

RvqText* nameText(const LevVariable& v) {
  return textf("%.*s", v.var ? v.var->nameLength : 0, v.var ? v.var->name : "");
}

RvqText* basisLabel(const SplineView& s, RvqText* name) {
  HostMsgArg label(s.first->label, s.first->labelLength);
  if (s.variables == 1)
    return msgText(VsfMsg::ConstructedSplineDetails, {label});
  HostMsgArg nameArg;
  nameArg.t = name;
  return msgText(VsfMsg::ConstructedSplineVariableDetails, {nameArg, label});
}

} // namespace

void zlevPrintSplineKnots(RvqObject* parent, LevDesign* design, LevEftVar* record) {
  if (record->spline == nullptr)
    return;
  SplineView s = viewOf(design, record);
  const SplineInfo* info = s.info;
  bool multiscale = info->knotMethod == KM_MULTISCALE;
  bool bspline = info->basis == SB_BSPLINE;
  RvqText* label =
      msgText(VsfMsg::ConstructedSplineKnots, {HostMsgArg(record->label, record->labelLength)});
  RvqObject* data =
      createData(parent, "SplineKnots", msgText(VsfMsg::ConstructedSplineKnotsGraph), label);
  int32_t knotNumber = 0, scale = 0, scaleKnot = 0, boundary = 0;
  char control = ' ';
  std::vector<double> values(static_cast<size_t>(s.variables > 0 ? s.variables : 1));
  column(data, RvqColumnType::Int, "KnotNumber", &knotNumber);
  if (multiscale) {
    column(data, RvqColumnType::Int, "Scale", &scale);
    column(data, RvqColumnType::Int, "ScaleKnotNumber", &scaleKnot);
  }
  if (bspline)
    column(data, RvqColumnType::Int, "Boundary", &boundary);
  for (int32_t j = 0; j < s.variables; ++j)
    variableColumn(data, RvqColumnType::Double, nullptr, s.variable(j).var, "Variable",
                   &values[static_cast<size_t>(j)]);
  column(data, RvqColumnType::Char1, "Control", &control);
  endColumns(data);
  RvqObject* table = bind(parent, data, label, "SplineKnots");
  int32_t degree = s.degree();
  int32_t piece = 0;
  int32_t last = multiscale ? info->endScale : info->startScale;
  for (int32_t sc = info->startScale; sc <= last; ++sc) {
    int32_t n = s.knotCount(piece);
    for (int32_t k = 0; k < n; ++k) {
      scale = sc;
      scaleKnot = k + 1;
      for (int32_t j = 0; j < s.variables; ++j)
        values[static_cast<size_t>(j)] = s.knots(j, piece)(k);
      boundary = (k < degree || k >= n - degree || (degree == 0 && k == n - 1)) ? 1 : 0;
      ++knotNumber;
      row(data);
      control = ' ';
    }
    control = '-';
    piece = s.advance(piece, sc);
  }
  finish(parent, data, table);
}

void zlevPrintBSplineDetails(RvqObject* parent, LevDesign* design, LevEftVar* record) {
  if (record->spline == nullptr)
    return;
  SplineView s = viewOf(design, record);
  const SplineInfo* info = s.info;
  bool multiscale = info->knotMethod == KM_MULTISCALE;
  int32_t d = info->degree;
  int32_t dd = d > 1 ? d : 1;
  int32_t last = multiscale ? info->endScale : info->startScale;
  int32_t lastPiece = 0;
  for (int32_t sc = info->startScale; sc < last; ++sc)
    lastPiece = s.advance(lastPiece, sc);
  int32_t c = s.knotCount(lastPiece) - dd + 1;
  int32_t width = static_cast<int32_t>(2.0 * std::log10((c > 0 ? c : 0) + 0.5) + 3.0);
  if (width < 3)
    width = 3;
  auto* buffer = static_cast<char*>(levAlloc(static_cast<size_t>(width) + 32));
  if (buffer == nullptr)
    return;
  for (int32_t j = 0; j < s.variables; ++j) {
    LevVariable& v = s.variable(j);
    RvqText* name = nameText(v);
    RvqText* label = basisLabel(s, name);
    RvqObject* data = createData(parent, "BSplineDetails", name, label);
    RvqText* variableText = name;
    int32_t col = 0, scale = info->startScale, scaleColumn = 0, startKnot = 0, endKnot = 0;
    double left = 0.0, right = 0.0;
    char control = ' ';
    column(data, RvqColumnType::Text, "Variable", &variableText);
    column(data, RvqColumnType::Int, "Column", &col);
    if (multiscale) {
      column(data, RvqColumnType::Int, "Scale", &scale);
      column(data, RvqColumnType::Int, "ScaleColumn", &scaleColumn);
    }
    variableColumn(data, RvqColumnType::Double, "Left", v.var, nullptr, &left);
    variableColumn(data, RvqColumnType::Double, "Right", v.var, nullptr, &right);
    column(data, RvqColumnType::Chars, "SupportingKnots", buffer, width);
    column(data, RvqColumnType::Int, "StartKnot", &startKnot);
    column(data, RvqColumnType::Int, "endKnot", &endKnot);
    column(data, RvqColumnType::Char1, "Control", &control);
    endColumns(data);
    RvqObject* table = bind(parent, data, label, "BSplineDetails");
    int32_t piece = 0;
    for (int32_t sc = info->startScale; sc <= last; ++sc) {
      int32_t n = s.knotCount(piece);
      int32_t rows = n - (dd - 1);
      const SplineView::Knots t = s.knots(j, piece);
      for (int32_t i = 0; i < rows; ++i) {
        scaleColumn = i + 1;
        std::memset(buffer, ' ', static_cast<size_t>(width));
        char support[64];
        int len;
        if (d == 0) {
          startKnot = i;
          endKnot = i + 1;
          left = i == 0 ? v.centre - v.halfRange : t(i - 1);
          right = t(i);
          len = i == 0 ? std::snprintf(support, sizeof support, " -%d", 1)
                       : std::snprintf(support, sizeof support, "%d-%d", i, i + 1);
        } else {
          if (i == 0) {
            startKnot = 1;
            left = t(0);
            endKnot = rows == 1 ? d : d + 1;
            right = t(rows == 1 ? d - 1 : d);
          } else if (i < rows - 1) {
            startKnot = i;
            left = t(i - 1);
            endKnot = d + 1 + i;
            right = t(d + i);
          } else {
            startKnot = i;
            left = t(i - 1);
            endKnot = d + i;
            right = t(d + i - 1);
          }
          len = std::snprintf(support, sizeof support, "%d-%d", startKnot, endKnot);
        }
        std::memcpy(buffer, support, static_cast<size_t>(len < width ? len : width));
        ++col;
        row(data);
        control = ' ';
      }
      ++scale;
      control = '-';
      piece = s.advance(piece, sc);
    }
    finish(parent, data, table);
  }
  levFree(buffer, static_cast<size_t>(width) + 32);
}

void zlevPrintTPFSplineDetails(RvqObject* parent, LevDesign* design, LevEftVar* record) {
  if (record->spline == nullptr)
    return;
  SplineView s = viewOf(design, record);
  const SplineInfo* info = s.info;
  int32_t d = s.degree();
  int32_t n = s.knotCount(0);
  for (int32_t j = 0; j < s.variables; ++j) {
    LevVariable& v = s.variable(j);
    RvqText* name = nameText(v);
    RvqText* label = basisLabel(s, name);
    RvqObject* data = createData(parent, "TPFSplineDetails", name, label);
    RvqText* variableText = name;
    int32_t col = 0, power = 0;
    double breakKnot = hostMissing(); // the intercept and power rows have no break knot
    column(data, RvqColumnType::Text, "Variable", &variableText);
    column(data, RvqColumnType::Int, "Column", &col);
    column(data, RvqColumnType::Int, "Power", &power);
    variableColumn(data, RvqColumnType::Double, "BreakKnot", v.var, nullptr, &breakKnot);
    endColumns(data);
    RvqObject* table = bind(parent, data, label, "TPFSplineDetails");
    if (info->tpfTerms == 2) {
      col = 1;
      row(data);
    }
    if (info->tpfTerms != 0) {
      int32_t powers = info->natural ? 1 : d;
      for (int32_t m = 1; m <= powers; ++m) {
        power = m;
        ++col;
        row(data);
      }
    }
    const SplineView::Knots t = s.knots(j, 0);
    int32_t k = info->natural ? n - 2 : n;
    double previous = DBL_MAX;
    power = d;
    for (int32_t i = 0; i < k; ++i) {
      double knot = t(i);
      power = knot == previous ? (power - 1 > 0 ? power - 1 : 0) : d;
      ++col;
      breakKnot = knot;
      row(data);
      previous = knot;
    }
    finish(parent, data, table);
  }
}
