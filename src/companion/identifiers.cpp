#include "identifiers.hpp"

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tolmkit {

namespace {

// Strings whose slots are looked up ahead, so that the memory fetches of a
// batch overlap.
constexpr std::int64_t batch = 32;

// SplitMix64's finaliser (Stafford's thirteenth mix): every bit of the
// result depends on every bit of x.
std::uint64_t splitmix64_finalised(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Zeroed memory of `bytes` bytes, on large pages where asked and the system
// has them: look-ups land anywhere in the table, and on small pages nearly
// each would miss the address cache too.
void* zeroed(std::size_t bytes, Pages pages) {
#ifdef __linux__
    if (pages == Pages::large) {
        void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            throw std::bad_alloc();
        }
        // Advice only: without large pages the table works the same, slower.
        madvise(memory, bytes, MADV_HUGEPAGE);
        return memory;
    }
#endif
    void* memory = std::calloc(bytes, 1);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void release(void* memory, std::size_t bytes, Pages pages) {
#ifdef __linux__
    if (pages == Pages::large) {
        munmap(memory, bytes);
        return;
    }
#endif
    static_cast<void>(bytes);
    std::free(memory);
}

// The hash of a string: eight bytes at a time multiplied in, then
// SplitMix64's finaliser, so that the low bits (the slot) and the high bits
// (the tag) both depend on every byte.
std::uint64_t hashed(const std::uint8_t* bytes, std::int64_t length) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(length);
    std::int64_t at = 0;
    for (; at + 8 <= length; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        h = (h ^ word) * 0x9fb21c651e98df25ULL;
        h ^= h >> 29;
    }
    // Byte by byte: a copy of a variable length would be a call.
    std::uint64_t tail = 0;
    for (std::int64_t k = length - 1; k >= at; --k) {
        tail = (tail << 8) | bytes[k];
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

// One pass of match_identifiers over a table of `capacity` slots; nothing
// when the table grew crowded.
std::optional<std::vector<std::int64_t>> matched(const Strings& strings, std::int64_t n, std::uint64_t capacity,
                                                 std::int64_t* found, std::int64_t* outside, Pacer& pace, Pages pages) {
    IdentifierTable table(strings, capacity, pages);
    std::vector<std::int64_t> first;
    std::uint64_t hashes[batch];
    std::int64_t entries[batch];
    for (std::int64_t start = 0; start < strings.count; start += batch) {
        const std::int64_t size = start + batch <= strings.count ? batch : strings.count - start;
        for (std::int64_t j = 0; j < size; ++j) {
            const std::int64_t k = string_at(start + j, n);
            const std::int64_t begin = strings.offsets[k];
            entries[j] = k;
            hashes[j] = hashed(strings.data + begin, strings.offsets[k + 1] - begin);
            table.prefetch(hashes[j]);
        }
        for (std::int64_t j = 0; j < size; ++j) {
            const std::int64_t k = entries[j];
            const bool parent = k >= n && k < 3 * n;
            const std::int64_t other = table.find(k, hashes[j], k < 3 * n);
            if (table.crowded()) {
                return std::nullopt;
            }
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
                    outside[k] = static_cast<std::int64_t>(first.size());
                    first.push_back(k);
                } else {
                    outside[k] = outside[other];
                }
            }
        }
        pace(size);
    }
    return first;
}

}  // namespace

IdentifierTable::IdentifierTable(const Strings& strings, std::uint64_t capacity, Pages pages)
    : strings_(strings),
      pages_(pages),
      bytes_(capacity * sizeof(Slot)),
      slots_(static_cast<Slot*>(zeroed(bytes_, pages))),
      mask_(capacity - 1) {}

IdentifierTable::~IdentifierTable() { release(slots_, bytes_, pages_); }

std::vector<std::int64_t> match_identifiers(const Strings& strings, std::int64_t n, std::int64_t* found,
                                            std::int64_t* outside, Pacer& pace, Pages pages) {
    // At most two thirds full with the animals alone, room left for the
    // parents that are no animals; doubled whenever they crowd it. The table
    // is the largest memory of the reading, which it reaches all over.
    std::uint64_t capacity = 16;
    while (2 * capacity < 3 * static_cast<std::uint64_t>(n)) {
        capacity *= 2;
    }
    for (;; capacity *= 2) {
        auto first = matched(strings, n, capacity, found, outside, pace, pages);
        if (first) {
            return std::move(*first);
        }
    }
}

}  // namespace tolmkit
