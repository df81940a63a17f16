// The model-averaging summary: every resample's record is read back from its resampler's
// file at the position the driver noted, the selections are counted, the distinct models
// ranked, the SUBSET limits applied and the estimates of the averaged resamples summarised.
#include "output/vsfaverage.h"

#include "data/vsfscratchfile.h"
#include "model/vsfserialize.h"
#include "output/vsfcontext.h"
#include "output/vsfmodeltree.h"
#include "selection/vsfresample.h"
#include "support/groupname.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// What distinctModel returns when memory for a new model fails.
constexpr int32_t kNoModelNumber = -1;

constexpr double kFuzz = 1.110223024625157e-13;

// The distinct models: a qkavlt tree ordered by vsfAVL (effect count first, then effect by
// effect), its nodes taken from the BY pool and numbered in the order they were first met.
struct ModelTree {
  QkAvlTree* tree = nullptr;
  int32_t count = 0;
  ModelTree(const ModelTree&) = delete;
  ModelTree& operator=(const ModelTree&) = delete;
  explicit ModelTree(VsfContext* ctx) {
    auto* ext = reinterpret_cast<QkAvlExtension*>(ctx->exts.qkavlt);
    const QkAvlDescriptor desc{0, kVsfModelKeyOffset, QKAVL_CALLBACKS, 0, &vsfAVL};
    if (ext != nullptr)
      tree = ext->createTree(ext, &desc, nullptr, nullptr);
  }
  ~ModelTree() {
    if (tree != nullptr)
      tree->destroy(tree);
  }
};

struct SampleModel {
  std::vector<int32_t> parms;
  std::vector<double> values;
  int32_t model = -1; // index into the distinct models, -1 for an unusable resample
};

template <class T> T* take(VsfContext* ctx, int64_t n) { return poolArray<T>(ctx->byPool, n); }

void failedSample(VsfContext* ctx, VsfFitStatus status, int32_t number) {
  const VsfMsg message = status == VsfFitStatus::NoTrain ? VsfMsg::ResampleNoTrainingObservations
                         : status == VsfFitStatus::ZeroFullMse ? VsfMsg::ResampleNeedsFullModel
                         : status == VsfFitStatus::NoMemory    ? VsfMsg::ResampleRanOutMemory
                                                               : VsfMsg{};
  if (message != VsfMsg{})
    vsfLog(message, {HostMsgArg(static_cast<int64_t>(number))});
  vsfRaiseRC(ctx, StepRc::Warning);
}

// The number of the distinct model with these ascending effects, added when new; kNoModelNumber
// when memory fails.
[[nodiscard]] int32_t distinctModel(VsfContext* ctx, ModelTree& models, const int32_t* effects,
                                    int32_t count) {
  QkAvlHeader* h = &models.tree->header;
  const VsfModelKey probe{count, effects};
  if (auto* found = static_cast<VsfModelTreeNode*>(models.tree->find(h, &probe)))
    return found->id;
  auto* node = take<VsfModelTreeNode>(ctx, 1);
  int32_t* copy = take<int32_t>(ctx, std::max(count, 1));
  if (node == nullptr || copy == nullptr)
    return kNoModelNumber;
  std::copy(effects, effects + count, copy);
  node->key = VsfModelKey{count, copy};
  node->id = models.count++;
  models.tree->insert(h, node);
  return node->id;
}

// Reads every resample record; fills the samples and the distinct models.
[[nodiscard]] VsfStatus readSamples(VsfContext* ctx, std::vector<SampleModel>& samples,
                                    ModelTree& models, int32_t* usable) {
  VsfAverageSummary& a = ctx->average;
  VsfResampling* d = ctx->resampling;
  const int32_t nE = ctx->model.effectCount, nP = ctx->model.parmCount;
  std::vector<int32_t> effects(static_cast<size_t>(nE));
  std::vector<double> estimates(static_cast<size_t>(nP));
  int32_t g = 0;
  for (int32_t i = 0; i < d->count; ++i) {
    VsfResampler* r = &d->resamplers[i];
    // Each resampler's records are read at their own positions in its own file.
    for (int32_t k = 0; k < r->sampleCount; ++k, ++g) {
      int64_t pos = r->recordPos[k];
      int32_t status = 0, count = 0;
      const VsfStatus rc = vsfRestoreResample(r->freqScratch->file, nP, &pos, &status, &count,
                                              effects.data(), estimates.data());
      if (rc != VsfStatus::Ok)
        return rc;
      SampleModel& s = samples[static_cast<size_t>(g)];
      if (vsfFitFailed(static_cast<VsfFitStatus>(status))) {
        failedSample(ctx, static_cast<VsfFitStatus>(status), g + 1);
        continue;
      }
      ++*usable;
      for (int32_t e = 0; e < count; ++e)
        ++a.effectSelectCount[effects[static_cast<size_t>(e)]];
      for (int32_t j = 0; j < nP; ++j)
        if (estimates[static_cast<size_t>(j)] != 0.0) {
          s.parms.push_back(j);
          s.values.push_back(estimates[static_cast<size_t>(j)]);
          ++a.nonzeroCount[j];
        }
      std::sort(effects.begin(), effects.begin() + count);
      const int32_t id = distinctModel(ctx, models, effects.data(), count);
      if (id < 0)
        return VsfStatus::NoMemory;
      s.model = id;
    }
  }
  return VsfStatus::Ok;
}

// Ranks the distinct models (score descending, then key order) and marks those the SUBSET
// limits admit. Returns the largest model frequency.
[[nodiscard]] int32_t rankModels(VsfContext* ctx, const std::vector<SampleModel>& samples,
                                 const ModelTree& models, int32_t usable) {
  VsfAverageSummary& a = ctx->average;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  a.modelCount = models.count;
  a.models = take<VsfModelNode>(ctx, a.modelCount);
  a.modelOrder = take<int32_t>(ctx, a.modelCount);
  std::vector<int32_t> nodeOf(static_cast<size_t>(models.count));
  int32_t n = 0;
  QkAvlHeader* h = &models.tree->header;
  for (void* p = models.tree->first(h); p != nullptr; p = models.tree->next(p)) {
    const auto* tn = static_cast<const VsfModelTreeNode*>(p);
    VsfModelNode& node = a.models[n];
    const int32_t count = tn->key.count;
    node.effectCount = count;
    node.effects = tn->key.indices;
    double sum = 0.0;
    for (int32_t e = 0; e < count; ++e)
      sum += a.effectSelectCount[tn->key.indices[e]];
    node.meanSelectFraction = count == 0 ? 0.0 : sum / (double(count) * usable);
    nodeOf[static_cast<size_t>(tn->id)] = n++;
  }
  for (const SampleModel& s : samples)
    if (s.model >= 0)
      ++a.models[nodeOf[static_cast<size_t>(s.model)]].timesSelected;
  for (int32_t k = 0; k < a.modelCount; ++k)
    a.modelOrder[k] = k;
  auto score = [&](int32_t k) {
    return a.models[k].timesSelected + a.models[k].meanSelectFraction;
  };
  std::stable_sort(a.modelOrder, a.modelOrder + a.modelCount,
                   [&](int32_t x, int32_t y) { return score(x) > score(y); });
  const int32_t minFreq = std::max(ma.minModelFreq, 1);
  const int32_t best = ma.subsetBest > 0 ? ma.subsetBest : 2147483647;
  int32_t cumulative = 0, largest = 0;
  for (int32_t r = 0; r < a.modelCount; ++r) {
    VsfModelNode& node = a.models[a.modelOrder[r]];
    node.firstSample = 1 + cumulative;
    cumulative += node.timesSelected;
    node.usedInAverage = node.timesSelected >= minFreq && node.firstSample <= best;
    largest = std::max(largest, node.timesSelected);
  }
  for (size_t s = 0; s < samples.size(); ++s)
    a.sampleUsed[s] = samples[s].model >= 0 &&
                      a.models[nodeOf[static_cast<size_t>(samples[s].model)]].usedInAverage;
  return largest;
}

// The statistics of one parameter from its sorted non-zero values over N averaged resamples.
void parmStatistics(VsfContext* ctx, int32_t p, std::vector<double>& v, int32_t N, int32_t usable,
                    int32_t usableNonzero) {
  VsfAverageSummary& a = ctx->average;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  const double miss = hostMissing();
  const int64_t n = static_cast<int64_t>(v.size());
  const double q = ma.alpha / 2.0;
  const int64_t k = static_cast<int64_t>(double(n) * ma.trimFraction / 2.0);
  const int64_t nTrim = std::max<int64_t>(n - 2 * k, 0);
  double sum = 0.0;
  for (int64_t i = k; i < n - k; ++i)
    sum += v[size_t(i)];
  // The squares are summed about the values' mean, so that estimates far from zero with a
  // small spread (the intercept of a response near 1.7e9) keep the digits of their spread.
  const double centre = nTrim > 0 ? sum / double(nTrim) : 0.0;
  double deviations = 0.0, squares = 0.0;
  for (int64_t i = k; i < n - k; ++i) {
    const double d = v[size_t(i)] - centre;
    deviations += d;
    squares += d * d;
  }
  // The standard deviation over `count` estimates: the non-zero values and count - nTrim zeros.
  auto sd = [&](int64_t count) {
    if (count < 2)
      return miss;
    const double zeros = double(count - nTrim);
    const double s1 = deviations - zeros * centre, s2 = squares + zeros * centre * centre;
    const double css = s2 - s1 * s1 / double(count);
    return css > kFuzz ? std::sqrt(css / double(count - 1)) : 0.0;
  };
  auto at = [&](int64_t i) { return v[size_t(i)]; };
  if (n == 0) {
    a.nonzeroMean[p] = a.nonzeroMedian[p] = a.nonzeroLower[p] = a.nonzeroUpper[p] = miss;
    a.nonzeroStdDev[p] = miss;
  } else {
    a.nonzeroMean[p] = nTrim == 0 ? miss : sum / double(nTrim);
    a.nonzeroMedian[p] =
        n % 2 == 1 ? v[size_t(n / 2)] : (v[size_t(n / 2 - 1)] + v[size_t(n / 2)]) / 2;
    a.nonzeroLower[p] = vsfQuantileAt(at, n, q * double(n));
    a.nonzeroUpper[p] = vsfQuantileAt(at, n, (1 - q) * double(n));
    a.nonzeroStdDev[p] = sd(nTrim);
  }
  const int64_t M = std::max<int64_t>(N - 2 * k, 0);
  if (ma.parmThreshold == 0.0 || ma.parmThreshold <= double(usableNonzero) / usable) {
    a.stdDevEstimate[p] = sd(M);
    a.meanEstimate[p] = M == 0 ? miss : sum / double(M);
  } else {
    a.meanEstimate[p] = a.stdDevEstimate[p] = 0.0;
  }
  const int64_t neg = std::count_if(v.begin(), v.end(), [](double x) { return x < 0; });
  const int64_t zeros = N - n;
  auto all = [&](int64_t i) { return vsfIdxVal(v.data(), i, neg, zeros); };
  a.medianEstimate[p] = N % 2 == 1 ? all(N / 2) : (all(N / 2 - 1) + all(N / 2)) / 2;
  a.lowerEstimate[p] = vsfQuantileAt(all, N, double(N) * q);
  a.upperEstimate[p] = vsfQuantileAt(all, N, (1 - q) * double(N));
}

// The effects of the averaged model become the model's effect list.
void averagedModel(VsfContext* ctx) {
  VsfAverageSummary& a = ctx->average;
  VsfModel* m = &ctx->model;
  m->inModelCount = 0;
  a.averagedParmCount = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    uint8_t& st = m->effectStatus[e];
    if (st != VES_INTERCEPT && st != VES_FORCED)
      st = VES_CANDIDATE;
    bool nonzero = false;
    for (int32_t c = 0; c < m->effectColumns[e]; ++c)
      nonzero = nonzero || a.nonzeroCount[m->parmOffset[e] + c] > 0;
    if (a.effectSelectCount[e] > 0 && nonzero) {
      m->inModelList[m->inModelCount++] = e;
      if (st == VES_CANDIDATE)
        st = VES_SELECTED;
      a.averagedParmCount += m->effectColumns[e];
    }
  }
}

[[nodiscard]] bool allocate(VsfContext* ctx, int32_t S, int32_t nE, int32_t nP) {
  VsfAverageSummary& a = ctx->average;
  a.sampleUsed = take<uint8_t>(ctx, S);
  a.effectSelectCount = take<int32_t>(ctx, nE);
  a.nonzeroCount = take<int32_t>(ctx, nP);
  double** stats[] = {&a.meanEstimate,   &a.medianEstimate, &a.lowerEstimate, &a.upperEstimate,
                      &a.stdDevEstimate, &a.nonzeroMean,    &a.nonzeroMedian, &a.nonzeroLower,
                      &a.nonzeroUpper,   &a.nonzeroStdDev};
  bool ok = a.sampleUsed != nullptr && a.effectSelectCount != nullptr && a.nonzeroCount != nullptr;
  for (double** s : stats)
    ok = ok && (*s = take<double>(ctx, nP)) != nullptr;
  return ok;
}

// Every resample's model in sparse form, kept in the BY pool for the OUTPUT predictions.
[[nodiscard]] bool keepSampleModels(VsfContext* ctx, const std::vector<SampleModel>& samples) {
  VsfAverageSummary& a = ctx->average;
  a.sampleModels = take<VsfSampleModel>(ctx, static_cast<int64_t>(samples.size()));
  if (a.sampleModels == nullptr)
    return false;
  for (size_t s = 0; s < samples.size(); ++s) {
    const SampleModel& sm = samples[s];
    const auto n = static_cast<int64_t>(sm.parms.size());
    int32_t* parms = take<int32_t>(ctx, std::max<int64_t>(n, 1));
    double* values = take<double>(ctx, std::max<int64_t>(n, 1));
    if (parms == nullptr || values == nullptr)
      return false;
    std::copy(sm.parms.begin(), sm.parms.end(), parms);
    std::copy(sm.values.begin(), sm.values.end(), values);
    a.sampleModels[s] = {static_cast<int32_t>(n), parms, values};
  }
  return true;
}

// The drawn frequencies of every resample, observation by observation, from the frequency
// blocks the resamplers kept (SAMPLEFREQ). Each block is read from its own position in its
// own resampler's file. 0, -2, or -6 when a block does not read back whole.
[[nodiscard]] VsfStatus keepFrequencies(VsfContext* ctx) {
  VsfAverageSummary& a = ctx->average;
  VsfResampling* d = ctx->resampling;
  if (!d->settings.keepFreqs)
    return VsfStatus::Ok;
  const int32_t S = a.sampleCount;
  int64_t rows = -1;
  std::vector<double> block;
  int32_t g = 0;
  for (int32_t i = 0; i < d->count; ++i) {
    VsfResampler* r = &d->resamplers[i];
    for (int32_t k = 0; k < r->sampleCount; ++k, ++g) {
      const int64_t bytes = r->recordPos[k] - r->blockPos[k];
      if (rows < 0) {
        rows = bytes / 8;
        a.obsCount = static_cast<int32_t>(rows);
        a.obsFrequency = take<int32_t>(ctx, std::max<int64_t>(rows * S, 1));
        if (a.obsFrequency == nullptr)
          return VsfStatus::NoMemory;
        block.resize(static_cast<size_t>(rows));
      }
      int64_t pos = r->blockPos[k];
      if (bytes != rows * 8 ||
          (rows > 0 && vsfReadScratch(r->freqScratch->file, block.data(), bytes, &pos) != 0))
        return VsfStatus::NotRestored;
      for (int64_t o = 0; o < rows; ++o)
        a.obsFrequency[o * S + g] = static_cast<int32_t>(block[static_cast<size_t>(o)]);
    }
  }
  return VsfStatus::Ok;
}

} // namespace

double vsfIdxVal(const double* values, int64_t index, int64_t negatives, int64_t zeros) {
  if (index < negatives)
    return values[index];
  if (index < negatives + zeros)
    return 0.0;
  return values[index - zeros];
}

VsfStatus vsfPostBootstrap(VsfContext* ctx) {
  const double start = zdattim();
  VsfAverageSummary& a = ctx->average;
  VsfModel* m = &ctx->model;
  a = VsfAverageSummary{};
  // The refit of the averaged model draws its own number of samples.
  const int32_t S = ctx->resampling->settings.refitInProgress ? ctx->stmt.ma.refitNSamples
                                                              : ctx->stmt.ma.nSamples;
  const int32_t nE = m->effectCount, nP = m->parmCount;
  if (S <= 0 || nE <= 0 || nP <= 0 || !allocate(ctx, S, nE, nP))
    return VsfStatus::NoMemory;
  std::vector<SampleModel> samples(static_cast<size_t>(S));
  ModelTree models(ctx);
  if (models.tree == nullptr)
    return VsfStatus::NoMemory;
  int32_t usable = 0;
  VsfStatus rc = readSamples(ctx, samples, models, &usable);
  if (rc != VsfStatus::Ok)
    return rc;
  a.sampleCount = S;
  if (usable == 0) {
    // A group without a usable resample is skipped, whether or not OUTDESIGN= is asked.
    vsfLog(VsfMsg::NoResampleFitUsable, {vsfGroupName()});
    vsfRaiseRC(ctx, StepRc::GroupSkipped);
    a.usableCount = 0;
    return VsfStatus::Ok;
  }
  if (usable < S)
    vsfLog(VsfMsg::ResamplesLeftOut, {HostMsgArg(static_cast<int64_t>(S - usable))});
  if (!keepSampleModels(ctx, samples))
    return VsfStatus::NoMemory;
  if ((rc = keepFrequencies(ctx)) != VsfStatus::Ok)
    return rc;
  const int32_t largest = rankModels(ctx, samples, models, usable);
  int32_t N = 0;
  for (int32_t s = 0; s < S; ++s)
    N += a.sampleUsed[s];
  if (N == 0) {
    vsfLog(VsfMsg::NoModelReachesSubsetLimits,
           {HostMsgArg(static_cast<int64_t>(largest)),
            HostMsgArg(static_cast<int64_t>(std::max(ctx->stmt.ma.minModelFreq, 1)))});
    vsfRaiseRC(ctx, StepRc::Warning);
    a.usableCount = a.averagedCount = 0;
    return VsfStatus::Ok;
  }
  // The estimates of the averaged resamples, per parameter, sorted.
  std::vector<std::vector<double>> values(static_cast<size_t>(nP));
  std::vector<int32_t> usableNonzero(a.nonzeroCount, a.nonzeroCount + nP);
  std::fill(a.nonzeroCount, a.nonzeroCount + nP, 0);
  for (int32_t s = 0; s < S; ++s) {
    if (!a.sampleUsed[s])
      continue;
    const SampleModel& sm = samples[static_cast<size_t>(s)];
    for (size_t t = 0; t < sm.parms.size(); ++t) {
      values[static_cast<size_t>(sm.parms[t])].push_back(sm.values[t]);
      ++a.nonzeroCount[sm.parms[t]];
    }
  }
  for (int32_t p = 0; p < nP; ++p) {
    std::vector<double>& v = values[static_cast<size_t>(p)];
    std::sort(v.begin(), v.end());
    parmStatistics(ctx, p, v, N, usable, usableNonzero[static_cast<size_t>(p)]);
  }
  a.usableCount = usable;
  a.averagedCount = N;
  averagedModel(ctx);
  ctx->averageTime += zdattim() - start;
  return VsfStatus::Ok;
}
