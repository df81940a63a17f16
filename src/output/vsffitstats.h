// The values of the "ANOVA" table of one fit, computed apart from the printer so that the
// arithmetic can be checked on its own.
#pragma once

#include <cstdint>

struct VsfAnovaValues {
  double modelDf, errorDf, totalDf;
  double modelSs, sse, totalSs;
  double modelMs, errorMs;
  double f, probF;
};

// sse is clipped at 0; tss is the corrected total SS (uncorrected under NOINT).
VsfAnovaValues vsfAnovaCompute(double sse, double tssCorrected, double tssUncorrected, double n,
                               int32_t p, bool noint);
