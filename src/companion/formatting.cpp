#include "formatting.hpp"

#include <charconv>
#include <cmath>
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

// to_chars gives the shortest digits that round-trip, as Python's repr does;
// the layout around them follows repr's rule.
char* format_real(double value, char* out) {
    if (std::isnan(value)) {
        return out;
    }
    if (std::isinf(value)) {
        return value < 0 ? copy(out, "-inf", 4) : copy(out, "inf", 3);
    }
    char scientific[32];
    const std::to_chars_result written =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific);
    const char* p = scientific;
    if (*p == '-') {
        *out++ = *p++;
    }
    char digits[20];
    int count = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.') {
            digits[count++] = *p;
        }
    }
    ++p;
    const bool negative_exponent = *p++ == '-';
    int exponent = 0;
    std::from_chars(p, written.ptr, exponent);
    if (negative_exponent) {
        exponent = -exponent;
    }
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
    *out++ = negative_exponent ? '-' : '+';
    const int size = exponent < 0 ? -exponent : exponent;
    if (size < 10) {
        *out++ = '0';
    }
    return std::to_chars(out, out + 3, size).ptr;
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
