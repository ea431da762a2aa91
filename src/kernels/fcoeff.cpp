#include "fcoeff.hpp"

#include <memory>
#include <new>
#include <string>

#include "ancestor_pass.hpp"

namespace tolm {
namespace {

using ancestor_pass::max_animals;

// The scratch of one call, all of it obtained before anything but n is read;
// the blocks are sized for n animals, of which the pages that a call leaves
// untouched cost nothing.
class Pedigree {
public:
    Pedigree(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
             std::int32_t n)
        : n_(n),
          ancestry_(sire, dam, inbreeding, sampling_var, n),
          passes_(n),
          order_(new std::int32_t[static_cast<std::size_t>(n)]) {}

    void sampling_variances_only() {
        for (std::int32_t i = 0; i < n_; ++i) {
            ancestry_.set_variance(i);
        }
    }

    void inbreeding_coefficients() {
        ancestry_.number();
        for (std::int32_t start = 0; start < n_;) {
            std::int32_t members = 0;
            const std::int32_t end = cohort(start, members);
            ancestry_.in_family_order(order_.get(), order_.get() + members);
            passes_.run(ancestry_, order_.get(), members);
            for (std::int32_t i = start + 1; i < end; ++i) {
                ancestry_.take_coefficient_before(i);
            }
            start = end;
        }
    }

private:
    // The animals from `start` on whose parents all come before `start`, so
    // that their own variances and their ancestors' coefficients are known:
    // they are entered, and those that need a pass are put in
    // order_[0 … members − 1]; the others take the coefficient of the animal
    // before them, now if it is before `start`, else after the passes.
    // Returns the first animal after them.
    std::int32_t cohort(std::int32_t start, std::int32_t& members) {
        std::int32_t i = start;
        for (; i < n_ && (i == start || !ancestry_.parent_from(i, start)); ++i) {
            ancestry_.enter(i);
            if (!ancestry_.same_parents_as_before(i)) {
                order_.get()[members++] = i;
            } else if (i == start) {
                ancestry_.take_coefficient_before(i);
            }
        }
        return i;
    }

    std::int32_t n_;
    ancestor_pass::Ancestry ancestry_;
    ancestor_pass::Passes passes_;
    std::unique_ptr<std::int32_t[]> order_;  // the animals of a cohort that need a pass
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
