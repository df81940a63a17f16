// The stand-in host's control block: every service group installed, the kernel handle,
// the default pool and the task-block chain of the running step. The services themselves
// are in supervisor, macros, kernel, data/ and output/.
#pragma once

#include "host/hostapi.h"
#include "support/hostif.h"
#include "support/stepcodes.h"

namespace qrxhost {

// The control block, built once with all groups installed.
HostControlBlock* hostControlBlock();

// Clears the task-block chain (the words where a procedure keeps its context) and the
// default pool's blocks, ready for a new step.
void resetTaskBlocks();

// The step source handed to the parser (currentStepSource() in hostapi.h reads it).
void setCurrentStepSource(const StepSource& source);
void setCurrentStepSource(StepSource&& source);

} // namespace qrxhost
