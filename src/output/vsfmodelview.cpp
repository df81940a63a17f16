// Read-only views of effect records, names and switches for the printers; the records and
// switches are filled by the driver, the post-parse initialisation and the data pass.
#include "output/vsfmodelview.h"

#include "effects/levdesign.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "support/hoststubs.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cstring>

LevDesign* vsfDesign(const VsfContext* ctx) { return ctx->design.design; }

const VsfEffectRecord* vsfEffectRecord(const VsfContext* ctx, int32_t k) {
  if (ctx->effectRecords == nullptr || k < 0 || k >= ctx->effectRecordCount)
    return nullptr;
  return &ctx->effectRecords[k];
}

int32_t vsfDesignEffect(const VsfContext* ctx, int32_t k) {
  const VsfEffectRecord* r = vsfEffectRecord(ctx, k);
  return r != nullptr ? r->effect : k;
}

const char* vsfEffectName(const VsfContext* ctx, int32_t k, int32_t* length) {
  const VsfEffectRecord* rec = vsfEffectRecord(ctx, k);
  if (rec != nullptr && rec->name != nullptr) {
    *length = rec->nameLength;
    return rec->name;
  }
  const LevDesign* d = vsfDesign(ctx);
  if (d != nullptr && k >= 0 && k < d->effectCount && d->effects[k].name != nullptr) {
    *length = static_cast<int32_t>(std::strlen(d->effects[k].name));
    return d->effects[k].name;
  }
  *length = 0;
  return "";
}

int32_t vsfLongestEffectName(const VsfContext* ctx) {
  int32_t longest = 0;
  int32_t count = ctx->effectRecords != nullptr ? ctx->effectRecordCount
                  : vsfDesign(ctx) != nullptr   ? vsfDesign(ctx)->effectCount
                                                : 0;
  for (int32_t k = 0; k < count; ++k) {
    int32_t n = 0;
    vsfEffectName(ctx, k, &n);
    longest = std::max(longest, n);
  }
  return longest;
}

RvqText* vsfDataSetNameText(HostDataSet* data) {
  char buffer[300];
  int32_t n = data != nullptr ? xdsname(data, buffer, static_cast<int32_t>(sizeof buffer)) : -1;
  return vsfText(n > 0 ? buffer : "", n > 0 ? n : 0);
}

RvqText* vsfVariableNameText(const HostVariable* var) {
  if (var == nullptr)
    return vsfText("", 0);
  return vsfText(var->name, var->nameLength);
}

int32_t vsfStatShown(const VsfContext* ctx, int32_t index) {
  const VsfModelOptions& o = ctx->options;
  if (o.statAll)
    return 1;
  switch (index) {
  case 1:
    return o.statSl;
  case 2:
    return o.statF;
  case 3:
    return o.statAic;
  case 4:
    return o.statAicc;
  case 5:
    return o.statSbc;
  case 6:
    return o.statBic;
  case 7:
    return o.statCp;
  case 8:
    return o.statPress;
  case 9:
    return o.statRsquare;
  case 10:
    return o.statAdjrsq;
  case 11:
    return o.statAse;
  default:
    return 0;
  }
}

bool vsfGraphicsOn(const VsfContext* ctx) { return ctx->stmt.plots.graphicsEnabled != 0; }

bool vsfShowPValues(const VsfContext* ctx) {
  return ctx->stmt.showPValues != 0 || !vsfMethodSelects(ctx->options.method);
}

double vsfTrainingWeight(const VsfModel* model) { return model->totals.wTrain; }

bool normBetaKept(const VsfModelOptions& options) { return options.stdL1History != 0; }

bool l1Shown(const VsfModelOptions& options) { return options.showStepL1 != 0; }

const double* normBetaHistory(const VsfModel* model) {
  return model->options != nullptr && normBetaKept(*model->options) ? model->history.stepStdL1Norm
                                                                    : nullptr;
}

double vsfNormBeta(const VsfModel* model, int32_t i) {
  const double* h = normBetaHistory(model);
  if (h == nullptr || i < 0 || i >= model->history.stepCount)
    return hostMissing();
  const double last = h[model->history.stepCount - 1], here = h[i];
  if (isHostMissing(last) || !(last > 0) || isHostMissing(here))
    return hostMissing();
  return here / last;
}

VsfEffectView vsfEffectView(const VsfContext* ctx, const VsfModel* m, int32_t k) {
  VsfEffectView v;
  const LevDesign* d = vsfDesign(ctx);
  int32_t levIndex = k;
  if (const VsfEffectRecord* rec = vsfEffectRecord(ctx, k)) {
    levIndex = rec->effect;
    v.parms = rec->parmCount;
    v.columns = rec->columns;
  } else if (m->parmOffset != nullptr) {
    v.parms = (k + 1 < m->effectCount ? m->parmOffset[k + 1] : m->parmCount) - m->parmOffset[k];
  }
  if (d != nullptr && levIndex >= 0 && levIndex < d->effectCount)
    v.lev = &d->effects[levIndex];
  return v;
}

const int32_t* vsfLevelRow(const VsfEffectView& v, int32_t c) {
  if (v.lev == nullptr || v.lev->columnTable == nullptr)
    return nullptr;
  return v.lev->columnTable + static_cast<size_t>(c) * v.lev->columnRowWidth;
}

const char* vsfInterlacedText(const LevDesign* d, int32_t col, int32_t* length) {
  *length = 0;
  if (d == nullptr || col < 0 || col >= d->columnCount)
    return nullptr;
  const char* text = d->columnLabels != nullptr ? d->columnLabels[col] : nullptr;
  if (text == nullptr || text[0] == '\0')
    text = d->columnNames != nullptr ? d->columnNames[col] : nullptr;
  if (text != nullptr)
    *length = static_cast<int32_t>(std::strlen(text));
  return text;
}
