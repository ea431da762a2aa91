#include "ancestor_pass.hpp"

#include <algorithm>

#include "scratch.hpp"

namespace tolm::ancestor_pass {
namespace {

using tolm::scratch::AncestorSet;
using tolm::scratch::none;
using tolm::scratch::ZeroedBlock;

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
