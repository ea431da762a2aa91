// The scans of a file's text for what it must not hold, eight bytes or a
// vector register at a time: files of millions of lines are checked in the
// time that reading them takes anyway.
#pragma once

#include <cstdint>

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

}  // namespace tolmkit
