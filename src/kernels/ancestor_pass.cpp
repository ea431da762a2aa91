#include "ancestor_pass.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tolm::ancestor_pass {
namespace {

#ifdef TOLM_PLAIN_FCOEFF_PAGES
constexpr bool large_pages = false;
#else
// The passes read records and contributions all over blocks of hundreds of
// megabytes at 10^7 animals: on 4 KiB pages nearly every read would miss the
// address cache as well. Advice only; where the system has no large pages
// the blocks work the same.
constexpr bool large_pages = true;
#endif

void ask_large_pages(std::uintptr_t address, std::size_t bytes) {
#ifdef __linux__
    constexpr std::uintptr_t large = std::uintptr_t{1} << 21;
    const std::uintptr_t from = (address + large - 1) & ~(large - 1);
    const std::uintptr_t to = (address + bytes) & ~(large - 1);
    if (from < to) {
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
#else
    (void)address;
    (void)bytes;
#endif
}

// Scratch memory from calloc: its pages are zero without being written, so
// what a call does not touch (all of it in the variances-only mode) costs
// nothing. Aligned to a cache line inside a slightly larger block; its whole
// 2 MiB pages asked to be large.
class ZeroedBlock {
public:
    explicit ZeroedBlock(std::size_t bytes) : block_(std::calloc(bytes + line, 1), &std::free) {
        if (!block_) {
            throw std::bad_alloc();
        }
        const auto address = reinterpret_cast<std::uintptr_t>(block_.get());
        aligned_ = reinterpret_cast<void*>((address + line - 1) & ~std::uintptr_t{line - 1});
        if (large_pages) {
            ask_large_pages(address, bytes);
        }
    }
    template <typename T>
    T* as() const {
        return static_cast<T*>(aligned_);
    }

private:
    static constexpr std::size_t line = 64;

    std::unique_ptr<void, decltype(&std::free)> block_;
    void* aligned_ = nullptr;
};

// Speed mechanisms, each of which a benchmark build can switch off to show
// what it brings (CMake options TOLM_PLAIN_FCOEFF_*).
#ifdef TOLM_PLAIN_FCOEFF_BATCH
constexpr int lanes = 1;  // one animal per pass
#else
constexpr int lanes = 8;  // animals of one cohort sharing a pass over their ancestors
#endif
#ifdef TOLM_PLAIN_FCOEFF_WIDTH
constexpr bool adapt_width = false;  // every pass as wide as `lanes`
#else
// Half as many lanes once the ancestors of a pass are too many for their
// contributions to stay in a core's cache.
constexpr bool adapt_width = lanes > 1;
#endif
constexpr int narrow_lanes = adapt_width ? lanes / 2 : lanes;
// A pass of more ancestors than this is followed by a narrow one: their wide
// contributions would take over half a typical core's cache (512 KiB).
constexpr std::int32_t wide_ancestors = 8192;
#ifdef TOLM_PLAIN_FCOEFF_COMPACT
constexpr bool compact = false;  // a record for every animal
#else
constexpr bool compact = true;  // records for the animals that are parents only
#endif
#ifdef TOLM_PLAIN_FCOEFF_WORD
constexpr bool word_in_register = false;  // each ancestor popped from the set in memory
#else
constexpr bool word_in_register = true;  // the word being drained held in a register
#endif
#ifdef TOLM_PLAIN_FCOEFF_PREFETCH
constexpr bool prefetch = false;
#else
constexpr bool prefetch = true;  // an ancestor's record fetched when it is listed
#endif
#ifdef TOLM_PLAIN_FCOEFF_GROUP
constexpr bool group = false;  // a pass takes the next animals of a cohort
#else
constexpr bool group = true;  // a pass takes paternal half sibs, then full sibs
#endif

// One contribution per animal of the pass, one lane each. Wide and narrow
// passes keep their contributions in the same memory, all 0.0 between
// passes, read as either width (may_alias).
template <int width>
struct LanesOf;
template <>
struct LanesOf<1> {
    typedef double type __attribute__((vector_size(1 * sizeof(double)), may_alias));
};
template <>
struct LanesOf<4> {
    typedef double type __attribute__((vector_size(4 * sizeof(double)), may_alias));
};
template <>
struct LanesOf<8> {
    typedef double type __attribute__((vector_size(8 * sizeof(double)), may_alias));
};
template <int width>
using Lanes = typename LanesOf<width>::type;

// What the pass reads of one ancestor, by record number: its parents' record
// numbers (`none` if unknown) and its Mendelian-sampling variance. Its
// contributions to the animals of the pass (0.0 between passes) are kept
// apart, a cache line for eight lanes, half of one for four.
struct Record {
    std::int32_t sire;
    std::int32_t dam;
    double sampling_var;
};

constexpr std::int32_t none = -1;

// The ancestors of one pass, by record number: one bit per record and one bit
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

// Record numbers: with compact records, the rank of each animal among the
// animals that are parents, which keeps the order of the animal numbers, and
// `none` for an animal that is no parent and for an unknown parent (n).
class RecordNumbers {
public:
    explicit RecordNumbers(std::int32_t n)
        : block_(compact ? (static_cast<std::size_t>(n) + 1) * sizeof(std::int32_t) : 0),
          numbers_(block_.as<std::int32_t>()) {}

    void number(const std::int32_t* sire, const std::int32_t* dam, std::int32_t n) {
        if (!compact) {
            return;
        }
        for (std::int32_t i = 0; i < n; ++i) {
            numbers_[sire[i]] = 1;
            numbers_[dam[i]] = 1;
        }
        std::int32_t count = 0;
        for (std::int32_t a = 0; a < n; ++a) {
            numbers_[a] = numbers_[a] != 0 ? count++ : none;
        }
        numbers_[n] = none;
    }

    std::int32_t of(std::int32_t animal, std::int32_t n) const {
        if (compact) {
            return numbers_[animal];
        }
        return animal == n ? none : animal;
    }

private:
    ZeroedBlock block_;
    std::int32_t* numbers_;
};

}  // namespace

// Records by record number, and the record number of each animal.
struct Ancestry::Records {
    explicit Records(std::int32_t n) : numbers(n), block(static_cast<std::size_t>(n) * sizeof(Record)) {}

    RecordNumbers numbers;
    ZeroedBlock block;
};

Ancestry::Ancestry(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
                   std::int32_t n)
    : sire_(sire),
      dam_(dam),
      inbreeding_(inbreeding),
      sampling_var_(sampling_var),
      n_(n),
      records_(std::make_unique<Records>(n)) {}

Ancestry::Ancestry(Ancestry&&) noexcept = default;
Ancestry::~Ancestry() = default;

void Ancestry::number() { records_->numbers.number(sire_, dam_, n_); }

void Ancestry::enter(std::int32_t i) {
    const double variance = variance_of(i);
    single_ = single_ || variance - variance != 0.0;
    sampling_var_[i] = variance;
    const RecordNumbers& numbers = records_->numbers;
    const std::int32_t record = numbers.of(i, n_);
    if (record != none) {
        records_->block.as<Record>()[record] = Record{numbers.of(sire_[i], n_), numbers.of(dam_[i], n_), variance};
    }
}

void Ancestry::in_family_order(std::int32_t* begin, std::int32_t* end) const {
    if (group) {
        std::sort(begin, end, [this](std::int32_t x, std::int32_t y) {
            return sire_[x] != sire_[y] ? sire_[x] < sire_[y] : dam_[x] != dam_[y] ? dam_[x] < dam_[y] : x < y;
        });
    }
}

// Contributions in lanes, and the ancestors of a pass.
struct Passes::Scratch {
    explicit Scratch(std::int32_t n) : lanes_block(static_cast<std::size_t>(n) * sizeof(Lanes<lanes>)), ancestors(n) {}

    // A(i, i) of each of the animals `member` from the contributions of i
    // and its ancestors, processed from the highest number down, each once:
    // its offspring among the ancestors all have higher numbers, so they
    // have handed it their halves (dam first, then sire) before its own
    // contribution is squared. The ancestors of all lanes are processed
    // together; an ancestor of some lanes only has a contribution of 0.0 in
    // the others, which changes none of their sums. A contribution is cleared
    // once used, which leaves every contribution 0.0 for the next pass.
    // Returns the number of ancestors processed.
    template <int width>
    std::int32_t pass(const Ancestry& ancestry, Lanes<width>* contributions, const std::int32_t* member,
                      std::int32_t members) {
        const RecordNumbers& numbers = ancestry.records_->numbers;
        const Record* const records = ancestry.records_->block.as<Record>();
        const std::int32_t n = ancestry.n_;
        Lanes<width> sum{};
        std::int32_t highest = none;
        for (std::int32_t k = 0; k < members; ++k) {
            const std::int32_t i = member[k];
            for (const std::int32_t parent : {ancestry.dam_[i], ancestry.sire_[i]}) {
                if (parent != n) {
                    const std::int32_t r = numbers.of(parent, n);
                    contributions[r][k] = 1.0 * 0.5 + contributions[r][k];
                    ancestors.insert(r);
                    highest = r > highest ? r : highest;
                }
            }
            sum[k] = 0.0 + (1.0 * 1.0) * ancestry.sampling_var_[i];
        }
        std::int32_t processed = 0;
        if (highest != none) {
            ancestors.drain(highest, [&](std::int32_t c, auto&& list) {
                ++processed;
                const Record& a = records[c];
                const Lanes<width> contribution = contributions[c];
                contributions[c] = Lanes<width>{};
                const Lanes<width> half = contribution * 0.5;
                for (const std::int32_t parent : {a.dam, a.sire}) {
                    if (parent != none) {
                        contributions[parent] = half + contributions[parent];
                        list(parent);
                        // The record of an ancestor, which its visit reads,
                        // fetched when it is listed, long before.
                        if (prefetch) {
                            __builtin_prefetch(records + parent);
                        }
                    }
                }
                sum += (contribution * contribution) * a.sampling_var;
            });
        }
        for (std::int32_t k = 0; k < members; ++k) {
            ancestry.inbreeding_[member[k]] = sum[k] - 1.0;
        }
        return processed;
    }

    ZeroedBlock lanes_block;
    AncestorSet ancestors;
    std::int32_t listed = 0;  // ancestors processed by the last pass
};

Passes::Passes(std::int32_t n) : scratch_(std::make_unique<Scratch>(n)) {}
Passes::Passes(Passes&&) noexcept = default;
Passes::~Passes() = default;

std::int64_t Passes::run(const Ancestry& ancestry, const std::int32_t* animals, std::int32_t count) {
    Scratch& s = *scratch_;
    std::int64_t processed = 0;
    for (std::int32_t first = 0; first < count;) {
        const bool narrow = adapt_width && !ancestry.single_ && wide_ancestors < s.listed;
        const std::int32_t width = ancestry.single_ ? 1 : narrow ? narrow_lanes : lanes;
        const std::int32_t members = count - first < width ? count - first : width;
        s.listed =
            narrow ? s.pass<narrow_lanes>(ancestry, s.lanes_block.as<Lanes<narrow_lanes>>(), animals + first, members)
                   : s.pass<lanes>(ancestry, s.lanes_block.as<Lanes<lanes>>(), animals + first, members);
        processed += s.listed;
        first += members;
    }
    return processed;
}

}  // namespace tolm::ancestor_pass
