// Tables as text, a chunk of lines at a time: numbers formatted where they go
// in the line, as Python writes them, and text copied as it is.
#pragma once

#include <cstdint>

namespace tolmkit {

// The most characters that one number takes in a line: a double as Python's
// repr writes it ("-1.2345678901234567e-300"), and an int64.
constexpr std::int64_t real_width = 24;
constexpr std::int64_t integer_width = 20;

// n fields as text: field i is text[offsets[i] .. offsets[i + 1]), within
// the `size` characters of text.
struct Fields {
    const std::int64_t* offsets;
    const char* text;
    std::int64_t size;
};

// One column of n lines: doubles, written as Python's repr writes them (the
// shortest digits that read back to the same double; positional from 1e-4 to
// below 1e16, else "1.5e+300"; a NaN as nothing), int64s in decimal, or
// fields already text. Exactly one of the three is set.
struct Column {
    const double* reals;
    const std::int64_t* integers;
    Fields fields;
};

// `value` as Python's repr writes it (nothing for a NaN), from `out` on; the
// end of what it wrote, at most real_width characters.
char* format_real(double value, char* out);

// Whether a field of any of the columns holds the separator, a quote or a
// line end, or may hold the separator for a column of numbers: a line of them
// joined would need quotes.
bool need_quotes(const Column* columns, std::int64_t count, std::int64_t n, char separator);

// The most characters that write_lines writes for n lines of these columns.
std::int64_t lines_bound(const Column* columns, std::int64_t count, std::int64_t n);

// Writes n lines into `out`, which holds `size` >= lines_bound characters:
// the fields of row i of each column in turn, separated, each line ended by
// "\n". Returns the characters written. Many lines are written in two
// halves at once, on two threads where `threads` is 2 or more, or on one
// where no thread can be started.
std::int64_t write_lines(const Column* columns, std::int64_t count, std::int64_t n, char separator, char* out,
                         std::int64_t size, int threads);

}  // namespace tolmkit
