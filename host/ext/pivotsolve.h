// A dense square linear solve by Gaussian elimination with complete pivoting, for systems
// that may be singular or nearly so.
#pragma once

#include <cstdint>
#include <vector>

namespace qrxhost {

// Solves A x = b, A square of order n in row order. Elimination stops at the first pivot
// below n x machine epsilon times the largest entry of A: the unknowns of the columns left
// are 0, which gives a solution whenever the system is consistent (a basic solution of a
// singular system). A and b are overwritten. Returns the number of pivots taken.
int32_t solvePivoted(std::vector<double>& A, std::vector<double>& b, int32_t n,
                     std::vector<double>& x);

} // namespace qrxhost
