// The dominance relationship of two animals from the additive relationships
// of their parents, shared by cald and dijp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "arguments.hpp"
#include "lower_csr_lookup.hpp"

namespace tolm {

// Codes an unknown parent; compared exactly, every other value is an animal.
inline constexpr std::int32_t MISSING_PARENT = -999;

inline bool has_both_parents(std::int32_t sire, std::int32_t dam) {
    return sire != MISSING_PARENT && dam != MISSING_PARENT;
}

// D(x, y) = a(d_x, d_y) · a(s_x, s_y) + a(d_x, s_y) · a(s_x, d_y), each
// product rounded on its own, then their sum; no scaling. With
// p = a(s_x, d_y), q = a(s_x, s_y), r = a(d_x, s_y), t = a(d_x, d_y):
inline double dominance_relationship(double p, double q, double r, double t) { return t * q + r * p; }

inline bool is_parent_code(std::int32_t code, std::int64_t limit) {
    return code == MISSING_PARENT || (code >= 0 && code < limit);
}

// parents[animal] is MISSING_PARENT or a number in 0 … limit − 1; `limit_is`
// says in the message what the limit counts.
Verdict check_parent_code(const Arguments& args, std::size_t parents, std::int64_t animal, std::int64_t limit,
                          const char* limit_is);

}  // namespace tolm
