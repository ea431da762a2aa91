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

}  // namespace tolmkit
