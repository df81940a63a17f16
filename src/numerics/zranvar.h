// Getters (one variate) and buffer fillers (bufferLength variates into buffer) of the
// twenty distributions of a RandomStream. Invalid parameters give the missing value.
// Seeding and the uniform source are zrandom.h's.
#pragma once

#include "numerics/zrandom.h"

double GetOneVariateBERNOULLI(RandomStream* s, double p);
double GetOneVariateBETA(RandomStream* s, double a, double b);
double GetOneVariateBINOMIAL(RandomStream* s, int64_t n, double p);
double GetOneVariateCAUCHY(RandomStream* s);
double GetOneVariateCHISQUARE(RandomStream* s, double df);
double GetOneVariateERLANG(RandomStream* s, int32_t k);
double GetOneVariateEXPONENTIAL(RandomStream* s);
double GetOneVariateF(RandomStream* s, double df1, double df2);
double GetOneVariateGAMMA(RandomStream* s, double a);
double GetOneVariateGEOMETRIC(RandomStream* s, double p);
double GetOneVariateHYPERGEOMETRIC(RandomStream* s, int64_t population, int64_t marked,
                                   int64_t draws);
double GetOneVariateLOGNORMAL(RandomStream* s);
double GetOneVariateNEGBINOMIAL(RandomStream* s, double p, double k);
double GetOneVariateNORMAL(RandomStream* s);
double GetOneVariatePOISSON(RandomStream* s, double lambda);
double GetOneVariateTABLE(RandomStream* s, int64_t n, const double* probabilities);
double GetOneVariateT(RandomStream* s, double df);
double GetOneVariateTRIANGLE(RandomStream* s, double h);
double GetOneVariateUNIFORM(RandomStream* s);
double GetOneVariateWEIBULL(RandomStream* s, double a, double b);

// Fillers: 1 (writing nothing) when buffer is absent or bufferLength is 0, else 0.
[[nodiscard]] int32_t FillTheBufferBERNOULLI(RandomStream* s, double p);
[[nodiscard]] int32_t FillTheBufferBETA(RandomStream* s, double a, double b);
[[nodiscard]] int32_t FillTheBufferBINOMIAL(RandomStream* s, int64_t n, double p);
[[nodiscard]] int32_t FillTheBufferCAUCHY(RandomStream* s);
[[nodiscard]] int32_t FillTheBufferCHISQUARE(RandomStream* s, double df);
[[nodiscard]] int32_t FillTheBufferERLANG(RandomStream* s, int32_t k);
[[nodiscard]] int32_t FillTheBufferEXPONENTIAL(RandomStream* s);
[[nodiscard]] int32_t FillTheBufferF(RandomStream* s, double df1, double df2);
[[nodiscard]] int32_t FillTheBufferGAMMA(RandomStream* s, double a);
[[nodiscard]] int32_t FillTheBufferGEOMETRIC(RandomStream* s, double p);
[[nodiscard]] int32_t FillTheBufferHYPERGEOMETRIC(RandomStream* s, int64_t population,
                                                  int64_t marked, int64_t draws);
[[nodiscard]] int32_t FillTheBufferLOGNORMAL(RandomStream* s);
[[nodiscard]] int32_t FillTheBufferNEGBINOMIAL(RandomStream* s, double p, double k);
[[nodiscard]] int32_t FillTheBufferNORMAL(RandomStream* s);
[[nodiscard]] int32_t FillTheBufferPOISSON(RandomStream* s, double lambda);
[[nodiscard]] int32_t FillTheBufferTABLE(RandomStream* s, int64_t n, const double* probabilities);
[[nodiscard]] int32_t FillTheBufferT(RandomStream* s, double df);
[[nodiscard]] int32_t FillTheBufferTRIANGLE(RandomStream* s, double h);
[[nodiscard]] int32_t FillTheBufferUNIFORM(RandomStream* s);
[[nodiscard]] int32_t FillTheBufferWEIBULL(RandomStream* s, double a, double b);
