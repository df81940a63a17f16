// The SCORE data sets: each SCORE statement's data set is scored with the selected model of
// every BY group into its OUT= data set (its own variables, the predicted value and the
// residual; under model averaging also the spread of the resample predictions), followed by
// the ScoreInfo factoid with the counts and error sums. The design context is pointed at the
// SCORE data set for the pass and put back after it. Declared in output/vsfresults.h.
#include "data/vsfdata.h"
#include "design/levconstructed.h"
#include "design/levreg.h"
#include "design/levrow.h"
#include "effects/zleveftprint.h"
#include "output/vsfavgoutput.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfoutput.h"
#include "output/vsfprint.h"
#include "output/vsfresults.h"
#include "output/vsfselrow.h"
#include "output/vsfsync.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

// The OUT= columns of every SCORE statement (main pool).
struct VsfScoreOutput {
  struct Entry {
    std::vector<int32_t> inputOut;
    std::vector<uint8_t> inputNumeric;
    int32_t pred = 0, resid = 0;
    VsfOutputColumns averaging{}; // MEDIAN, STDDEV, LOWER, UPPER and SAMPLEPRED
  };
  std::vector<Entry> entries;
};

namespace {

// The counts and sums of one scoring (ScoreInfo).
struct ScoreStats {
  double read = 0, freqRead = 0, used = 0, freqUsed = 0, usedResponse = 0, freqUsedResponse = 0;
  double sse = 0, weightedSse = 0;
};

// What the design context reads, saved while it reads a SCORE data set.
struct DesignSwap {
  LevReadBlock block{};
  LevVariable* weights = nullptr;
  LevVariable* freq = nullptr;
  int32_t responseCount = 0;
  HostVariable* responseVar = nullptr;
  std::vector<HostVariable*> numerics, classes;
};

// The lag designs of a SCORE data set: each LAG effect that a selected effect needs gets a
// score block made from the SCORE data's own periods (the fit's blocks are put back after
// the pass), so the lagged levels of a scored row come from the data being scored.
struct LagScoring {
  std::vector<LagSpec*> lags;
  std::vector<LevEftVar*> records;
  std::vector<LagSpec> saved;
  std::vector<LagDesignBlock> blocks;
  bool failed = false;

  void begin(VsfContext* ctx, const VsfSelectedModel& sm, HostDataSet* scored, HostDataSet* out) {
    LevRegContext* dc = &ctx->design;
    LevDesign* d = dc->design;
    for (int32_t lev : sm.designEffects) {
      const LevEffect& ef = d->effects[lev];
      for (int32_t k = 0; k < ef.constructedCount; ++k) {
        LevEftVar* ev = &d->constructed[ef.constructed[k]];
        if (ev->kind == EffectVarKind::Lag && ev->lag != nullptr &&
            std::find(lags.begin(), lags.end(), ev->lag) == lags.end()) {
          lags.push_back(ev->lag);
          records.push_back(ev);
        }
      }
    }
    if (lags.empty())
      return;
    blocks.assign(lags.size(), LagDesignBlock{});
    for (size_t i = 0; i < lags.size(); ++i) {
      saved.push_back(*lags[i]);
      lags[i]->score = &blocks[i];
    }
    zlevLevelizeLagWithin(dc, int32_t(lags.size()), lags.data());
    for (size_t i = 0; i < lags.size() && !failed; ++i)
      if (zlevLagDesignCreate(dc, lags[i], records[i], scored, out) != VsfStatus::Ok) {
        failed = true;
        vsfRaiseRC(ctx, StepRc::Error);
      }
  }

  // The lag designs of the data set, after its ScoreInfo, for the LAG effects with DETAILS.
  void print(VsfContext* ctx) {
    if (failed || ctx->noprint)
      return;
    RvqObject* group = nullptr;
    for (LevEftVar* ev : records) {
      if (!ev->details)
        continue;
      if (group == nullptr)
        group = vsfOpenGroup(
            ctx, "LagDesigns",
            {vsfaLabel(msgText(VsfMsg::ConstructedLagDesigns)), rvqFlag(RvqAttrId::Numbered, 0)});
      if (ev->lag->levels)
        zlevPrintLagDesignLevels(ctx->outputManager, ev, ctx->design.design);
      else
        zlevPrintLagDesign(ctx->outputManager, ev, ctx->design.design);
    }
    if (group != nullptr)
      vsfCloseObject(group);
  }

  // Puts the fit's lag blocks back.
  void end() {
    for (size_t i = 0; i < lags.size(); ++i)
      *lags[i] = saved[i];
  }
};

[[nodiscard]] VsfStatus columnsOf(VsfContext* ctx, int32_t index, VsfScoreOutput::Entry* e) {
  const VsfScoreSpec& sc = ctx->scores[index];
  HostDataSet* in = sc.data != nullptr ? sc.data : ctx->data;
  HostDataSet* out = sc.out;
  if (out == nullptr || in == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t i = 1; i <= xdsnvar(in); ++i) {
    HostVariable* v = nullptr;
    if (xvname(in, i, &v) != 0 || v == nullptr)
      return VsfStatus::NoMemory;
    e->inputOut.push_back(xdsdefvar(out, v->name, v->nameLength, v->type, v->length));
    e->inputNumeric.push_back(v->type == 1);
  }
  const HostVariable* response = ctx->stmt.responseCount > 0 ? ctx->stmt.responses[0] : nullptr;
  if (sc.spec.stat(VsfOutputStatIndex::Pred).on)
    e->pred = vsfDefineStat(out, sc.spec, VsfOutputStatIndex::Pred, response);
  if (sc.spec.stat(VsfOutputStatIndex::Resid).on)
    e->resid = vsfDefineStat(out, sc.spec, VsfOutputStatIndex::Resid, response);
  if (VsfStatus rc = vsfDefineResampleColumns(ctx, sc.spec, out, e->averaging); rc != VsfStatus::Ok)
    return rc;
  // Its options may name only these columns: a misfit ends the step before any data pass.
  return xdsdefend(out) == 0 ? VsfStatus::Ok : VsfStatus::ReportedFailure;
}

// The design variables that the selected model reads: the CLASS and continuous variables of
// its effects and the inputs of their constructed effects (with a LAG effect's WITHIN=,
// PERIOD= and lagged variables).
struct ModelVariables {
  std::vector<uint8_t> numerics, classes;
};

ModelVariables modelVariables(const LevDesign* d, const VsfSelectedModel& sm) {
  ModelVariables need;
  need.numerics.assign(size_t(std::max(d->numericCount, 0)), 0);
  need.classes.assign(size_t(std::max(d->classCount, 0)), 0);
  auto mark = [](std::vector<uint8_t>& v, int32_t k) {
    if (k >= 0 && size_t(k) < v.size())
      v[size_t(k)] = 1;
  };
  for (int32_t lev : sm.designEffects) {
    const LevEffect& ef = d->effects[lev];
    for (int32_t k = 0; k < ef.allClassCount; ++k)
      mark(need.classes, ef.allClass[k]);
    for (int32_t k = 0; k < ef.continuousCount; ++k)
      mark(need.numerics, ef.continuous[k]);
    for (int32_t k = 0; k < ef.constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[ef.constructed[k]];
      for (int32_t j = 0; j < ev.classCount; ++j)
        mark(need.classes, ev.classes[j]);
      for (int32_t j = 0; j < ev.numericCount; ++j)
        mark(need.numerics, ev.numeric[j]);
      if (ev.lag == nullptr)
        continue;
      for (int32_t j = 0; j < ev.lag->withinCount; ++j)
        mark(need.classes, ev.lag->within[j]);
      mark(need.classes, ev.lag->laggedVariable);
      mark(need.classes, ev.lag->periodVariable);
    }
  }
  return need;
}

// The first design variable that the SCORE data set does not hold at all, or null.
const HostVariable* firstAbsent(const LevDesign* d, HostDataSet* data) {
  auto absent = [data](const HostVariable* v) {
    int32_t number = 0;
    // Not found leaves the number at 0.
    (void)xvfind(data, v->name, v->nameLength, &number, 0);
    return number <= 0;
  };
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (d->numerics[j].var != nullptr && absent(d->numerics[j].var))
      return d->numerics[j].var;
  for (int32_t j = 0; j < d->classCount; ++j)
    if (d->classes[j].var != nullptr && absent(d->classes[j].var))
      return d->classes[j].var;
  return nullptr;
}

// Looks up the design's variables in the SCORE data set by name (`names` receives them).
// One that the selected model does not read may be absent (it reads as missing). One that
// it reads must be there with its type, except that a numeric one may be text (its cells are
// converted row by row), and one of a data set without observations may have either type;
// else the first such variable is named in a message and false returned: the data set is not
// scored for the BY group.
[[nodiscard]] bool findModelVariables(VsfContext* ctx, const VsfSelectedModel& sm,
                                      VsfNameRecord* names, HostDataSet* out) {
  const LevDesign* d = ctx->design.design;
  const ModelVariables need = modelVariables(d, sm);
  const HostVariable* failed = nullptr;
  VsfMsg message{};
  // A data set without observations gives its columns no values, so no type to disagree.
  const bool typeless = xdsnobs(names->data) == 0;
  auto fill = [&](HostVariable** slot, const HostVariable* want, bool needed, bool numeric) {
    *slot = nullptr;
    if (want == nullptr)
      return;
    int32_t number = 0;
    // A missing variable leaves the number at 0, which the next lines test.
    (void)xvfind(names->data, want->name, want->nameLength, &number, 0);
    HostVariable* have = nullptr;
    if (number > 0 && xvname(names->data, number, &have) == 0 && have != nullptr &&
        (have->type == want->type || numeric || typeless)) {
      *slot = have;
      return;
    }
    if (needed && failed == nullptr) {
      failed = want;
      message = have == nullptr ? VsfMsg::ScoreDataLacksModelVariable
                                : VsfMsg::VariableSelectedModelDifferent;
    }
  };
  for (int32_t j = 0; j < d->numericCount; ++j)
    fill(&names->numerics[j], d->numerics[j].var, need.numerics[size_t(j)] != 0, true);
  for (int32_t j = 0; j < d->classCount; ++j)
    fill(&names->classes[j], d->classes[j].var, need.classes[size_t(j)] != 0, false);
  if (failed != nullptr) {
    vsfLog(message, {HostMsgArg(failed->name, failed->nameLength),
                     HostDataSetName(names->data).arg(), HostDataSetName(out).arg()});
    vsfRaiseRC(ctx, StepRc::Warning);
    return false;
  }
  // With constructed effects a row is predicted only when every effect of the design can be
  // formed: an absent variable that the selected model does not read still keeps every row
  // from its prediction, so it is named.
  if (d->constructedCount > 0 && names->data != ctx->data)
    if (const HostVariable* absent = firstAbsent(d, names->data); absent != nullptr) {
      vsfLog(VsfMsg::ScoreDataLacksUnselectedVariable,
             {HostMsgArg(absent->name, absent->nameLength), HostDataSetName(names->data).arg(),
              HostDataSetName(out).arg()});
      vsfRaiseRC(ctx, StepRc::Warning);
    }
  return true;
}

// The numeric variables that the selected model reads and the SCORE data set holds as text
// (a column with a cell that is not a number): such a cell is a data error of its row, which
// keeps missing statistics. The first kListed of a scoring are named in the log, then their
// count.
struct TextCells {
  static constexpr int64_t kListed = 5;
  std::vector<const HostVariable*> vars;
  int64_t bad = 0;

  TextCells(const VsfContext* ctx, const VsfSelectedModel& sm, const VsfNameRecord& names) {
    if (names.data == ctx->data || names.numerics == nullptr)
      return;
    const LevDesign* d = ctx->design.design;
    const ModelVariables need = modelVariables(d, sm);
    for (int32_t j = 0; j < d->numericCount; ++j)
      if (need.numerics[size_t(j)] && names.numerics[j] != nullptr && names.numerics[j]->type != 1)
        vars.push_back(names.numerics[j]);
  }

  // True when a cell of the current observation of `in` is not a number; `read` counts the
  // observations read, the observation's number when the host cannot tell it.
  [[nodiscard]] bool rowBad(VsfContext* ctx, HostDataSet* in, double read) {
    for (const HostVariable* v : vars) {
      const char* text = nullptr;
      const int32_t n = xobschar(in, v->number, &text);
      double x = 0;
      if (levNumberFromText(text, n, &x))
        continue;
      if (++bad <= kListed) {
        int64_t next = static_cast<int64_t>(read) + 1, count = 0;
        // Without a span the defaults (this row, no block) stand.
        if (hostHasBlockReads())
          (void)xobsspan(in, &next, &count);
        char observation[24];
        const int32_t k = std::snprintf(observation, sizeof observation, "%lld",
                                        static_cast<long long>(next - 1));
        vsfLog(VsfMsg::ScoreValueNotNumber,
               {HostMsgArg(v->name, v->nameLength), HostMsgArg(observation, k), HostMsgArg(text, n),
                HostDataSetName(in).arg()});
      }
      vsfRaiseRC(ctx, StepRc::Warning);
      return true;
    }
    return false;
  }

  void end(HostDataSet* in) const {
    if (bad <= kListed)
      return;
    char more[24];
    const int32_t k =
        std::snprintf(more, sizeof more, "%lld", static_cast<long long>(bad - kListed));
    vsfLog(VsfMsg::MoreScoreValuesNotNumbers, {HostMsgArg(more, k), HostDataSetName(in).arg()});
  }
};

void pointAt(VsfContext* ctx, const VsfNameRecord* names, DesignSwap* sv) {
  LevRegContext* dc = &ctx->design;
  LevDesign* d = dc->design;
  for (int32_t j = 0; j < d->numericCount; ++j)
    sv->numerics.push_back(d->numerics[j].var);
  for (int32_t j = 0; j < d->classCount; ++j)
    sv->classes.push_back(d->classes[j].var);
  sv->block = *dc->library;
  sv->weights = dc->weights;
  sv->freq = dc->freq;
  sv->responseCount = dc->responseCount;
  sv->responseVar = dc->responseCount > 0 ? dc->responses[0].var : nullptr;
  vsfSetNamePtrs(ctx, names, 1);
  // A variable that the SCORE data set does not hold is read as missing, not from DATA=.
  for (int32_t j = 0; j < d->numericCount; ++j)
    d->numerics[j].var = names->numerics[j];
  for (int32_t j = 0; j < d->classCount; ++j)
    d->classes[j].var = names->classes[j];
  if (dc->responseCount > 0) {
    if (names->response != nullptr)
      dc->responses[0].var = names->response;
    else
      dc->responseCount = 0;
  }
  if (dc->weights != nullptr && names->weight == nullptr)
    dc->weights = nullptr;
  if (dc->freq != nullptr && names->freq == nullptr)
    dc->freq = nullptr;
  LevReadBlock* rb = dc->library;
  vsfPointReadBlockAt(rb, names->data);
}

void restore(VsfContext* ctx, DesignSwap* sv) {
  LevRegContext* dc = &ctx->design;
  LevDesign* d = dc->design;
  LevReadBlock* rb = dc->library;
  vsfReleaseReadBlock(rb);
  *rb = sv->block;
  dc->weights = sv->weights;
  dc->freq = sv->freq;
  dc->responseCount = sv->responseCount;
  if (sv->responseVar != nullptr)
    dc->responses[0].var = sv->responseVar;
  vsfRestoreModelNamePtrs(ctx);
  for (int32_t j = 0; j < d->numericCount; ++j)
    d->numerics[j].var = sv->numerics[size_t(j)];
  for (int32_t j = 0; j < d->classCount; ++j)
    d->classes[j].var = sv->classes[size_t(j)];
}

// Fills and appends one scored row; ReportedFailure (logged) when the row is refused.
[[nodiscard]] VsfStatus writeRow(VsfContext* ctx, HostDataSet* in, HostDataSet* out,
                                 const VsfScoreOutput::Entry& e, VsfAveragePrediction& averaged,
                                 double pred, double resid) {
  for (size_t i = 0; i < e.inputOut.size(); ++i) {
    if (e.inputOut[i] <= 0)
      continue;
    if (e.inputNumeric[i]) {
      xdsputn(out, e.inputOut[i], xobsnum(in, static_cast<int32_t>(i) + 1));
    } else {
      const char* text = nullptr;
      const int32_t n = xobschar(in, static_cast<int32_t>(i) + 1, &text);
      xdsputc(out, e.inputOut[i], text, n);
    }
  }
  if (e.pred > 0)
    xdsputn(out, e.pred, pred);
  if (e.resid > 0)
    xdsputn(out, e.resid, resid);
  if (averaged.on)
    vsfPutAverageColumns(out, e.averaging, ctx, averaged, !isHostMissing(pred), false);
  return vsfAppendRow(out);
}

// One row of a scored pass: counts, prediction and residual. Under model averaging the
// averaged model predicts, as in OUTPUT, and `averaged` keeps the resample predictions.
void scoreRow(VsfContext* ctx, const VsfModel* m, VsfSelectedModel* sm,
              VsfAveragePrediction& averaged, bool hasResponse, bool dataError,
              std::vector<double>* row, ScoreStats* st, double* pred, double* resid) {
  LevRegContext* dc = &ctx->design;
  double y = hostMissing(), w = 1, f = 1;
  const LevRowStatusSet s = zlevrgd(dc, &y, &w, &f);
  const bool freqGiven = dc->freq != nullptr, weightGiven = dc->weights != nullptr;
  bool goodFreq = true;
  if (!freqGiven) {
    st->freqRead += 1;
  } else if (isHostMissing(f) || std::floor(f) <= 0) {
    goodFreq = false;
  } else {
    f = std::floor(f);
    st->freqRead += f;
  }
  const bool goodWeight = !weightGiven || (!isHostMissing(w) && w > 0);
  if (dataError || !vsfRowPredictable(sm, dc, s))
    return;
  st->used += 1;
  const bool response = hasResponse && !s.has(LevRowStatus::Response) && !isHostMissing(y);
  if (response)
    st->usedResponse += 1;
  if (freqGiven && goodFreq) {
    st->freqUsed += f;
    if (response)
      st->freqUsedResponse += f;
  }
  vsfModelRgx(ctx, m, dc, row->data());
  *pred = averaged.on ? vsfAveragePredict(ctx, averaged, row->data())
                      : vsfPredictRow(*sm, m->beta, row->data());
  if (response) {
    *resid = y - *pred;
    st->sse += *resid * *resid;
    if (goodFreq && goodWeight)
      st->weightedSse += *resid * *resid * (freqGiven ? f : 1) * (weightGiven ? w : 1);
  }
}

void scoreInfo(VsfContext* ctx, int32_t index, const ScoreStats& st, bool freq, bool weight) {
  if (ctx->noprint)
    return;
  const VsfScoreSpec& sc = ctx->scores[index];
  const bool resid = sc.spec.stat(VsfOutputStatIndex::Resid).on != 0;
  VsfOut out(ctx);
  if (!out.createFactoid("ScoreInfo", "Stat.VARSIFTER.ScoreInfo", msgText(VsfMsg::ScoreInformation),
                         nullptr))
    return;
  vsfCall(out.table, RvqMethod::SetDynamic,
          {vsfaDyn("titleText"),
           rvqTextHandle(RvqAttrId::Value,
                         ctx->scoreCount == 1
                             ? msgText(VsfMsg::ScoreInformation)
                             : msgText(VsfMsg::ScoreInformationScoreStatement, {index + 1}))});
  auto blank = [&]() {
    vsfCall(out.table, RvqMethod::Entry,
            {vsfaLabel(vsfText(" ")), rvqTextHandle(RvqAttrId::Value, vsfText(" "))});
  };
  auto number = [&](VsfMsg label, double v) { out.entry(label, rvqDouble(RvqAttrId::Value, v)); };
  auto sum = [&](VsfMsg label, double v) {
    out.entry(label, rvqDouble(RvqAttrId::Value, v),
              {rvqInt(RvqAttrId::FormatWidth, 11), rvqInt(RvqAttrId::FormatCode, 98)});
  };
  out.entry(VsfMsg::ScoreDataSet,
            rvqTextHandle(RvqAttrId::Value,
                          vsfDataSetNameText(sc.data != nullptr ? sc.data : ctx->data)));
  out.entry(VsfMsg::ScoreOutputDataSet,
            rvqTextHandle(RvqAttrId::Value, vsfDataSetNameText(sc.out)));
  blank();
  number(VsfMsg::ScoreNumberObservationsRead, st.read);
  number(VsfMsg::ScoreNumberObservationsUsed, st.used);
  if (resid)
    number(VsfMsg::ScoreNumberObservationsUsedResponse, st.usedResponse);
  if (freq) {
    blank();
    number(VsfMsg::ScoreSumFrequenciesRead, st.freqRead);
    number(VsfMsg::ScoreSumFrequenciesUsed, st.freqUsed);
  }
  if (resid && freq) {
    number(VsfMsg::ScoreSumFrequenciesUsedResponse, st.freqUsedResponse);
    blank();
    sum(weight ? VsfMsg::ScoreSseFrequenciesWeightsUsed : VsfMsg::ScoreSseFrequenciesUsed, st.sse);
  } else if (resid) {
    blank();
    if (weight)
      sum(VsfMsg::ScoreSseWeightsUsed, st.sse);
  }
  if (resid)
    sum(VsfMsg::ScoreWeightedSse, st.weightedSse);
  out.release();
  out.finish();
}

void unseenNotes(const VsfContext* ctx, HostDataSet* data, VsfSelectedModel* sm) {
  const HostDataSetName name(data);
  if (sm->unseenLevel)
    vsfLog(VsfMsg::ScoredClassLevelsNotInFit, {name.arg()});
  sm->unseenLevel = false;
  vsfNoteUnformedRows(sm->unformedRows, data);
  sm->unformedRows = 0;
  const LevDesign* d = ctx->design.design;
  for (int32_t lev : sm->designEffects)
    if (sm->unseenCombinations[size_t(lev)] > 0) {
      const char* effect = d->effects[lev].name != nullptr ? d->effects[lev].name : "";
      vsfLog(VsfMsg::ScoredEffectLevelsNotInFit,
             {name.arg(), HostMsgArg(effect, int32_t(std::strlen(effect)))});
      sm->unseenCombinations[size_t(lev)] = 0;
    }
}

// Scores SCORE entry `index` for the BY group; the design context reads its data set.
// Ok, or ReportedFailure when the output refused a row.
[[nodiscard]] VsfStatus vsfScore(VsfContext* ctx, VsfModel* m, int32_t index, VsfSelectedModel* sm,
                                 bool scorable, const VsfNameRecord& names) {
  const double start = zdattim();
  const VsfScoreSpec& sc = ctx->scores[index];
  const VsfScoreOutput::Entry& e = ctx->results.scoreOutput->entries[size_t(index)];
  LevRegContext* dc = &ctx->design;
  HostDataSet* in = dc->library->data;
  const bool hasResponse = dc->responseCount > 0;
  ScoreStats st;
  std::vector<double> row(size_t(std::max(dc->design->columnCount, 1)));
  VsfAveragePrediction averaged;
  vsfAveragePrepare(ctx, m, sc.spec, averaged);
  scorable = scorable && sm->usable;
  LagScoring lags;
  if (scorable && dc->design->constructedCount > 0)
    lags.begin(ctx, *sm, in, sc.out);
  scorable = scorable && !lags.failed;
  TextCells text(ctx, *sm, names);
  VsfStatus rc = VsfStatus::Ok;
  if (zlevGetInit(dc) == VsfStatus::Ok)
    while (zlevGetNext(dc) == 1) {
      st.read += 1;
      double pred = hostMissing(), resid = hostMissing();
      if (scorable)
        scoreRow(ctx, m, sm, averaged, hasResponse, text.rowBad(ctx, in, st.read), &row, &st, &pred,
                 &resid);
      // After a refused row the pass still counts the rest but writes no more: the output
      // refuses them all alike and one message says so.
      if (rc == VsfStatus::Ok)
        rc = writeRow(ctx, in, sc.out, e, averaged, pred, resid);
    }
  text.end(in);
  if (!hasResponse || st.usedResponse == 0)
    st.sse = st.weightedSse = hostMissing();
  if (dc->freq != nullptr && hasResponse && st.freqUsedResponse == 0)
    st.weightedSse = hostMissing();
  scoreInfo(ctx, index, st, names.freq != nullptr && dc->freq != nullptr,
            names.weight != nullptr && dc->weights != nullptr);
  lags.print(ctx);
  lags.end();
  unseenNotes(ctx, names.data, sm);
  ctx->results.scoreTime += zdattim() - start;
  return rc;
}

} // namespace

VsfStatus vsfPrepScores(VsfContext* ctx) {
  const double start = zdattim();
  VsfScoreOutput*& so = ctx->results.scoreOutput;
  so = poolNew<VsfScoreOutput>(ctx->mainPool);
  if (so == nullptr)
    return VsfStatus::NoMemory;
  so->entries.resize(static_cast<size_t>(ctx->scoreCount));
  for (int32_t i = 0; i < ctx->scoreCount; ++i)
    if (VsfStatus rc = columnsOf(ctx, i, &so->entries[size_t(i)]); rc != VsfStatus::Ok)
      return rc;
  ctx->results.scoreTime += zdattim() - start;
  return VsfStatus::Ok;
}

VsfStatus vsfScoreResults(VsfContext* ctx, VsfModel* m) {
  if (ctx->scoreCount == 0 || ctx->results.scoreOutput == nullptr)
    return VsfStatus::Ok;
  VsfGroup details(ctx, "ScoreDetails",
                   {vsfaLabel(msgText(VsfMsg::ScoreDetails)), rvqFlag(RvqAttrId::GroupKind, 0)});
  VsfSelectedModel sm;
  vsfSelectedModelOf(ctx, m, &sm);
  for (int32_t i = 0; i < ctx->scoreCount; ++i) {
    const VsfScoreSpec& sc = ctx->scores[i];
    VsfNameRecord& names = ctx->scoreNames[i];
    RvqObject* group =
        vsfOpenGroup(ctx, "ScoreData",
                     {vsfaLabel(vsfDataSetNameText(names.data)),
                      rvqFlag(RvqAttrId::DataSetGroup, 1), rvqFlag(RvqAttrId::GroupKind, 0)});
    VsfStatus rc = VsfStatus::Ok;
    if (sc.data == nullptr || sc.data == ctx->data) {
      rc = vsfScore(ctx, m, i, &sm, true, names);
    } else {
      const bool complete = findModelVariables(ctx, sm, &names, sc.out);
      if (vsfSynchronize(ctx, &names, VsfMsg::ScoreDataLacksByGroup) == 0) {
        DesignSwap swap;
        pointAt(ctx, &names, &swap);
        rc = vsfScore(ctx, m, i, &sm, complete, names);
        restore(ctx, &swap);
      }
    }
    vsfCloseObject(group);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  return VsfStatus::Ok;
}

void vsfFinishScores(VsfContext* ctx) {
  if (ctx->results.scoreOutput == nullptr)
    return;
  for (int32_t i = 0; i < ctx->scoreCount; ++i)
    if (ctx->scores[i].out != nullptr) {
      xvputt(ctx->scores[i].out);
      ctx->scores[i].out = nullptr;
    }
}
