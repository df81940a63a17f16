// The code a step returns when a block could not be had: the caller passes it up unchanged,
// and the run ends with the out-of-memory message and return code (vsfExitError).
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

inline constexpr int32_t kVsfNoMemory = codeOf(VsfStatus::NoMemory);

// The code a step returns after a failure that was reported where it happened (a numbered
// message of its own, or the host's): the caller passes it up unchanged, and the run ends
// with the error return code and no second message (vsfExitError's default).
inline constexpr int32_t kVsfReportedFailure = codeOf(VsfStatus::ReportedFailure);
