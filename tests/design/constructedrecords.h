// Hand-built constructed-effect records for tests and benchmarks of the column code: a cubic
// B-spline of numeric variable 0 on nine knots (7 columns) and a polynomial of variables 0
// and 1 (x, z) of degree 2 (5 terms) or 3 (9 terms), with the work arrays the set-up makes,
// in a design whose context reads the two numeric values.
#pragma once

#include "design/levconstructed.h"

#include <utility>
#include <vector>

namespace constructedtest {

struct SplineAndPolynomial {
  std::vector<double> knots;
  std::vector<int32_t> knotCount = {9}, splineVars = {0}, polyVars = {0, 1};
  std::vector<double*> varKnots;
  std::vector<double> splineValues = std::vector<double>(7), polyValues;
  std::vector<double> degreeWork = std::vector<double>(4), boundaryWork = std::vector<double>(7),
                      polyWork = std::vector<double>(2);
  // Terms of degree 1, 2, 3 over the variables 0 and 1, each as its variable list.
  std::vector<int32_t> degreeCount = {2, 3, 4},
                       terms = {0, 1, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 1, 0, 1, 1, 1, 1, 1};
  std::vector<double> numeric = std::vector<double>(2);
  SplineInfo spline{};
  PolyInfo poly{};
  LevEftVar records[2]{};
  LevDesign design{};
  LevRegContext ctx{};

  SplineAndPolynomial(std::vector<double> splineKnots, int32_t degree)
      : knots(std::move(splineKnots)), polyValues(degree == 3 ? 9 : 5) {
    varKnots = {knots.data()};
    spline.basis = SB_BSPLINE;
    spline.degree = 3;
    spline.columnsPerVariable = 7;
    spline.varKnots = varKnots.data();
    spline.varKnotCount = knotCount.data();
    spline.degreeWork = degreeWork.data();
    spline.boundaryWork = boundaryWork.data();
    poly.nVariables = 2;
    poly.degree = degree;
    poly.degreeCount = degreeCount.data();
    poly.termList = terms.data();
    poly.variables = polyVars.data();
    poly.basisWork = polyWork.data();
    records[0] = record(EffectVarKind::Spline, splineVars, splineValues);
    records[0].spline = &spline;
    records[1] = record(EffectVarKind::Polynomial, polyVars, polyValues);
    records[1].poly = &poly;
    design.constructed = records;
    design.constructedCount = 2;
    ctx.design = &design;
    ctx.numeric = numeric.data();
  }
  SplineAndPolynomial(const SplineAndPolynomial&) = delete;
  SplineAndPolynomial& operator=(const SplineAndPolynomial&) = delete;

  static LevEftVar record(EffectVarKind kind, std::vector<int32_t>& vars,
                          std::vector<double>& values) {
    LevEftVar ev{};
    ev.kind = kind;
    ev.numericCount = static_cast<int32_t>(vars.size());
    ev.numeric = vars.data();
    ev.values = values.data();
    ev.valueCount = ev.columnCount = static_cast<int32_t>(values.size());
    return ev;
  }
};

} // namespace constructedtest
