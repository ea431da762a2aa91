// Shared by the kernel tests: buffer layouts over vectors, and the
// five-animal pedigree with its relationship matrix used by the dominance tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "dominance.hpp"
#include "lower_csr_lookup.hpp"

namespace tolm::testing_support {

using Codes = std::vector<std::int32_t>;
using Reals = std::vector<double>;

// A one-dimensional buffer over the vector, by default in the format numpy
// gives its int32 and float64 arrays.
template <typename T>
BufferLayout layout_of(const std::vector<T>& values, std::string format = std::is_same_v<T, double> ? "d" : "i") {
    const auto size = static_cast<std::ptrdiff_t>(sizeof(T));
    return {values.data(), std::move(format), size, {static_cast<std::ptrdiff_t>(values.size())}, {size}};
}

// Equal lengths and equal bits, so that NaNs and signed zeros compare exactly.
inline bool same_bits(const Reals& a, const Reals& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

inline void expect_accepted(const Verdict& verdict) { EXPECT_FALSE(verdict.has_value()) << verdict->message; }

inline void expect_problem(const Verdict& verdict, ArgumentError::Kind kind, const std::string& message) {
    ASSERT_TRUE(verdict.has_value()) << "expected: " << message;
    EXPECT_EQ(verdict->kind, kind);
    EXPECT_EQ(verdict->message, message);
}

inline void expect_value_error(const Verdict& verdict, const std::string& message) {
    expect_problem(verdict, ArgumentError::Kind::value, message);
}

// Animals 0 and 1 without known parents, 2 and 3 their offspring, 4 the
// offspring of 2 and 3; the lower triangle of their relationship matrix.
struct FiveAnimals {
    Codes sire{MISSING_PARENT, MISSING_PARENT, 0, 0, 2};
    Codes dam{MISSING_PARENT, MISSING_PARENT, 1, 1, 3};
    Codes a_rowstart{0, 1, 2, 5, 9, 14};
    Codes a_col{0, 1, 0, 1, 2, 0, 1, 2, 3, 0, 1, 2, 3, 4};
    Reals a_val{1.0, 1.0, 0.5, 0.5, 1.0, 0.5, 0.5, 0.5, 1.0, 0.5, 0.5, 0.75, 0.75, 1.25};

    double a(std::int32_t x, std::int32_t y) const {
        return lower_csr_lookup(a_rowstart.data(), a_col.data(), a_val.data(), x, y);
    }
};

}  // namespace tolm::testing_support
