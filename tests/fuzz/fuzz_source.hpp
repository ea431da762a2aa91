// Decoding of a fuzzer's bytes into values. Reading past the end gives zeros,
// so every input decodes to something and short inputs stay short calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tolm::fuzzing {

class FuzzSource {
public:
    FuzzSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    // A number in 0 … limit − 1 (limit ≥ 1).
    std::uint32_t below(std::uint32_t limit) {
        std::uint32_t value = byte();
        if (limit > 256) {
            value = value << 8 | byte();
        }
        return value % limit;
    }

    bool chance(std::uint32_t in) { return below(in) == 0; }

    std::int32_t raw_int32() { return static_cast<std::int32_t>(raw<std::uint32_t>()); }

    // Mostly small numbers around `near`, where codes and counts are decided;
    // sometimes the edges of the type or the dominance routines' unknown code.
    std::int32_t code(std::int32_t near) {
        static constexpr std::int32_t edges[] = {
            -999,    -1,           std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
            1 << 30, (1 << 30) - 1};
        switch (below(8)) {
            case 0:
                return edges[below(sizeof edges / sizeof edges[0])];
            case 1:
                return raw_int32();
            default:
                return static_cast<std::int32_t>(below(static_cast<std::uint32_t>(near) + 4)) - 2;
        }
    }

    // Mostly the values of relationship matrices, sometimes any bits.
    double real() {
        static constexpr double values[] = {0.0,
                                            -0.0,
                                            0.5,
                                            1.0,
                                            0.25,
                                            1.5,
                                            0.125,
                                            -1.0,
                                            2.0,
                                            1e-300,
                                            std::numeric_limits<double>::quiet_NaN(),
                                            std::numeric_limits<double>::infinity()};
        if (chance(6)) {
            return raw<double>();
        }
        return values[below(sizeof values / sizeof values[0])];
    }

private:
    template <typename T>
    T raw() {
        unsigned char bytes[sizeof(T)];
        for (unsigned char& b : bytes) {
            b = byte();
        }
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace tolm::fuzzing
