// The inverse of a relationship matrix in compressed rows, straight from the
// parents of each animal (Henderson's rules; Quaas' for groups of unknown
// parents): no list of terms is kept, and no sort of terms is made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pacer.hpp"

namespace tolmkit {

// Animals 0..animals−1, then any groups up to size−1. A parent is −1 when
// unknown, else an animal numbered below its offspring or a group.
// weight[i] is the reciprocal of animal i's Mendelian-sampling variance,
// times whatever scale the caller wants (exact when a power of two).
struct Parents {
    std::int32_t animals;
    std::int32_t size;
    const std::int32_t* sire;
    const std::int32_t* dam;
    const double* weight;
};

// What is wrong with `parents` (the first parent out of its range), or "".
std::string parents_problem(const Parents& parents);

struct Compressed {
    std::vector<std::int64_t> indptr;
    std::vector<std::int32_t> indices;
    std::vector<double> data;
};

// The sum over the animals of w_i q qᵀ, q = e_i − ½ e_sire − ½ e_dam over the
// known parents (e_i − e_parent for a selfed animal), as a size × size
// matrix in compressed rows: columns ascending within each row, every
// element of the diagonal stored and, off it, the elements that do not sum
// to zero; exactly symmetric.
//
// Each element is the sum of its terms in the order sire terms, dam terms,
// mates' terms, each by animal, and the diagonal ((w_i + ¼ Σ w over the
// offspring as sire) + ¼ Σ w as dam) + ½ Σ w of the selfed offspring: the
// order in which the terms were once listed and summed, which keeps the
// bits of the matrices written before.
Compressed relationship_inverse(const Parents& parents, Pacer& pace);

}  // namespace tolmkit
