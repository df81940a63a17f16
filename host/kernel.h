// The kernel handle of the stand-in host: named pools, events and threads, the
// named-value registry (OSENV.X, host.cpucount, host options, stored values), extension
// loading, the journal and status texts. Host options themselves live in supervisor.h.
#pragma once

#include "support/hostif.h"

#include <string>

namespace qrxhost {

// The one kernel handle of the process.
QkHandle* kernelHandle();

// Named-value registry, for the host's own parts and tests (names are 8-bit here).
// Drops every value stored through qkNameValueSet.
void clearStoredNameValues();

// The text of a kernel or output-delivery status code.
std::string statusMessage(uint32_t status);

// The processor count reported as host.cpucount (the CPUCOUNT option when it is a
// positive number, else the hardware's count).
int64_t hostCpuCount();

} // namespace qrxhost
