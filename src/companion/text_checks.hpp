// The scans of a file's text for what it must not hold, eight bytes or a
// vector register at a time, and the reading of its columns of numbers:
// files of millions of lines are checked in the time that reading them takes
// anyway.
#pragma once

#include <cstdint>

#include "pieces.hpp"

namespace tolmkit {

// The offset of the first control character in text[0 .. size) (a byte below
// 0x20 other than a tab or a line end, or 0x7f), or −1.
std::int64_t first_control(const std::uint8_t* text, std::int64_t size);

// An offset within the first line of text[0 .. size) that holds an odd number
// of quotes, one that opens a field and is not closed, or −1. A quote inside
// a field is doubled, so each line of a sound file holds an even number.
std::int64_t unclosed_quote(const std::uint8_t* text, std::int64_t size);

// What kinds of byte text[0 .. size) holds: the sum of `small_letter` (a to
// z), `capital_letter` (A to Z) and `beyond_ascii` (0x80 and above), each
// for one such byte at least.
enum Cases : int { small_letter = 1, capital_letter = 2, beyond_ascii = 4 };
int letter_cases(const std::uint8_t* text, std::int64_t size);

// Each of `strings` read as a whole number as programs write one: 0, or a
// minus or none and 1 to 18 digits, the first not 0 (0012 and -0 are codes
// written as numbers, and 19 digits may not fit in 64 bits). values[k] is
// string k's number and empty[k] whether it is empty (its value then 0).
// Returns the first string that is neither, or −1.
std::int64_t whole_numbers(const Strings& strings, std::int64_t* values, bool* empty);

}  // namespace tolmkit
