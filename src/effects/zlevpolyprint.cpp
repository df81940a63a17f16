// Polynomial detail tables: the "PolynomialDetails" factoid (variables, degree, terms and
// standardisation) and the "PolynomialScaling" table of the minimum, maximum, moment sums,
// centre and scale of each standardised variable for the BY group.
// Declared in effects/zleveftprint.h.
#include "effects/zleveftprint.h"

#include "effects/effout.h"
#include "effects/zlst.h"
#include "support/messages.h"

#include <cstring>
#include <vector>

using namespace effout;

void zlevPrintPolynomialDetails(RvqObject* parent, LevEftVar* record) {
  const PolyInfo* info = record->poly;
  if (info == nullptr)
    return;
  RvqText* title = msgText(VsfMsg::PolyDetails, {HostMsgArg(record->label, record->labelLength)});
  RvqObject* f = createFactoid(parent, "PolynomialDetails", "PolynomialDetails", title,
                               msgText(VsfMsg::PolyDetailsGraph));
  entry(f, msgText(VsfMsg::PolyNumberVariables), info->nVariables);
  entry(f, msgText(VsfMsg::PolyDegree), info->degree);
  if (info->mdegree != info->degree)
    entry(f, msgText(VsfMsg::PolyMaximumDegreeVariable), info->mdegree);
  entry(f, msgText(VsfMsg::PolyNumberTerms), info->nTerms);
  if (info->standardize != PS_NONE) {
    int32_t method = info->stdMethod >= 1 && info->stdMethod <= 3 ? info->stdMethod : 3;
    entry(f, msgText(VsfMsg::PolyStandardizationMethod),
          msgText(kMsgPolyStandardizeMethods[method - 1]));
    entry(f, msgText(VsfMsg::PolyStandardization),
          msgText(kMsgPolyStandardizeKinds[info->standardize - 1]));
  }
  endFactoid(f);
}

void zlevPrintPolynomialScaling(RvqObject* parent, LevDesign* design, LevEftVar* record) {
  const PolyInfo* info = record->poly;
  if (info == nullptr || info->standardize == PS_NONE || record->numeric == nullptr)
    return;
  int32_t n = record->variableCount;
  int32_t width = 1;
  for (int32_t i = 0; i < n; ++i) {
    const LevVariable& v = design->numerics[record->numeric[i]];
    if (v.var != nullptr && v.var->nameLength > width)
      width = v.var->nameLength;
  }
  const NumericUsageBlock* block = nullptr;
  if (info->stdMethod == PM_MOMENTS || info->stdMethod == PM_WMOMENTS)
    block = design->usage[info->stdMethod - 1];
  RvqText* label = msgText(VsfMsg::PolyScalingPolynomialEffect,
                           {HostMsgArg(record->label, record->labelLength)});
  RvqObject* data = createData(parent, "PolynomialScaling",
                               msgText(VsfMsg::PolyScalingVariablesPolynomialEffect), label);
  std::vector<char> name(static_cast<size_t>(width) + 1, ' ');
  double minimum = 0, maximum = 0, nObs = 0, sumFreqs = 0, sumWeights = 0, sum = 0, sumSq = 0;
  double center = 0, scale = 0;
  column(data, RvqColumnType::Chars, "Variable", name.data(), width);
  column(data, RvqColumnType::Double, "Minimum", &minimum);
  column(data, RvqColumnType::Double, "Maximum", &maximum);
  if (block != nullptr) {
    column(data, RvqColumnType::Double, "nObs", &nObs);
    column(data, RvqColumnType::Double, "SumFreqs", &sumFreqs);
    if (info->stdMethod == PM_WMOMENTS)
      column(data, RvqColumnType::Double, "SumWeights", &sumWeights);
    if (info->centers != nullptr)
      column(data, RvqColumnType::Double, "Sum", &sum);
    if (info->scales != nullptr)
      column(data, RvqColumnType::Double, "SumSq", &sumSq);
  }
  if (info->centers != nullptr)
    column(data, RvqColumnType::Double, "Center", &center);
  if (info->scales != nullptr)
    column(data, RvqColumnType::Double, "Scale", &scale);
  endColumns(data);
  RvqObject* table = bind(parent, data, label, "PolynomialScaling");
  for (int32_t i = 0; i < n; ++i) {
    int32_t v = record->numeric[i];
    const LevVariable& var = design->numerics[v];
    std::memset(name.data(), ' ', static_cast<size_t>(width));
    if (var.var != nullptr)
      std::memcpy(name.data(), var.var->name, static_cast<size_t>(var.var->nameLength));
    double c = var.centre, h = var.halfRange;
    minimum = c - h;
    maximum = c + h;
    if (block != nullptr) {
      double w = block->weightTotal;
      double a = block->first != nullptr ? block->first[v] : 0.0;
      double b = block->second != nullptr ? block->second[v] : 0.0;
      nObs = block->observationCount;
      sumFreqs = block->frequencySum;
      sumWeights = w;
      sum = c * w + a;
      sumSq = (w * c + 2 * a) * c + b;
    }
    if (info->centers != nullptr)
      center = info->centers[i];
    if (info->scales != nullptr)
      scale = info->scales[i];
    row(data);
  }
  finish(parent, data, table);
}
