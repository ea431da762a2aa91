// fcoeff_kernel as the benchmarks load it with ctypes, so that builds with
// some of its mechanisms switched off can be timed side by side in one run.
#include <cstdint>

#include "fcoeff.hpp"

extern "C" int kernel_fcoeff(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding,
                             double* sampling_var, const std::int32_t* n_animals,
                             const std::int32_t* compute_inbreeding) {
    try {
        tolm::fcoeff_kernel(sire, dam, inbreeding, sampling_var, n_animals, compute_inbreeding);
    } catch (...) {
        return -1;
    }
    return 0;
}
