// Calls of a routine with free arguments: every parameter gets a buffer of a
// layout, element type, length and content decoded from the fuzzer's bytes,
// so that most calls break the contract somewhere. The routine's check runs,
// and where it accepts, the kernel. Each buffer is a heap block of exactly the
// bytes its layout spans, so that AddressSanitizer reports any access beyond.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "fuzz_source.hpp"

namespace tolm::fuzzing {

struct Format {
    const char* format;
    std::ptrdiff_t itemsize;
};

// What exporters report: the right formats in all their spellings, the wrong
// widths and kinds, byte order, structures and repeat counts.
inline Format format_for(FuzzSource& in, Element element) {
    static constexpr Format int32_formats[] = {{"i", 4}, {"<i", 4}, {"=i", 4}, {"l", 4}, {"@i", 4}};
    static constexpr Format float64_formats[] = {{"d", 8}, {"<d", 8}, {"=d", 8}};
    static constexpr Format others[] = {{"q", 8},  {"l", 8},    {"f", 4},  {"b", 1}, {"B", 1},
                                        {"", 1},   {">i", 4},   {">d", 8}, {"I", 4}, {"h", 2},
                                        {"2i", 8}, {"T{i}", 4}, {"?", 1},  {"e", 2}, {"Q", 8}};
    if (in.chance(4)) {
        Format other = others[in.below(sizeof others / sizeof others[0])];
        if (in.chance(8)) {
            other.itemsize = static_cast<std::ptrdiff_t>(in.below(17));
        }
        return other;
    }
    return element == Element::int32 ? int32_formats[in.below(5)] : float64_formats[in.below(3)];
}

class Buffers {
public:
    explicit Buffers(FuzzSource& in) : in_(in), base_length_(static_cast<std::int32_t>(in.below(48))) {}

    BufferLayout layout(Element element, const std::vector<BufferLayout>& earlier) {
        if (!earlier.empty() && in_.chance(12)) {
            return alias(earlier[in_.below(static_cast<std::uint32_t>(earlier.size()))]);
        }
        const Format format = format_for(in_, element);
        BufferLayout layout;
        layout.format = format.format;
        layout.itemsize = format.itemsize;
        layout.shape = shape(length());
        layout.strides = strides(layout.shape, layout.itemsize);
        place(layout, element);
        return layout;
    }

private:
    std::ptrdiff_t length() {
        switch (in_.below(8)) {
            case 0:
                return 1;
            case 1:
                return 0;
            case 2:
                return base_length_ + 1;
            case 3:
                return base_length_ > 0 ? base_length_ - 1 : 0;
            case 4:
                return static_cast<std::ptrdiff_t>(in_.below(64));
            default:
                return base_length_;
        }
    }

    std::vector<std::ptrdiff_t> shape(std::ptrdiff_t length) {
        switch (in_.below(10)) {
            case 0:
                return {};
            case 1:
                return {1, length};
            case 2:
                return {length, 1};
            case 3:
                return {2, length / 2};
            default:
                return {length};
        }
    }

    std::vector<std::ptrdiff_t> strides(const std::vector<std::ptrdiff_t>& shape, std::ptrdiff_t itemsize) {
        std::vector<std::ptrdiff_t> strides(shape.size());
        std::ptrdiff_t step = itemsize;
        for (std::size_t d = shape.size(); d-- > 0;) {
            strides[d] = step;
            step *= shape[d];
        }
        if (!strides.empty() && in_.chance(6)) {
            static constexpr std::ptrdiff_t factors[] = {2, -1, 0, -2};
            strides.back() *= factors[in_.below(4)];
        }
        return strides;
    }

    // A block of exactly the bytes that the layout spans, possibly shifted off
    // the alignment of its items, filled with content of the parameter's type.
    void place(BufferLayout& layout, Element element) {
        std::ptrdiff_t low = 0, high = layout.itemsize;
        for (std::size_t d = 0; d < layout.shape.size(); ++d) {
            if (layout.shape[d] == 0) {
                low = high = 0;
                break;
            }
            const std::ptrdiff_t reach = (layout.shape[d] - 1) * layout.strides[d];
            (reach < 0 ? low : high) += reach;
        }
        const std::ptrdiff_t shift = in_.chance(10) ? 1 + static_cast<std::ptrdiff_t>(in_.below(7)) : 0;
        const auto bytes = static_cast<std::size_t>(high - low + shift);
        blocks_.push_back(std::make_unique<unsigned char[]>(bytes));
        unsigned char* block = blocks_.back().get();
        fill(block, bytes, element);
        layout.data = block + shift - low;
    }

    void fill(unsigned char* block, std::size_t bytes, Element element) {
        std::size_t at = 0;
        if (element == Element::int32) {
            for (; at + 4 <= bytes; at += 4) {
                const std::int32_t value = in_.code(base_length_);
                std::memcpy(block + at, &value, 4);
            }
        } else {
            for (; at + 8 <= bytes; at += 8) {
                const double value = in_.real();
                std::memcpy(block + at, &value, 8);
            }
        }
        for (; at < bytes; ++at) {
            block[at] = in_.byte();
        }
    }

    // Another argument's memory: all of it, or all but its first element.
    BufferLayout alias(BufferLayout layout) {
        if (layout.shape.size() == 1 && layout.shape[0] > 0 && in_.chance(2)) {
            layout.data = static_cast<const unsigned char*>(layout.data) + layout.strides[0];
            layout.shape[0] -= 1;
        }
        return layout;
    }

    FuzzSource& in_;
    std::int32_t base_length_;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
};

template <typename... Pointer, std::size_t... I>
void call_kernel(void (*kernel)(Pointer...), const std::array<BufferLayout, sizeof...(Pointer)>& layouts,
                 std::index_sequence<I...>) {
    kernel(static_cast<Pointer>(const_cast<void*>(layouts[I].data))...);
}

// How the calls of a run ended, printed at exit when TOLM_FUZZ_TALLY is set.
struct Tally {
    long long type_errors = 0, value_errors = 0, memory_errors = 0, run = 0;

    ~Tally() {
        if (std::getenv("TOLM_FUZZ_TALLY") != nullptr) {
            std::fprintf(stderr, "tally: %lld TypeError, %lld ValueError, %lld MemoryError, %lld run\n", type_errors,
                         value_errors, memory_errors, run);
        }
    }
};

inline Tally tally;

template <typename... Pointer>
void fuzz_call(const std::uint8_t* data, std::size_t size, void (*kernel)(Pointer...),
               Verdict (*check)(const std::array<BufferLayout, sizeof...(Pointer)>&)) {
    FuzzSource in(data, size);
    Buffers buffers(in);
    std::vector<BufferLayout> built;
    for (const Element element : {element_of<Pointer>...}) {
        built.push_back(buffers.layout(element, built));
    }
    std::array<BufferLayout, sizeof...(Pointer)> layouts;
    std::move(built.begin(), built.end(), layouts.begin());
    if (const Verdict problem = check(layouts)) {
        if (problem->message.empty()) {
            std::abort();
        }
        ++(problem->kind == ArgumentError::Kind::type ? tally.type_errors : tally.value_errors);
        return;
    }
    try {
        call_kernel(kernel, layouts, std::index_sequence_for<Pointer...>{});
        ++tally.run;
    } catch (const std::bad_alloc&) {
        // fcoeff's refusal of its animal count, which its check lets through.
        ++tally.memory_errors;
    }
}

}  // namespace tolm::fuzzing
