#include "formatting.hpp"
#include "shortest.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace tolmkit {

namespace {

char* copy(char* out, const char* from, std::size_t count) {
    std::memcpy(out, from, count);
    return out + count;
}

char* zeros(char* out, int count) {
    for (int k = 0; k < count; ++k) {
        *out++ = '0';
    }
    return out;
}

// Python's layout of the shortest digits of a value, digits[0 .. count), the
// first of them at the power of ten `exponent`.
char* laid_out(const char* digits, int count, int exponent, char* out) {
    const int point = exponent + 1;  // digits[0 .. point) come before the decimal point
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            out = zeros(copy(out, "0.", 2), -point);
            return copy(out, digits, count);
        }
        if (point >= count) {
            out = zeros(copy(out, digits, count), point - count);
            return copy(out, ".0", 2);
        }
        out = copy(out, digits, point);
        *out++ = '.';
        return copy(out, digits + point, count - point);
    }
    *out++ = digits[0];
    if (count > 1) {
        *out++ = '.';
        out = copy(out, digits + 1, count - 1);
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int size = exponent < 0 ? -exponent : exponent;
    if (size < 10) {
        *out++ = '0';
    }
    return std::to_chars(out, out + 3, size).ptr;
}

// The most significant digits of a value whose exact decimal is its
// shortest: below 10^15, any other decimal of as many digits or fewer lies
// further from it than half the spacing of doubles.
constexpr std::uint64_t kShortest = 1000000000000000ULL;
constexpr int kPowersOfFive = 22;  // 5^22 < 10^15 < 5^23

// For m · 2^-k, with m odd and the product below kShortest, the digits of its
// exact decimal, as to_chars gives them, without calling it: a fast path for
// the sums of powers of one half that pedigrees are made of. False for other
// values.
bool exact_digits(double magnitude, char* digits, int& count, int& exponent) {
    static constexpr std::uint64_t kFive[kPowersOfFive + 1] = {
        1ULL, 5ULL, 25ULL, 125ULL, 625ULL, 3125ULL, 15625ULL, 78125ULL, 390625ULL, 1953125ULL, 9765625ULL,
        48828125ULL, 244140625ULL, 1220703125ULL, 6103515625ULL, 30517578125ULL, 152587890625ULL,
        762939453125ULL, 3814697265625ULL, 19073486328125ULL, 95367431640625ULL, 476837158203125ULL,
        2384185791015625ULL};
    std::uint64_t bits = 0;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const auto biased = static_cast<int>(bits >> 52);
    if (biased == 0) {  // subnormal: far below any short decimal
        return false;
    }
    std::uint64_t mantissa = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
    const int trailing = __builtin_ctzll(mantissa);
    mantissa >>= trailing;
    const int shift = biased - 1075 + trailing;  // magnitude = mantissa · 2^shift, mantissa odd
    std::uint64_t decimal = 0;
    int power = 0;  // magnitude = decimal · 10^power
    if (shift >= 0) {
        if (shift >= 50 || mantissa >= (kShortest >> shift)) {
            return false;
        }
        decimal = mantissa << shift;
        for (; decimal % 10 == 0; decimal /= 10) {
            ++power;
        }
    } else {
        if (-shift > kPowersOfFive || mantissa >= kShortest / kFive[-shift]) {
            return false;
        }
        decimal = mantissa * kFive[-shift];  // odd times a power of five: no trailing zero
        power = shift;
    }
    const std::to_chars_result written = std::to_chars(digits, digits + 20, decimal);
    count = static_cast<int>(written.ptr - digits);
    exponent = power + count - 1;
    return true;
}

// The digits that Python's repr chooses, laid out as repr lays them out.
char* format_real(double value, char* out) {
    if (std::isnan(value)) {
        return out;
    }
    if (std::isinf(value)) {
        return value < 0 ? copy(out, "-inf", 4) : copy(out, "inf", 3);
    }
    if (value == 0.0) {
        return std::signbit(value) ? copy(out, "-0.0", 4) : copy(out, "0.0", 3);
    }
    char digits[20];
    int count = 0;
    int exponent = 0;
    if (std::signbit(value)) {
        *out++ = '-';
    }
    if (exact_digits(std::fabs(value), digits, count, exponent)) {
        return laid_out(digits, count, exponent, out);
    }
    char scratch[SHORTEST_DIGITS];
    const char* shortest = shortest_digits(std::fabs(value), scratch, count, exponent);
    return laid_out(shortest, count, exponent, out);
}

}  // namespace

void format_reals(const double* values, std::int64_t n, std::int64_t* offsets, char* text) {
    offsets[0] = 0;
    char* out = text;
    for (std::int64_t i = 0; i < n; ++i) {
        out = format_real(values[i], out);
        offsets[i + 1] = out - text;
    }
}

void format_integers(const std::int64_t* values, std::int64_t n, std::int64_t* offsets, char* text) {
    offsets[0] = 0;
    char* out = text;
    for (std::int64_t i = 0; i < n; ++i) {
        out = std::to_chars(out, out + INTEGER_WIDTH, values[i]).ptr;
        offsets[i + 1] = out - text;
    }
}

bool need_quotes(const Fields* columns, std::int64_t count, std::int64_t n, char separator) {
    // memchr looks at many characters at a step, and text that needs quotes is rare.
    const char special[] = {separator, '"', '\n', '\r'};
    for (std::int64_t c = 0; c < count; ++c) {
        const char* begin = columns[c].text + columns[c].offsets[0];
        const auto size = static_cast<std::size_t>(columns[c].offsets[n] - columns[c].offsets[0]);
        for (const char character : special) {
            if (std::memchr(begin, character, size) != nullptr) {
                return true;
            }
        }
    }
    return false;
}

std::int64_t joined_size(const Fields* columns, std::int64_t count, std::int64_t n) {
    std::int64_t size = count * n;  // the separators and line ends
    for (std::int64_t c = 0; c < count; ++c) {
        size += columns[c].offsets[n] - columns[c].offsets[0];
    }
    return size;
}

void join_lines(const Fields* columns, std::int64_t count, std::int64_t n, char separator, char* out,
                std::int64_t size) {
    // Short fields are copied as a whole block of kBlock characters where both
    // sides have room, which compiles to two moves instead of a call.
    constexpr std::int64_t kBlock = 16;
    const char* end = out + size;
    for (std::int64_t i = 0; i < n; ++i) {
        for (std::int64_t c = 0; c < count; ++c) {
            const Fields& column = columns[c];
            const std::int64_t begin = column.offsets[i];
            const std::int64_t length = column.offsets[i + 1] - begin;
            if (length <= kBlock && end - out >= kBlock && column.size - begin >= kBlock) {
                std::memcpy(out, column.text + begin, kBlock);
                out += length;
            } else {
                out = copy(out, column.text + begin, static_cast<std::size_t>(length));
            }
            *out++ = c + 1 < count ? separator : '\n';
        }
    }
}

}  // namespace tolmkit
