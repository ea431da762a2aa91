// The checks of each animal's parents that the pedigree reader makes once the
// records are numbered: one pass over millions of animals where numpy would
// make a dozen.
#pragma once

#include <cstdint>

namespace tolmkit {

// What a parent may be wrong in, in the order in which the reader reports
// them: every animal is checked for one kind before any for the next.
enum class ParentFault : int {
    none = 0,
    own_sire,      // the animal is its own sire
    own_dam,       // its own dam
    selfed,        // one animal is both its sire and its dam
    sire_and_dam,  // its dam is the sire of some animal
    female_sire,   // its sire is recorded female
    male_dam,      // its dam is recorded male
};

struct ParentFinding {
    ParentFault fault;
    std::int64_t animal;  // the first animal with that fault, −1 for none
};

// The first fault of the parents of n animals, sire[k] and dam[k] numbers of
// animals (−1 unknown; others, out of 0 .. n − 1, are not looked at).
// `selfed` and `sire_and_dam` only without `selfing`; the sexes only when
// `sex` is given: one per animal, 1 male, 2 female, anything else unknown.
ParentFinding parent_fault(const std::int32_t* sire, const std::int32_t* dam, std::int64_t n, const std::int8_t* sex,
                           bool selfing);

}  // namespace tolmkit
