// Ending a run: error-code mapping, the release sequence and the end-of-task routine.
#pragma once

#include "support/stepcodes.h"

struct VsfContext;

// Ok returns at once; any other status logs its message, raises the return code, releases the
// run and leaves through the host's exit service.
void vsfExitError(VsfContext* ctx, VsfStatus status);
// The release at the normal end of a run.
void vsfCleanup(VsfContext* ctx);
// Registered with the host: stops the thread pool and releases what is left.
void vsfEndOfTask();
