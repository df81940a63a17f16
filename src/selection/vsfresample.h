// Resampling drivers: the resamplers of model averaging.
#pragma once

struct VsfResampling;

// Frees every resampler's pool and scratch files; safe when none was started.
void vsfResamplersCleanup(VsfResampling* resampling);
