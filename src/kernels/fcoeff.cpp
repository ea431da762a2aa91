#include "fcoeff.hpp"

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
    explicit ZeroedBlock(std::size_t bytes)
        : block_(std::calloc(bytes + line, 1), &std::free) {
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

// What the ancestor pass reads of one animal, in one half of a cache line:
// its parents, its Mendelian-sampling variance, and its contribution to the
// animal being computed (0.0 between two passes).
struct alignas(32) Ancestor {
    std::int32_t sire;
    std::int32_t dam;
    double sampling_var;
    double contribution;
};

// The ancestors of one animal: one bit per animal number, one bit per
// non-empty word of those (a block of 64 numbers), and one bit per non-empty
// word of the blocks (4,096 numbers). Draining scans the top level linearly,
// one word per 2^18 numbers.
class AncestorSet {
public:
    explicit AncestorSet(std::int32_t n)
        : animals_(words_for(static_cast<std::size_t>(n))), blocks_(words_for(animals_)), groups_(words_for(blocks_)),
          block_((animals_ + blocks_ + groups_) * sizeof(std::uint64_t)) {
        animal_bits_ = block_.as<std::uint64_t>();
        block_bits_ = animal_bits_ + animals_;
        group_bits_ = block_bits_ + blocks_;
    }

    // Adds the animal at the lowest level only; 1 if it was not yet in the
    // set, else 0. No branch depends on the answer.
    std::int32_t add(std::int32_t animal) {
        const auto a = static_cast<std::uint32_t>(animal);
        std::uint64_t& word = animal_bits_[a >> 6];
        const std::uint64_t bit = bit_of(a);
        const std::int32_t added = (word & bit) == 0;
        word |= bit;
        return added;
    }

    // Marks the block and the group of an added animal, once per animal.
    void mark_levels_above(std::int32_t animal) {
        const auto a = static_cast<std::uint32_t>(animal);
        block_bits_[a >> 12] |= bit_of(a >> 6);
        group_bits_[a >> 18] |= bit_of(a >> 12);
    }

    // Calls visit(animal) for every animal in the set, all at most `highest`,
    // from the highest number down, and leaves the set empty: every word is
    // cleared as it is read.
    template <typename Visit>
    void drain_from_highest(std::int32_t highest, Visit&& visit) {
        for (auto group = (static_cast<std::uint32_t>(highest) >> 18) + 1; group-- > 0;) {
            for (std::uint64_t blocks = take(group_bits_[group]); blocks != 0;) {
                const std::uint32_t block = group << 6 | pop_highest(blocks);
                for (std::uint64_t words = take(block_bits_[block]); words != 0;) {
                    const std::uint32_t word = block << 6 | pop_highest(words);
                    for (std::uint64_t bits = take(animal_bits_[word]); bits != 0;) {
                        visit(static_cast<std::int32_t>(word << 6 | pop_highest(bits)));
                    }
                }
            }
        }
    }

private:
    static std::size_t words_for(std::size_t bits) { return bits == 0 ? 1 : (bits + 63) / 64; }

    static std::uint64_t take(std::uint64_t& word) {
        const std::uint64_t taken = word;
        word = 0;
        return taken;
    }

    // Number k of a word is bit 63 − k, so that the highest number is the
    // lowest bit, found by counting trailing zeros and cleared by w & (w − 1).
    static std::uint64_t bit_of(std::uint32_t number) {
        return (std::uint64_t{1} << 63) >> (number & 63);
    }

    static std::uint32_t pop_highest(std::uint64_t& word) {
        const auto bit = static_cast<std::uint32_t>(__builtin_ctzll(word));
        word &= word - 1;
        return 63 - bit;
    }

    std::size_t animals_, blocks_, groups_;
    ZeroedBlock block_;
    std::uint64_t* animal_bits_ = nullptr;
    std::uint64_t* block_bits_ = nullptr;
    std::uint64_t* group_bits_ = nullptr;
};

// The coefficient of an animal depends only on its two parent codes, in
// either order: the first pass hands each parent half of 1.0, and the rest of
// the pass follows from the pedigree. So the first animal with a pair of
// parents is remembered, and later ones take its coefficient. Open addressing
// over at least 2n slots; a slot holds an animal number + 1, 0 when empty.
class ParentPairs {
public:
    explicit ParentPairs(std::int32_t n)
        : mask_(slots_for(n) - 1), block_(slots_for(n) * sizeof(std::int32_t)) {
        slots_ = block_.as<std::int32_t>();
    }

    // The first earlier animal with the parents of animal i, or −1 after
    // remembering i as the first.
    std::int32_t earlier_with_parents_of(std::int32_t i, const Ancestor* animals) {
        const std::int32_t s = animals[i].sire;
        const std::int32_t d = animals[i].dam;
        for (std::size_t slot = hash(s, d) & mask_;; slot = (slot + 1) & mask_) {
            const std::int32_t held = slots_[slot] - 1;
            if (held < 0) {
                slots_[slot] = i + 1;
                return -1;
            }
            const Ancestor& other = animals[held];
            if ((other.sire == s && other.dam == d) || (other.sire == d && other.dam == s)) {
                return held;
            }
        }
    }

private:
    static std::size_t slots_for(std::int32_t n) {
        std::size_t slots = 2;
        while (slots < 2 * static_cast<std::size_t>(n)) {
            slots *= 2;
        }
        return slots;
    }

    static std::size_t hash(std::int32_t s, std::int32_t d) {
        const auto low = static_cast<std::uint64_t>(static_cast<std::uint32_t>(s < d ? s : d));
        const auto high = static_cast<std::uint64_t>(static_cast<std::uint32_t>(s < d ? d : s));
        const std::uint64_t key = (high << 32 | low) * 0x9E3779B97F4A7C15u;
        return static_cast<std::size_t>(key >> 29);
    }

    std::size_t mask_;
    ZeroedBlock block_;
    std::int32_t* slots_ = nullptr;
};

// Scratch of one call, obtained before anything else is read.
struct Scratch {
    explicit Scratch(std::int32_t n)
        : animals_block(static_cast<std::size_t>(n) * sizeof(Ancestor)),
          queue_block(static_cast<std::size_t>(n) * sizeof(std::int32_t)),
          ancestors(n),
          pairs(n),
          animals(animals_block.as<Ancestor>()),
          queue(queue_block.as<std::int32_t>()) {}

    ZeroedBlock animals_block;
    ZeroedBlock queue_block;
    AncestorSet ancestors;
    ParentPairs pairs;
    Ancestor* animals;
    std::int32_t* queue;  // animals whose parents are still to be listed
};

// Lists animal i and all of its ancestors, generation by generation. Each
// step reads an animal queued long before, so the memory reads of many steps
// are in flight at once; no branch depends on whether a parent is new.
void list_ancestors(std::int32_t i, std::int32_t n, Scratch& scratch) {
    const Ancestor* const animals = scratch.animals;
    std::int32_t* const queue = scratch.queue;
    scratch.ancestors.add(i);
    queue[0] = i;
    for (std::int32_t head = 0, tail = 1; head < tail; ++head) {
        scratch.ancestors.mark_levels_above(queue[head]);
        const Ancestor& a = animals[queue[head]];
        for (const std::int32_t parent : {a.dam, a.sire}) {
            if (parent != n) {
                queue[tail] = parent;
                tail += scratch.ancestors.add(parent);
            }
        }
    }
}

// A(i, i) from the contributions of animal i and its ancestors, processed
// from the highest number down, each once: its offspring among the ancestors
// all have higher numbers, so they have handed it their halves (dam first,
// then sire) before its own contribution is squared. This is the order and
// the arithmetic of the ancestor-list method; only the search for the next
// ancestor differs. A contribution is cleared once used, which leaves every
// contribution 0.0 for the next pass.
double relationship_to_itself(std::int32_t i, std::int32_t n, Scratch& scratch) {
    Ancestor* const animals = scratch.animals;
    list_ancestors(i, n, scratch);
    animals[i].contribution = 1.0;
    double sum = 0.0;
    scratch.ancestors.drain_from_highest(i, [&](std::int32_t c) {
        Ancestor& a = animals[c];
        const double contribution = a.contribution;
        a.contribution = 0.0;
        const double half = contribution * 0.5;
        if (a.dam != n) {
            animals[a.dam].contribution = half + animals[a.dam].contribution;
        }
        if (a.sire != n) {
            animals[a.sire].contribution = half + animals[a.sire].contribution;
        }
        sum += (contribution * contribution) * a.sampling_var;
    });
    return sum;
}

}  // namespace

void fcoeff_kernel(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding,
                   double* sampling_var, const std::int32_t* n_animals,
                   const std::int32_t* compute_inbreeding) {
    const std::int32_t n = n_animals[0];
    if (n < 0 || n >= max_animals) {
        throw std::bad_array_new_length();
    }
    Scratch scratch(n);
    const bool ordered = compute_inbreeding[0] == 1;
    for (std::int32_t i = 0; i < n; ++i) {
        sampling_var[i] = 0.5 - (inbreeding[sire[i]] + inbreeding[dam[i]]) * 0.25;
        if (!ordered) {
            continue;
        }
        scratch.animals[i] = Ancestor{sire[i], dam[i], sampling_var[i], 0.0};
        const std::int32_t earlier = scratch.pairs.earlier_with_parents_of(i, scratch.animals);
        inbreeding[i] = earlier >= 0 ? inbreeding[earlier]
                                     : relationship_to_itself(i, n, scratch) - 1.0;
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
Verdict check_parent_or_unknown(const Arguments& args, std::size_t parents, std::int32_t i,
                                std::int32_t n, bool ordered) {
    const std::int32_t code = args.integers(parents)[i];
    if (code == n || (code >= 0 && code < (ordered ? i : n))) {
        return std::nullopt;
    }
    const std::string unknown = std::to_string(n);
    if (!ordered) {
        return args.value_error(args.element(parents, i) + " must be between 0 and " + unknown +
                                " (" + unknown + " = unknown)");
    }
    if (i == 0) {
        return args.value_error(args.element(parents, i) + " must be " + unknown +
                                " (unknown): no animal comes before animal 0");
    }
    return args.value_error(args.element(parents, i) + " must be below " + std::to_string(i) +
                            " or equal to " + unknown + " (unknown)");
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
    if (Verdict problem = first_problem(
            args.require_length(sire, n), args.require_length(dam, n),
            args.require_length(inbreeding, std::int64_t{n} + 1), args.require_length(sampling_var, n))) {
        return problem;
    }
    const bool ordered = args.integers(compute_inbreeding)[0] == 1;
    return check_pedigree(args, n, ordered);
}

}  // namespace tolm
