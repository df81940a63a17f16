// The "ParameterEstimates" table of a fit (a step record or the selected model) and the
// "CVDetails" table of its cross-validation folds. Estimates and the inverse diagonal are
// the model core's; parameter labels and CLASS levels are the design library's.
// Declared in output/vsfprinters.h.
#include "design/levnames.h"
#include "numerics/zlogfnc.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfparmcolumns.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/cvscheme.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The ParameterEstimates table of one fit: the widths and buffers its columns need, the row
// values they are bound to, and the stages that define the columns and emit the rows.
struct ParmEstTable {
  VsfContext* ctx;
  VsfModel* m;
  QkPool* pool;
  const VsfModelOptions& o;
  VsfParmColumns cols;   // Effect, CLASS-level and Parameter columns
  const bool stdErrCols; // standard errors and t tests: not on the penalized paths
  const bool group;
  int32_t folds = 0; // CV estimate columns, one per fold
  double* foldValues = nullptr;
  int32_t forced = 0, df = 0;
  double estimate = 0, stdEst = 0, stdErr = 0, tValue = 0, probt = 0;
  double dfe = 0, mse = 0;
  VsfOut* out = nullptr; // set once the buffers are taken

  ParmEstTable(VsfContext* c, VsfModel* model, QkPool* p)
      : ctx(c), m(model), pool(p), o(c->options), cols(c, p),
        stdErrCols(vsfMethodPenalty(o.method) == VsfPenalty::None),
        group(vsfGroupMethod(o.method)) {}

  // The widths and text buffers of the row, and the fold estimates of CVDETAILS=COEFFS.
  [[nodiscard]] VsfStatus takeBuffers() {
    if (cols.measure(m, o.noint) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
    folds = (vsfCvFoldBetaAsked(o) && m->cv.folds != nullptr) ? m->cv.foldCount : 0;
    foldValues = folds > 0 ? static_cast<double*>(poolTake(pool, int64_t(folds) * 8)) : nullptr;
    if (folds > 0 && foldValues == nullptr)
      return VsfStatus::NoMemory;
    return VsfStatus::Ok;
  }

  // Creates the table and its columns, each bound to its row value.
  [[nodiscard]] VsfStatus defineColumns() {
    if (!out->create("ParameterEstimates", msgText(VsfMsg::ParameterEstimates)))
      return VsfStatus::Ok; // no table: the caller sees out->table null and shows nothing
    out->charColumn("Effect", cols.effect, cols.We);
    if (cols.classColumns(*out) != VsfStatus::Ok)
      return VsfStatus::NoMemory; // after the object was made
    if (o.include > 0)
      out->column({rvqColumnType(RvqColumnType::Int), vsfaName("ForcedIn"), vsfaBound(&forced)});
    out->charColumn("Parameter", cols.parameter, cols.Wp);
    if (!group)
      out->column({rvqColumnType(RvqColumnType::Int), vsfaName("DF"), vsfaBound(&df)});
    out->numberColumn("Estimate", &estimate);
    out->column({rvqColumnType(RvqColumnType::Double), vsfaName("StandardizedEst"),
                 vsfaDyn("showSTB"), rvqInt(RvqAttrId::Value, o.statStb ? 1 : 0),
                 vsfaBound(&stdEst)});
    if (stdErrCols) {
      out->numberColumn("StdErr", &stdErr);
      out->numberColumn("tValue", &tValue);
      out->column({rvqColumnType(RvqColumnType::Double), vsfaName("Probt"), vsfaDyn("showProbt"),
                   rvqInt(RvqAttrId::Value, vsfShowPValues(ctx) ? 1 : 0), vsfaBound(&probt)});
    }
    for (int32_t i = 1; i <= folds; ++i) {
      char name[32], head[16];
      std::snprintf(name, sizeof name, "CVEstimate%d", i);
      std::snprintf(head, sizeof head, "%d", i);
      const int32_t glue = i <= 2 ? 100 : 1;
      if (i == folds)
        out->column({rvqColumnType(RvqColumnType::Double), vsfaTemplate("CVEstimate"),
                     vsfaName(name), vsfaDyn("spanStart"),
                     rvqTextHandle(RvqAttrId::Value, vsfText("CVEstimate1")), vsfaDyn("spanEnd"),
                     rvqTextHandle(RvqAttrId::Value, vsfText(name)), vsfaDyn("CVEstimateHead"),
                     rvqTextHandle(RvqAttrId::Value, vsfText(head)), vsfaDyn("dynamicGlue"),
                     rvqInt(RvqAttrId::Value, glue), vsfaBound(&foldValues[i - 1])});
      else
        out->column({rvqColumnType(RvqColumnType::Double), vsfaTemplate("CVEstimate"),
                     vsfaName(name), vsfaDyn("CVEstimateHead"),
                     rvqTextHandle(RvqAttrId::Value, vsfText(head)), vsfaDyn("dynamicGlue"),
                     rvqInt(RvqAttrId::Value, glue), vsfaBound(&foldValues[i - 1])});
    }
    out->endColumns();
    out->bind("Stat.VARSIFTER.ParameterEstimates",
              {vsfaDyn("printFootnote"), rvqFlag(RvqAttrId::Value, o.include > 0 ? 1 : 0)});
    return VsfStatus::Ok;
  }

  // The rows of effect k, one per parameter.
  void printEffect(int32_t k) {
    VsfEffectView v = cols.startEffect(m, k);
    forced = m->effectStatus[k] == VES_FORCED ? 1 : 0;
    for (int32_t j = 0; j < v.parms; ++j) {
      const int32_t p = m->parmOffset[k] + j;
      cols.fillParameter(v, j);
      const double diag = m->betaVariance != nullptr ? m->betaVariance[p] : -1.0;
      df = diag != -1.0 ? 1 : 0;
      for (int32_t f = 0; f < folds; ++f)
        foldValues[f] = m->cv.folds[f].beta != nullptr ? m->cv.folds[f].beta[p] : hostMissing();
      if (df == 0) {
        estimate = 0, stdEst = 0;
        stdErr = tValue = probt = hostMissing();
      } else {
        estimate = m->beta[p];
        stdEst = m->stdBeta != nullptr ? m->stdBeta[p] : hostMissing();
        if (stdErrCols) {
          if (!std::isfinite(mse)) { // missing, or sums that overflowed
            stdErr = tValue = probt = hostMissing();
          } else {
            stdErr = std::sqrt(std::max(mse, 0.0) * std::max(diag, 0.0));
            if (stdErr > 0) {
              tValue = estimate / stdErr;
              probt = zprbf(tValue * tValue, 1, dfe);
              if (probt < 0)
                probt = hostMissing();
            } else {
              tValue = estimate >= 0 ? vsfPlusInfinity() : vsfMinusInfinity();
              probt = 0;
            }
          }
        }
      }
      out->emit();
    }
  }

  // The effects in the model in the order of their entry (or of the model for BACKWARD and
  // without the step order).
  [[nodiscard]] VsfStatus emitRows(int32_t stepOrder) {
    if (vsfMethodStartsFull(o.method) || stepOrder == 0) {
      for (int32_t k = 0; k < m->effectCount; ++k) {
        uint8_t s = m->effectStatus[k];
        if (s != VES_CANDIDATE && s != VES_UNASSIGNED && s != VES_UNAVAILABLE &&
            m->parmOffset != nullptr)
          printEffect(k);
      }
    } else {
      uint8_t* printed = static_cast<uint8_t*>(poolTake(pool, std::max(m->effectCount, 1)));
      if (printed == nullptr)
        return VsfStatus::NoMemory; // after the object was made
      auto visit = [&](int32_t k) {
        if (k < 0 || k >= m->effectCount || printed[k])
          return;
        if (vsfInModelStatus(m->effectStatus[k])) {
          printEffect(k);
          printed[k] = 1;
        }
      };
      if (group) {
        for (int32_t i = 0; i < m->history.changeListLength; ++i)
          if (m->history.changeList[i] >= 0)
            visit(m->history.changeList[i]);
      } else {
        for (int32_t i = 0; i < m->history.stepCount; ++i)
          visit(m->history.stepEffect[i]);
      }
    }
    return VsfStatus::Ok;
  }
};

} // namespace
VsfStatus vsfpParmEst(VsfContext* ctx, VsfModel* m, QkPool* pool, int32_t stepOrder) {
  ParmEstTable t(ctx, m, pool);
  if (t.takeBuffers() != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  VsfOut out(ctx);
  t.out = &out;
  if (t.defineColumns() != VsfStatus::Ok)
    return VsfStatus::NoMemory; // after the object was made
  if (out.table == nullptr)
    return VsfStatus::Ok;
  t.dfe = m->totals.nObs - m->rank;
  t.mse = t.dfe > 0 ? m->sse / t.dfe : hostMissing();
  if (t.emitRows(stepOrder) != VsfStatus::Ok)
    return VsfStatus::NoMemory; // after the object was made
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}

// The CVDetails table: a row per fold (its rows fitted and left out, its PRESS) and a total
// row of the column sums, marked by Index -1 and labelled "Total" in Fold.
VsfStatus vsfpCVDetails(VsfContext* ctx, VsfModel* m, QkPool* pool) {
  int32_t index = 0;
  double fitted = 0, leftOut = 0, press = 0, indexValue = 0;
  char control = ' ';
  char fold[16];
  const int32_t foldWidth =
      std::max(5, std::snprintf(fold, sizeof fold, "%d", static_cast<int>(m->cv.foldCount)));
  const LevDesign* d = vsfDesign(ctx);
  const int32_t var = ctx->options.cvIndexVar;
  const LevVariable* iv = vsfCvScheme(ctx->options.cvMethod).indexFolds && d != nullptr &&
                                  var >= 0 && var < d->classCount
                              ? &d->classes[var]
                              : nullptr;
  const bool numericIndex = iv != nullptr && iv->var != nullptr && iv->var->type == 1;
  char* indexText = nullptr;
  const int32_t indexWidth = iv != nullptr ? std::max(iv->levelWidth, 1) : 0;
  VsfOut out(ctx);
  if (!out.create("CVDetails", msgText(VsfMsg::CrossValidationDetails)))
    return VsfStatus::Ok;
  out.column({rvqColumnType(RvqColumnType::Int), vsfaName("Index"), vsfaBound(&index)});
  out.charColumn("Fold", fold, foldWidth);
  if (iv != nullptr && iv->var != nullptr) {
    char name[40];
    std::snprintf(name, sizeof name, "%.*s", std::min<int32_t>(iv->var->nameLength, 32),
                  iv->var->name);
    if (numericIndex) {
      out.column({rvqColumnType(RvqColumnType::Double), vsfaName(name), vsfaTemplate("IndexNumVar"),
                  vsfaBound(&indexValue)});
    } else {
      indexText = static_cast<char*>(poolTake(pool, indexWidth));
      if (indexText == nullptr)
        return VsfStatus::NoMemory;
      out.column({rvqColumnType(RvqColumnType::Chars), vsfaName(name),
                  rvqInt(RvqAttrId::Width, indexWidth), vsfaTemplate("IndexCharVar"),
                  vsfaBound(indexText)});
    }
  }
  out.numberColumn("NOBSFITTED", &fitted);
  out.numberColumn("NOBSLEFTOUT", &leftOut);
  out.numberColumn("CVPRESS", &press);
  out.column({rvqColumnType(RvqColumnType::Char1), vsfaName("Control"), vsfaBound(&control)});
  out.endColumns();
  out.bind("Stat.VARSIFTER.CVDetails");
  double fittedSum = 0, leftOutSum = 0;
  for (int32_t i = 0; i < m->cv.foldCount && m->cv.folds != nullptr; ++i) {
    index = i + 1;
    char label[16];
    const int n = std::snprintf(label, sizeof label, "%d", static_cast<int>(index));
    vsfFill(fold, foldWidth, label, std::min(n, foldWidth));
    // The fold's level: the levels no kept TRAIN row holds have no fold.
    const int32_t* foldLevels = ctx->dataSettings.read.indexFoldLevels;
    const int32_t level = foldLevels != nullptr ? foldLevels[i] : i;
    if (iv != nullptr && level < iv->levelCount) {
      if (numericIndex && iv->levelValues != nullptr)
        indexValue = static_cast<const LevLevelValue*>(iv->levelValues)[level].value;
      else if (indexText != nullptr && iv->levelTexts != nullptr)
        vsfFill(indexText, indexWidth, iv->levelTexts[level], iv->levelWidth);
    }
    leftOut = m->cv.folds[i].rowCount;
    fitted = m->totals.nTrain - leftOut;
    fittedSum += fitted;
    leftOutSum += leftOut;
    press = m->cv.folds[i].cvSse;
    control = ' ';
    out.emit();
  }
  index = -1;
  vsfFill(fold, foldWidth, "Total", 5);
  indexValue = hostMissing();
  if (indexText != nullptr)
    std::memset(indexText, ' ', static_cast<size_t>(indexWidth));
  fitted = fittedSum;
  leftOut = leftOutSum;
  press = m->cvPress;
  control = '-';
  out.emit();
  out.endRows();
  out.publish();
  if (indexText != nullptr)
    pool->free(pool, indexText);
  out.finish();
  return VsfStatus::Ok;
}
