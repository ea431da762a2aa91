// Numbers as text for the tables that tolmkit writes.
#pragma once

#include <cstdint>

namespace tolmkit {

// The most characters that format_reals writes for one value.
constexpr std::int64_t REAL_WIDTH = 24;

// Writes each of the n values as Python's repr writes it (the shortest digits
// that read back to the same double; positional from 1e-4 to below 1e16, else
// "1.5e+300"), a NaN as nothing, one after another into `text`, which holds
// REAL_WIDTH * n characters. offsets[i] and offsets[i + 1] bound value i.
void format_reals(const double* values, std::int64_t n, std::int64_t* offsets, char* text);

// The most characters that format_integers writes for one value.
constexpr std::int64_t INTEGER_WIDTH = 20;

// Writes each of the n values in decimal, one after another into `text`,
// which holds INTEGER_WIDTH * n characters. offsets[i] and offsets[i + 1]
// bound value i.
void format_integers(const std::int64_t* values, std::int64_t n, std::int64_t* offsets, char* text);

// n fields as text: field i is text[offsets[i] .. offsets[i + 1]), within
// the `size` characters of text.
struct Fields {
    const std::int64_t* offsets;
    const char* text;
    std::int64_t size;
};

// Whether a field of any of the columns holds the separator, a quote or a
// line end: a line of them joined would need quotes.
bool need_quotes(const Fields* columns, std::int64_t count, std::int64_t n, char separator);

// The characters of n lines of the fields of `count` columns, separated.
std::int64_t joined_size(const Fields* columns, std::int64_t count, std::int64_t n);

// Writes n lines into `out`, which holds `size` = joined_size characters: the fields
// of row i of each column in turn, separated, each line ended by "\n".
void join_lines(const Fields* columns, std::int64_t count, std::int64_t n, char separator, char* out,
                std::int64_t size);

}  // namespace tolmkit
