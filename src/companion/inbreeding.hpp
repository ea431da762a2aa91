// Inbreeding coefficients and Mendelian-sampling variances of a pedigree on
// several threads: the ancestor passes of fcoeff_kernel (ancestor_pass.hpp),
// a generation layer at a time, each layer's animals split into batches that
// the threads take in turn. An animal needs the coefficients of earlier
// layers only, and its sum is formed in the same order on any thread, so the
// results are those of TOLM.fcoeff bit for bit, whatever the threads.
#pragma once

#include <cstdint>
#include <string>

#include "pacer.hpp"

namespace tolmkit {

// A pedigree numbered parents first, an unknown parent coded n, and its
// animals in layers of generation depth: layer d holds
// order[bounds[d] .. bounds[d + 1]), in ascending numbers, every known parent
// in an earlier layer than its offspring.
struct Layered {
    std::int32_t n;
    const std::int32_t* sire;
    const std::int32_t* dam;
    const std::int64_t* order;
    const std::int64_t* bounds;
    std::int64_t layers;
};

// What makes `pedigree` break the contract above, or "" if nothing does.
std::string layering_problem(const Layered& pedigree);

// Animals a thread takes at a time: a few passes, a few milliseconds at most
// on a deep pedigree, so that Ctrl-C and the end of a layer wait little, and
// enough that the threads rarely meet at the counter.
constexpr std::int32_t default_batch = 64;

// Writes inbreeding[0 .. n) and sampling_var[0 .. n) of a pedigree that
// meets the contract; inbreeding[n] is the coefficient of an unknown parent
// (−1.0), only read. Runs on at most `threads` threads, fewer where the
// system starts no more, each taking `batch` animals at a time (1 to 2^20);
// `pace` is called on the calling thread only, between batches, and a throw
// from it stops every thread after its batch.
void inbreeding_by_layers(const Layered& pedigree, int threads, double* inbreeding, double* sampling_var, Pacer& pace,
                          std::int32_t batch = default_batch);

}  // namespace tolmkit
