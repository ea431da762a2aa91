// Additive relationship matrices of a pedigree, row by row, and the sparse
// rearrangements that tolmkit needs around TOLM's lower-triangle format.
//
// Plain routines over raw pointers: the caller allocates the results (so that
// Python owns the memory), sized as each routine states; scratch is their own.
// `pace` counts a step for each element visited.
#pragma once

#include <cstdint>

#include "pacer.hpp"

namespace tolmkit {

// A pedigree numbered parents first, an unknown parent coded n, the
// Mendelian-sampling variance of each animal on the additive scale, and its
// animals grouped by the connected components of the pedigree: `members`
// lists the animals of one component after another, each component in
// ascending order, and position[i] is the place of animal i in `members`.
// oldest[i] is the lowest place of animal i and its ancestors (see
// oldest_ancestors): no animal placed below it is related to i.
struct Herd {
    std::int32_t n;
    const std::int32_t* sire;
    const std::int32_t* dam;
    const double* sampling_var;
    const std::int32_t* members;
    const std::int32_t* position;
    const std::int32_t* oldest;
};

// Fills oldest[0 .. n) of a herd whose other fields are set.
void oldest_ancestors(const Herd& herd, std::int32_t* oldest);

struct Count {
    std::int32_t rows;      // rows counted before the total passed the bound, or n
    std::int64_t elements;  // elements of those rows
};

// The stored elements of each row of A, into counts[0 .. n): those of its
// lower triangle (the related animals j <= i, the diagonal included), and
// unless `lower` those above the diagonal too. Counting stops at the first
// row where the total passes max_elements.
Count count_relationships(const Herd& herd, bool lower, std::int64_t max_elements, std::int32_t* counts, Pacer& pace);

// Writes A times `scale` in compressed rows with ascending columns, its rows
// starting at indptr (from count_relationships' counts): the lower triangle,
// or unless `lower` the whole symmetric matrix, each value computed once and
// copied to its mirror. indices and data hold indptr[n] entries.
void fill_relationships(const Herd& herd, double scale, const std::int32_t* indptr, bool lower, std::int32_t* indices,
                        double* data, Pacer& pace);

// The row starts, into out_indptr[0 .. n], of a strictly lower triangle with
// a diagonal added to each row, and unless `lower` mirrored above it.
void with_diagonal_rows(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, bool lower,
                        std::int32_t* out_indptr);

// That matrix: the strictly lower triangle (ascending columns) with
// `diagonal` at the end of each row, and unless `lower` its mirror, so that
// the result is symmetric with ascending columns. out_indptr from
// with_diagonal_rows; out_indices and out_data hold out_indptr[n] entries.
void with_diagonal(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
                   const double* diagonal, bool lower, const std::int32_t* out_indptr, std::int32_t* out_indices,
                   double* out_data, Pacer& pace);

struct Triangles {
    std::int64_t below;
    std::int64_t above;
};

Triangles count_triangles(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, Pacer& pace);

// Whether every stored element has a mirror of the same value (an element
// not stored is zero; NaN matches NaN), in one pass over the elements.
// Columns ascend within each row.
bool symmetric(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
               Pacer& pace);

// The first stored element (row, column), in row order, whose mirror holds
// another value, or (-1, -1); columns ascend within each row.
struct Element {
    std::int32_t row;
    std::int32_t column;
};
Element first_asymmetric(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
                         Pacer& pace);

// The elements on and below the diagonal, in their order: out_indptr holds
// n + 1 entries, out_indices and out_data as many as there are such elements.
void lower_part(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
                std::int32_t* out_indptr, std::int32_t* out_indices, double* out_data, Pacer& pace);

}  // namespace tolmkit
