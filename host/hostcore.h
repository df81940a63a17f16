// The stand-in host's control block: every service group installed, the kernel handle,
// the default pool and the task-block chain of the running step. The services themselves
// are in supervisor, macros, kernel, data/ and output/.
#pragma once

#include "host/hostapi.h"
#include "support/hostif.h"

namespace qrxhost {

// The control block, built once with all groups installed.
HostControlBlock* hostControlBlock();

// Clears the task-block chain (the words where a procedure keeps its context) and the
// default pool's blocks, ready for a new step.
void resetTaskBlocks();

// The step source handed to the parser (currentStepSource() in hostapi.h reads it).
void setCurrentStepSource(const StepSource& source);
void setCurrentStepSource(StepSource&& source);

// Return code the host gives a step whose internal error it reported (xebug).
inline constexpr int kInternalErrorCode = 1012;
// The highest return code of a step that ended with warnings only; above it, errors.
inline constexpr int kWarningReturnCode = 4;

} // namespace qrxhost
