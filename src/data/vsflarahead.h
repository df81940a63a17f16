// The look-ahead of the least-angle path: the residual sums of squares of the coefficient
// vectors of the coming steps, formed in one data pass (kernels/vsflarcallbacks.h) instead of
// a pass per step.
#pragma once

#include <cstdint>
#include <vector>

// Each entry is one coefficient vector of the path, given by its in-model terms (dense
// offsets and path coefficients, in model order); sse[i] is, bit for bit, what the residual
// pass of vsfLarRss gives for the training rows with the terms of entry i. `next` is the
// entry the path expects to use next.
struct VsfLarAhead {
  std::vector<std::vector<int32_t>> offsets;
  std::vector<std::vector<double>> betas;
  std::vector<double> sse;
  size_t next = 0;
};
