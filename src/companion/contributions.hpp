// The expected contributions of ancestors to a population, and the choice of
// the ancestors that explain it, one at a time by marginal contribution
// (Boichard, Maignel and Verrier 1997), for the effective numbers of founders
// and of ancestors.
//
// Every sum is taken in the order of the layered passes of tolmkit.layers
// (an animal's offspring by generation, the deepest first; within one, sires'
// links before dams', by number; each generation's sum added on its own), so
// that the figures keep their bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pacer.hpp"

namespace tolmkit {

// A pedigree numbered parents first, an unknown parent coded -1, with the
// generation of every animal (0 for a founder, else one more than its
// deeper parent).
struct Lineage {
    std::int32_t n;
    const std::int32_t* sire;
    const std::int32_t* dam;
    const std::int64_t* generation;
};

// What is wrong with a lineage (a parent outside -1 .. offspring - 1, a
// generation that is not one more than the deeper parent's), or "".
std::string lineage_error(const Lineage& lineage);

// The expected share of the weighted animals' genes that comes from every
// animal (its own weight included), into out[0 .. n): Tᵀ weight.
void contributions(const Lineage& lineage, const double* weight, double* out, Pacer& pace);

struct Ancestors {
    std::vector<std::int32_t> order;  // the ancestors taken, in the order taken
    std::vector<double> marginal;     // q of each when taken
    double explained = 0.0;           // Σ q, added in the order taken
};

// Takes, among the animals `eligible`, the one of largest marginal
// contribution q_k = c_k (1 − a_k), the lowest number among equals: c_k its
// contribution where the ancestors already taken pass nothing to their
// parents, a_k the share of its genes from them. Stops after `most`
// ancestors, once Σ q reaches `enough`, or when no q is above 0.
// `contribution` is that of `contributions` for the same weight.
//
// A lazy greedy search: q never grows from one choice to the next (every
// sum and product rounds monotonically), so a q computed at an earlier step
// bounds it, and only the candidates whose bound tops the others are
// computed again. After a choice, only the contributions of the ancestors
// of the animal taken change; a_k is taken from the animal's ancestry.
Ancestors marginal_ancestors(const Lineage& lineage, const double* weight, const double* contribution,
                             const std::uint8_t* eligible, std::int64_t most, double enough, Pacer& pace);

}  // namespace tolmkit
