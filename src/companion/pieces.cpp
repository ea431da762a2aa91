#include "pieces.hpp"

#include <algorithm>
#include <utility>

namespace tolmkit {

Strings::Strings(std::vector<Piece> pieces) : pieces_(std::move(pieces)), starts_{0} {
    for (const Piece& piece : pieces_) {
        starts_.push_back(starts_.back() + piece.count);
    }
}

std::string_view Strings::at(std::int64_t k) const {
    std::size_t piece =
        static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), k) - starts_.begin()) - 1;
    return at(k, piece);
}

}  // namespace tolmkit
