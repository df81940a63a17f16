// The fitting switches of VsfModelOptions derived from the selection codes and the
// PERFORMANCE options, for the statement front end to call once after parsing.
#pragma once

#include <cstdint>

struct VsfModelOptions;
struct VsfPerfOptions;

// candidateColumns: design columns of the model (decides the default cross-products build).
void vsfDeriveFitSwitches(VsfModelOptions *options, const VsfPerfOptions *perf,
                          int32_t candidateColumns);
