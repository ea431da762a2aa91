// The ancestor pass of the method of Meuwissen and Luo, which gives A(i, i)
// and so the inbreeding coefficient of an animal from the contributions of
// its ancestors: shared by fcoeff_kernel and by callers that run the passes
// of one generation on several threads. Each animal's sum is formed in the
// same order whichever animals share its pass, so the bits of a coefficient
// do not depend on how the animals are grouped or on the thread.
#pragma once

#include <cstdint>
#include <memory>

namespace tolm::ancestor_pass {

// The largest animal count of the passes' scratch (2^30, as fcoeff's).
constexpr std::int32_t max_animals = std::int32_t{1} << 30;

// What the passes over one pedigree read: its parents (unknown = n, known
// parents numbered below their offspring), the coefficients and variances so
// far, and a record of each animal that is a parent. An animal is entered
// once its parents' coefficients are known; passes read the entries only.
class Ancestry {
public:
    // Obtains the scratch for n animals and reads nothing; 0 ≤ n < 2^30.
    // inbreeding holds n + 1 elements, the last that of an unknown parent.
    Ancestry(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
             std::int32_t n);
    Ancestry(Ancestry&&) noexcept;
    ~Ancestry();

    // Numbers the records of the animals that are parents; before any entry.
    void number();

    // Sets sampling_var[i], 0.5 − (F of sire + F of dam) × 0.25, from the
    // coefficients that `inbreeding` holds now.
    void set_variance(std::int32_t i) { sampling_var_[i] = variance_of(i); }

    // Sets the variance of i and its record if it is a parent.
    void enter(std::int32_t i);

    // Such an animal takes the coefficient of the one before it without a
    // pass (i − 1 has the same parents, so the same generation).
    bool same_parents_as_before(std::int32_t i) const {
        return i > 0 && sire_[i] == sire_[i - 1] && dam_[i] == dam_[i - 1];
    }

    // Gives i the coefficient of i − 1 if it has the same parents.
    void take_coefficient_before(std::int32_t i) {
        if (same_parents_as_before(i)) {
            inbreeding_[i] = inbreeding_[i - 1];
        }
    }

    // Whether a known parent of i is numbered `first` or above.
    bool parent_from(std::int32_t i, std::int32_t first) const {
        return (sire_[i] >= first && sire_[i] != n_) || (dam_[i] >= first && dam_[i] != n_);
    }

    // Orders animals for their passes: paternal half sibs, then full sibs,
    // next to each other, so that a pass shares most of its ancestors.
    void in_family_order(std::int32_t* begin, std::int32_t* end) const;

private:
    friend class Passes;
    struct Records;

    double variance_of(std::int32_t i) const { return 0.5 - (inbreeding_[sire_[i]] + inbreeding_[dam_[i]]) * 0.25; }

    const std::int32_t* sire_;
    const std::int32_t* dam_;
    double* inbreeding_;
    double* sampling_var_;
    std::int32_t n_;
    std::unique_ptr<Records> records_;
    // Some variance entered is not finite: a lane without a contribution
    // would then add NaN, so every pass takes a single animal from then on.
    bool single_ = false;
};

// The scratch of the passes of one thread.
class Passes {
public:
    // Scratch for a pedigree of n animals, obtained now, all zero.
    explicit Passes(std::int32_t n);
    Passes(Passes&&) noexcept;
    ~Passes();

    // Writes inbreeding[i] = A(i, i) − 1.0 for each of the `count` animals,
    // whose parents are entered in `ancestry` and whose own variances are
    // set, and leaves the scratch as it found it. Returns the number of
    // ancestors visited, a measure of the work done.
    std::int64_t run(const Ancestry& ancestry, const std::int32_t* animals, std::int32_t count);

private:
    struct Scratch;
    std::unique_ptr<Scratch> scratch_;
};

}  // namespace tolm::ancestor_pass
