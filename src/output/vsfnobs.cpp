// The observation count tables "NObs": the analysis data's counts split by partition role,
// and one table per separate VALDATA= or TESTDATA= data set inside the "ObsProfiles"
// group. The counts are the data pass's; this file only shows them.
// Declared in output/vsfprinters.h.
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/messages.h"

#include <algorithm>

namespace {

[[nodiscard]] int32_t widest(std::initializer_list<VsfMsg> numbers) {
  int32_t w = 0;
  for (VsfMsg n : numbers)
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

void emitRow(VsfOut& out, NobsRow& row, VsfMsg label, double n) {
  row.label = msgText(label);
  row.n = n;
  out.emit();
}

[[nodiscard]] VsfStatus vsfpNobsInput(VsfContext* ctx, VsfModel* m, int32_t sourceWidth) {
  const bool partitioned = ctx->stmt.partition.given == 1 || ctx->partitionOn == 1;
  const bool freq = ctx->stmt.proc.freqGiven != 0;
  HostDataSet* val = ctx->stmt.proc.valData;
  HostDataSet* test = ctx->stmt.proc.testData;
  const bool valCond = m->totals.nValidate > 0 || ctx->stmt.partition.validationAsked;
  const bool testCond = m->totals.nTest > 0 || ctx->stmt.partition.testAsked;
  const bool ignCond = m->totals.nNoRole > 0;

  int32_t labelWidth =
      widest({VsfMsg::NobsNumberObservationsRead, VsfMsg::NobsNumberObservationsUsed});
  if (partitioned)
    labelWidth = std::max({labelWidth, vsfMsgLength(VsfMsg::NobsNumberObservationsUsedTraining),
                           valCond ? vsfMsgLength(VsfMsg::NobsNumberObservationsUsedValidation) : 0,
                           testCond ? vsfMsgLength(VsfMsg::NobsNumberObservationsUsedTesting) : 0,
                           ignCond ? vsfMsgLength(VsfMsg::NobsNumberObservationsWithoutRole) : 0});
  if (freq) {
    labelWidth = std::max(labelWidth,
                          widest({VsfMsg::NobsSumFrequenciesRead, VsfMsg::NobsSumFrequenciesUsed}));
    if (partitioned)
      labelWidth = std::max({labelWidth, vsfMsgLength(VsfMsg::NobsSumFrequenciesUsedTraining),
                             valCond ? vsfMsgLength(VsfMsg::NobsSumFrequenciesUsedValidation) : 0,
                             testCond ? vsfMsgLength(VsfMsg::NobsSumFrequenciesUsedTesting) : 0,
                             ignCond ? vsfMsgLength(VsfMsg::NobsSumFrequenciesWithoutRole) : 0});
  }

  VsfOut out(ctx);
  NobsRow row;
  RvqText* source = nullptr;
  const bool separate = val != nullptr || test != nullptr;
  if (separate) {
    if (!out.create("NObs", msgText(VsfMsg::NobsObservationProfileAnalysisData),
                    {rvqTextHandle(RvqAttrId::Description, msgText(VsfMsg::NobsAnalysisData))}))
      return VsfStatus::Ok;
    vsfCall(out.table, RvqMethod::SetDynamic,
            {vsfaDyn("tableTitle"),
             rvqTextHandle(RvqAttrId::Value, msgText(VsfMsg::NobsObservationProfileAnalysisData))});
    source = msgText(VsfMsg::NobsAnalysisData);
    out.column({rvqColumnType(RvqColumnType::Text), vsfaName("DataSource"), vsfaDyn("SourceWidth"),
                rvqInt(RvqAttrId::Value, sourceWidth), vsfaBound(&source)});
  } else {
    if (!out.create("NObs", msgText(VsfMsg::NobsNumberObservations)))
      return VsfStatus::Ok;
  }
  labelColumns(out, row, labelWidth);
  out.numberColumn("NObsRead", &m->totals.nRead);
  out.numberColumn("NObsUsed", &m->totals.nUsed);
  out.numberColumn("SumFreqsRead", &m->totals.freqRead);
  out.numberColumn("SumFreqsUsed", &m->totals.freqUsed);
  if (partitioned) {
    // NObsTraining is the count of training rows used (nTrainRead holds that count).
    out.numberColumn("NObsTraining", &m->totals.nTrainRead);
    out.numberColumn("SumTrainingFreqs", &m->totals.nObs);
    if (val == nullptr) {
      out.numberColumn("NObsValidation", &m->totals.nValidate);
      out.numberColumn("SumValidationFreqs", &m->totals.freqValidate);
    }
    if (test == nullptr) {
      out.numberColumn("NObsTest", &m->totals.nTest);
      out.numberColumn("SumTestFreqs", &m->totals.freqTest);
    }
    out.numberColumn("NObsIgnored", &m->totals.nNoRole);
    out.numberColumn("SumIgnoredFreqs", &m->totals.freqNoRole);
  }
  out.endColumns();
  out.bind("Stat.VARSIFTER.NObs");
  emitRow(out, row, VsfMsg::NobsNumberObservationsRead, m->totals.nRead);
  emitRow(out, row, VsfMsg::NobsNumberObservationsUsed, m->totals.nUsed);
  if (partitioned) {
    emitRow(out, row, VsfMsg::NobsNumberObservationsUsedTraining, m->totals.nTrain);
    if (valCond && val == nullptr)
      emitRow(out, row, VsfMsg::NobsNumberObservationsUsedValidation, m->totals.nValidate);
    if (testCond && test == nullptr)
      emitRow(out, row, VsfMsg::NobsNumberObservationsUsedTesting, m->totals.nTest);
    if (ignCond)
      emitRow(out, row, VsfMsg::NobsNumberObservationsWithoutRole, m->totals.nNoRole);
  }
  if (freq) {
    emitRow(out, row, VsfMsg::NobsSumFrequenciesRead, m->totals.freqRead);
    emitRow(out, row, VsfMsg::NobsSumFrequenciesUsed, m->totals.freqUsed);
    if (partitioned) {
      emitRow(out, row, VsfMsg::NobsSumFrequenciesUsedTraining, m->totals.nObs);
      if (valCond && val == nullptr)
        emitRow(out, row, VsfMsg::NobsSumFrequenciesUsedValidation, m->totals.freqValidate);
      if (testCond && test == nullptr)
        emitRow(out, row, VsfMsg::NobsSumFrequenciesUsedTesting, m->totals.freqTest);
      if (ignCond)
        emitRow(out, row, VsfMsg::NobsSumFrequenciesWithoutRole, m->totals.freqNoRole);
    }
  }
  out.endRows();
  out.publish();
  return VsfStatus::Ok;
}

[[nodiscard]] VsfStatus vsfpSecondaryNobs(VsfContext* ctx, VsfModel* m, HostDataSet* data,
                                          int32_t sourceWidth) {
  const bool freq = ctx->stmt.proc.freqGiven != 0;
  int32_t labelWidth =
      widest({VsfMsg::NobsNumberObservationsRead, VsfMsg::NobsNumberObservationsUsed});
  if (freq)
    labelWidth = std::max(labelWidth,
                          widest({VsfMsg::NobsSumFrequenciesRead, VsfMsg::NobsSumFrequenciesUsed}));
  const bool isTest = data == ctx->stmt.proc.testData;
  // Frequency rows when this data set has the FREQ variable, whatever DATA= has.
  const bool ownFreq = (isTest ? ctx->testNames : ctx->valNames).freqFound != 0;
  double* read = isTest ? &m->totals.testDataRead : &m->totals.valDataRead;
  double* used = isTest ? &m->totals.nTest : &m->totals.nValidate;
  // The separate data sets' frequency sums: read sums are kept with the used ones.
  double* freqRead = isTest ? &m->totals.testDataUsed : &m->totals.valDataUsed;
  double* freqUsed = isTest ? &m->totals.freqTest : &m->totals.freqValidate;
  const VsfMsg label = isTest ? VsfMsg::NobsObservationProfileTestData
                              : VsfMsg::NobsObservationProfileValidationData;
  const VsfMsg sourceMsg = isTest ? VsfMsg::NobsTestData : VsfMsg::NobsValidationData;

  VsfOut out(ctx);
  NobsRow row;
  RvqText* source = msgText(sourceMsg);
  if (!out.create("NObs", msgText(label),
                  {rvqTextHandle(RvqAttrId::Description, msgText(sourceMsg))}))
    return VsfStatus::Ok;
  vsfCall(out.table, RvqMethod::SetDynamic,
          {vsfaDyn("tableTitle"), rvqTextHandle(RvqAttrId::Value, msgText(label))});
  out.column({rvqColumnType(RvqColumnType::Text), vsfaName("DataSource"), vsfaDyn("SourceWidth"),
              rvqInt(RvqAttrId::Value, sourceWidth), vsfaBound(&source)});
  labelColumns(out, row, labelWidth);
  out.numberColumn("NObsRead", read);
  out.numberColumn("NObsUsed", used);
  out.numberColumn("SumFreqsRead", freqRead);
  out.numberColumn("SumFreqsUsed", freqUsed);
  out.endColumns();
  out.bind("Stat.VARSIFTER.NObs");
  emitRow(out, row, VsfMsg::NobsNumberObservationsRead, *read);
  emitRow(out, row, VsfMsg::NobsNumberObservationsUsed, *used);
  if (ownFreq) {
    emitRow(out, row, VsfMsg::NobsSumFrequenciesRead, *freqRead);
    emitRow(out, row, VsfMsg::NobsSumFrequenciesUsed, *freqUsed);
  }
  out.endRows();
  out.publish();
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfpNobs(VsfContext* ctx, VsfModel* model) {
  VsfOut timer(ctx);
  HostDataSet* val = ctx->stmt.proc.valData;
  HostDataSet* test = ctx->stmt.proc.testData;
  RvqObject* group = nullptr;
  int32_t sourceWidth = 0;
  if (val != nullptr || test != nullptr) {
    group = vsfOpenGroup(
        ctx, "ObsProfiles",
        {vsfaLabel(msgText(VsfMsg::ObservationProfiles)), rvqFlag(RvqAttrId::GroupKind, 0)});
    sourceWidth =
        widest({VsfMsg::NobsAnalysisData, VsfMsg::NobsTestData, VsfMsg::NobsValidationData});
  }
  VsfStatus rc = vsfpNobsInput(ctx, model, sourceWidth);
  if (rc == VsfStatus::Ok && val != nullptr)
    rc = vsfpSecondaryNobs(ctx, model, val, sourceWidth);
  if (rc == VsfStatus::Ok && test != nullptr)
    rc = vsfpSecondaryNobs(ctx, model, test, sourceWidth);
  vsfCloseObject(group);
  // The inner printers add no time of their own: this call times them all once.
  timer.finish();
  return rc;
}
