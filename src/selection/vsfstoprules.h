// The rules every selection loop shares: start values of the stop, choose and select
// criteria, the limits checked before each step, the STOP= test after each step (which
// undoes a refused step), the choose update, and the stepwise entry/removal test.
#pragma once

#include "support/stepcodes.h"
#include "support/vsfoptions.h"

#include <cstdint>

struct VsfModel;

void vsfInitCriteria(VsfModel* model, double* stopValue, double* chooseValue, double* selectValue);
[[nodiscard]] int32_t vsfKeepGoing(VsfModel* model, int32_t step);
// Undoing a removal restores the sweep flags `taken` held before it where given
// (vsfReenterEffect).
[[nodiscard]] VsfStatus vsfStopSelection(double value, VsfModel* model, int32_t step,
                                         int32_t effect, int32_t direction, double* stopValue,
                                         int32_t* result, const char* taken = nullptr);
void vsfChoose(double selectValue, double stopValue, VsfModel* model, double* chooseValue,
               int32_t direction);
[[nodiscard]] int32_t vsfCriterionImproves(VsfCriterion criterion, int32_t isEntry, double* best,
                                           double value, double level);
