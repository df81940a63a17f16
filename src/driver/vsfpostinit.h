// Post-parse initialisation and the per-BY-group model set-up, with the variable lookups
// of VALDATA=, TESTDATA= and SCORE data sets (their records are in output/vsfsync.h).
#pragma once

#include "output/vsfsync.h"
#include "support/messages.h"

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfDataSettings;
struct HostDataSet;
struct HostVariable;

[[nodiscard]] VsfStatus vsfPostInit(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfInitializeModel(VsfContext* ctx);
// The path methods over split CLASS effects: the full X'X was chosen while the effects were
// counted before their levels; past the packed default in `columns` (the design's columns
// after splitting) the path keeps the entered effects' cross products instead. The first
// BY group decides for the run, whose data settings are filled once.
void vsfSplitCrossRoad(VsfContext* ctx, int32_t columns);
// The road of the BY group's fit over one many-level CLASS effect, planned from its effect
// list (`settings`' entries) before the reading pass: where the fit takes the structured road
// with its cross products built whole and the procedure chose to grow them as effects
// enter, they are built whole; where the user asked for that growth (BUILDSSCP=INCREMENTAL),
// only where the road's sums of the effect hold less than the effect's own blocks that the
// growth forms first, and a note says which build the fit takes and why. The road taken goes into
// the settings (VsfDataSettings::road) for the read preparation's estimate.
void vsfPlanRoad(VsfContext* ctx, VsfDataSettings* settings);
// Whether the BY group's split levels are stored sparse (VsfDataSettings::splitSparse): the
// plain LAR or LASSO path on the kept cross products, whose passes centre and scale the
// sparse values in their sums, with nothing that reads the pages another way.
[[nodiscard]] bool vsfSplitSparseRows(const VsfContext* ctx);

// Finds every model variable in VALDATA= or TESTDATA=; `messages` are the data set's
// (kMsgValDataVariables, kMsgTestDataVariables).
[[nodiscard]] VsfStatus vsfCheckForVars(VsfContext* ctx, VsfNameRecord* names,
                                        MsgRun<VsfMsg> messages);
// Looks `want` up by name in `data`: 0 and *out set; DriverResult VariableMissing or
// VariableOtherType, each after its message with the variable and data set names.
[[nodiscard]] VsfStatus vsfFind(const HostVariable* want, HostDataSet* data, HostVariable** out,
                                VsfMsg missing, VsfMsg otherType);
[[nodiscard]] VsfStatus vsfAllocNames(VsfContext* ctx, VsfNameRecord* names);
[[nodiscard]] VsfStatus vsfSaveModelNamePtrs(VsfContext* ctx);
// The SCORE data sets' variable lookups as vsfPostInit does them (not called by the run).
[[nodiscard]] VsfStatus vsfCheckScoreForVars(VsfContext* ctx);
