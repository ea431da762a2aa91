// Identifiers of a pedigree file matched to the animals that they name, at
// the speed of parsing a file of millions of lines: one hash table of the
// strings' numbers, looked up in batches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "pacer.hpp"
#include "pieces.hpp"
#include "scratch.hpp"

namespace tolmkit {

// Where the table's memory comes from: the system's large pages (Linux's
// transparent huge pages, where it has them), or ordinary memory.
enum class Pages { large, small };

// Whether a[0 .. length) equals b[0 .. length): in loads of eight bytes, the
// last one overlapping those before, or four, or one by one. A memcmp of a
// length known only at run time is a call, which cost as much as the
// look-up's hash.
inline bool same_bytes(const void* a, const void* b, std::uint32_t length) {
    const auto* x = static_cast<const std::uint8_t*>(a);
    const auto* y = static_cast<const std::uint8_t*>(b);
    if (length >= 8) {
        std::uint64_t u, v, differ = 0;
        for (std::uint32_t at = 0; at + 8 < length; at += 8) {
            std::memcpy(&u, x + at, 8);
            std::memcpy(&v, y + at, 8);
            differ |= u ^ v;
        }
        std::memcpy(&u, x + length - 8, 8);
        std::memcpy(&v, y + length - 8, 8);
        return (differ | (u ^ v)) == 0;
    }
    if (length >= 4) {
        std::uint32_t u, v, w, z;
        std::memcpy(&u, x, 4);
        std::memcpy(&v, y, 4);
        std::memcpy(&w, x + length - 4, 4);
        std::memcpy(&z, y + length - 4, 4);
        return ((u ^ v) | (w ^ z)) == 0;
    }
    std::uint32_t differ = 0;
    for (std::uint32_t at = 0; at < length; ++at) {
        differ |= static_cast<std::uint32_t>(x[at] ^ y[at]);
    }
    return differ == 0;
}

// An open-addressing table of string numbers with linear probing. A slot
// holds the upper half of the string's hash and, for strings of up to
// `inline_length` bytes, the string itself, so that a look-up of a short
// string reads its slots alone. Its look-ups are defined here, so that they
// are inlined into the loop that makes them.
class IdentifierTable {
public:
    static constexpr std::uint32_t inline_length = 20;

    // `capacity` slots, a power of two; `strings` outlives the table.
    IdentifierTable(const Strings& strings, std::uint64_t capacity, Pages pages = Pages::large);
    ~IdentifierTable();
    IdentifierTable(const IdentifierTable&) = delete;
    IdentifierTable& operator=(const IdentifierTable&) = delete;

    // Faults in the table's memory, on the thread that calls it: the kernel
    // zeroes each page then, and the parts of a table are zeroed at once on
    // the threads that fill them.
    void take_pages();

    // Asks for the slot of `hash` ahead of the look-up, so that the memory
    // fetches of a batch overlap instead of following one another.
    void prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }

    // The number of the first string equal to string k, `text`, whose hash
    // is `hash`; −1 when there is none, inserting k then if `insert`.
    std::int64_t find(std::int64_t k, std::string_view text, std::uint64_t hash, bool insert) {
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        const char* bytes = text.data();
        const auto length = static_cast<std::uint32_t>(text.size());
        for (std::uint64_t at = hash & mask_;; at = (at + 1) & mask_) {
            Slot& slot = slots_[at];
            if (slot.number == 0) {
                if (insert) {
                    slot.tag = tag;
                    slot.number = static_cast<std::uint32_t>(k + 1);
                    slot.length = length;
                    std::memcpy(slot.bytes, bytes, length <= inline_length ? length : 0);
                    ++used_;
                }
                return -1;
            }
            if (slot.tag == tag && slot.length == length) {
                const std::int64_t other = std::int64_t{slot.number} - 1;
                const void* held = length <= inline_length ? static_cast<const void*>(slot.bytes)
                                                           : static_cast<const void*>(strings_.at(other).data());
                if (same_bytes(bytes, held, length)) {
                    return other;
                }
            }
        }
    }

    // More than three quarters full: look-ups would probe long runs, and a
    // full table would leave one no empty slot to end at.
    bool crowded() const { return 4 * used_ > 3 * (mask_ + 1); }

private:
    // Half a cache line.
    struct alignas(32) Slot {
        std::uint32_t tag;     // the upper half of the string's hash
        std::uint32_t number;  // the string's number + 1, 0 when empty
        std::uint32_t length;
        std::uint8_t bytes[inline_length];
    };
    static_assert(sizeof(Slot) == 32, "a slot is half a cache line");

    const Strings& strings_;
    tolm::scratch::ZeroedBlock block_;
    Slot* slots_;
    std::uint64_t mask_;
    bool large_;
    std::uint64_t used_ = 0;
};

// The parents that no animal names, record by record and sire before dam.
struct Outside {
    std::vector<std::int64_t> entry;  // 2 · record, + 1 for a dam
    std::vector<std::int32_t> name;   // the number of its string, counted as they first appear
    std::vector<std::int64_t> first;  // for each such number, the string that first names it
};

// For strings laid out as animal[0 .. n), sire[0 .. n), dam[0 .. n) and then
// any further strings (codes), fills found[k] with the first animal whose
// string equals string k, or −1, and returns the parents that no animal
// names. found holds strings.count() entries, in 32 bits as the numbers of
// animals are: fewer than 2^31 − 1 strings. The animals go into the table
// and the parents are looked up on `threads` threads, with the same result
// for any number; `pace` counts one step a string on this thread.
Outside match_identifiers(const Strings& strings, std::int64_t n, std::int32_t* found, Pacer& pace,
                          Pages pages = Pages::large, int threads = 1);

}  // namespace tolmkit
