// The model-averaging columns of the OUTPUT data set: their definitions once per run, and per
// row the averaged prediction, the statistics of the resample predictions and the drawn
// frequencies, read from the averaging summary of the BY group.
#include "output/vsfavgoutput.h"

#include "effects/levdesign.h"
#include "output/vsfaverage.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfselrow.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfoutputstat.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace {

std::string statName(const VsfOutputStat& stat, const char* fallback) {
  if (stat.nameLength > 0 && stat.name != nullptr)
    return std::string(stat.name, static_cast<size_t>(stat.nameLength));
  return fallback;
}

[[nodiscard]] int32_t defineNumber(HostDataSet* out, const std::string& name) {
  const auto n = std::min<size_t>(name.size(), kVsfColumnNameMax);
  return xdsdefvar(out, name.data(), static_cast<int32_t>(n), 1, 8);
}

// The R columns of SAMPLEFREQ or SAMPLEPRED; a prefix cut to fit is logged
// (VsfMsg::SamplePrefixTooLong).
[[nodiscard]] VsfStatus defineSampleColumns(VsfContext* ctx, HostDataSet* out,
                                            const VsfOutputStat& stat,
                                            const VsfOutputStatTraits& row, int32_t** columns) {
  const int32_t R = vsfOutputResamples(ctx);
  const std::string prefix = statName(stat, row.defaultName);
  const char* option = row.option;
  bool cut = false;
  const std::vector<std::string> names = vsfResampleColumnNames(prefix, R, &cut);
  const std::string last = names.empty() ? std::string() : names.back();
  if (cut)
    vsfLog(VsfMsg::SamplePrefixTooLong,
           {HostMsgArg(prefix.data(), static_cast<int32_t>(prefix.size())),
            HostMsgArg(option, static_cast<int32_t>(std::char_traits<char>::length(option))),
            HostMsgArg(static_cast<int64_t>(kVsfColumnNameMax)),
            HostMsgArg(last.data(), static_cast<int32_t>(last.size()))});
  *columns = poolArray<int32_t>(ctx->mainPool, std::max(R, 1));
  if (*columns == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t i = 0; i < R; ++i)
    if (((*columns)[i] = defineNumber(out, names[static_cast<size_t>(i)])) <= 0)
      return VsfStatus::ColumnRefused;
  return VsfStatus::Ok;
}

} // namespace

int32_t vsfOutputResamples(const VsfContext* ctx) {
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  return ma.refit ? ma.refitNSamples : ma.nSamples;
}

std::vector<std::string> vsfResampleColumnNames(const std::string& prefix, int32_t R, bool* cut) {
  const int32_t digits = static_cast<int32_t>(std::log10(R + 0.5)) + 1;
  const size_t room = static_cast<size_t>(std::max(kVsfColumnNameMax - digits, 0));
  *cut = prefix.size() > room;
  const std::string head = prefix.substr(0, std::min(prefix.size(), room));
  std::vector<std::string> names;
  for (int32_t i = 1; i <= R; ++i)
    names.push_back(head + std::to_string(i));
  return names;
}

VsfStatus vsfDefineResampleColumns(VsfContext* ctx, const VsfOutputSpec& spec, HostDataSet* out,
                                   VsfOutputColumns& c) {
  // The data set's columns come in this order, not in the statistics' code order.
  using enum VsfOutputStatIndex;
  const std::pair<VsfOutputStatIndex, int32_t*> single[] = {
      {Median, &c.median}, {StdDev, &c.stddev}, {Lower, &c.lower}, {Upper, &c.upper}};
  for (const auto& [index, column] : single)
    if (spec.stat(index).on &&
        (*column =
             defineNumber(out, statName(spec.stat(index), vsfOutputStat(index).defaultName))) <= 0)
      return VsfStatus::ColumnRefused;
  const std::pair<VsfOutputStatIndex, int32_t**> perResample[] = {{SampleFreq, &c.sampleFreq},
                                                                  {SamplePred, &c.samplePred}};
  VsfStatus rc = VsfStatus::Ok;
  for (const auto& [index, columns] : perResample)
    if (rc == VsfStatus::Ok && spec.stat(index).on)
      rc = defineSampleColumns(ctx, out, spec.stat(index), vsfOutputStat(index), columns);
  return rc;
}

void vsfAveragePrepare(VsfContext* ctx, const VsfModel* m, const VsfOutputSpec& spec,
                       VsfAveragePrediction& p) {
  p = VsfAveragePrediction{};
  if (!ctx->options.modelAverage)
    return;
  const VsfAverageSummary& a = ctx->average;
  p.on = true;
  p.usable = a.averagedCount > 0 && a.sampleModels != nullptr;
  for (const VsfOutputStatTraits& row : kVsfOutputStatTraits)
    if (spec.stat(row.stat).on) {
      p.quantiles = p.quantiles || row.quantile;
      p.resampleStats = p.resampleStats || row.resamplePredictions;
    }
  p.resamples = a.sampleCount;
  if (!p.usable)
    return;
  p.coef = vsfModelEstimates(ctx, m);
  p.coef.resize(static_cast<size_t>(m->parmCount), 0.0);
  p.column.assign(static_cast<size_t>(m->parmCount), -1);
  for (int32_t k = 0; k < m->effectCount; ++k) {
    const VsfEffectView v = vsfEffectView(ctx, m, k);
    for (int32_t j = 0; j < v.parms && v.lev != nullptr; ++j)
      p.column[static_cast<size_t>(m->parmOffset[k] + j)] =
          v.lev->firstColumn + (v.columns ? v.columns[j] : j);
  }
  p.preds.assign(static_cast<size_t>(p.resamples), hostMissing());
  p.work.assign(static_cast<size_t>(p.resamples), 0.0);
}

double vsfAveragePredict(const VsfContext* ctx, VsfAveragePrediction& p, const double* row) {
  const VsfAverageSummary& a = ctx->average;
  if (!p.resampleStats) {
    double sum = 0.0;
    for (size_t parm = 0; parm < p.coef.size(); ++parm)
      if (p.coef[parm] != 0.0 && p.column[parm] >= 0)
        sum += p.coef[parm] * row[p.column[parm]];
    return sum;
  }
  for (int32_t s = 0; s < p.resamples; ++s) {
    const VsfSampleModel& sm = a.sampleModels[s];
    double sum = 0.0;
    for (int32_t t = 0; t < sm.termCount; ++t)
      sum += sm.values[t] * row[p.column[static_cast<size_t>(sm.parms[t])]];
    p.preds[static_cast<size_t>(s)] = a.sampleUsed[s] ? sum : hostMissing();
  }
  p.stats = vsfResamplePredict(ctx->stmt.ma.alpha, p.quantiles, p.resamples, a.averagedCount,
                               p.preds.data(), p.work.data());
  return p.stats.mean;
}

void vsfPutAverageColumns(HostDataSet* out, const VsfOutputColumns& c, VsfContext* ctx,
                          VsfAveragePrediction& p, bool predicted, bool freqRow) {
  const double miss = hostMissing();
  const bool stats = predicted && p.usable && p.resampleStats;
  const std::pair<int32_t, double> named[] = {{c.median, p.stats.median},
                                              {c.stddev, p.stats.stddev},
                                              {c.lower, p.stats.lower},
                                              {c.upper, p.stats.upper}};
  for (const auto& [column, value] : named)
    if (column > 0)
      xdsputn(out, column, stats ? value : miss);
  const VsfAverageSummary& a = ctx->average;
  const int32_t R = vsfOutputResamples(ctx);
  if (c.samplePred != nullptr)
    for (int32_t i = 0; i < R; ++i)
      xdsputn(out, c.samplePred[i],
              stats && i < p.resamples ? p.preds[static_cast<size_t>(i)] : miss);
  const bool freqs = freqRow && a.obsFrequency != nullptr && p.freqRow < a.obsCount;
  if (c.sampleFreq != nullptr)
    for (int32_t i = 0; i < R; ++i)
      xdsputn(out, c.sampleFreq[i],
              freqs && i < a.sampleCount ? a.obsFrequency[p.freqRow * a.sampleCount + i] : miss);
  if (freqs)
    ++p.freqRow;
}
