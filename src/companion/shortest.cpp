#include "shortest.hpp"

#include <cstdint>
#include <cstring>

namespace tolmkit {

namespace {

__extension__ typedef unsigned __int128 Wide;

// (x * multiplier + added) >> shift: the floor of a logarithm of x, over the
// x on which powers_of_ten.py proves it.
struct Shortcut {
    int multiplier;
    int added;
    int shift;
};

#include "powers_of_ten.inc"

int logarithm(Shortcut shortcut, int x) {
    return (x * shortcut.multiplier + shortcut.added) >> shortcut.shift;
}

// x * g / 2^128 rounded to odd: its integer part, the lowest bit set where a
// fraction is left. Rounding to odd keeps every comparison with an even
// integer, and the integer part divided by four, of the exact product.
// powers_of_ten.py proves that the first kFractionBits of the fraction tell
// whether there is one.
std::uint64_t scaled(std::uint64_t x, const std::uint64_t* g) {
    const Wide top = Wide{x} * g[0] + ((Wide{x} * g[1]) >> 64);  // below 2^123: x < 2^59
    const auto low = static_cast<std::uint64_t>(x * g[1]);
    const auto fraction = static_cast<std::uint64_t>(top);
    return static_cast<std::uint64_t>(top >> 64) | ((fraction | low >> (128 - kFractionBits)) != 0);
}

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void pair(char* out, std::uint32_t value) {
    std::memcpy(out, kPairs + 2 * value, 2);
}

// value < 10^8 as eight digits, leading zeros included.
void eight(char* out, std::uint32_t value) {
    const std::uint32_t high = value / 10000;
    const std::uint32_t low = value % 10000;
    pair(out, high / 100);
    pair(out + 2, high % 100);
    pair(out + 4, low / 100);
    pair(out + 6, low % 100);
}

}  // namespace

// With v = c * 2^q, the doubles that read back to v are those within the
// bounds halfway to its neighbours, the bounds themselves where c is even.
// Scaled by 10^-k so that the bounds lie between 1 and 10 apart, s = floor(v)
// and s + 1 hold the closest candidates, and one multiple of ten at most lies
// within: the shorter one, if there is one.
const char* shortest_digits(double positive, char* scratch, int& count, int& exponent) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &positive, sizeof bits);
    const auto biased = static_cast<int>(bits >> 52);
    const std::uint64_t fraction = bits & ((1ULL << 52) - 1);
    const std::uint64_t c = biased == 0 ? fraction : fraction | 1ULL << 52;
    const int q = (biased == 0 ? 1 : biased) - 1075;
    // Where c is a power of two above the least normal binade, the double
    // below lies half as far as the one above.
    const bool symmetric = fraction != 0 || biased <= 1;
    const int k = logarithm(symmetric ? kLog10Two : kLog10TwoThreeQuarters, q);
    const std::uint64_t* g = kPowers[k - kLowestPower];
    const int t = q + logarithm(kLog2Ten, -k) + 1;
    // Four times v and its bounds, scaled: comparisons with 4s, 4s + 2, ... are
    // exact. Where c is odd the bounds round away from v: one step inward.
    const std::uint64_t middle = scaled(c << (2 + t), g);
    const std::uint64_t lower = scaled(((c << 2) - (symmetric ? 2 : 1)) << t, g) + (c & 1);
    const std::uint64_t upper = scaled(((c << 2) + 2) << t, g) - (c & 1);
    const std::uint64_t s = middle >> 2;
    const std::uint64_t tens = s / 10;
    const bool tens_down = lower <= tens * 40;
    const bool tens_up = tens * 40 + 40 <= upper;
    std::uint64_t digits = 0;
    int last = k;  // the power of ten of the last digit
    if (tens_down || tens_up) {
        digits = tens + tens_up;
        last = k + 1;
    } else {
        const bool down = lower <= s * 4;
        const bool up = s * 4 + 4 <= upper;
        // Halfway between s and s + 1, the even one, as repr.
        const bool above_half = middle > s * 4 + 2 || (middle == s * 4 + 2 && (s & 1) != 0);
        digits = s + (!down || (up && above_half));
    }
    // Below 10^17: v scaled is below 2^53 * 10.
    const std::uint64_t high = digits / 100000000;
    scratch[0] = static_cast<char>('0' + high / 100000000);
    eight(scratch + 1, static_cast<std::uint32_t>(high % 100000000));
    eight(scratch + 9, static_cast<std::uint32_t>(digits % 100000000));
    int first = 0;
    while (scratch[first] == '0') {
        ++first;
    }
    int end = SHORTEST_DIGITS;
    while (scratch[end - 1] == '0') {
        --end;
    }
    count = end - first;
    exponent = last + SHORTEST_DIGITS - 1 - first;
    return scratch + first;
}

}  // namespace tolmkit
