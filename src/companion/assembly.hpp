// A symmetric sparse matrix assembled in compressed rows from the terms of
// its strictly lower triangle and its diagonal, by counting sorts: no sort
// of the terms, and each duplicate summed in the order of the terms.
#pragma once

#include <cstdint>
#include <vector>

#include "pacer.hpp"

namespace tolmkit {

// Terms of a strictly lower triangle: row[t] > column[t] for every t,
// fewer than 2^31 of them.
struct Terms {
    std::int64_t count;
    const std::int32_t* row;
    const std::int32_t* column;
    const double* value;
};

// The first term that is not strictly below the diagonal of an n × n
// matrix, or -1.
std::int64_t first_outside(std::int32_t n, const Terms& terms);

struct Compressed {
    std::vector<std::int64_t> indptr;
    std::vector<std::int32_t> indices;
    std::vector<double> data;
};

// The n × n matrix of the terms, their mirror above the diagonal and
// `diagonal`: columns ascending within each row, the terms of one element
// added in their order (the mirror holds the same sums), off the diagonal
// the elements that sum to zero left out, every element of the diagonal
// stored.
Compressed symmetric_from_lower(std::int32_t n, const Terms& terms, const double* diagonal, Pacer& pace);

}  // namespace tolmkit
