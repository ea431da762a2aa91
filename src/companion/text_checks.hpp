// The scans of a file's text for what it must not hold, eight bytes or a
// vector register at a time, and the reading of its columns of numbers:
// files of millions of lines are checked in the time that reading them takes
// anyway.
#pragma once

#include <cstdint>
#include <string_view>

#include "pacer.hpp"
#include "pieces.hpp"

namespace tolmkit {

// What one pass over a file's text finds: the first offsets of what it must
// not hold, and which of the bytes asked about it holds.
struct TextMarks {
    // The first control character: a byte below 0x20 other than a tab or a
    // line end, or 0x7f; −1 for none.
    std::int64_t control = -1;
    // The first byte of 0x80 or above, or −1.
    std::int64_t beyond_ascii = -1;
    // An offset within the first line that holds an odd number of quotes, one
    // that opens a field and is not closed, or −1. A quote inside a field is
    // doubled, so each line of a sound file holds an even number.
    std::int64_t unclosed_quote = -1;
    // The line end of the first empty line, or −1: where none is, each line
    // is a row of the file.
    std::int64_t empty_line = -1;
    // The bytes of the longest line with its line end, where that is more
    // than 64 KiB; else at most 64 KiB. A parser that takes the text in
    // blocks needs blocks larger than it.
    std::int64_t longest_line = 0;
    // Bit k set when the text holds byte wanted[k].
    std::uint64_t held = 0;
};

// The marks of text[0 .. size), and which of `wanted` (at most 64 bytes) it
// holds, on `threads` threads that take stretches of whole lines in turn:
// a file of hundreds of megabytes is read from memory once, not once for
// each question. `pace` counts a step a byte on this thread.
TextMarks text_marks(const std::uint8_t* text, std::int64_t size, std::string_view wanted, int threads, Pacer& pace);

// What kinds of byte text[0 .. size) holds: the sum of `small_letter` (a to
// z), `capital_letter` (A to Z) and `beyond_ascii` (0x80 and above), each
// for one such byte at least.
enum Cases : int { small_letter = 1, capital_letter = 2, beyond_ascii = 4 };
int letter_cases(const std::uint8_t* text, std::int64_t size);

// The first line of text[0 .. size), lines of blanks alone skipped, whose
// fields are not `fields`: its offset and its fields, or −1 and 0. With
// `separator` a space, fields are runs of other than spaces and tabs;
// otherwise they are separated by `separator` outside quotes, where each
// quote opens or closes (a doubled one does both). `pace` counts a step a
// byte.
struct Width {
    std::int64_t line = -1;
    std::int64_t fields = 0;
};
Width first_other_width(const std::uint8_t* text, std::int64_t size, char separator, std::int64_t fields, Pacer& pace);

// Each of `strings` read as a whole number as programs write one: 0, or a
// minus or none and 1 to 18 digits, the first not 0 (0012 and -0 are codes
// written as numbers, and 19 digits may not fit in 64 bits). values[k] is
// string k's number and empty[k] whether it is empty (its value then 0).
// Returns the first string that is neither, or −1.
std::int64_t whole_numbers(const Strings& strings, std::int64_t* values, bool* empty);

}  // namespace tolmkit
