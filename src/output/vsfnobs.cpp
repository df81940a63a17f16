// The observation count tables "NObs": the analysis data's counts split by partition role,
// and one table per separate VALDATA= or TESTDATA= data set inside the "ObsProfiles"
// group. The counts are the data pass's; this file only shows them.
// Declared in output/vsfprinters.h.
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"

#include <algorithm>

namespace {

[[nodiscard]] int32_t widest(std::initializer_list<int32_t> numbers) {
  int32_t w = 0;
  for (int32_t n : numbers)
    w = std::max(w, vsfMsgLength(n));
  return w;
}

struct NobsRow {
  RvqText* label = nullptr;
  double n = 0.0;
};

void labelColumns(VsfOut& out, NobsRow& row, int32_t labelWidth) {
  out.column({rvqColumnType(RvqColumnType::Text), vsfaName("Label"), vsfaDyn("LabelWidth"),
              rvqInt(RvqAttrId::Value, labelWidth), vsfaBound(&row.label)});
  out.numberColumn("N", &row.n);
}

void emitRow(VsfOut& out, NobsRow& row, int32_t label, double n) {
  row.label = vsfMsg(label);
  row.n = n;
  out.emit();
}

[[nodiscard]] int32_t vsfpNobsInput(VsfContext* ctx, VsfModel* m, int32_t sourceWidth) {
  const bool partitioned = ctx->stmt.partition.given == 1 || ctx->partitionOn == 1;
  const bool freq = ctx->stmt.proc.freqGiven != 0;
  HostDataSet* val = ctx->stmt.proc.valData;
  HostDataSet* test = ctx->stmt.proc.testData;
  const bool valCond = m->nValidate > 0 || ctx->stmt.partition.validationAsked;
  const bool testCond = m->nTest > 0 || ctx->stmt.partition.testAsked;
  const bool ignCond = m->nNoRole > 0;

  int32_t labelWidth = widest({501, 502});
  if (partitioned)
    labelWidth = std::max({labelWidth, vsfMsgLength(505), valCond ? vsfMsgLength(507) : 0,
                           testCond ? vsfMsgLength(509) : 0, ignCond ? vsfMsgLength(511) : 0});
  if (freq) {
    labelWidth = std::max(labelWidth, widest({503, 504}));
    if (partitioned)
      labelWidth = std::max({labelWidth, vsfMsgLength(506), valCond ? vsfMsgLength(508) : 0,
                             testCond ? vsfMsgLength(510) : 0, ignCond ? vsfMsgLength(512) : 0});
  }

  VsfOut out(ctx);
  NobsRow row;
  RvqText* source = nullptr;
  const bool separate = val != nullptr || test != nullptr;
  if (separate) {
    if (!out.create("NObs", vsfMsg(513), {rvqTextHandle(RvqAttrId::Description, vsfMsg(516))}))
      return 0;
    vsfCall(out.table, RvqMethod::SetDynamic,
            {vsfaDyn("tableTitle"), rvqTextHandle(RvqAttrId::Value, vsfMsg(513))});
    source = vsfMsg(516);
    out.column({rvqColumnType(RvqColumnType::Text), vsfaName("DataSource"), vsfaDyn("SourceWidth"),
                rvqInt(RvqAttrId::Value, sourceWidth), vsfaBound(&source)});
  } else {
    if (!out.create("NObs", vsfMsg(500)))
      return 0;
  }
  labelColumns(out, row, labelWidth);
  out.numberColumn("NObsRead", &m->nRead);
  out.numberColumn("NObsUsed", &m->nUsed);
  out.numberColumn("SumFreqsRead", &m->freqRead);
  out.numberColumn("SumFreqsUsed", &m->freqUsed);
  if (partitioned) {
    // NObsTraining is the count of training rows used (nTrainRead holds that count).
    out.numberColumn("NObsTraining", &m->nTrainRead);
    out.numberColumn("SumTrainingFreqs", &m->nObs);
    if (val == nullptr) {
      out.numberColumn("NObsValidation", &m->nValidate);
      out.numberColumn("SumValidationFreqs", &m->freqValidate);
    }
    if (test == nullptr) {
      out.numberColumn("NObsTest", &m->nTest);
      out.numberColumn("SumTestFreqs", &m->freqTest);
    }
    out.numberColumn("NObsIgnored", &m->nNoRole);
    out.numberColumn("SumIgnoredFreqs", &m->freqNoRole);
  }
  out.endColumns();
  out.bind("Stat.VARSIFTER.NObs");
  emitRow(out, row, 501, m->nRead);
  emitRow(out, row, 502, m->nUsed);
  if (partitioned) {
    emitRow(out, row, 505, m->nTrain);
    if (valCond && val == nullptr)
      emitRow(out, row, 507, m->nValidate);
    if (testCond && test == nullptr)
      emitRow(out, row, 509, m->nTest);
    if (ignCond)
      emitRow(out, row, 511, m->nNoRole);
  }
  if (freq) {
    emitRow(out, row, 503, m->freqRead);
    emitRow(out, row, 504, m->freqUsed);
    if (partitioned) {
      emitRow(out, row, 506, m->nObs);
      if (valCond && val == nullptr)
        emitRow(out, row, 508, m->freqValidate);
      if (testCond && test == nullptr)
        emitRow(out, row, 510, m->freqTest);
      if (ignCond)
        emitRow(out, row, 512, m->freqNoRole);
    }
  }
  out.endRows();
  out.publish();
  return 0;
}

[[nodiscard]] int32_t vsfpSecondaryNobs(VsfContext* ctx, VsfModel* m, HostDataSet* data,
                                        int32_t sourceWidth) {
  const bool freq = ctx->stmt.proc.freqGiven != 0;
  int32_t labelWidth = widest({501, 502});
  if (freq)
    labelWidth = std::max(labelWidth, widest({503, 504}));
  const bool isTest = data == ctx->stmt.proc.testData;
  // Frequency rows when this data set has the FREQ variable, whatever DATA= has.
  const bool ownFreq = (isTest ? ctx->testNames : ctx->valNames).freqFound != 0;
  double* read = isTest ? &m->testDataRead : &m->valDataRead;
  double* used = isTest ? &m->nTest : &m->nValidate;
  // The separate data sets' frequency sums: read sums are kept with the used ones.
  double* freqRead = isTest ? &m->testDataUsed : &m->valDataUsed;
  double* freqUsed = isTest ? &m->freqTest : &m->freqValidate;
  const int32_t label = isTest ? 514 : 515;
  const int32_t sourceMsg = isTest ? 517 : 518;

  VsfOut out(ctx);
  NobsRow row;
  RvqText* source = vsfMsg(sourceMsg);
  if (!out.create("NObs", vsfMsg(label),
                  {rvqTextHandle(RvqAttrId::Description, vsfMsg(sourceMsg))}))
    return 0;
  vsfCall(out.table, RvqMethod::SetDynamic,
          {vsfaDyn("tableTitle"), rvqTextHandle(RvqAttrId::Value, vsfMsg(label))});
  out.column({rvqColumnType(RvqColumnType::Text), vsfaName("DataSource"), vsfaDyn("SourceWidth"),
              rvqInt(RvqAttrId::Value, sourceWidth), vsfaBound(&source)});
  labelColumns(out, row, labelWidth);
  out.numberColumn("NObsRead", read);
  out.numberColumn("NObsUsed", used);
  out.numberColumn("SumFreqsRead", freqRead);
  out.numberColumn("SumFreqsUsed", freqUsed);
  out.endColumns();
  out.bind("Stat.VARSIFTER.NObs");
  emitRow(out, row, 501, *read);
  emitRow(out, row, 502, *used);
  if (ownFreq) {
    emitRow(out, row, 503, *freqRead);
    emitRow(out, row, 504, *freqUsed);
  }
  out.endRows();
  out.publish();
  return 0;
}

} // namespace

int32_t vsfpNobs(VsfContext* ctx, VsfModel* model) {
  VsfOut timer(ctx);
  HostDataSet* val = ctx->stmt.proc.valData;
  HostDataSet* test = ctx->stmt.proc.testData;
  RvqObject* group = nullptr;
  int32_t sourceWidth = 0;
  if (val != nullptr || test != nullptr) {
    group = vsfOpenGroup(ctx, "ObsProfiles",
                         {vsfaLabel(vsfMsg(793)), rvqFlag(RvqAttrId::GroupKind, 0)});
    sourceWidth = widest({516, 517, 518});
  }
  int32_t rc = vsfpNobsInput(ctx, model, sourceWidth);
  if (rc == 0 && val != nullptr)
    rc = vsfpSecondaryNobs(ctx, model, val, sourceWidth);
  if (rc == 0 && test != nullptr)
    rc = vsfpSecondaryNobs(ctx, model, test, sourceWidth);
  vsfCloseObject(group);
  // The inner printers add no time of their own: this call times them all once.
  timer.finish();
  return rc;
}
