// Sums over every animal's ancestors that the relationship matrix's
// factors give: Σ_k T_ik² w_k, T the ancestors' contributions of A = T D Tᵀ.
#pragma once

#include <cstdint>

#include "pacer.hpp"

namespace tolmkit {

// Into out[0 .. n), for each of n animals numbered parents first (sire and
// dam −1 unknown, else below the animal), the sum over the animal and its
// ancestors k of T_ik² · weight[k], T_ik the sum over the paths from i up
// to k of 1/2 per generation. With weight the Mendelian-sampling variances
// it is the diagonal of A; with the founders' shares, Σ_f p_if². Each sum
// adds the ancestors from the highest number down, then the animal's own
// weight, so that full sibs share the ancestors' part to the bit, and the
// sums are the same on any number of `threads`. `pace` counts a step for
// each ancestor visited on this thread.
void squared_contributions(std::int32_t n, const std::int32_t* sire, const std::int32_t* dam, const double* weight,
                           double* out, Pacer& pace, int threads = 1);

}  // namespace tolmkit
