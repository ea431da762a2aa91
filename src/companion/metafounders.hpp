// Inbreeding relative to metafounders (Legarra, Christensen, Vitezica,
// Aguilar and Misztal 2015): groups of unknown parents taken as base
// populations related by a matrix Γ.
#pragma once

#include <cstdint>

#include "pacer.hpp"

namespace tolmkit {

// A pedigree whose unknown parents may be of a group: n animals numbered
// parents first (sire and dam −1 unknown, else below the animal), and the
// group of each unknown parent (−1 none, else below g); Γ among the g
// groups, row-major.
struct GroupedHerd {
    std::int64_t n;
    const std::int32_t* sire;
    const std::int32_t* dam;
    const std::int32_t* sire_group;
    const std::int32_t* dam_group;
    std::int64_t g;
    const double* gamma;
};

// F relative to the metafounders and the Mendelian-sampling variances of
// every animal, into inbreeding and sampling_var[0 .. n), animal by animal.
// Returns −1, or the first animal whose sampling variance is below 0 (or
// NaN), where it stops: A^Γ is then no matrix of relationships. A variance
// of 0 (parents fully inbred) is kept, and leaves A^Γ without inverse alone.
// `pace` counts a step for each ancestor visited.
std::int64_t metafounder_inbreeding(const GroupedHerd& herd, double* inbreeding, double* sampling_var, Pacer& pace);

}  // namespace tolmkit
