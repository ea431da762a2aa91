// Identifiers of a pedigree file matched to the animals that they name, and
// the generation of each animal, for reading files of millions of lines at
// the speed of parsing them.
//
// Plain routines over raw pointers: the caller allocates every array and
// sizes it as each routine states.
#pragma once

#include <cstdint>

namespace tolmkit {

// Strings stored one after another: string k is data[offsets[k] .. offsets[k + 1]).
struct Strings {
    std::int64_t count;
    const std::int64_t* offsets;
    const std::uint8_t* data;
};

// For strings laid out as animal[0 .. n), sire[0 .. n), dam[0 .. n) and then
// any further strings (codes), fills found[k] with the first animal whose
// string equals string k, or −1. Every parent that no animal names gets in
// outside[k] a number counted in the order the records name them, sire
// before dam within a record (−1 elsewhere), and first[j] is the string that
// first names number j. Returns how many such numbers there are, or −1 when
// the table of `capacity` slots (a power of two) grew more than 3/4 full.
// found, outside and first hold strings.count entries; fewer than 2^32 − 1
// strings.
std::int64_t match_identifiers(const Strings& strings, std::int64_t n, std::uint64_t* slots, std::uint64_t capacity,
                               std::int64_t* found, std::int64_t* outside, std::int64_t* first);

// The most generations between each of n animals and a founder, its parents
// numbered in sire and dam (−1 unknown): 0 for founders, −1 for an animal
// that is its own ancestor or descends from one. Fills order with the others,
// generation by generation, each in the order of their numbers, and returns
// how many they are. work holds n + 1 entries.
std::int64_t generations(std::int64_t n, const std::int64_t* sire, const std::int64_t* dam, std::int64_t* generation,
                         std::int64_t* order, std::int64_t* work);

}  // namespace tolmkit
