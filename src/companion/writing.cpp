#include "writing.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace tolmkit {

namespace {

char* copy(char* out, const char* from, std::size_t count) {
    std::memcpy(out, from, count);
    return out + count;
}

// The counts of digits and of the decimal point's place are ints, never negative here.
char* copy(char* out, const char* from, int count) { return copy(out, from, static_cast<std::size_t>(count)); }

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
constexpr std::uint64_t exact_below = 1000000000000000ULL;
constexpr int powers_of_five = 22;  // 5^22 < 10^15 < 5^23

// For m · 2^-k, with m odd and the product below exact_below, the digits of its
// exact decimal, as shortest_digits gives them, with less work: a fast path for
// the sums of powers of one half that pedigrees are made of. False for other
// values.
bool exact_digits(double magnitude, char* digits, int& count, int& exponent) {
    static constexpr std::uint64_t five_to_the[powers_of_five + 1] = {1ULL,
                                                                      5ULL,
                                                                      25ULL,
                                                                      125ULL,
                                                                      625ULL,
                                                                      3125ULL,
                                                                      15625ULL,
                                                                      78125ULL,
                                                                      390625ULL,
                                                                      1953125ULL,
                                                                      9765625ULL,
                                                                      48828125ULL,
                                                                      244140625ULL,
                                                                      1220703125ULL,
                                                                      6103515625ULL,
                                                                      30517578125ULL,
                                                                      152587890625ULL,
                                                                      762939453125ULL,
                                                                      3814697265625ULL,
                                                                      19073486328125ULL,
                                                                      95367431640625ULL,
                                                                      476837158203125ULL,
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
        if (shift >= 50 || mantissa >= (exact_below >> shift)) {
            return false;
        }
        decimal = mantissa << shift;
        for (; decimal % 10 == 0; decimal /= 10) {
            ++power;
        }
    } else {
        if (-shift > powers_of_five || mantissa >= exact_below / five_to_the[-shift]) {
            return false;
        }
        decimal = mantissa * five_to_the[-shift];  // odd times a power of five: no trailing zero
        power = shift;
    }
    const std::to_chars_result written = std::to_chars(digits, digits + 20, decimal);
    count = static_cast<int>(written.ptr - digits);
    exponent = power + count - 1;
    return true;
}

// The shortest digits that read back to `positive`, a positive finite
// double, which std::to_chars chooses (the closest of them, ties to even, as
// repr): digits[0 .. count), without trailing zeros, the first at the power
// of ten `exponent`. From to_chars' scientific form, "d.ddde+xx".
void shortest_digits(double positive, char* digits, int& count, int& exponent) {
    char text[32];
    char* const end = std::to_chars(text, text + sizeof text, positive, std::chars_format::scientific).ptr;
    char* const e = std::find(text, end, 'e');
    digits[0] = text[0];
    count = e - text > 1 ? static_cast<int>(e - text) - 1 : 1;  // "d.ddd" or "d"
    std::memcpy(digits + 1, text + 2, static_cast<std::size_t>(count - 1));
    std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), end, exponent);
}

// Every character that a number may be written with ("-1.5e+300", "inf"), and
// the NUL that ends the string, which strchr finds too.
constexpr char number_characters[] = "0123456789+-.einf";

char* write_field(const Column& column, std::int64_t i, char* out, const char* end) {
    if (column.reals != nullptr) {
        return format_real(column.reals[i], out);
    }
    if (column.integers != nullptr) {
        return std::to_chars(out, out + integer_width, column.integers[i]).ptr;
    }
    // Short fields are copied as a whole block of `block` characters where
    // both sides have room, which compiles to two moves instead of a call.
    constexpr std::int64_t block = 16;
    const Fields& fields = column.fields;
    const std::int64_t begin = fields.offsets[i];
    const std::int64_t length = fields.offsets[i + 1] - begin;
    if (length <= block && end - out >= block && fields.size - begin >= block) {
        std::memcpy(out, fields.text + begin, block);
        return out + length;
    }
    return copy(out, fields.text + begin, static_cast<std::size_t>(length));
}

// Fewer lines are written on one thread: starting another would cost more
// than it saves.
constexpr std::int64_t lines_on_two_threads = 8192;

// The most characters of lines begin .. end.
std::int64_t lines_bound(const Column* columns, std::int64_t count, std::int64_t begin, std::int64_t end) {
    const std::int64_t n = end - begin;
    std::int64_t size = count * n;  // the separators and line ends
    for (std::int64_t c = 0; c < count; ++c) {
        const Column& column = columns[c];
        if (column.reals != nullptr) {
            size += real_width * n;
        } else if (column.integers != nullptr) {
            size += integer_width * n;
        } else {
            size += column.fields.offsets[end] - column.fields.offsets[begin];
        }
    }
    return size;
}

// Lines begin .. end written into out[0 .. size); the characters written.
std::int64_t lines_written(const Column* columns, std::int64_t count, std::int64_t begin, std::int64_t end,
                           char separator, char* out, std::int64_t size) {
    char* const start = out;
    const char* const limit = out + size;
    for (std::int64_t i = begin; i < end; ++i) {
        for (std::int64_t c = 0; c < count; ++c) {
            out = write_field(columns[c], i, out, limit);
            *out++ = c + 1 < count ? separator : '\n';
        }
    }
    return out - start;
}

}  // namespace

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
    if (!exact_digits(std::fabs(value), digits, count, exponent)) {
        shortest_digits(std::fabs(value), digits, count, exponent);
    }
    return laid_out(digits, count, exponent, out);
}

bool need_quotes(const Column* columns, std::int64_t count, std::int64_t n, char separator) {
    // memchr looks at many characters at a step, and text that needs quotes is rare.
    const char special[] = {separator, '"', '\n', '\r'};
    const bool in_numbers = std::strchr(number_characters, separator) != nullptr;
    for (std::int64_t c = 0; c < count; ++c) {
        const Column& column = columns[c];
        if (column.reals != nullptr || column.integers != nullptr) {
            if (in_numbers) {
                return true;
            }
            continue;
        }
        const char* begin = column.fields.text + column.fields.offsets[0];
        const auto size = static_cast<std::size_t>(column.fields.offsets[n] - column.fields.offsets[0]);
        for (const char character : special) {
            if (std::memchr(begin, character, size) != nullptr) {
                return true;
            }
        }
    }
    return false;
}

std::int64_t lines_bound(const Column* columns, std::int64_t count, std::int64_t n) {
    return lines_bound(columns, count, 0, n);
}

std::int64_t write_lines(const Column* columns, std::int64_t count, std::int64_t n, char separator, char* out,
                         std::int64_t size, int threads) {
    if (threads < 2 || n < lines_on_two_threads) {
        return lines_written(columns, count, 0, n, separator, out, size);
    }
    // The second half of the lines goes after the room the first may take,
    // and is moved up to it once both are written.
    const std::int64_t half = n / 2;
    const std::int64_t room = lines_bound(columns, count, half);
    std::int64_t second_size = 0;
    std::thread other;
    try {
        other = std::thread(
            [&] { second_size = lines_written(columns, count, half, n, separator, out + room, size - room); });
    } catch (const std::system_error&) {  // no thread to be had: one does it all
        return lines_written(columns, count, 0, n, separator, out, size);
    } catch (const std::bad_alloc&) {
        return lines_written(columns, count, 0, n, separator, out, size);
    }
    const std::int64_t first_size = lines_written(columns, count, 0, half, separator, out, room);
    other.join();
    std::memmove(out + first_size, out + room, static_cast<std::size_t>(second_size));
    return first_size + second_size;
}

}  // namespace tolmkit
