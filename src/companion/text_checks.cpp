#include "text_checks.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "crew.hpp"

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

// A stretch of text is read in blocks small enough to stay in the cache
// while each question is asked of them: the text comes from memory once.
constexpr std::int64_t block_bytes = std::int64_t{1} << 16;
// Threads take stretches of about this many bytes, cut after a line end.
constexpr std::int64_t stretch_bytes = std::int64_t{1} << 24;

// The offset of the first byte of text[0 .. size) that `mark` gives other
// than 0, or −1; `mark` is given the byte's address, and may read the one
// before where the caller has one. Whole runs without an early exit, which
// the compiler turns into vector instructions; the run that holds one is
// looked at again.
template <typename Mark>
std::int64_t first_marked(const std::uint8_t* text, std::int64_t size, Mark mark) {
    constexpr std::int64_t run = 4096;
    for (std::int64_t start = 0; start < size; start += run) {
        const std::int64_t end = start + run < size ? start + run : size;
        decltype(mark(text)) found = 0;
        for (std::int64_t at = start; at < end; ++at) {
            found |= mark(text + at);
        }
        for (std::int64_t at = start; found != 0 && at < end; ++at) {
            if (mark(text + at) != 0) {
                return at;
            }
        }
    }
    return -1;
}

// The offset of the first line end in text[from .. to) after an odd number
// of quotes since the last one, or −1; `odd` carries that parity from the
// bytes before `from` and on to those after `to`. Eight bytes at a time:
// only the parity of the quotes before each line end counts, taken from the
// high bits that mark the bytes.
std::int64_t odd_line_end(const std::uint8_t* text, std::int64_t from, std::int64_t to, std::uint64_t& odd) {
    std::int64_t at = from;
    for (; at + 8 <= to; at += 8) {
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
    for (; at < to; ++at) {
        odd ^= static_cast<std::uint64_t>(text[at] == '"');
        if (text[at] == '\n' && odd != 0) {
            return at;
        }
    }
    return -1;
}

// `offset` within a block that starts at `start`, or −1 for none.
std::int64_t placed(std::int64_t offset, std::int64_t start) { return offset < 0 ? -1 : start + offset; }

// The marks of text[from .. to), a stretch that begins at the start of a line.
TextMarks stretch_marks(const std::uint8_t* text, std::int64_t from, std::int64_t to, std::string_view wanted) {
    const auto control = [](const std::uint8_t* c) { return is_control(*c); };
    // In 8-bit lanes, the most bytes to a vector register.
    const auto high = [](const std::uint8_t* c) { return static_cast<std::uint8_t>(*c >> 7); };
    // A line end after a line end ends an empty line.
    const auto empty = [](const std::uint8_t* c) {
        return static_cast<std::uint8_t>(static_cast<unsigned>(c[-1] == '\n') & static_cast<unsigned>(c[0] == '\n'));
    };
    TextMarks marks;
    if (from < to && text[from] == '\n') {
        marks.empty_line = from;
    }
    std::uint64_t odd = 0;
    // The last line end before the block: a line within a block is shorter
    // than the block, one across blocks is measured from it to the first
    // line end after.
    std::int64_t line_end = from - 1;
    for (std::int64_t start = from; start < to; start += block_bytes) {
        const std::int64_t size = std::min(block_bytes, to - start);
        const auto bytes = static_cast<std::size_t>(size);
        if (const void* first = std::memchr(text + start, '\n', bytes)) {
            const std::int64_t at = static_cast<const std::uint8_t*>(first) - text;
            marks.longest_line = std::max(marks.longest_line, at - line_end);
            line_end = static_cast<const std::uint8_t*>(memrchr(text + start, '\n', bytes)) - text;
        }
        if (marks.empty_line < 0) {
            // The stretch's first byte, at a line start, is looked at above.
            const std::int64_t after = std::max(start, from + 1);
            marks.empty_line = placed(first_marked(text + after, start + size - after, empty), after);
        }
        if (marks.control < 0) {
            marks.control = placed(first_marked(text + start, size, control), start);
        }
        if (marks.beyond_ascii < 0) {
            marks.beyond_ascii = placed(first_marked(text + start, size, high), start);
        }
        if (marks.unclosed_quote < 0) {
            marks.unclosed_quote = odd_line_end(text, start, start + size, odd);
        }
        for (std::size_t k = 0; k < wanted.size(); ++k) {
            if ((marks.held >> k & 1) == 0 && std::memchr(text + start, wanted[k], static_cast<std::size_t>(size))) {
                marks.held |= std::uint64_t{1} << k;
            }
        }
    }
    // A last line without a line end that leaves a quote open.
    if (marks.unclosed_quote < 0 && odd != 0) {
        marks.unclosed_quote = to - 1;
    }
    marks.longest_line = std::max(marks.longest_line, to - 1 - line_end);
    return marks;
}

// Where the stretches begin: after the first line end at or past each
// multiple of stretch_bytes, and at `size` for the end of the last.
std::vector<std::int64_t> stretch_starts(const std::uint8_t* text, std::int64_t size) {
    std::vector<std::int64_t> starts{0};
    for (std::int64_t at = stretch_bytes; at < size;) {
        const void* end = std::memchr(text + at, '\n', static_cast<std::size_t>(size - at));
        if (end == nullptr) {
            break;
        }
        const std::int64_t next = static_cast<const std::uint8_t*>(end) - text + 1;
        if (next < size) {
            starts.push_back(next);
        }
        at = next + stretch_bytes;
    }
    starts.push_back(size);
    return starts;
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

TextMarks text_marks(const std::uint8_t* text, std::int64_t size, std::string_view wanted, int threads, Pacer& pace) {
    if (wanted.size() > 64) {
        throw std::invalid_argument("text_marks: at most 64 bytes can be wanted");
    }
    const std::vector<std::int64_t> starts = stretch_starts(text, size);
    const auto stretches = static_cast<std::int64_t>(starts.size()) - 1;
    std::vector<TextMarks> found(static_cast<std::size_t>(stretches));
    in_turn(threads, stretches, 1, pace, [&](int, std::int64_t s, std::int64_t, Pacer& paced) {
        const auto k = static_cast<std::size_t>(s);
        found[k] = stretch_marks(text, starts[k], starts[k + 1], wanted);
        paced(starts[k + 1] - starts[k]);
    });
    // The first of each offset is in the first stretch that has one.
    TextMarks marks;
    for (const TextMarks& stretch : found) {
        marks.control = marks.control < 0 ? stretch.control : marks.control;
        marks.beyond_ascii = marks.beyond_ascii < 0 ? stretch.beyond_ascii : marks.beyond_ascii;
        marks.unclosed_quote = marks.unclosed_quote < 0 ? stretch.unclosed_quote : marks.unclosed_quote;
        marks.empty_line = marks.empty_line < 0 ? stretch.empty_line : marks.empty_line;
        marks.longest_line = std::max(marks.longest_line, stretch.longest_line);
        marks.held |= stretch.held;
    }
    return marks;
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

Width first_other_width(const std::uint8_t* text, std::int64_t size, char separator, std::int64_t fields, Pacer& pace) {
    const auto mark = static_cast<std::uint8_t>(separator);
    const bool blanks = separator == ' ';
    for (std::int64_t start = 0; start < size;) {
        const auto* end =
            static_cast<const std::uint8_t*>(std::memchr(text + start, '\n', static_cast<std::size_t>(size - start)));
        const std::int64_t stop = end == nullptr ? size : end - text;
        std::int64_t count = 0;
        bool visible = false;
        bool field = false;
        bool quoted = false;
        for (std::int64_t at = start; at < stop; ++at) {
            const std::uint8_t byte = text[at];
            const bool blank = byte == ' ' || byte == '\t';
            visible = visible || !blank;
            if (blanks) {
                count += static_cast<std::int64_t>(!blank && !field);
                field = !blank;
            } else if (byte == '"') {
                quoted = !quoted;
            } else if (byte == mark && !quoted) {
                ++count;
            }
        }
        count += static_cast<std::int64_t>(!blanks);
        if (visible && count != fields) {
            return {start, count};
        }
        pace(stop + 1 - start);
        start = stop + 1;
    }
    return {};
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
