// Strings as pyarrow lays them out, in the chunks that its parser returns:
// the pedigree reader's columns, read where they lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tolmkit {

// A run of strings stored one after another: string k of the run is
// data[offsets[k] .. offsets[k + 1]), in pyarrow's 32-bit offsets.
struct Piece {
    std::int64_t count;
    const std::int32_t* offsets;
    const std::uint8_t* data;
};

// Strings in pieces, numbered on from one piece to the next: the chunks of
// pyarrow's columns taken as they are, where a copy into one run would be as
// many fresh pages as the text.
class Strings {
public:
    explicit Strings(std::vector<Piece> pieces);

    std::int64_t count() const { return starts_.back(); }

    // String k. `piece` is the piece to look from, which a caller that asks
    // for rising k keeps between calls: the next string is then found in a
    // step or two.
    std::string_view at(std::int64_t k, std::size_t& piece) const {
        if (k < starts_[piece]) {
            piece = 0;
        }
        while (k >= starts_[piece + 1]) {
            ++piece;
        }
        const Piece& p = pieces_[piece];
        const std::int64_t local = k - starts_[piece];
        return {reinterpret_cast<const char*>(p.data) + p.offsets[local],
                static_cast<std::size_t>(p.offsets[local + 1] - p.offsets[local])};
    }

    // String k, its piece found by bisection.
    std::string_view at(std::int64_t k) const;

private:
    std::vector<Piece> pieces_;
    std::vector<std::int64_t> starts_;  // of each piece, then the count
};

}  // namespace tolmkit
