#include "text_checks.hpp"

#include <cstring>
#include <string_view>

namespace tolmkit {

namespace {

constexpr std::uint64_t low_seven_bits = 0x7f7f7f7f7f7f7f7fULL;

// The high bit of each byte of `word` that equals c, and no other bit: the
// exact zero-byte test of word ^ c (SWAR, with no carry between bytes), which
// unlike the shorter (x - 0x01..01) & ~x & 0x80..80 marks no byte above a match.
std::uint64_t bytes_equal(std::uint64_t word, std::uint8_t c) {
    const std::uint64_t x = word ^ (0x0101010101010101ULL * c);
    return ~(((x & low_seven_bits) + low_seven_bits) | x | low_seven_bits);
}

// With & and | rather than && and ||, so that a loop of it vectorises.
unsigned is_control(std::uint8_t c) {
    return (static_cast<unsigned>(c < 0x20) & static_cast<unsigned>(c != '\t') & static_cast<unsigned>(c != '\n')) |
           static_cast<unsigned>(c == 0x7f);
}

// 1 when an odd number of the bytes' high bits are set, else 0.
std::uint64_t parity(std::uint64_t marks) {
    marks ^= marks >> 32;
    marks ^= marks >> 16;
    marks ^= marks >> 8;
    return (marks >> 7) & 1;
}

// Whether `text` is a whole number written plainly (see whole_numbers), its
// value then in `value`.
bool whole_number(std::string_view text, std::int64_t& value) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.empty() || digits.size() > 18 || (digits.front() == '0' && (digits.size() > 1 || negative))) {
        return false;
    }
    std::int64_t number = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        number = 10 * number + (digit - '0');
    }
    value = negative ? -number : number;
    return true;
}

}  // namespace

std::int64_t first_control(const std::uint8_t* text, std::int64_t size) {
    // Whole blocks without an early exit, which the compiler turns into
    // vector instructions; the block that holds one is looked at again.
    constexpr std::int64_t block = 4096;
    for (std::int64_t start = 0; start < size; start += block) {
        const std::int64_t end = start + block < size ? start + block : size;
        unsigned found = 0;
        for (std::int64_t at = start; at < end; ++at) {
            found |= is_control(text[at]);
        }
        for (std::int64_t at = start; found != 0 && at < end; ++at) {
            if (is_control(text[at]) != 0) {
                return at;
            }
        }
    }
    return -1;
}

int letter_cases(const std::uint8_t* text, std::int64_t size) {
    // Without an early exit, which the compiler turns into vector instructions.
    unsigned small = 0, capital = 0, beyond = 0;
    for (std::int64_t at = 0; at < size; ++at) {
        const std::uint8_t byte = text[at];
        small |= static_cast<unsigned>(static_cast<std::uint8_t>(byte - 'a') < 26);
        capital |= static_cast<unsigned>(static_cast<std::uint8_t>(byte - 'A') < 26);
        beyond |= byte >> 7;
    }
    return (small != 0 ? small_letter : 0) | (capital != 0 ? capital_letter : 0) | (beyond != 0 ? beyond_ascii : 0);
}

std::int64_t unclosed_quote(const std::uint8_t* text, std::int64_t size) {
    // Eight bytes at a time: only the parity of the quotes before each line
    // end counts, taken from the high bits that mark the bytes.
    std::uint64_t odd = 0;
    std::int64_t at = 0;
    for (; at + 8 <= size; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text + at, 8);
        std::uint64_t quotes = bytes_equal(word, '"');
        for (std::uint64_t ends = bytes_equal(word, '\n'); ends != 0; ends &= ends - 1) {
            const std::uint64_t before = (ends & (~ends + 1)) - 1;
            odd ^= parity(quotes & before);
            if (odd != 0) {
                return at + __builtin_ctzll(ends) / 8;
            }
            quotes &= ~before;
        }
        odd ^= parity(quotes);
    }
    for (; at < size; ++at) {
        odd ^= static_cast<std::uint64_t>(text[at] == '"');
        if (text[at] == '\n' && odd != 0) {
            return at;
        }
    }
    return odd != 0 ? size - 1 : -1;
}

std::int64_t whole_numbers(const Strings& strings, std::int64_t* values, bool* empty) {
    std::size_t piece = 0;
    for (std::int64_t k = 0; k < strings.count(); ++k) {
        const std::string_view text = strings.at(k, piece);
        values[k] = 0;
        empty[k] = text.empty();
        if (!text.empty() && !whole_number(text, values[k])) {
            return k;
        }
    }
    return -1;
}

}  // namespace tolmkit
