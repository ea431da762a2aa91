// The ancestor-list method with its list replaced by the plainest ordered set
// that keeps the bits: a bitset over animal numbers and a bitset over its
// words, the next ancestor popped as the highest set bit. The yardstick of the
// inbreeding benchmarks, never part of the module.
#include "plain_bitset.hpp"

#include <new>
#include <vector>

namespace {

class TwoLevelBitset {
public:
    explicit TwoLevelBitset(std::size_t n) : bits_(n / 64 + 1), words_(n / 4096 + 1) {}

    void insert(std::int32_t a) {
        const auto u = static_cast<std::uint32_t>(a);
        bits_[u >> 6] |= std::uint64_t{1} << (u & 63);
        words_[u >> 12] |= std::uint64_t{1} << ((u >> 6) & 63);
    }

    // Removes and returns the highest member at most `below_or_at`, or −1.
    std::int32_t pop_highest(std::int32_t below_or_at) {
        for (auto top = static_cast<std::int64_t>(static_cast<std::uint32_t>(below_or_at) >> 12); top >= 0; --top) {
            const std::uint64_t summary = words_[static_cast<std::size_t>(top)];
            if (summary == 0) {
                continue;
            }
            const auto word =
                static_cast<std::size_t>(top) << 6 | (63 - static_cast<unsigned>(__builtin_clzll(summary)));
            const std::uint64_t bits = bits_[word];
            const unsigned bit = 63 - static_cast<unsigned>(__builtin_clzll(bits));
            bits_[word] = bits & ~(std::uint64_t{1} << bit);
            if (bits_[word] == 0) {
                words_[static_cast<std::size_t>(top)] &= ~(std::uint64_t{1} << (word & 63));
            }
            return static_cast<std::int32_t>(word << 6 | bit);
        }
        return -1;
    }

private:
    std::vector<std::uint64_t> bits_;
    std::vector<std::uint64_t> words_;
};

}  // namespace

extern "C" int plain_bitset_fcoeff(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding,
                                   double* sampling_var, const std::int32_t* n_animals,
                                   const std::int32_t* compute_inbreeding) {
    const std::int32_t n = n_animals[0];
    if (n < 0 || n >= (1 << 30)) {
        return -1;
    }
    try {
        std::vector<double> contribution(static_cast<std::size_t>(n), 0.0);
        TwoLevelBitset ancestors(static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) {
            sampling_var[i] = 0.5 - (inbreeding[sire[i]] + inbreeding[dam[i]]) * 0.25;
            if (compute_inbreeding[0] != 1) {
                continue;
            }
            if (i > 0 && sire[i] == sire[i - 1] && dam[i] == dam[i - 1]) {
                inbreeding[i] = inbreeding[i - 1];
                continue;
            }
            contribution[static_cast<std::size_t>(i)] = 1.0;
            double sum = 0.0;
            for (std::int32_t c = i; c >= 0; c = ancestors.pop_highest(c)) {
                const double own = contribution[static_cast<std::size_t>(c)];
                contribution[static_cast<std::size_t>(c)] = 0.0;
                for (const std::int32_t parent : {dam[c], sire[c]}) {
                    if (parent != n) {
                        double& theirs = contribution[static_cast<std::size_t>(parent)];
                        theirs = own * 0.5 + theirs;
                        ancestors.insert(parent);
                    }
                }
                sum += own * own * sampling_var[c];
            }
            inbreeding[i] = sum - 1.0;
        }
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}
