// The "ParameterEstimates" table of a fit (a step record or the selected model) and the
// "CVDetails" table of its cross-validation folds. Estimates and the inverse diagonal are
// the model core's; parameter labels and CLASS levels are the design library's.
// Declared in output/vsfprinters.h.
#include "design/levnames.h"
#include "driver/vsfcontext.h"
#include "numerics/zlogfnc.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/poolalloc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool numberedCoding(ClassCoding coding) { return classCodingLabelPrefix(coding) != nullptr; }

// The width of a CLASS variable's column: its level label width under a numbered coding,
// else (character) its longest level value; 0 for a numeric value column.
int32_t classColumnWidth(const LevVariable& v) {
  if (numberedCoding(v.coding))
    return std::max(v.levelLabelWidth, 1);
  if (v.var != nullptr && v.var->type == 1)
    return 0;
  return std::max(v.longestLevelLength, 1);
}

} // namespace

namespace {

// The ParameterEstimates table of one fit: the widths and buffers its columns need, the row
// values they are bound to, and the stages that define the columns and emit the rows.
struct ParmEstTable {
  VsfContext* ctx;
  VsfModel* m;
  QkPool* pool;
  const VsfModelOptions& o;
  const LevDesign* d;
  const uint8_t style; // parameter label style of the design (0 interlaced)
  const int32_t classCount;
  const bool stdErrCols; // standard errors and t tests: not on the penalized paths
  const bool group;
  uint8_t* usedClass = nullptr; // CLASS variables of the effects in the model
  int32_t We = 0, Wp = 0;       // widths of the Effect and Parameter texts
  char* parameter = nullptr;
  char* effect = nullptr;
  char** classTexts = nullptr;
  int32_t* classWidths = nullptr;
  double* classValues = nullptr;
  int32_t folds = 0; // CV estimate columns, one per fold
  double* foldValues = nullptr;
  int32_t forced = 0, df = 0;
  double estimate = 0, stdEst = 0, stdErr = 0, tValue = 0, probt = 0;
  double dfe = 0, mse = 0;
  VsfOut* out = nullptr; // set once the buffers are taken

  ParmEstTable(VsfContext* c, VsfModel* model, QkPool* p)
      : ctx(c), m(model), pool(p), o(c->options), d(vsfDesign(c)),
        style(d != nullptr ? d->parmLabelStyle : 1), classCount(d != nullptr ? d->classCount : 0),
        stdErrCols(!o.penalizedPath && !o.solverPath), group(vsfGroupMethod(o.method)) {}

  // The widths of the Effect and Parameter texts, and which CLASS variables the model uses.
  int32_t measure() {
    We = 0;
    if (!o.noint)
      vsfEffectName(ctx, 0, &We);
    usedClass = classCount > 0 ? static_cast<uint8_t*>(poolTake(pool, classCount)) : nullptr;
    if (classCount > 0 && usedClass == nullptr)
      return -2;
    Wp = 0;
    for (int32_t t = 0; t < m->inModelCount; ++t) {
      const int32_t k = m->inModelList[t];
      int32_t len = 0;
      vsfEffectName(ctx, k, &len);
      We = std::max(We, len);
    }
    for (int32_t t = 0; t < m->inModelCount; ++t) {
      const int32_t k = m->inModelList[t];
      int32_t nameLength = 0;
      vsfEffectName(ctx, k, &nameLength);
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
            L = nameLength;
        } else {
          const int32_t* row = vsfLevelRow(v, c);
          const int32_t levelLength = row != nullptr ? zlevLenLevelLabel(d, v.lev, row) : 0;
          L = levelLength + (style == 1 ? We : nameLength);
        }
        Wp = std::max(Wp, L);
      }
    }
    // A model without effects (NOINT with nothing selected) is legal: its table has no rows.
    Wp = std::max(Wp, 1);
    We = std::max(We, 1);
    return 0;
  }

  // The text buffers of the row, and the fold estimates of CVDETAILS=COEFFS.
  int32_t takeBuffers() {
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
      return -2;

    folds = (o.cvDetails >= 2 && m->folds != nullptr) ? m->foldCount : 0;
    foldValues = folds > 0 ? static_cast<double*>(poolTake(pool, int64_t(folds) * 8)) : nullptr;
    if (folds > 0 && foldValues == nullptr)
      return -2;
    return 0;
  }

  // Creates the table and its columns, each bound to its row value.
  int32_t defineColumns() {
    out->create("ParameterEstimates", vsfMsg(560));
    out->charColumn("Effect", effect, We);
    for (int32_t c = 0; c < classCount; ++c) {
      if (!usedClass[c])
        continue;
      const LevVariable& v = d->classes[c];
      char name[40];
      const int32_t nameLength = v.var != nullptr ? v.var->nameLength : 0;
      std::snprintf(name, sizeof name, "%.*s", std::min(nameLength, 32), v.var ? v.var->name : "");
      const int32_t width = classColumnWidth(v);
      if (width > 0) {
        classWidths[c] = width;
        classTexts[c] = static_cast<char*>(poolTake(pool, width));
        if (classTexts[c] == nullptr)
          return -2; // after the object was made: the caller ends the run on -2
      }
      if (numberedCoding(v.coding)) {
        char pname[40];
        std::snprintf(pname, sizeof pname, "param_%.*s", std::min(nameLength, 26),
                      v.var ? v.var->name : "");
        out->column({rvqInt(103, 6), vsfaName(pname), rvqInt(289, width), vsfaTemplate("Var"),
                     vsfaBound(classTexts[c])});
      } else if (width == 0) {
        out->column({rvqInt(103, 5), vsfaName(name), vsfaTemplate("NumVar"), rvqInt(270, 99),
                     vsfaBound(&classValues[c])});
      } else {
        out->column({rvqInt(103, 6), vsfaName(name), rvqInt(289, width), vsfaTemplate("Var"),
                     vsfaBound(classTexts[c])});
      }
    }
    if (o.include > 0)
      out->column({rvqInt(103, 3), vsfaName("ForcedIn"), vsfaBound(&forced)});
    out->charColumn("Parameter", parameter, Wp);
    if (!group)
      out->column({rvqInt(103, 3), vsfaName("DF"), vsfaBound(&df)});
    out->numberColumn("Estimate", &estimate);
    out->column({rvqInt(103, 5), vsfaName("StandardizedEst"), vsfaDyn("showSTB"),
                 rvqInt(287, o.statStb ? 1 : 0), vsfaBound(&stdEst)});
    if (stdErrCols) {
      out->numberColumn("StdErr", &stdErr);
      out->numberColumn("tValue", &tValue);
      out->column({rvqInt(103, 5), vsfaName("Probt"), vsfaDyn("showProbt"),
                   rvqInt(287, vsfShowPValues(ctx) ? 1 : 0), vsfaBound(&probt)});
    }
    for (int32_t i = 1; i <= folds; ++i) {
      char name[32], head[16];
      std::snprintf(name, sizeof name, "CVEstimate%d", i);
      std::snprintf(head, sizeof head, "%d", i);
      const int32_t glue = i <= 2 ? 100 : 1;
      if (i == folds)
        out->column({rvqInt(103, 5), vsfaTemplate("CVEstimate"), vsfaName(name),
                     vsfaDyn("spanStart"), rvqTextHandle(287, vsfText("CVEstimate1")),
                     vsfaDyn("spanEnd"), rvqTextHandle(287, vsfText(name)),
                     vsfaDyn("CVEstimateHead"), rvqTextHandle(287, vsfText(head)),
                     vsfaDyn("dynamicGlue"), rvqInt(287, glue), vsfaBound(&foldValues[i - 1])});
      else
        out->column({rvqInt(103, 5), vsfaTemplate("CVEstimate"), vsfaName(name),
                     vsfaDyn("CVEstimateHead"), rvqTextHandle(287, vsfText(head)),
                     vsfaDyn("dynamicGlue"), rvqInt(287, glue), vsfaBound(&foldValues[i - 1])});
    }
    out->endColumns();
    out->bind("Stat.VARSIFTER.ParameterEstimates",
              {vsfaDyn("printFootnote"), rvqFlag(287, o.include > 0 ? 1 : 0)});
    return 0;
  }

  // The rows of effect k, one per parameter.
  void printEffect(int32_t k) {
    int32_t nameLength = 0;
    const char* name = vsfEffectName(ctx, k, &nameLength);
    VsfEffectView v = vsfEffectView(ctx, m, k);
    vsfFill(effect, We, name, nameLength);
    forced = m->effectStatus[k] == VES_FORCED ? 1 : 0;
    const int32_t levelStart = style == 1 ? We : nameLength;
    for (int32_t j = 0; j < v.parms; ++j) {
      const int32_t c = v.columns != nullptr ? v.columns[j] : j;
      const int32_t p = m->parmOffset[k] + j;
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
        std::memcpy(parameter, name, static_cast<size_t>(std::min(nameLength, Wp)));
        if (row != nullptr && levelStart < Wp)
          zlevEfLevelLabel(d, v.lev, parameter + levelStart, row);
      }
      if (classCount > 0 && row != nullptr && v.lev != nullptr)
        zlevEfClassLevelTrue(d, v.lev, row, classTexts, classWidths, classValues);
      const double diag = m->betaVariance != nullptr ? m->betaVariance[p] : -1.0;
      df = diag != -1.0 ? 1 : 0;
      for (int32_t f = 0; f < folds; ++f)
        foldValues[f] = m->folds[f].beta != nullptr ? m->folds[f].beta[p] : hostMissing();
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
  int32_t emitRows(int32_t stepOrder) {
    if (o.method == VM_BACKWARD || stepOrder == 0) {
      for (int32_t k = 0; k < m->effectCount; ++k) {
        uint8_t s = m->effectStatus[k];
        if (s != VES_CANDIDATE && s != VES_UNASSIGNED && s != VES_UNAVAILABLE &&
            m->parmOffset != nullptr)
          printEffect(k);
      }
    } else {
      uint8_t* printed = static_cast<uint8_t*>(poolTake(pool, std::max(m->effectCount, 1)));
      if (printed == nullptr)
        return -2; // after the object was made: the caller ends the run on -2
      auto visit = [&](int32_t k) {
        if (k < 0 || k >= m->effectCount || printed[k])
          return;
        if (vsfInModelStatus(m->effectStatus[k])) {
          printEffect(k);
          printed[k] = 1;
        }
      };
      if (group) {
        for (int32_t i = 0; i < m->changeListLength; ++i)
          if (m->changeList[i] >= 0)
            visit(m->changeList[i]);
      } else {
        for (int32_t i = 0; i < m->stepCount; ++i)
          visit(m->stepEffect[i]);
      }
    }
    return 0;
  }
};

} // namespace
int32_t vsfpParmEst(VsfContext* ctx, VsfModel* m, QkPool* pool, int32_t stepOrder) {
  ParmEstTable t(ctx, m, pool);
  if (t.measure() != 0 || t.takeBuffers() != 0)
    return -2;
  VsfOut out(ctx);
  t.out = &out;
  if (t.defineColumns() != 0)
    return -2; // after the object was made: the caller ends the run on -2
  t.dfe = m->nObs - m->rank;
  t.mse = t.dfe > 0 ? m->sse / t.dfe : hostMissing();
  if (t.emitRows(stepOrder) != 0)
    return -2; // after the object was made: the caller ends the run on -2
  out.endRows();
  out.publish();
  out.finish();
  return 0;
}

// The CVDetails table: a row per fold (its rows fitted and left out, its PRESS) and a total
// row of the column sums, marked by Index -1 and labelled "Total" in Fold.
int32_t vsfpCVDetails(VsfContext* ctx, VsfModel* m, QkPool* pool) {
  int32_t index = 0;
  double fitted = 0, leftOut = 0, press = 0, indexValue = 0;
  char control = ' ';
  char fold[16];
  const int32_t foldWidth =
      std::max(5, std::snprintf(fold, sizeof fold, "%d", static_cast<int>(m->foldCount)));
  const LevDesign* d = vsfDesign(ctx);
  const int32_t var = ctx->options.cvIndexVar;
  const LevVariable* iv =
      ctx->options.cvMethod == CV_INDEX && d != nullptr && var >= 0 && var < d->classCount
          ? &d->classes[var]
          : nullptr;
  const bool numericIndex = iv != nullptr && iv->var != nullptr && iv->var->type == 1;
  char* indexText = nullptr;
  const int32_t indexWidth = iv != nullptr ? std::max(iv->levelWidth, 1) : 0;
  VsfOut out(ctx);
  out.create("CVDetails", vsfMsg(790));
  out.column({rvqInt(103, 3), vsfaName("Index"), vsfaBound(&index)});
  out.charColumn("Fold", fold, foldWidth);
  if (iv != nullptr && iv->var != nullptr) {
    char name[40];
    std::snprintf(name, sizeof name, "%.*s", std::min<int32_t>(iv->var->nameLength, 32),
                  iv->var->name);
    if (numericIndex) {
      out.column(
          {rvqInt(103, 5), vsfaName(name), vsfaTemplate("IndexNumVar"), vsfaBound(&indexValue)});
    } else {
      indexText = static_cast<char*>(poolTake(pool, indexWidth));
      if (indexText == nullptr)
        return -2;
      out.column({rvqInt(103, 6), vsfaName(name), rvqInt(289, indexWidth),
                  vsfaTemplate("IndexCharVar"), vsfaBound(indexText)});
    }
  }
  out.numberColumn("NOBSFITTED", &fitted);
  out.numberColumn("NOBSLEFTOUT", &leftOut);
  out.numberColumn("CVPRESS", &press);
  out.column({rvqInt(103, 1), vsfaName("Control"), vsfaBound(&control)});
  out.endColumns();
  out.bind("Stat.VARSIFTER.CVDetails");
  double fittedSum = 0, leftOutSum = 0;
  for (int32_t i = 0; i < m->foldCount && m->folds != nullptr; ++i) {
    index = i + 1;
    char label[16];
    const int n = std::snprintf(label, sizeof label, "%d", static_cast<int>(index));
    vsfFill(fold, foldWidth, label, std::min(n, foldWidth));
    if (iv != nullptr && i < iv->levelCount) {
      if (numericIndex && iv->levelValues != nullptr)
        indexValue = static_cast<const LevLevelValue*>(iv->levelValues)[i].value;
      else if (indexText != nullptr && iv->levelTexts != nullptr)
        vsfFill(indexText, indexWidth, iv->levelTexts[i], iv->levelWidth);
    }
    leftOut = m->folds[i].rowCount;
    fitted = m->nUsed - leftOut;
    fittedSum += fitted;
    leftOutSum += leftOut;
    press = m->folds[i].cvSse;
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
  return 0;
}
