#include "identifiers.hpp"

#include <cstddef>
#include <cstring>

namespace tolmkit {

namespace {

constexpr std::uint64_t kEmpty = 0;
// Strings whose slots are looked up ahead, so that the memory fetches of a
// batch overlap instead of following one another.
constexpr std::int64_t kBatch = 32;

std::uint64_t mixed(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t hash(const std::uint8_t* bytes, std::int64_t length) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(length);
    std::int64_t at = 0;
    for (; at + 8 <= length; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        h = (h ^ word) * 0x9fb21c651e98df25ULL;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, bytes + at, static_cast<std::size_t>(length - at));
    return mixed(h ^ tail);
}

// An open-addressing table of string numbers: a slot holds the upper half of
// the string's hash and its number + 1, 0 when empty.
class Table {
   public:
    Table(const Strings& strings, std::uint64_t* slots, std::uint64_t capacity)
        : strings_(strings), slots_(slots), mask_(capacity - 1) {
        std::memset(slots, 0, capacity * sizeof(std::uint64_t));
    }

    std::uint64_t start(std::uint64_t h) const { return h & mask_; }

    void prefetch(std::uint64_t h) const { __builtin_prefetch(slots_ + start(h)); }

    // The string in the first slot that h probes, or −1: fetched ahead, as
    // most look-ups end there.
    std::int64_t likely(std::uint64_t h) const {
        return static_cast<std::int64_t>(slots_[start(h)] & 0xffffffffULL) - 1;
    }

    // The number of the first string equal to string k, inserting k when
    // `insert` and there is none; −1 for none without inserting.
    std::int64_t find(std::int64_t k, std::uint64_t h, bool insert) {
        const std::uint64_t tag = h >> 32;
        const std::int64_t begin = strings_.offsets[k];
        const std::int64_t length = strings_.offsets[k + 1] - begin;
        for (std::uint64_t slot = start(h);; slot = (slot + 1) & mask_) {
            const std::uint64_t held = slots_[slot];
            if (held == kEmpty) {
                if (insert) {
                    slots_[slot] = (tag << 32) | static_cast<std::uint64_t>(k + 1);
                    ++used_;
                }
                return -1;
            }
            if ((held >> 32) == tag) {
                const auto other = static_cast<std::int64_t>(held & 0xffffffffULL) - 1;
                const std::int64_t other_begin = strings_.offsets[other];
                if (strings_.offsets[other + 1] - other_begin == length &&
                    std::memcmp(strings_.data + begin, strings_.data + other_begin,
                                static_cast<std::size_t>(length)) == 0) {
                    return other;
                }
            }
        }
    }

    bool crowded() const { return 4 * used_ > 3 * (mask_ + 1); }

   private:
    const Strings& strings_;
    std::uint64_t* slots_;
    std::uint64_t mask_;
    std::uint64_t used_ = 0;
};

}  // namespace

std::int64_t match_identifiers(const Strings& strings, std::int64_t n, std::uint64_t* slots, std::uint64_t capacity,
                               std::int64_t* found, std::int64_t* outside, std::int64_t* first) {
    Table table(strings, slots, capacity);
    std::int64_t names = 0;
    std::uint64_t hashes[kBatch];
    std::int64_t entries[kBatch];
    std::int64_t candidates[kBatch];
    // Animals first, then the parents record by record, then the codes.
    const std::int64_t total = strings.count;
    auto entry = [&](std::int64_t step) -> std::int64_t {
        if (step < n || step >= 3 * n) {
            return step;
        }
        const std::int64_t record = (step - n) / 2;
        return record + (1 + (step - n) % 2) * n;
    };
    for (std::int64_t batch = 0; batch < total; batch += kBatch) {
        const std::int64_t size = batch + kBatch <= total ? kBatch : total - batch;
        for (std::int64_t j = 0; j < size; ++j) {
            const std::int64_t k = entry(batch + j);
            const std::int64_t begin = strings.offsets[k];
            entries[j] = k;
            hashes[j] = hash(strings.data + begin, strings.offsets[k + 1] - begin);
            table.prefetch(hashes[j]);
        }
        for (std::int64_t j = 0; j < size; ++j) {
            candidates[j] = table.likely(hashes[j]);
            if (candidates[j] >= 0) {
                __builtin_prefetch(strings.offsets + candidates[j]);
            }
        }
        for (std::int64_t j = 0; j < size; ++j) {
            if (candidates[j] >= 0) {
                __builtin_prefetch(strings.data + strings.offsets[candidates[j]]);
            }
        }
        for (std::int64_t j = 0; j < size; ++j) {
            const std::int64_t k = entries[j];
            const bool parent = k >= n && k < 3 * n;
            const std::int64_t other = table.find(k, hashes[j], k < 3 * n);
            if (k < n) {
                found[k] = other < 0 ? k : other;
                outside[k] = -1;
            } else if (other >= 0 && other < n) {
                found[k] = other;
                outside[k] = -1;
            } else {
                found[k] = -1;
                if (!parent) {
                    outside[k] = -1;
                } else if (other < 0) {
                    first[names] = k;
                    outside[k] = names++;
                } else {
                    outside[k] = outside[other];
                }
            }
        }
        if (table.crowded()) {
            return -1;
        }
    }
    return names;
}

std::int64_t generations(std::int64_t n, const std::int64_t* sire, const std::int64_t* dam, std::int64_t* generation,
                         std::int64_t* order, std::int64_t* work) {
    constexpr std::int64_t kUnseen = -2;
    constexpr std::int64_t kOpen = -3;
    for (std::int64_t i = 0; i < n; ++i) {
        generation[i] = kUnseen;
    }
    // Ancestors first by a search up the parents, `order` its stack.
    std::int64_t* stack = order;
    for (std::int64_t root = 0; root < n; ++root) {
        if (generation[root] != kUnseen) {
            continue;
        }
        std::int64_t top = 0;
        stack[top++] = root;
        generation[root] = kOpen;
        while (top > 0) {
            const std::int64_t animal = stack[top - 1];
            const std::int64_t parents[2] = {sire[animal], dam[animal]};
            bool waiting = false;
            for (const std::int64_t parent : parents) {
                if (parent >= 0 && generation[parent] == kUnseen) {
                    generation[parent] = kOpen;
                    stack[top++] = parent;
                    waiting = true;
                    break;
                }
            }
            if (waiting) {
                continue;
            }
            std::int64_t depth = 0;
            for (const std::int64_t parent : parents) {
                if (parent < 0) {
                    continue;
                }
                // A parent still open lies on the stack: a loop through this animal.
                depth = generation[parent] < 0 || depth < 0 ? -1
                                                            : (generation[parent] + 1 > depth ? generation[parent] + 1
                                                                                              : depth);
            }
            generation[animal] = depth;
            --top;
        }
    }
    // Each generation in the order of the numbers, by counting.
    for (std::int64_t g = 0; g <= n; ++g) {
        work[g] = 0;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        if (generation[i] >= 0) {
            ++work[generation[i] + 1];
        }
    }
    for (std::int64_t g = 0; g < n; ++g) {
        work[g + 1] += work[g];
    }
    const std::int64_t placed = work[n];
    for (std::int64_t i = 0; i < n; ++i) {
        if (generation[i] >= 0) {
            order[work[generation[i]]++] = i;
        }
    }
    return placed;
}

}  // namespace tolmkit
