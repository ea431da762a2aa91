// Literal transcriptions of the specified algorithms, kept as the oracle that
// the kernels are compared with bit for bit, and as the baseline of the
// benchmarks. Slow on purpose: every step is as written, nothing is reordered.
#pragma once

#include <cstdint>

extern "C" {

// The ancestor-list pass with its unsorted list, two scans per processed
// ancestor and the reset of i + 1 contributions; same arguments as
// fcoeff_kernel. Returns 0, or −1 when its scratch cannot be obtained.
int literal_fcoeff(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
                   const std::int32_t* n_animals, const std::int32_t* compute_inbreeding);

// For the benchmarks: the number of animals that the ancestor passes of a
// pedigree in fcoeff's coding process, the animal itself included, summed
// over all animals. −1 when its scratch cannot be obtained.
long long literal_ancestors_processed(const std::int32_t* sire, const std::int32_t* dam, std::int32_t n);

// The lower-bound search over the first length − 1 positions of the row.
double literal_lookup(const std::int32_t* a_rowstart, const std::int32_t* a_col, const double* a_val, std::int32_t x,
                      std::int32_t y);

void literal_cald(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* a_col,
                  const std::int32_t* a_rowstart, const double* a_val, const std::int32_t* n_animals, double* d_val,
                  std::int32_t* d_col, std::int32_t* d_rowstart, std::int32_t* d_count);

void literal_dijp(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* n_pairs,
                  const std::int32_t* pair_i, const std::int32_t* pair_j, const std::int32_t* a_col,
                  const std::int32_t* a_rowstart, const double* a_val, double* d_pair);
}
