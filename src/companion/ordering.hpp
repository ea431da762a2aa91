// Pedigrees put in order, parents before their offspring, whatever the order
// of their records and the depth of the pedigree.
#pragma once

#include <cstdint>

#include "pacer.hpp"

namespace tolmkit {

// The most generations between each of n animals and a founder, its parents
// numbered in sire and dam (−1 unknown, else below n), into generation[0 ..
// n): 0 for founders, −1 for an animal that is its own ancestor or descends
// from one. Fills order with the others, generation by generation, each in
// the order of their numbers, and returns how many they are; order holds n
// entries. `pace` counts a step for each animal visited and placed.
std::int64_t generations(std::int64_t n, const std::int64_t* sire, const std::int64_t* dam, std::int64_t* generation,
                         std::int64_t* order, Pacer& pace);

}  // namespace tolmkit
