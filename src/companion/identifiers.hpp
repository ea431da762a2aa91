// Identifiers of a pedigree file matched to the animals that they name, the
// generation of each animal, and its text checked for control characters and
// quotes, for reading files of millions of lines at the speed of parsing them.
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
// first names number j. Returns how many such numbers there are. found,
// outside and first hold strings.count entries; fewer than 2^32 − 1 strings.
std::int64_t match_identifiers(const Strings& strings, std::int64_t n, std::int64_t* found, std::int64_t* outside,
                               std::int64_t* first);

// The most generations between each of n animals and a founder, its parents
// numbered in sire and dam (−1 unknown): 0 for founders, −1 for an animal
// that is its own ancestor or descends from one. Fills order with the others,
// generation by generation, each in the order of their numbers, and returns
// how many they are. work holds n + 1 entries.
std::int64_t generations(std::int64_t n, const std::int64_t* sire, const std::int64_t* dam, std::int64_t* generation,
                         std::int64_t* order, std::int64_t* work);

// The offset of the first control character in text[0 .. size) (a byte below
// 0x20 other than a tab or a line end, or 0x7f), or −1.
std::int64_t first_control(const std::uint8_t* text, std::int64_t size);

// An offset within the first line of text[0 .. size) that holds an odd number
// of quotes, one that opens a field and is not closed, or −1. A quote inside
// a field is doubled, so each line of a sound file holds an even number.
std::int64_t unclosed_quote(const std::uint8_t* text, std::int64_t size);

}  // namespace tolmkit
