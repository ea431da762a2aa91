// Inbreeding coefficients and Mendelian-sampling variances by the
// ancestor-list method of Meuwissen and Luo.
#pragma once

#include <array>
#include <cstdint>

#include "arguments.hpp"

namespace tolm {

// Animals 0 … n − 1 with n = n_animals[0]; a parent code equal to n means
// unknown, and known parents are numbered below their offspring.
//
// Writes sampling_var[0 … n − 1], 0.5 − 0.25 × (F of sire + F of dam), and,
// when compute_inbreeding[0] is exactly 1, first the coefficients
// inbreeding[0 … n − 1]; in any other mode the coefficients are the caller's.
// inbreeding[n] is the coefficient of an unknown parent (−1.0) and only read.
//
// Validates nothing. Its only failure is the allocation of its scratch, before
// anything but n_animals[0] is read: std::bad_array_new_length for n < 0 or
// n ≥ 2^30, std::bad_alloc when memory runs out.
void fcoeff_kernel(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
                   const std::int32_t* n_animals, const std::int32_t* compute_inbreeding);

// Describes the first way in which arguments of fcoeff break the kernel's
// contract so that it would touch memory outside them or never finish. Animal
// counts that the kernel refuses itself (n < 0, n ≥ 2^30) pass unexamined.
Verdict check_fcoeff_arguments(const std::array<BufferLayout, 6>& arguments);

}  // namespace tolm
