// Additive relationship matrices of a pedigree, row by row, and the sparse
// rearrangements that tolmkit needs around TOLM's lower-triangle format.
//
// Plain routines over raw pointers: the caller allocates every array (so that
// Python sees the memory), and sizes it as each routine states.
#pragma once

#include <cstdint>

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
    std::int32_t rows;       // rows counted before the total passed the bound, or n
    std::int64_t elements;   // elements of those rows
};

// Counts the stored elements of each row of the lower triangle of A (the
// related animals j <= i, the diagonal included) into lower_count[0 .. n),
// and, unless column_count is null, the elements below the diagonal of each
// column into column_count[0 .. n), zero on entry. The total counts both
// triangles when column_count is given; counting stops at the first row
// where it passes max_elements. `work` holds n + 1 zeros, and does again on
// return.
Count count_relationships(const Herd& herd, double* work, std::int32_t* lower_count,
                          std::int32_t* column_count, std::int64_t max_elements);

// Writes A times `scale` in compressed rows with ascending columns: the lower
// triangle, or with `cursor` and `reading` (n entries of scratch each) the
// whole symmetric matrix, each value computed once and copied to its mirror.
// indptr comes from count_relationships.
void fill_relationships(const Herd& herd, double* work, double scale, const std::int32_t* indptr,
                        std::int32_t* cursor, std::int32_t* reading, std::int32_t* indices, double* data);

// A strictly lower triangle with ascending columns, with `diagonal` added at
// the end of each row; with `cursor` (holding out_indptr[0 .. n) on entry)
// also mirrored above the diagonal, so that the result is symmetric.
void with_diagonal(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices,
                   const double* data, const double* diagonal, const std::int32_t* out_indptr,
                   std::int32_t* cursor, std::int32_t* out_indices, double* out_data);

struct Triangles {
    std::int64_t below;
    std::int64_t above;
};

Triangles count_triangles(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices);

// Whether every stored element has a mirror of the same value (an element
// not stored is zero; NaN matches NaN), in one pass over the elements; `next`
// is scratch of n entries. Columns ascend within each row.
bool symmetric(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices, const double* data,
               std::int32_t* next);

// The first stored element (row, column), in row order, whose mirror holds
// another value, or (-1, -1); columns ascend within each row.
struct Element {
    std::int32_t row;
    std::int32_t column;
};
Element first_asymmetric(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices,
                         const double* data);

// The elements on and below the diagonal, in their order.
void lower_part(std::int32_t n, const std::int32_t* indptr, const std::int32_t* indices,
                const double* data, std::int32_t* out_indptr, std::int32_t* out_indices,
                double* out_data);

}  // namespace tolmkit
