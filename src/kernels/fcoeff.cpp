#include "fcoeff.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

namespace tolm {
namespace {

constexpr std::int32_t max_animals = std::int32_t{1} << 30;

// Scratch memory from calloc: its pages are zero without being written, so
// what a call does not touch (all of it in the variances-only mode) costs
// nothing. Aligned to a cache line inside a slightly larger block.
class ZeroedBlock {
public:
    explicit ZeroedBlock(std::size_t bytes) : block_(std::calloc(bytes + line, 1), &std::free) {
        if (!block_) {
            throw std::bad_alloc();
        }
        const auto address = reinterpret_cast<std::uintptr_t>(block_.get());
        aligned_ = reinterpret_cast<void*>((address + line - 1) & ~std::uintptr_t{line - 1});
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

// One contribution per animal of the pass, one lane each.
template <int width>
struct LanesOf;
template <>
struct LanesOf<1> {
    typedef double type __attribute__((vector_size(1 * sizeof(double))));
};
template <>
struct LanesOf<4> {
    typedef double type __attribute__((vector_size(4 * sizeof(double))));
};
template <>
struct LanesOf<8> {
    typedef double type __attribute__((vector_size(8 * sizeof(double))));
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

// The scratch of one call, all of it obtained before anything but n is read;
// the blocks are sized for n animals, of which the pages that a call leaves
// untouched cost nothing.
class Pedigree {
public:
    Pedigree(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
             std::int32_t n)
        : sire_(sire),
          dam_(dam),
          inbreeding_(inbreeding),
          sampling_var_(sampling_var),
          n_(n),
          numbers_(n),
          records_block_(static_cast<std::size_t>(n) * sizeof(Record)),
          wide_block_(static_cast<std::size_t>(n) * sizeof(Lanes<lanes>)),
          narrow_block_(adapt_width ? static_cast<std::size_t>(n) * sizeof(Lanes<narrow_lanes>) : 0),
          ancestors_(n),
          order_block_(static_cast<std::size_t>(n) * sizeof(std::int32_t)),
          records_(records_block_.as<Record>()),
          wide_(wide_block_.as<Lanes<lanes>>()),
          narrow_(narrow_block_.as<Lanes<narrow_lanes>>()),
          order_(order_block_.as<std::int32_t>()) {}

    void sampling_variances_only() {
        for (std::int32_t i = 0; i < n_; ++i) {
            sampling_var_[i] = variance_of(i);
        }
    }

    void inbreeding_coefficients() {
        numbers_.number(sire_, dam_, n_);
        for (std::int32_t start = 0; start < n_;) {
            std::int32_t members = 0;
            const std::int32_t end = cohort(start, members);
            if (group) {
                std::sort(order_, order_ + members, [this](std::int32_t x, std::int32_t y) {
                    return sire_[x] != sire_[y] ? sire_[x] < sire_[y] : dam_[x] != dam_[y] ? dam_[x] < dam_[y] : x < y;
                });
            }
            for (std::int32_t first = 0; first < members;) {
                const bool narrow = adapt_width && !single_ && wide_ancestors < listed_;
                const std::int32_t width = single_ ? 1 : narrow ? narrow_lanes : lanes;
                const std::int32_t count = members - first < width ? members - first : width;
                listed_ = narrow ? pass<narrow_lanes>(narrow_, order_ + first, count)
                                 : pass<lanes>(wide_, order_ + first, count);
                first += count;
            }
            for (std::int32_t i = start + 1; i < end; ++i) {
                if (same_parents_as_before(i)) {
                    inbreeding_[i] = inbreeding_[i - 1];
                }
            }
            start = end;
        }
    }

private:
    // Such an animal takes the coefficient of the one before without a pass.
    bool same_parents_as_before(std::int32_t i) const {
        return i > 0 && sire_[i] == sire_[i - 1] && dam_[i] == dam_[i - 1];
    }

    double variance_of(std::int32_t i) const { return 0.5 - (inbreeding_[sire_[i]] + inbreeding_[dam_[i]]) * 0.25; }

    // The animals from `start` on whose parents all come before `start`, so
    // that their own variances and their ancestors' coefficients are known:
    // their variances and records are set, and those that need a pass are
    // put in order_[0 … members − 1]; the others take the coefficient of the
    // animal before them, now if it is before `start`, else after the passes.
    // Returns the first animal after them. A lane without a
    // contribution adds (0 × 0) × variance, which is nothing only if every
    // variance is finite: once one is not, each pass has a single animal.
    std::int32_t cohort(std::int32_t start, std::int32_t& members) {
        std::int32_t i = start;
        for (; i < n_; ++i) {
            if (i > start && ((sire_[i] >= start && sire_[i] != n_) || (dam_[i] >= start && dam_[i] != n_))) {
                break;
            }
            const double variance = variance_of(i);
            single_ = single_ || variance - variance != 0.0;
            sampling_var_[i] = variance;
            const std::int32_t record = numbers_.of(i, n_);
            if (record != none) {
                records_[record] = Record{numbers_.of(sire_[i], n_), numbers_.of(dam_[i], n_), variance};
            }
            if (!same_parents_as_before(i)) {
                order_[members++] = i;
            } else if (i == start) {
                inbreeding_[i] = inbreeding_[i - 1];
            }
        }
        return i;
    }

    // A(i, i) of each of the animals `member` from the contributions of i and
    // its ancestors, processed from the highest number down, each once: its
    // offspring among the ancestors all have higher numbers, so they have
    // handed it their halves (dam first, then sire) before its own
    // contribution is squared. The ancestors of all lanes are processed
    // together; an ancestor of some lanes only has a contribution of 0.0 in
    // the others, which changes none of their sums. A contribution is cleared once
    // used, which leaves every contribution 0.0 for the next pass.
    // Returns the number of ancestors processed.
    template <int width>
    std::int32_t pass(Lanes<width>* contributions, const std::int32_t* member, std::int32_t members) {
        Lanes<width> sum{};
        std::int32_t highest = none;
        for (std::int32_t k = 0; k < members; ++k) {
            const std::int32_t i = member[k];
            for (const std::int32_t parent : {dam_[i], sire_[i]}) {
                if (parent != n_) {
                    const std::int32_t r = numbers_.of(parent, n_);
                    contributions[r][k] = 1.0 * 0.5 + contributions[r][k];
                    ancestors_.insert(r);
                    highest = r > highest ? r : highest;
                }
            }
            sum[k] = 0.0 + (1.0 * 1.0) * sampling_var_[i];
        }
        std::int32_t processed = 0;
        if (highest == none) {
            finish<width>(member, members, sum);
            return processed;
        }
        ancestors_.drain(highest, [&](std::int32_t c, auto&& list) {
            ++processed;
            const Record& a = records_[c];
            const Lanes<width> contribution = contributions[c];
            contributions[c] = Lanes<width>{};
            const Lanes<width> half = contribution * 0.5;
            for (const std::int32_t parent : {a.dam, a.sire}) {
                if (parent != none) {
                    contributions[parent] = half + contributions[parent];
                    list(parent);
                    prefetch_record(parent);
                }
            }
            sum += (contribution * contribution) * a.sampling_var;
        });
        finish<width>(member, members, sum);
        return processed;
    }

    // The record of an ancestor, which its visit reads, fetched when it is
    // listed, long before.
    void prefetch_record(std::int32_t record) const {
        if (prefetch) {
            __builtin_prefetch(records_ + record);
        }
    }

    template <int width>
    void finish(const std::int32_t* member, std::int32_t members, const Lanes<width>& sum) {
        for (std::int32_t k = 0; k < members; ++k) {
            inbreeding_[member[k]] = sum[k] - 1.0;
        }
    }

    const std::int32_t* sire_;
    const std::int32_t* dam_;
    double* inbreeding_;
    double* sampling_var_;
    std::int32_t n_;
    RecordNumbers numbers_;
    ZeroedBlock records_block_;
    ZeroedBlock wide_block_;
    ZeroedBlock narrow_block_;
    AncestorSet ancestors_;
    ZeroedBlock order_block_;
    Record* records_;
    Lanes<lanes>* wide_;
    Lanes<narrow_lanes>* narrow_;
    std::int32_t* order_;  // the animals of a cohort that need a pass
    bool single_ = false;
    std::int32_t listed_ = 0;  // ancestors processed by the last pass
};

}  // namespace

void fcoeff_kernel(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
                   const std::int32_t* n_animals, const std::int32_t* compute_inbreeding) {
    const std::int32_t n = n_animals[0];
    if (n < 0 || n >= max_animals) {
        throw std::bad_array_new_length();
    }
    Pedigree pedigree(sire, dam, inbreeding, sampling_var, n);
    if (compute_inbreeding[0] == 1) {
        pedigree.inbreeding_coefficients();
    } else {
        pedigree.sampling_variances_only();
    }
}

namespace {

enum Fcoeff : std::size_t { sire, dam, inbreeding, sampling_var, n_animals, compute_inbreeding };

constexpr std::array<Parameter, 6> fcoeff_parameters{{
    {"sire", Element::int32, false},
    {"dam", Element::int32, false},
    {"inbreeding", Element::float64, true},
    {"sampling_var", Element::float64, true},
    {"n_animals", Element::int32, false},
    {"compute_inbreeding", Element::int32, false},
}};
static_assert(matches_kernel(fcoeff_parameters, &fcoeff_kernel));

// Every parent code in 0 … n; for the ancestor pass also every known parent
// numbered below its offspring, which bounds the list and ends the pass.
Verdict check_parent_or_unknown(const Arguments& args, std::size_t parents, std::int32_t i, std::int32_t n,
                                bool ordered) {
    const std::int32_t code = args.integers(parents)[i];
    if (code == n || (code >= 0 && code < (ordered ? i : n))) {
        return std::nullopt;
    }
    const std::string unknown = std::to_string(n);
    if (!ordered) {
        return args.value_error(args.element(parents, i) + " must be between 0 and " + unknown + " (" + unknown +
                                " = unknown)");
    }
    if (i == 0) {
        return args.value_error(args.element(parents, i) + " must be " + unknown +
                                " (unknown): no animal comes before animal 0");
    }
    return args.value_error(args.element(parents, i) + " must be below " + std::to_string(i) + " or equal to " +
                            unknown + " (unknown)");
}

Verdict check_pedigree(const Arguments& args, std::int32_t n, bool ordered) {
    for (std::int32_t i = 0; i < n; ++i) {
        if (Verdict problem = check_parent_or_unknown(args, sire, i, n, ordered)) {
            return problem;
        }
        if (Verdict problem = check_parent_or_unknown(args, dam, i, n, ordered)) {
            return problem;
        }
    }
    return std::nullopt;
}

}  // namespace

Verdict check_fcoeff_arguments(const std::array<BufferLayout, 6>& arguments) {
    Arguments args("fcoeff", fcoeff_parameters, arguments);
    if (Verdict problem = args.check_memory()) {
        return problem;
    }
    if (Verdict problem =
            first_problem(args.require_length(n_animals, 1), args.require_length(compute_inbreeding, 1))) {
        return problem;
    }
    const std::int32_t n = args.integers(n_animals)[0];
    if (n < 0 || n >= max_animals) {
        return std::nullopt;
    }
    if (Verdict problem =
            first_problem(args.require_length(sire, n), args.require_length(dam, n),
                          args.require_length(inbreeding, std::int64_t{n} + 1), args.require_length(sampling_var, n))) {
        return problem;
    }
    const bool ordered = args.integers(compute_inbreeding)[0] == 1;
    return check_pedigree(args, n, ordered);
}

}  // namespace tolm
