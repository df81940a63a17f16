// The host's module loader (group 12): sibling modules known by name, their entry routines
// and the log's trace lines.
#pragma once

#include "support/postfit.h"

namespace qrxhost {

HostModuleServices* moduleServices();

// The sibling module of the post-fit statements: its entry routine.
int32_t qrxauxmdEntry(PostFitBridge* bridge, void* output);

} // namespace qrxhost
