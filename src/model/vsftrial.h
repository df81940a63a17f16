// Trial models of the candidate searches: save the model before the trials and reload the
// clean state after each, collapse a full X'X to the in-model columns so that a trial
// sweeps a small triangle, and the SSE of one more effect from its block of the swept
// matrix by partial elimination.
#pragma once

#include <cstdint>

struct VsfModel;

void vsfModelBackup(VsfModel* model, bool forDrop);
void vsfModelCopy(VsfModel* model, bool forDrop);
void vsfModelCollapse(VsfModel* model, bool forDrop);
void vsfEffectXpXiCollapse(VsfModel* model, int32_t effect);
void vsfModelReload(VsfModel* model, bool forDrop);
void vsfModelRestore(VsfModel* model);
// The trial SSE of adding `effect` and the number of its columns that would be swept; -2
// when the trial block cannot be had.
int32_t vsfEffectXpXi(VsfModel* model, int32_t effect, double* sse, int32_t* sweptCount);
int32_t vsfPartialSweep(double* a, int32_t k, int32_t n, double tol);
