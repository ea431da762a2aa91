#include "identifiers.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "crew.hpp"

namespace tolmkit {

namespace {

// Strings whose slots are looked up ahead, so that the memory fetches of a
// batch overlap.
constexpr std::int64_t batch = 32;
// Parents a thread takes at a time.
constexpr std::int64_t parents_batch = std::int64_t{1} << 16;

// SplitMix64's finaliser (Stafford's thirteenth mix): every bit of the
// result depends on every bit of x.
std::uint64_t splitmix64_finalised(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// The hash of a string: eight bytes at a time multiplied in, then
// SplitMix64's finaliser, so that the low bits (the slot) and the high bits
// (the tag) both depend on every byte.
std::uint64_t hashed(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(length);
    std::int64_t at = 0;
    for (; at + 8 <= length; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        h = (h ^ word) * 0x9fb21c651e98df25ULL;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    if (at < length && length >= 8) {
        // The last eight bytes, those already taken shifted out: on a
        // little-endian machine the bytes of the loop below, in one load.
        std::uint64_t word;
        std::memcpy(&word, bytes + length - 8, 8);
        tail = word >> (8 * (8 - (length - at)));
    } else {
        // Byte by byte: a copy of a variable length would be a call.
        for (std::int64_t k = length - 1; k >= at; --k) {
            tail = (tail << 8) | bytes[k];
        }
    }
    return splitmix64_finalised(h ^ tail);
}

// Animals first, then the parents record by record (sire before dam), then
// the codes: step `step` of the matching looks at this string.
std::int64_t string_at(std::int64_t step, std::int64_t n) {
    if (step < n || step >= 3 * n) {
        return step;
    }
    const std::int64_t record = (step - n) / 2;
    return record + (1 + (step - n) % 2) * n;
}

// Which of animals, sires, dams and codes string k is: each keeps its own
// place among the pieces while the steps go up.
std::size_t role_of(std::int64_t k, std::int64_t n) {
    // Compared, not divided: a division by n for each string cost more than its hash.
    return static_cast<std::size_t>(k >= n) + static_cast<std::size_t>(k >= 2 * n) +
           static_cast<std::size_t>(k >= 3 * n);
}

// The table in parts, a power of two of them, each taking the strings whose
// hash begins with its number: the animals go into every part at once, one
// thread a part. Each part takes its strings in their order, and equal
// strings share a part, so the first of them is the one found whatever the
// number of parts.
class Parts {
public:
    Parts(const Strings& strings, std::uint64_t capacity, Pages pages, int most) {
        while (2 * count_ <= most && capacity / (2 * static_cast<std::uint64_t>(count_)) >= 16) {
            count_ *= 2;
            ++bits_;
        }
        for (int p = 0; p < count_; ++p) {
            tables_.push_back(
                std::make_unique<IdentifierTable>(strings, capacity / static_cast<std::uint64_t>(count_), pages));
        }
    }

    int count() const { return count_; }
    int of(std::uint64_t hash) const { return bits_ == 0 ? 0 : static_cast<int>(hash >> (64 - bits_)); }
    IdentifierTable& operator[](int part) { return *tables_[static_cast<std::size_t>(part)]; }
    void prefetch(std::uint64_t hash) const { tables_[static_cast<std::size_t>(of(hash))]->prefetch(hash); }
    std::int64_t find(std::int64_t k, std::string_view text, std::uint64_t hash, bool insert) {
        return (*this)[of(hash)].find(k, text, hash, insert);
    }
    bool crowded() const {
        return std::any_of(tables_.begin(), tables_.end(), [](const auto& table) { return table->crowded(); });
    }

private:
    int count_ = 1;
    int bits_ = 0;
    std::vector<std::unique_ptr<IdentifierTable>> tables_;
};

// Steps [from, to) of the matching in batches, the strings of part `part`
// alone (−1: all): the slots of a batch are fetched ahead, then look(k,
// text, hash) runs on each of its strings in turn, and the steps stop when
// it returns false. Returns whether all ran.
template <typename Look>
bool in_batches(const Parts& parts, int part, const Strings& strings, std::int64_t n, std::int64_t from,
                std::int64_t to, Pacer& pace, Look look) {
    std::uint64_t hashes[batch];
    std::int64_t entries[batch];
    std::string_view texts[batch];
    std::size_t pieces[4] = {0, 0, 0, 0};
    for (std::int64_t start = from; start < to; start += batch) {
        const std::int64_t size = start + batch <= to ? batch : to - start;
        std::int64_t kept = 0;
        for (std::int64_t j = 0; j < size; ++j) {
            const std::int64_t k = string_at(start + j, n);
            entries[kept] = k;
            texts[kept] = strings.at(k, pieces[role_of(k, n)]);
            hashes[kept] = hashed(texts[kept]);
            if (part < 0 || parts.of(hashes[kept]) == part) {
                parts.prefetch(hashes[kept++]);
            }
        }
        for (std::int64_t j = 0; j < kept; ++j) {
            if (!look(entries[j], texts[j], hashes[j])) {
                return false;
            }
        }
        pace(size);
    }
    return true;
}

// One pass of match_identifiers over a table of `capacity` slots; nothing
// when the table grew crowded. The animals go in first, into the table's
// parts at once, a thread a part. The parents are then looked up among them
// alone, which changes nothing in the table, so that `threads` threads take
// batches of them in turn; those that no animal names go in after, on this
// thread in the order of the records, which numbers them.
std::optional<Outside> matched(const Strings& strings, std::int64_t n, std::uint64_t capacity, std::int32_t* found,
                               Pacer& pace, Pages pages, int threads) {
    Parts parts(strings, capacity, pages, threads);
    std::atomic<bool> room{true};
    in_turn(parts.count(), parts.count(), 1, pace, [&](int, std::int64_t part, std::int64_t, Pacer& paced) {
        IdentifierTable& table = parts[static_cast<int>(part)];
        table.take_pages();
        const bool all = in_batches(parts, static_cast<int>(part), strings, n, 0, n, paced,
                                    [&](std::int64_t k, std::string_view text, std::uint64_t hash) {
                                        const std::int64_t other = table.find(k, text, hash, true);
                                        found[k] = static_cast<std::int32_t>(other < 0 ? k : other);
                                        return !table.crowded();
                                    });
        if (!all) {
            room = false;
        }
    });
    if (!room) {
        return std::nullopt;
    }
    in_turn(threads, 2 * n, parents_batch, pace, [&](int, std::int64_t from, std::int64_t size, Pacer& paced) {
        in_batches(parts, -1, strings, n, n + from, n + from + size, paced,
                   [&](std::int64_t k, std::string_view text, std::uint64_t hash) {
                       found[k] = static_cast<std::int32_t>(parts.find(k, text, hash, false));
                       return true;
                   });
    });
    // While they are numbered, found[k] of such a parent holds −2 − its
    // number, where a later parent of the same name finds it.
    Outside outside;
    std::size_t pieces[2] = {0, 0};
    for (std::int64_t step = n; step < 3 * n; ++step) {
        const std::int64_t k = string_at(step, n);
        if (found[k] >= 0) {
            continue;
        }
        const std::string_view text = strings.at(k, pieces[role_of(k, n) - 1]);
        const std::int64_t other = parts.find(k, text, hashed(text), true);
        if (parts.crowded()) {
            return std::nullopt;
        }
        const std::int32_t name = other < 0 ? static_cast<std::int32_t>(outside.first.size()) : -2 - found[other];
        if (other < 0) {
            outside.first.push_back(k);
        }
        found[k] = -2 - name;
        outside.entry.push_back(step - n);
        outside.name.push_back(name);
        pace();
    }
    for (const std::int64_t entry : outside.entry) {
        found[string_at(n + entry, n)] = -1;
    }
    in_batches(parts, -1, strings, n, 3 * n, strings.count(), pace,
               [&](std::int64_t k, std::string_view text, std::uint64_t hash) {
                   const std::int64_t other = parts.find(k, text, hash, false);
                   found[k] = static_cast<std::int32_t>(other >= 0 && other < n ? other : -1);
                   return true;
               });
    return outside;
}

}  // namespace

IdentifierTable::IdentifierTable(const Strings& strings, std::uint64_t capacity, Pages pages)
    : strings_(strings),
      block_(capacity * sizeof(Slot), pages == Pages::large),
      slots_(block_.as<Slot>()),
      mask_(capacity - 1),
      large_(pages == Pages::large) {}

void IdentifierTable::take_pages() {
    if (!large_) {
        return;
    }
    // Linux maps a large page that is read first to its shared page of
    // zeros, and the write that follows splits it into small pages: one slot
    // of each large page is written first, so that the look-ups find large
    // pages, each faulted in once.
    constexpr std::uint64_t slots_per_large_page = (std::uint64_t{1} << 21) / sizeof(Slot);
    for (std::uint64_t at = 0; at <= mask_; at += slots_per_large_page) {
        *static_cast<volatile std::uint32_t*>(&slots_[at].number) = 0;
    }
}

IdentifierTable::~IdentifierTable() = default;

Outside match_identifiers(const Strings& strings, std::int64_t n, std::int32_t* found, Pacer& pace, Pages pages,
                          int threads) {
    // At most two thirds full with the animals alone, room left for the
    // parents that are no animals; doubled whenever they crowd it. The table
    // is the largest memory of the reading, which it reaches all over.
    std::uint64_t capacity = 16;
    while (2 * capacity < 3 * static_cast<std::uint64_t>(n)) {
        capacity *= 2;
    }
    for (;; capacity *= 2) {
        auto outside = matched(strings, n, capacity, found, pace, pages, threads);
        if (outside) {
            return std::move(*outside);
        }
    }
}

}  // namespace tolmkit
