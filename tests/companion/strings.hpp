// Strings laid out as the companion's routines read them, from a list.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pieces.hpp"

namespace tolmkit::testing_support {

// The strings in pieces of `size` (the last may be shorter), each its own
// offsets and bytes, with an empty piece between two.
struct StringTable {
    explicit StringTable(const std::vector<std::string>& strings, std::size_t size = 7) {
        for (std::size_t start = 0; start < strings.size(); start += size) {
            for (const std::size_t end : {start, std::min(start + size, strings.size())}) {
                offsets.emplace_back(1, 0);
                bytes.emplace_back();
                for (std::size_t k = start; k < end; ++k) {
                    bytes.back().insert(bytes.back().end(), strings[k].begin(), strings[k].end());
                    offsets.back().push_back(static_cast<std::int32_t>(bytes.back().size()));
                }
                bytes.back().push_back(0);  // data() of an empty piece is still a pointer
            }
        }
    }
    Strings strings() const {
        std::vector<Piece> pieces;
        for (std::size_t p = 0; p < offsets.size(); ++p) {
            pieces.push_back({static_cast<std::int64_t>(offsets[p].size()) - 1, offsets[p].data(), bytes[p].data()});
        }
        return Strings(std::move(pieces));
    }

    std::vector<std::vector<std::int32_t>> offsets;
    std::vector<std::vector<std::uint8_t>> bytes;
};

}  // namespace tolmkit::testing_support
