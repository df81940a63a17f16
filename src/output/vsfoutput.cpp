// The OUTPUT data set: every observation of DATA= with all its variables, plus the
// predicted value and residual of the selected model, the partition role and the CV fold.
// Column definitions are made once per run; rows are written once per BY group.
#include "output/vsfoutput.h"

#include "data/vsfdata.h"
#include "data/vsfrolefold.h"
#include "design/levconstructed.h"
#include "design/levreg.h"
#include "design/levrow.h"
#include "model/vsfformulas.h"
#include "numerics/zranuni.h"
#include "output/vsfavgoutput.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfresults.h"
#include "output/vsfselrow.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfoutputstat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const HostVariable* responseVariable(const VsfContext* ctx) {
  if (ctx->design.responses != nullptr && ctx->design.responses[0].var != nullptr)
    return ctx->design.responses[0].var;
  return ctx->stmt.responses != nullptr ? ctx->stmt.responses[0] : nullptr;
}

[[nodiscard]] bool rolesWritten(const VsfContext* ctx) {
  const VsfPartitionSettings& p = ctx->stmt.partition;
  const VsfModelOptions& o = ctx->options;
  const bool roles = p.roleVar > 0 || o.trainFraction != 1.0 || ctx->stmt.proc.valData != nullptr ||
                     ctx->stmt.proc.testData != nullptr;
  return roles && p.given;
}

// A per-response column: the name given, else the row's prefix before the response's name.
[[nodiscard]] int32_t defineStat(HostDataSet* out, const VsfOutputSpec& spec,
                                 VsfOutputStatIndex index, const HostVariable* response) {
  const VsfOutputStat& stat = spec.stat(index);
  const char* prefix = vsfOutputStat(index).defaultName;
  char name[40];
  int32_t length = 0;
  if (stat.nameLength > 0 && stat.name != nullptr) {
    length = std::min<int32_t>(stat.nameLength, 32);
    std::memcpy(name, stat.name, static_cast<size_t>(length));
  } else {
    length = static_cast<int32_t>(std::strlen(prefix));
    std::memcpy(name, prefix, static_cast<size_t>(length));
    const int32_t n = response != nullptr ? std::min<int32_t>(response->nameLength, 30) : 0;
    if (n > 0)
      std::memcpy(name + length, response->name, static_cast<size_t>(n));
    length += n;
  }
  return xdsdefvar(out, name, length, 1, 8);
}

// The role code (1 TRAIN, 2 VALIDATE, 3 TEST, 0 none) of the current observation's ROLEVAR=
// value, fetched and matched as the reading pass does, so that a row shows the role it had
// in the fit.
[[nodiscard]] int32_t roleVarCode(VsfContext* ctx, HostDataSet* in) {
  const VsfPartitionSettings& ps = ctx->stmt.partition;
  int32_t length = 0;
  if (ctx->roleBuffer != nullptr && ctx->roleLength > 0 &&
      xvget1v(in, ps.roleVar, ctx->roleLength, ctx->roleBuffer) == 0)
    length = ctx->roleLength;
  switch (vsfRoleOfValue({ps.trainText, ps.trainLength}, {ps.validateText, ps.validateLength},
                         {ps.testText, ps.testLength}, ctx->stmt.proc.testData != nullptr,
                         ctx->roleBuffer, length)) {
  case VSF_ROLE_TRAIN:
    return 1;
  case VSF_ROLE_VALIDATE:
    return 2;
  case VSF_ROLE_TEST:
    return 3;
  default:
    return 0;
  }
}

} // namespace

VsfStatus vsfPrep(VsfContext* ctx) {
  HostDataSet* out = ctx->options.outputBlock;
  HostDataSet* in = ctx->data;
  if (out == nullptr || in == nullptr)
    return VsfStatus::NoMemory;
  VsfOutputColumns c{};
  c.inputCount = xdsnvar(in);
  if (c.inputCount > 0) {
    c.input = poolArray<int32_t>(ctx->mainPool, c.inputCount);
    c.inputNumeric = poolArray<uint8_t>(ctx->mainPool, c.inputCount);
    if (c.input == nullptr || c.inputNumeric == nullptr)
      return VsfStatus::NoMemory;
  }
  for (int32_t i = 1; i <= c.inputCount; ++i) {
    const HostVariable* v = vsfCopiedVariable(in, i);
    if (v == nullptr)
      return VsfStatus::ReportedFailure;
    int32_t number = xdsdefvar(out, v->name, v->nameLength, v->type, v->length);
    if (number <= 0)
      return VsfStatus::ColumnRefused;
    c.input[i - 1] = number;
    c.inputNumeric[i - 1] = v->type == 1;
  }
  if (rolesWritten(ctx))
    c.role = xdsdefvar(out, "_ROLE_", 6, 2, 8);
  if (ctx->options.cvOn || ctx->options.cvExternal)
    c.cvIndex = xdsdefvar(out, "_CVINDEX_", 9, 1, 8);
  const HostVariable* response = responseVariable(ctx);
  const VsfOutputSpec& spec = ctx->stmt.output;
  if (spec.stat(VsfOutputStatIndex::Pred).on)
    c.pred = defineStat(out, spec, VsfOutputStatIndex::Pred, response);
  if (spec.stat(VsfOutputStatIndex::Resid).on)
    c.resid = defineStat(out, spec, VsfOutputStatIndex::Resid, response);
  if (VsfStatus rc = vsfDefineResampleColumns(ctx, spec, out, c); rc != VsfStatus::Ok)
    return rc;
  if (ctx->stmt.proc.byCount > 0)
    c.by = xdsdefvar(out, "_BY_", 4, 1, 8);
  if (c.role < 0 || c.cvIndex < 0 || c.pred < 0 || c.resid < 0 || c.by < 0)
    return VsfStatus::ColumnRefused;
  // Its options may name only these columns: a misfit ends the step before any data pass.
  if (xdsdefend(out) != 0)
    return VsfStatus::ReportedFailure;
  ctx->outputColumns = c;
  return VsfStatus::Ok;
}

VsfStatus vsfPrepOutput(VsfContext* ctx) {
  const double start = zdattim();
  const VsfStatus rc = vsfPrep(ctx);
  ctx->outputTime += zdattim() - start;
  return rc;
}

void vsfModelRgx(const VsfContext* ctx, const VsfModel* m, LevRegContext* dc, double* row) {
  std::vector<int32_t> selected;
  for (int32_t k = 0; k < m->effectCount; ++k) {
    if (!vsfInModelStatus(m->effectStatus[k]))
      continue;
    const int32_t lev = vsfDesignEffect(ctx, k);
    // Split candidates share their design effect: its block is built once.
    if (std::find(selected.begin(), selected.end(), lev) == selected.end())
      selected.push_back(lev);
  }
  zlevSelectedRow(dc, selected.data(), static_cast<int32_t>(selected.size()), row);
}

VsfPredictStats vsfResamplePredict(double alpha, bool quantiles, int32_t resamples, int32_t n,
                                   double* predictions, double* work) {
  VsfPredictStats s{hostMissing(), hostMissing(), hostMissing(), hostMissing(), hostMissing()};
  double* x = predictions;
  if (work != nullptr) {
    if (n == resamples) {
      std::copy(predictions, predictions + resamples, work);
    } else {
      int32_t at = 0;
      for (int32_t i = 0; i < resamples; ++i)
        if (!isHostMissing(predictions[i]))
          work[at++] = predictions[i];
    }
    x = work;
  }
  if (n < 1)
    return s;
  double sum = 0, squares = 0;
  for (int32_t i = 0; i < n; ++i)
    sum += x[i], squares += x[i] * x[i];
  s.mean = sum / n;
  if (n >= 2) {
    const double css = squares - sum * sum / n;
    s.stddev = css > 0 ? std::sqrt(css / (n - 1)) : 0.0;
  }
  if (quantiles) {
    vsfQsort(x, n, nullptr, 1);
    s.median = n % 2 == 1 ? x[n / 2] : (x[n / 2 - 1] + x[n / 2]) / 2;
    const double a = alpha * 0.5;
    auto quantile = [&](double t) {
      const int32_t j = static_cast<int32_t>(std::floor(t + kVsfEps));
      if (std::fabs(t - j) > kVsfEps)
        return x[std::min(j, n - 1)];
      return (x[std::max(j - 1, 0)] + x[std::min(j, n - 1)]) / 2;
    };
    s.lower = quantile(n * a);
    s.upper = quantile((1 - a) * n);
  }
  return s;
}

namespace {

// True when the row's weight or frequency keeps it out of the fit (a missing or
// non-positive weight, a non-positive frequency); `f` becomes the whole frequency.
[[nodiscard]] bool weightOrFreqBad(const LevRegContext* dc, LevRowStatusSet status, double w,
                                   double f) {
  bool bad = status.has(LevRowStatus::Weight);
  const bool freqGiven = dc->freq != nullptr, weightGiven = dc->weights != nullptr;
  if (freqGiven && !isHostMissing(f)) {
    f = std::floor(f);
    if (f <= 0)
      bad = true;
  } else {
    f = 1;
  }
  if (freqGiven || weightGiven) {
    if (weightGiven && isHostMissing(w))
      bad = true;
    else if ((weightGiven ? w : 1) * f <= 0)
      bad = true;
  }
  return bad;
}

// The selected model's prediction of the current row (design row in `row`).
double predictRow(const VsfContext* ctx, const VsfModel* m, LevRegContext* dc, double* row) {
  const LevDesign* d = dc->design;
  vsfModelRgx(ctx, m, dc, row);
  double sum = 0;
  for (int32_t k = 0; k < m->effectCount; ++k) {
    if (!vsfInModelStatus(m->effectStatus[k]))
      continue;
    const int32_t lev = vsfDesignEffect(ctx, k);
    const VsfEffectRecord* rec = vsfEffectRecord(ctx, k);
    const int32_t parms =
        rec != nullptr
            ? rec->parmCount
            : (k + 1 < m->effectCount ? m->parmOffset[k + 1] : m->parmCount) - m->parmOffset[k];
    const int32_t* cols = rec != nullptr ? rec->columns : nullptr;
    for (int32_t j = 0; j < parms; ++j)
      sum += m->beta[m->parmOffset[k] + j] *
             row[static_cast<size_t>(d->effects[lev].firstColumn + (cols ? cols[j] : j))];
  }
  return sum;
}

// The partition role and CV fold of the rows of a BY group, drawn in row order from the
// group's random stream as the reading pass drew them.
struct RoleDraw {
  int64_t rng;
  VsfRoleFoldCursor cursor;
};

} // namespace

VsfRoleFoldRule vsfOutputRoleFoldRule(const VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  const bool cv = o.cvOn || o.cvExternal;
  return {ctx->stmt.partition.roleVar <= 0 && o.trainFraction != 1.0, o.testFraction,
          o.validateFraction, cv ? o.cvMethod : VsfCvMethod::None, o.cvFolds};
}

namespace {

// The role of the current row (1 TRAIN, 2 VALIDATE, 3 TEST, 0 none) and, for a TRAIN row
// under cross validation, its fold (from 1) in *cvIndex.
[[nodiscard]] int32_t drawRoleAndFold(VsfContext* ctx, const VsfModel* m, HostDataSet* in,
                                      RoleDraw& r, double* cvIndex) {
  const VsfRoleFoldRule rule = vsfOutputRoleFoldRule(ctx);
  const LevRegContext* dc = &ctx->design;
  const LevDesign* d = dc->design;
  int32_t assigned = ctx->outputColumns.role == 0 ? 1 : 0;
  if (rule.drawRoles)
    assigned = vsfRoleIndex(vsfDrawRole(rule, &r.rng));
  else if (ctx->stmt.partition.roleVar > 0)
    assigned = roleVarCode(ctx, in);
  if (assigned == 1 && rule.cvMethod != VsfCvMethod::None) {
    const int32_t o = ctx->options.cvIndexVar;
    const VsfDataSettings& s = ctx->dataSettings;
    const int32_t level =
        d != nullptr && o >= 0 && o < d->classCount
            ? vsfIndexFoldOfLevel(s.read.indexFoldLevels, s.folds, dc->levelIndex[o])
            : kVsfNoFold;
    const int32_t fold =
        vsfTrainFold(rule, r.cursor, &r.rng, level, static_cast<int64_t>(m->totals.nTrain));
    *cvIndex = fold == kVsfNoFold ? 0 : fold + 1;
  }
  return assigned;
}

// Appends the output row: the observation's own values, then the statistics.
[[nodiscard]] VsfStatus writeRow(HostDataSet* out, HostDataSet* in, const VsfOutputColumns& c,
                                 const char* role, double cvIndex, double pred, double resid,
                                 double byNumber, const std::function<void()>& averaging) {
  for (int32_t i = 0; i < c.inputCount; ++i) {
    if (c.inputNumeric[i]) {
      xdsputn(out, c.input[i], xobsnum(in, i + 1));
    } else {
      const char* text = nullptr;
      int32_t n = xobschar(in, i + 1, &text);
      xdsputc(out, c.input[i], text, n);
    }
  }
  if (c.role > 0)
    xdsputc(out, c.role, role, 8);
  if (c.cvIndex > 0)
    xdsputn(out, c.cvIndex, cvIndex);
  if (c.pred > 0)
    xdsputn(out, c.pred, pred);
  if (c.resid > 0)
    xdsputn(out, c.resid, resid);
  averaging();
  if (c.by > 0)
    xdsputn(out, c.by, byNumber);
  return vsfAppendRow(out);
}

// The notes on rows left unpredicted: a CLASS level the fit did not see
// (VsfMsg::OutputClassLevelsNotInFit), per effect a level combination it did not see
// (VsfMsg::OutputEffectLevelsNotInFit), and an effect of the design that could not be formed.
void noteUnseen(HostDataSet* out, const LevDesign* d, VsfSelectedModel& sm) {
  char name[300];
  const int32_t nameLength = std::max(xdsname(out, name, static_cast<int32_t>(sizeof name)), 0);
  if (sm.unseenLevel)
    vsfLog(VsfMsg::OutputClassLevelsNotInFit, {HostMsgArg(name, nameLength)});
  vsfNoteUnformedRows(sm.unformedRows, out);
  for (int32_t lev : sm.designEffects)
    if (sm.unseenCombinations[static_cast<size_t>(lev)] > 0) {
      const char* effect = d->effects[lev].name != nullptr ? d->effects[lev].name : "";
      vsfLog(VsfMsg::OutputEffectLevelsNotInFit,
             {HostMsgArg(name, nameLength),
              HostMsgArg(effect, static_cast<int32_t>(std::strlen(effect)))});
      sm.unseenCombinations[static_cast<size_t>(lev)] = 0;
    }
}

} // namespace

VsfStatus vsfOutputBy(VsfContext* ctx, VsfModel* m, VsfResampling*, int64_t seed) {
  const double start = zdattim();
  HostDataSet* out = ctx->options.outputBlock;
  LevRegContext* dc = &ctx->design;
  if (!ctx->options.hasOutput || out == nullptr)
    return VsfStatus::Ok;
  const VsfOutputColumns& c = ctx->outputColumns;
  LevDesign* d = dc->design;
  // With model averaging the averaged model of the resamples predicts.
  VsfAveragePrediction averaged;
  vsfAveragePrepare(ctx, m, ctx->stmt.output, averaged);
  const bool usable =
      d != nullptr &&
      (averaged.on ? averaged.usable : m->fitStatus == VsfFitStatus::Done && m->beta != nullptr);
  std::vector<double> row(usable ? static_cast<size_t>(std::max(d->columnCount, 1)) : 1);
  HostDataSet* in = dc->library != nullptr ? dc->library->data : ctx->data;
  RoleDraw draw{seed, {}};
  VsfSelectedModel sm;
  vsfSelectedModelOf(ctx, m, &sm);
  if (zlevGetInit(dc) != VsfStatus::Ok)
    return VsfStatus::Ok;
  while (zlevGetNext(dc) == 1) {
    double y = hostMissing(), w = 1, f = 1;
    const LevRowStatusSet s = zlevrgd(dc, &y, &w, &f);
    const bool bad = weightOrFreqBad(dc, s, w, f);
    const bool predictable = usable && vsfRowPredictable(&sm, dc, s);
    double pred = hostMissing(), resid = hostMissing();
    char role[8];
    std::memset(role, ' ', 8);
    double cvIndex = 0;
    if (predictable && averaged.on) {
      vsfModelRgx(ctx, m, dc, row.data());
      pred = vsfAveragePredict(ctx, averaged, row.data());
    } else if (predictable) {
      pred = predictRow(ctx, m, dc, row.data());
    }
    if (!s.has(LevRowStatus::Response)) {
      resid = isHostMissing(pred) || isHostMissing(y) ? hostMissing() : y - pred;
      if (!bad && !s.has(LevRowStatus::Explanatory) && usable && predictable) {
        const int32_t assigned = drawRoleAndFold(ctx, m, in, draw, &cvIndex);
        if (c.role != 0 && assigned != 0) {
          static const char* names[] = {"", "TRAIN", "VALIDATE", "TEST"};
          std::memcpy(role, names[assigned], std::strlen(names[assigned]));
        }
      }
    }
    // The drawn frequencies belong to the rows the fit read, in their order.
    const bool fitRow =
        !bad && !s.any(LevRowStatus::Explanatory | LevRowStatus::Response | LevRowStatus::Computed);
    const auto averagingColumns = [&] {
      if (averaged.on)
        vsfPutAverageColumns(out, c, ctx, averaged, predictable, fitRow);
    };
    if (VsfStatus rc = writeRow(out, in, c, role, cvIndex, pred, resid, ctx->options.outputByNumber,
                                averagingColumns);
        rc != VsfStatus::Ok)
      return rc;
  }
  noteUnseen(out, d, sm);
  ctx->outputTime += zdattim() - start;
  return VsfStatus::Ok;
}

void vsfFinishOutput(VsfContext* ctx) {
  if (ctx->options.outputBlock != nullptr) {
    xvputt(ctx->options.outputBlock);
    ctx->options.outputBlock = nullptr;
  }
}

bool vsfRolesWritten(const VsfContext* ctx) { return rolesWritten(ctx); }

int32_t vsfRoleVarCode(VsfContext* ctx, HostDataSet* in) { return roleVarCode(ctx, in); }

int32_t vsfDefineStat(HostDataSet* out, const VsfOutputSpec& spec, VsfOutputStatIndex index,
                      const HostVariable* response) {
  return defineStat(out, spec, index, response);
}
