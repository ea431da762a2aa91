#include "identifiers.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <future>
#include <new>
#include <optional>
#include <system_error>
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

// The hash of string k.
std::uint64_t hash_of(const Strings& strings, std::int64_t k) {
    const std::int64_t begin = strings.offsets[k];
    return hashed(strings.data + begin, strings.offsets[k + 1] - begin);
}

// Steps [from, to) of the matching in batches: the slots of a batch are
// fetched ahead, then look(k, hash) runs on each of its strings in turn,
// and the steps stop when it returns false. Returns whether all ran.
template <typename Look>
bool in_batches(const IdentifierTable& table, const Strings& strings, std::int64_t n, std::int64_t from,
                std::int64_t to, Pacer& pace, Look look) {
    std::uint64_t hashes[batch];
    std::int64_t entries[batch];
    for (std::int64_t start = from; start < to; start += batch) {
        const std::int64_t size = start + batch <= to ? batch : to - start;
        for (std::int64_t j = 0; j < size; ++j) {
            entries[j] = string_at(start + j, n);
            hashes[j] = hash_of(strings, entries[j]);
            table.prefetch(hashes[j]);
        }
        for (std::int64_t j = 0; j < size; ++j) {
            if (!look(entries[j], hashes[j])) {
                return false;
            }
        }
        pace(size);
    }
    return true;
}

// One pass of match_identifiers over a table of `capacity` slots; nothing
// when the table grew crowded. The animals go in first. The parents are then
// looked up among them alone, which changes nothing in the table, so that
// each of `threads` threads takes a share of them; those that no animal
// names go in after, on this thread in the order of the records, which
// numbers them.
std::optional<std::vector<std::int64_t>> matched(const Strings& strings, std::int64_t n, std::uint64_t capacity,
                                                 std::int32_t* found, std::int32_t* outside, Pacer& pace, Pages pages,
                                                 int threads) {
    IdentifierTable table(strings, capacity, pages);
    const bool room = in_batches(table, strings, n, 0, n, pace, [&](std::int64_t k, std::uint64_t hash) {
        const std::int64_t other = table.find(k, hash, true);
        found[k] = static_cast<std::int32_t>(other < 0 ? k : other);
        outside[k] = -1;
        return !table.crowded();
    });
    if (!room) {
        return std::nullopt;
    }
    const auto among_animals = [&](std::int64_t from, std::int64_t to, Pacer& paced) {
        in_batches(table, strings, n, from, to, paced, [&](std::int64_t k, std::uint64_t hash) {
            found[k] = static_cast<std::int32_t>(table.find(k, hash, false));
            outside[k] = -1;
            return true;
        });
    };
    {
        // Only this thread may run the pacer's check; the others' futures
        // wait for them on the way out, also when the check throws.
        std::vector<std::future<void>> others;
        const std::int64_t share = (2 * n + threads - 1) / threads;
        for (int t = 1; t < threads; ++t) {
            const std::int64_t from = std::min(n + t * share, 3 * n), to = std::min(from + share, 3 * n);
            try {
                others.push_back(std::async(std::launch::async, [&, from, to] {
                    Pacer unchecked;
                    among_animals(from, to, unchecked);
                }));
            } catch (const std::system_error&) {  // no thread to be had: this one takes the share
                among_animals(from, to, pace);
            }
        }
        among_animals(n, std::min(n + share, 3 * n), pace);
        for (auto& other : others) {
            other.get();
        }
    }
    std::vector<std::int64_t> first;
    for (std::int64_t step = n; step < 3 * n; ++step) {
        const std::int64_t k = string_at(step, n);
        if (found[k] >= 0) {
            continue;
        }
        const std::int64_t other = table.find(k, hash_of(strings, k), true);
        if (table.crowded()) {
            return std::nullopt;
        }
        if (other < 0) {
            outside[k] = static_cast<std::int32_t>(first.size());
            first.push_back(k);
        } else {
            outside[k] = outside[other];
        }
        pace();
    }
    in_batches(table, strings, n, 3 * n, strings.count, pace, [&](std::int64_t k, std::uint64_t hash) {
        const std::int64_t other = table.find(k, hash, false);
        found[k] = static_cast<std::int32_t>(other >= 0 && other < n ? other : -1);
        outside[k] = -1;
        return true;
    });
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

std::vector<std::int64_t> match_identifiers(const Strings& strings, std::int64_t n, std::int32_t* found,
                                            std::int32_t* outside, Pacer& pace, Pages pages, int threads) {
    // At most two thirds full with the animals alone, room left for the
    // parents that are no animals; doubled whenever they crowd it. The table
    // is the largest memory of the reading, which it reaches all over.
    std::uint64_t capacity = 16;
    while (2 * capacity < 3 * static_cast<std::uint64_t>(n)) {
        capacity *= 2;
    }
    for (;; capacity *= 2) {
        auto first = matched(strings, n, capacity, found, outside, pace, pages, threads);
        if (first) {
            return std::move(*first);
        }
    }
}

}  // namespace tolmkit
