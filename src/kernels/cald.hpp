// The dominance relationship matrix of a pedigree, within the pattern of the
// caller's relationship matrix.
#pragma once

#include <array>
#include <cstdint>

#include "arguments.hpp"

namespace tolm {

// For every stored off-diagonal element (i, j) of the lower-triangle CSR
// relationship matrix (a_col, a_rowstart, a_val) whose two animals both have
// both parents known (not MISSING_PARENT), D(i, j) from the relationships of
// their parents. Elements that compare unequal to zero (NaN included) are
// appended at d_val[d_count], d_col[d_count], advancing d_count[0], in the
// order of the relationship matrix; d_rowstart[i] is d_count at the start of
// row i, for i < n = n_animals[0]. d_rowstart[n] is left to the caller.
// Nothing is written for n ≤ 0. Validates nothing.
void cald_kernel(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* a_col,
                 const std::int32_t* a_rowstart, const double* a_val, const std::int32_t* n_animals, double* d_val,
                 std::int32_t* d_col, std::int32_t* d_rowstart, std::int32_t* d_count);

// Describes the first way in which arguments of cald would make the kernel
// touch memory outside them; its cost is linear in n and the stored elements.
Verdict check_cald_arguments(const std::array<BufferLayout, 10>& arguments);

}  // namespace tolm
