// Values of the B-spline basis functions of one degree that can be non-zero at a point,
// after locating the point among the knots. The design rows of spline effects call it;
// the knot sequences come from the spline options.
#pragma once

#include <cstdint>

// k: degree (>= 0); nt: number of knots t[0..nt-1] (ascending); *left: interval pointer,
// advanced by the search (callers set it to k before each point); b: k + 1 values out;
// dr, dl: k doubles of scratch each. The values are those of the basis functions numbered
// *left - k .. *left. Returns 0 inside the knot range, 1 right of it (b = 0,..,0,1), -1
// left of it (b = 1,0,..,0).
int32_t zmaopb(int32_t k, int32_t nt, int32_t* left, const double* t, double* b, double* dr,
               double* dl, double x);
