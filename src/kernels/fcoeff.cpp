#include "fcoeff.hpp"

#include <algorithm>
#include <memory>

namespace tolm {
namespace {

// The ancestor list holds 2n entries, a count formed in 32-bit arithmetic: for
// n ≥ 2^30 it wraps to a negative count, which operator new[] refuses.
std::int32_t ancestor_list_capacity(std::int32_t n) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(n) * 2u);
}

// Scratch of one call. The ancestor list stores animal numbers as exact
// doubles; a processed entry has n subtracted, which makes it negative.
struct Scratch {
    std::unique_ptr<double[]> ancestors;
    std::unique_ptr<double[]> contribution;  // all 0.0 between two passes
};

Scratch obtain_scratch(std::int32_t n) {
    Scratch scratch;
    scratch.ancestors.reset(new double[ancestor_list_capacity(n)]);
    scratch.contribution.reset(new double[n]());
    return scratch;
}

// The highest unprocessed animal number in the list, or −1 when none is left.
double highest_unprocessed(const double* ancestors, std::int32_t used) {
    double candidate = -1.0;
    for (std::int32_t k = 0; k < used; ++k) {
        if (ancestors[k] > candidate) {
            candidate = ancestors[k];
        }
    }
    return candidate;
}

// Marks every copy at once, so an ancestor reached along several paths is
// processed once, with the total of its contributions.
void mark_processed(double* ancestors, std::int32_t used, double animal, std::int32_t n) {
    for (std::int32_t k = 0; k < used; ++k) {
        if (ancestors[k] == animal) {
            ancestors[k] -= n;
        }
    }
}

// A(i, i) from the contributions of animal i and its ancestors, visited from
// the highest number down: an animal is processed only after all of its
// offspring among the ancestors have handed it their halves.
double relationship_to_itself(std::int32_t i, const std::int32_t* sire, const std::int32_t* dam,
                              const double* sampling_var, std::int32_t n, Scratch& scratch) {
    double* const ancestors = scratch.ancestors.get();
    double* const contribution = scratch.contribution.get();
    std::int32_t used = 0;
    const auto hand_half_to = [&](std::int32_t parent, std::int32_t child) {
        if (parent != n) {
            ancestors[used++] = parent;
            contribution[parent] = (contribution[child] * 0.5) + contribution[parent];
        }
    };

    contribution[i] = 1.0;
    double sum = 0.0;
    for (std::int32_t c = i; c >= 0;) {
        hand_half_to(dam[c], c);
        hand_half_to(sire[c], c);
        sum += (contribution[c] * contribution[c]) * sampling_var[c];
        const double next = highest_unprocessed(ancestors, used);
        mark_processed(ancestors, used, next, n);
        c = static_cast<std::int32_t>(next);
    }
    return sum;
}

}  // namespace

void fcoeff_kernel(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding,
                   double* sampling_var, const std::int32_t* n_animals,
                   const std::int32_t* compute_inbreeding) {
    const std::int32_t n = n_animals[0];
    Scratch scratch = obtain_scratch(n);
    for (std::int32_t i = 0; i < n; ++i) {
        sampling_var[i] = 0.5 - (inbreeding[sire[i]] + inbreeding[dam[i]]) * 0.25;
        if (compute_inbreeding[0] != 1) {
            continue;
        }
        if (i > 0 && sire[i] == sire[i - 1] && dam[i] == dam[i - 1]) {
            inbreeding[i] = inbreeding[i - 1];
            continue;
        }
        inbreeding[i] = relationship_to_itself(i, sire, dam, sampling_var, n, scratch) - 1.0;
        std::fill(scratch.contribution.get(), scratch.contribution.get() + i + 1, 0.0);
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

constexpr std::int32_t max_animals = std::int32_t{1} << 30;

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
