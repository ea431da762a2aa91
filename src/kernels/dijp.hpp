// Dominance relationships of a list of animal pairs.
#pragma once

#include <array>
#include <cstdint>

#include "arguments.hpp"

namespace tolm {

// For pairs k < n_pairs[0] of two different animals x = pair_i[k],
// y = pair_j[k] that both have both parents known (not MISSING_PARENT),
// d_pair[k] = D(x, y) from the relationships of their parents in the
// lower-triangle CSR matrix (a_col, a_rowstart, a_val), unless it compares
// equal to zero. Every other entry of d_pair keeps the caller's value.
// Validates nothing.
void dijp_kernel(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* n_pairs,
                 const std::int32_t* pair_i, const std::int32_t* pair_j, const std::int32_t* a_col,
                 const std::int32_t* a_rowstart, const double* a_val, double* d_pair);

// Describes the first way in which arguments of dijp would make the kernel
// touch memory outside them. Its cost is proportional to the pairs and the
// matrix rows they read, whatever the size of the matrix.
Verdict check_dijp_arguments(const std::array<BufferLayout, 9>& arguments);

}  // namespace tolm
