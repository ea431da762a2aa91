// Scratch of the walks up a pedigree's ancestors: zeroed blocks on large
// pages, and the set of ancestors still to visit, drained from the highest
// number down. Shared by fcoeff's ancestor pass and the companion's walks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tolm::scratch {

// Speed mechanisms of the walks, which a benchmark build can switch off
// (CMake options TOLM_PLAIN_FCOEFF_PAGES and TOLM_PLAIN_FCOEFF_WORD).
#ifdef TOLM_PLAIN_FCOEFF_PAGES
constexpr bool large_pages = false;
#else
// The walks read all over blocks of hundreds of megabytes at 10^7 animals:
// on 4 KiB pages nearly every read would miss the address cache as well.
// Advice only; where the system has no large pages the blocks work the same.
constexpr bool large_pages = true;
#endif
#ifdef TOLM_PLAIN_FCOEFF_WORD
constexpr bool word_in_register = false;  // each ancestor popped from the set in memory
#else
constexpr bool word_in_register = true;  // the word being drained held in a register
#endif

// No ancestor.
constexpr std::int32_t none = -1;

// Memory from calloc: its pages are zero without being written, so what a
// call does not touch costs nothing. Aligned to a cache line inside a
// slightly larger block; its whole 2 MiB pages asked to be large when
// `large`. Throws std::bad_alloc.
class ZeroedBlock {
public:
    explicit ZeroedBlock(std::size_t bytes, bool large = large_pages);

    template <typename T>
    T* as() const {
        return static_cast<T*>(aligned_);
    }

private:
    static constexpr std::size_t line = 64;

    std::unique_ptr<void, void (*)(void*)> block_;
    void* aligned_ = nullptr;
};

// The ancestors of one walk, by record number: one bit per record and one bit
// per non-empty word of those. Parents are numbered below their offspring, so
// a drain from the highest number down finds every parent listed on the way.
class AncestorSet {
public:
    explicit AncestorSet(std::int32_t records)
        : words_(words_for(static_cast<std::size_t>(records))),
          summaries_(words_for(words_)),
          block_((words_ + summaries_) * sizeof(std::uint64_t)) {
        bits_ = block_.as<std::uint64_t>();
        summary_ = bits_ + words_;
    }

    void insert(std::int32_t record) {
        const auto r = static_cast<std::uint32_t>(record);
        bits_[r >> 6] |= bit_of(r);
        summary_[r >> 12] |= bit_of(r >> 6);
    }

    // Calls visit(record, list) for every member, from the highest down,
    // where `highest` is at least the highest member; visit lists parents
    // with list(record), all below the record visited. The set is left empty.
    template <typename Visit>
    void drain(std::int32_t highest, Visit&& visit) {
        if (!word_in_register) {
            const auto list = [this](std::int32_t record) { insert(record); };
            for (std::int32_t c = pop_highest(highest); c != none; c = pop_highest(c)) {
                visit(c, list);
            }
            return;
        }
        // A parent listed in the word being drained costs no memory round trip.
        for (std::int64_t word = next_word(static_cast<std::uint32_t>(highest) >> 6); word >= 0;
             word = next_word(static_cast<std::uint32_t>(word))) {
            const auto w = static_cast<std::uint32_t>(word);
            std::uint64_t bits = bits_[w];
            bits_[w] = 0;
            summary_[w >> 6] &= ~bit_of(w);
            const auto list = [&](std::int32_t record) {
                const auto r = static_cast<std::uint32_t>(record);
                if (r >> 6 == w) {
                    bits |= bit_of(r);
                } else {
                    insert(record);
                }
            };
            while (bits != 0) {
                const std::uint32_t bit = highest_of(bits);
                bits &= ~bit_of(bit);
                visit(static_cast<std::int32_t>(w << 6 | bit), list);
            }
        }
    }

private:
    static std::size_t words_for(std::size_t bits) { return bits / 64 + 1; }
    static std::uint64_t bit_of(std::uint32_t number) { return std::uint64_t{1} << (number & 63); }
    static std::uint32_t highest_of(std::uint64_t word) {
        return 63 - static_cast<std::uint32_t>(__builtin_clzll(word));
    }

    // Removes and returns the highest member, or `none`; `at_most` is at
    // least the highest member.
    std::int32_t pop_highest(std::int32_t at_most) {
        const std::int64_t word = next_word(static_cast<std::uint32_t>(at_most) >> 6);
        if (word < 0) {
            return none;
        }
        const auto w = static_cast<std::uint32_t>(word);
        const std::uint32_t bit = highest_of(bits_[w]);
        bits_[w] &= ~bit_of(bit);
        if (bits_[w] == 0) {
            summary_[w >> 6] &= ~bit_of(w);
        }
        return static_cast<std::int32_t>(w << 6 | bit);
    }

    // The highest non-empty word, or −1; `at_most` is at least its number.
    std::int64_t next_word(std::uint32_t at_most) const {
        for (auto top = static_cast<std::int64_t>(at_most >> 6); top >= 0; --top) {
            const std::uint64_t summary = summary_[top];
            if (summary != 0) {
                return top << 6 | highest_of(summary);
            }
        }
        return -1;
    }

    std::size_t words_, summaries_;
    ZeroedBlock block_;
    std::uint64_t* bits_ = nullptr;
    std::uint64_t* summary_ = nullptr;
};

}  // namespace tolm::scratch
