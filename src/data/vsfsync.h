// BY-group synchronisation of a further input data set (VALDATA=, TESTDATA=) with DATA=.
// Finding the data set's variables and its BY matching are the driver's.
#pragma once

#include <cstdint>

struct VsfContext;
struct VsfNameRecord;

// Positions the data set of `names` at the current BY group of DATA=. 0 at once when the
// data set is not read by group. A data set without the group: message 848/`message`
// with its name, return code raised to at least 4, and the host's non-zero answer.
[[nodiscard]] int32_t vsfSynchronize(VsfContext* ctx, VsfNameRecord* names, int32_t message);
