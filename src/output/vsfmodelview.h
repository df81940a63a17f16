// Small read-only views of the run that several printers share: effect names of the
// selection's effect records, data set and variable name texts, and the count fields of
// the fit as the tables show them. The records themselves are vsfeffects.h's and the model's.
#pragma once

#include "support/hostif.h"
#include "support/vsfoptions.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct VsfModelOptions;
struct LevDesign;
struct VsfEffectRecord;
struct LevEffect;

// The record of effect k of the selection, null when the run keeps no records or none for k.
const VsfEffectRecord* vsfEffectRecord(const VsfContext* ctx, int32_t k);
// The design effect behind effect k of the selection: its record's, else k itself.
[[nodiscard]] int32_t vsfDesignEffect(const VsfContext* ctx, int32_t k);
// The name of effect k of the selection (its record, else the design effect's name).
const char* vsfEffectName(const VsfContext* ctx, int32_t k, int32_t* length);
// The longest effect name of the selection.
[[nodiscard]] int32_t vsfLongestEffectName(const VsfContext* ctx);
// The design of the run (null before levelisation).
LevDesign* vsfDesign(const VsfContext* ctx);
// A text handle with a data set's name, or with a variable's name.
RvqText* vsfDataSetNameText(HostDataSet* data);
RvqText* vsfVariableNameText(const HostVariable* var);
// The STATS= display switch of index 1 ProbF .. 11 ASE (statsShown of the tables).
[[nodiscard]] int32_t vsfStatShown(const VsfContext* ctx, int32_t index);
// True when graphs are drawn for this run.
[[nodiscard]] bool vsfGraphicsOn(const VsfContext* ctx);
// True when p-values are shown (SHOWPVALS, also for METHOD=NONE).
[[nodiscard]] bool vsfShowPValues(const VsfContext* ctx);
// The training-weight divisor of the ASE.
double vsfTrainingWeight(const VsfModel* model);

// The fit keeps the standardized-L1 series of its steps (a plot asks the NORMB step axis).
[[nodiscard]] bool normBetaKept(const VsfModelOptions& options);
// SHOWSTEPL1: the selection summary shows each step's position on the path.
[[nodiscard]] bool l1Shown(const VsfModelOptions& options);
// The standardized-L1 series, one value per history entry (null when it is not kept).
const double* normBetaHistory(const VsfModel* model);
// The norm of history entry i over the norm of the last entry: missing when i is outside
// the history, the series is not kept, or the last norm is missing or not positive.
double vsfNormBeta(const VsfModel* model, int32_t i);

// A selection effect as the design sees it: its design effect, its parameter count and its
// map from parameters to the design effect's columns (SPLIT parts; null for the identity).
struct VsfEffectView {
  const LevEffect* lev = nullptr;
  int32_t parms = 0;
  const int32_t* columns = nullptr;
};
VsfEffectView vsfEffectView(const VsfContext* ctx, const VsfModel* model, int32_t k);
// The level-index row of column c of the effect's design effect (null when it has none).
const int32_t* vsfLevelRow(const VsfEffectView& v, int32_t c);
// The INTERLACED text of design column col: its label, or its name when the label is empty
// (null when the design has neither).
const char* vsfInterlacedText(const LevDesign* d, int32_t col, int32_t* length);
