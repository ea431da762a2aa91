// The plain bitset ordering of the ancestor-list method, a benchmark baseline.
#pragma once

#include <cstdint>

extern "C" {

// Same arguments and results as fcoeff_kernel, with the consecutive
// same-parents shortcut only. Returns 0, or −1 when its scratch cannot be
// obtained.
int plain_bitset_fcoeff(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
                        const std::int32_t* n_animals, const std::int32_t* compute_inbreeding);
}
