// The OUTDESIGN data set: the design columns of the selected model (or of the whole design
// with FULLMODEL) for each observation of DATA=, then the response or all input variables,
// the partition role and the BY-group number.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <string>
#include <vector>

struct VsfContext;
struct VsfModel;
struct HostDataSet;

// The name of variable `number` (1-based) of a data set, empty when it has none.
std::string vsfDataSetVariableName(HostDataSet* data, int32_t number);

// Per BY group after the fit: the group's design columns, and without BY variables the
// data set's columns. The group's column count goes to ctx->parameterNamesPresent. Ok,
// NoMemory, or after a message ReportedFailure (an input variable not described) or
// DesignNamesFailed (a PREFIX= whose names would exceed 32 characters).
[[nodiscard]] VsfStatus vsfPrepareOutputAndDesign(VsfContext* ctx);
// The group's design rows: written at once without BY variables, kept for the data set
// written after the BY loop otherwise. `seed` is the group's working seed at its start.
// Ok, or ReportedFailure when a row could not be written.
[[nodiscard]] VsfStatus vsfDesignBy(VsfContext* ctx, VsfModel* model, int64_t seed);
// A BY group that was skipped (its levelisation failed): its rows get missing design values.
void vsfDesignSkippedGroup(VsfContext* ctx);
// After the BY loop with BY variables: defines the columns (the most any group selected)
// and writes every group's rows. Ok, or a status as vsfPrepareOutputAndDesign and vsfDesignBy.
[[nodiscard]] VsfStatus vsfAcrossByDesign(VsfContext* ctx);
// Ends the OUTDESIGN data set (it is written when the step succeeds).
void vsfFinishDesign(VsfContext* ctx);

// The current group's design columns as the macro variable _VSFMOD and the parameter-names
// table see them: per column the OUTDESIGN name (empty when the column was not defined),
// the parameter's short name and its label, and whether it holds a selected or forced
// effect (the columns _VSFMOD lists: not the intercept, nor with FULLMODEL the effects
// left out).
struct VsfDesignColumn {
  std::string name;
  std::string shortName;
  std::string label;
  bool dropped;
  bool listed;
};
std::vector<VsfDesignColumn> vsfDesignColumns(const VsfContext* ctx);
